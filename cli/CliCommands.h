// The three commands of tessaroo-cli over the shared recovery flow: list the
// disks and their partitions, scan a volume and list its deleted files, and
// recover them into a folder sorted by kind. Text goes to standard output
// (control characters of names escaped), one JSON document with --json;
// progress to standard error while it is a terminal.
#pragma once

#include "store/FileTypeLists.h"

#include <atomic>
#include <string>

namespace tessaroo
{
namespace cli
{
enum ExitCode
{
    EXIT_DONE = 0,
    EXIT_USAGE = 1,
    EXIT_NO_VOLUME = 2,
    EXIT_SOME_FAILED = 4,
    EXIT_INTERRUPTED = 130,
};

struct Options
{
    std::string strCommand;
    bool bJson = false;
    bool bFast = false;   // the quick scan of the volume's own metadata only
    bool bResume = false; // go on with a stopped deep scan of the volume
    std::string strImage;
    int nDisk = -1;
    int nPartition = 0; // 0: not given
    unsigned nKinds = KIND_ALL;
    std::string strOut;
};

// Set by the first Ctrl-C; the commands poll it through the engines'
// callbacks.
extern std::atomic<bool> g_interrupted;
// True while a command sits in a step that polls g_interrupted; outside
// such steps (opening a device, reading a partition table) a Ctrl-C ends
// the program at once.
extern std::atomic<bool> g_stoppable;
// Asks a recovery run in progress to stop (safe from the signal thread).
void RequestRecoveryStop();

int CmdList(const Options& o);
int CmdScan(const Options& o);
int CmdRecover(const Options& o);

// text with every byte below 0x20 and 0x7F written as \xNN, so a name read
// off a disk can neither fake an output line nor drive the terminal.
std::string EscapeForTerminal(const std::string& text);
} // namespace cli
} // namespace tessaroo

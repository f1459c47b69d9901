// tessaroo-cli: the command-line front end. Lists disks and partitions,
// scans a volume (a disk's partition, or an image file) for deleted files,
// and recovers them into a folder, sorted by kind, with the same flow the
// desktop application uses.
#include "cli/CliCommands.h"
#include "core/Log.h"
#include "core/Platform.h"
#include "recovery/KindPatterns.h"

#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <pthread.h>
#include <string>
#include <unistd.h>

using namespace tessaroo;
using namespace tessaroo::cli;

namespace
{
const char* const USAGE =
    "usage:\n"
    "  tessaroo-cli list [--json]\n"
    "  tessaroo-cli scan (--image FILE | --disk N) [--partition K] [--kinds LIST] [--fast | --resume] "
    "[--json]\n"
    "  tessaroo-cli recover (--image FILE | --disk N) [--partition K] [--kinds LIST] [--fast | --resume]\n"
    "                       --out DIR [--json]\n"
    "  tessaroo-cli COMMAND --help   the options of a command\n"
    "\n"
    "A scan is deep unless --fast is given: after what the file system still lists, every free\n"
    "sector is searched for lost FAT and NTFS folders and for files of known formats. Ctrl-C\n"
    "stops it; --resume goes on from there.\n"
    "\n"
    "exit status: 0 all listed files recovered, 4 some failed, 2 the device or volume cannot be\n"
    "opened or has no engine, 1 usage error, 130 interrupted\n";

FILE* g_log = nullptr;

void LogToFile(const char* message)
{
    if (g_log)
    {
        fputs(message, g_log);
        fflush(g_log);
    }
}

int UsageError(const std::string& message)
{
    fprintf(stderr, "tessaroo-cli: %s\n\n%s", message.c_str(), USAGE);
    return EXIT_USAGE;
}

// Ctrl-C and termination requests are taken by a thread that waits for
// them, so no handler runs inside the engine. The first one asks the
// running step to stop through the engines' callbacks, or, in a step that
// polls nothing (opening a device, reading a table), ends the program at
// once; a second one always ends it at once.
void* SignalThread(void* arg)
{
    sigset_t* set = static_cast<sigset_t*>(arg);
    for (;;)
    {
        int sig = 0;
        if (sigwait(set, &sig) != 0)
            continue;
        if (g_interrupted.exchange(true) || !g_stoppable.load())
        {
            static const char bye[] = "\ntessaroo-cli: interrupted\n";
            ssize_t w = write(2, bye, sizeof(bye) - 1);
            (void)w;
            _exit(EXIT_INTERRUPTED);
        }
        RequestRecoveryStop();
        static const char msg[] = "\ntessaroo-cli: stopping (press Ctrl-C again to quit at once)\n";
        ssize_t w = write(2, msg, sizeof(msg) - 1);
        (void)w;
    }
    return nullptr;
}

void StartSignalThread()
{
    static sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    pthread_t t;
    if (pthread_create(&t, nullptr, SignalThread, &set) == 0)
        pthread_detach(t);
}

// Scan logs and preview files: TESSAROO_SUPPORT_DIR when set, the system
// folder for root, otherwise the user's cache folder, so that anyone can
// recover from an image file.
void SetUpSupportDir()
{
    SelectSupportDir(geteuid() == 0);
    MakeDirs(GetScanLogRoot(), 0755);
    g_log = fopen((GetSupportDir() + "Log.txt").c_str(), "ae");
    SetLogSink(g_log ? &LogToFile : nullptr);
}

// Returns -1 when the options are sound, else the exit status.
int ParseArgs(int argc, char** argv, Options& o)
{
    CLI::App app("Finds deleted files on FAT and NTFS volumes and recovers them, sorted by kind.",
                 "tessaroo-cli");
    app.set_version_flag("--version", std::string(TESSAROO_VERSION));
    app.require_subcommand(1);
    app.footer(USAGE);

    CLI::App* list = app.add_subcommand("list", "list the disks and their partitions");
    list->add_flag("--json", o.bJson, "print one JSON document instead of text");

    std::string kinds;
    bool kindsGiven = false;
    auto volumeOptions = [&](CLI::App* cmd)
    {
        CLI::Option* image = cmd->add_option("--image", o.strImage, "scan an image file (it becomes disk 0)");
        CLI::Option* disk = cmd->add_option("--disk", o.nDisk, "scan disk number N, as 'list' shows it")
                                ->check(CLI::Range(0, 127));
        image->excludes(disk);
        cmd->add_option("--partition", o.nPartition, "the K-th partition of the disk (from 1)")
            ->check(CLI::Range(1, 1000000));
        cmd->add_option("--kinds", kinds,
                        "comma-separated: photo, music, video, document, archive, other (default: all)")
            ->each([&](const std::string&) { kindsGiven = true; });
        cmd->add_flag("--json", o.bJson, "print one JSON document instead of text");
        CLI::Option* fast =
            cmd->add_flag("--fast", o.bFast, "only the quick scan of what the file system still lists");
        cmd->add_flag("--resume", o.bResume, "go on with a stopped deep scan of the same volume")
            ->excludes(fast);
    };
    CLI::App* scan = app.add_subcommand("scan", "list the deleted files of a volume");
    volumeOptions(scan);
    CLI::App* recover = app.add_subcommand("recover", "recover the deleted files of a volume into a folder");
    volumeOptions(recover);
    recover
        ->add_option("--out", o.strOut,
                     "folder to recover into (made when missing); files land in DIR/photo, ...")
        ->required();

    try
    {
        app.parse(argc, argv);
    }
    catch (const CLI::CallForHelp& e)
    {
        return app.exit(e);
    }
    catch (const CLI::CallForVersion& e)
    {
        return app.exit(e);
    }
    catch (const CLI::ParseError& e)
    {
        return UsageError(e.what());
    }
    o.strCommand = app.get_subcommands().front()->get_name();
    if (o.strCommand == "list")
        return -1;
    if (o.strImage.empty() == (o.nDisk < 0))
        return UsageError("give exactly one of --image FILE and --disk N");
    if (o.strImage.find(':') != std::string::npos)
        return UsageError("the image path must not contain ':' (it separates the disk list)");
    if (kindsGiven)
    {
        std::string bad;
        if (!ParseKindList(kinds, o.nKinds, bad))
            return UsageError("--kinds takes photo, music, video, document, archive, other; not '" + bad +
                              "'");
    }
    return -1;
}
} // namespace

int main(int argc, char** argv)
{
    Options o;
    int rc = ParseArgs(argc, argv, o);
    if (rc >= 0)
        return rc;
    StartSignalThread();
    // An image given on the command line is disk 0, as TESSAROO_DISKS would
    // make it.
    if (!o.strImage.empty())
        setenv("TESSAROO_DISKS", o.strImage.c_str(), 1);
    SetUpSupportDir();
    if (o.strCommand == "list")
        return CmdList(o);
    if (o.strCommand == "scan")
        return CmdScan(o);
    return CmdRecover(o);
}

// What the carving tests share: the raw image of tools/make_carve_image.sh
// with its manifest, a sweep that drives the signature engine over a device
// as the deep-scan coordinator does, and a recorder of the engine's reports.
#pragma once

#include "core/CDiskReader.h"
#include "engines/signature/CFileTypeRecovery.h"
#include "tests/signature/SignatureTestEnv.h"

#include <cstdint>
#include <string>
#include <vector>

namespace carvetest
{
struct CARVED_FILE
{
    uint64_t u64Start;   // first sector in the image
    uint64_t u64Size;    // bytes
    std::string sha256;  // of the file's bytes
    std::string expect;  // "exact", "next", "sector" or a byte count
    bool bInner = false; // files are carved inside this one too
    std::string name;    // the file it was made from
};

struct CarveImage
{
    std::string path;
    uint64_t u64Sectors = 0;
    std::vector<CARVED_FILE> files; // by first sector
};

// The image, from the shared image cache; empty path when the script failed.
const CarveImage& SharedCarveImage();

// Offers sectors [first, first + count) of reader's device to the engine's
// ParseFileBuf, read 64 KiB at a time, going on after each carved file's
// extent. Returns 0 after the whole range, or the answer that stopped it;
// stoppedAt is then the sector it stopped at.
int Sweep(CFileTypeRecovery& engine, CDiskReader& reader, uint64_t first, uint64_t count,
          uint64_t* stoppedAt = nullptr);

// Every report a callback received.
struct Reports
{
    struct Scan
    {
        int percent, scale;
        unsigned long long current, total;
    };
    struct Recovery
    {
        int percent, status;
        std::wstring path;
    };
    std::vector<Scan> scans;
    std::vector<Recovery> recoveries;
    int nStopAtScan = -1; // answer stopAnswer to this scan report (0-based)
    int nStopAtRecovery = -1;
    int nStopAnswer = 1;

    static int OnScan(void* ctx, int percent, int scale, int, unsigned long long current,
                      unsigned long long total, unsigned long long, wchar_t*);
    static int OnRecovery(void* ctx, int percent, int scale, int status, wchar_t* path);
};

// All nodes of the engine's store.
std::vector<_FILE_NODE_> CarvedNodes(CFileTypeRecovery& engine);
} // namespace carvetest

// What the signature tests share: the generated sample files, a disk image
// mapped as disk 0 with a reader over it, a clean judge state, builders of
// heads, and a recorder of the signature engine's reports.
#pragma once

#include "core/CDiskReader.h"
#include "engines/signature/CFileTypeJudge.h"
#include "engines/signature/CFileTypeRecovery.h"
#include "engines/signature/ExtendNameTable.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sigtest
{
using Bytes = std::vector<uint8_t>;

// The folder of tools/make_format_samples.sh in the shared image cache;
// "" when the script failed, with the reason on stderr.
const std::string& SamplesDir();
// A sample's bytes; fails the test when the file is missing.
Bytes Sample(const std::string& name);

// A disk image of the given bytes, padded to whole sectors, mapped as disk 0
// through TESSAROO_DISKS, with a reader over all of it.
class ImageDevice
{
  public:
    explicit ImageDevice(const Bytes& bytes, int bytesPerSector = 512);
    CDiskReader& Reader() { return m_reader; }

  private:
    tessaroo::test::TempDir m_dir;
    std::unique_ptr<tessaroo::test::ScopedEnv> m_env;
    CDiskReader m_reader;
};

// A judge over an image device of img (sectors of bps bytes), its lookup
// begun at sector.
struct JudgeOnDevice
{
    JudgeOnDevice(const Bytes& img, uint64_t sector, int bps = 512) : dev(img, bps), judge(&dev.Reader())
    {
        judge.BeginLookup(bps, sector);
    }
    ImageDevice dev;
    CFileTypeJudge judge;
};

// The bytes given, zero-padded to len.
Bytes Raw(std::initializer_list<uint8_t> bytes, size_t len = 0);
// The first sector of a JPEG: start of image, a whole JFIF segment and the
// next segment's marker, zeros after.
Bytes JfifHead();
// The first sector of a BMP of fileSize bytes (the header's own field): a
// 40-byte header of a 1 x 1 picture of 24 bits, zeros after.
Bytes BmpHead(uint32_t fileSize);
Bytes Text(const char* s, size_t len = 0);
// b with part written at off, grown (with zeros) to hold it; or with each
// part written at its offset.
Bytes With(Bytes b, size_t off, const Bytes& part);
Bytes With(Bytes b, const std::vector<std::pair<size_t, Bytes>>& parts);
// n transport-stream packets of 188 bytes, each with the same header; the
// payload bytes are never a sync byte.
Bytes TsPackets(size_t n);
// A compound-file header: its FAT sector count, the FAT sector numbers the
// header holds, the DIFAT sector count and first DIFAT sector, the sector
// shift, the first directory sector.
Bytes CompoundHead(uint32_t fatCount, std::vector<uint32_t> headerDifat = {3}, uint32_t difatCount = 0,
                   uint32_t firstDifat = 0xFFFFFFFE, uint16_t shift = 9, uint32_t firstDir = 3);
// Bytes placed at sector offsets of an otherwise zero image of total sectors.
Bytes Layout(size_t totalSectors, const std::vector<std::pair<size_t, Bytes>>& pieces,
             int bytesPerSector = 512);
// len bytes of b from off, zero-padded.
Bytes Slice(const Bytes& b, size_t off, size_t len);
// An exact-size heap copy: the sanitizer build faults on any read past it.
std::unique_ptr<uint8_t[]> Exact(const Bytes& b);

// Puts the process-wide judge state back to its start values around each test.
class JudgeTest : public ::testing::Test
{
  protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }
    static void Reset();
};

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
} // namespace sigtest

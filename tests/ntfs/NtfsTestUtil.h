// Shared by the NTFS engine tests: the images of tools/make_ntfs_images.sh
// and tools/make_deep_ntfs_images.sh, either engine run over an image, and
// small NTFS volumes built record by record for the corners no formatter
// makes.
#pragma once

#include "engines/ntfs/CFastNtfsRecovery.h"
#include "engines/ntfs/CProfessionalNtfsRecovery.h"
#include "tests/fat/FatTestUtil.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tessaroo
{
namespace test
{
// The folder of the images a script made, or "" with the reason in why (the
// script failed, or the volume could not be mounted).
std::string NtfsImages(std::string& why, const std::string& script = "make_ntfs_images.sh");

// An image scanned by one NTFS engine: the fast one as the factory makes it
// for the volume at start, or the deep one alone fed, in ascending order,
// every sector of start..start + count that starts a file record, as the
// deep sweep feeds it, then its folder pass. count 0: to the image's end.
class NtfsScan
{
  public:
    NtfsScan(bool deep, const std::string& image, uint64_t start = 0, uint64_t count = 0);
    // The shared listing and copy check over this scan's engine.
    std::map<std::string, _FILE_NODE_> ByPath() { return test::ByPath(engine); }
    std::string Copy(const _FILE_NODE_& n, const std::string& target, int want)
    {
        return test::Copy(engine, n, target, want);
    }
    // The data runs of the record at sector, as the engine's GetRunListInfo gives them.
    int RunList(unsigned long long sector, std::vector<__RUNLIST__>& runs)
    {
        return fast ? fast->GetRunListInfo(sector, 0x80, runs)
                    : deep->GetRunListInfo((long long)sector, 0x80, runs);
    }

    ScopedEnv disks;
    IFileRecoveryParse* engine = nullptr;
    CFastNtfsRecovery* fast = nullptr;
    std::unique_ptr<CProfessionalNtfsRecovery> deep;
    unsigned int status = ~0u; // of the scan (fast) or of Init (deep)
    std::vector<int> percents; // the fast scan's progress
    std::vector<__SEARCH_FILE_INFO__> hits;

  private:
    std::unique_ptr<IFileRecoveryParse> m_fast;
};

// --- hand-built volumes ------------------------------------------------------

// A run for EncodeRuns: count clusters at a start relative to the previous
// run's (the first absolute); sparse runs carry no start.
struct TestRun
{
    uint64_t count;
    int64_t offset;
    bool sparse = false;
};
std::vector<uint8_t> EncodeRuns(const std::vector<TestRun>& runs);

// Attributes as stored (header, then value or run list), 8-byte aligned.
std::vector<uint8_t> FileNameAttr(uint32_t parent, const std::u16string& name, uint8_t nameSpace = 1,
                                  uint64_t size = 0, uint64_t ntfsTime = 0);
std::vector<uint8_t> ResidentAttr(uint32_t type, const std::vector<uint8_t>& value,
                                  const std::u16string& name = u"");
// allocated: the bytes allocated (what the deep engine learns the cluster
// size from); ~0: the size rounded up to 4 KiB.
std::vector<uint8_t> NonResidentAttr(uint32_t type, const std::vector<uint8_t>& runs, uint64_t realSize,
                                     uint64_t startVcn = 0, uint64_t lastVcn = 0, uint64_t allocated = ~0ull);
// An attribute-list entry naming an attribute of type in record, from startVcn.
std::vector<uint8_t> ListEntry(uint32_t type, uint64_t record, uint64_t startVcn = 0);

// A small volume of 512-byte sectors and clusters: boot sector, an MFT of
// `records` 1 KiB records at cluster 16 with $MFT (0), the root (5) and
// $Bitmap (6, resident, marking the clusters up to the MFT's end in use),
// and whatever records and clusters a test adds.
class MiniNtfs
{
  public:
    explicit MiniNtfs(uint64_t sectors = 2048, uint32_t records = 64) : m_sectors(sectors), m_records(records)
    {
    }
    // First cluster after the MFT.
    uint64_t FirstFree() const { return 16 + 2 * uint64_t(m_records); }

    void SetRecord(uint32_t number, const TestRecord& r) { m_set[number] = r; }
    void PutClusters(uint64_t cluster, const std::vector<uint8_t>& bytes) { m_data[cluster] = bytes; }
    // Clusters marked in use in $Bitmap besides the metadata.
    void MarkUsed(uint64_t cluster, uint64_t count) { m_used.push_back({cluster, count}); }

    std::vector<uint8_t> Bytes() const;
    bool Write(const std::string& path) const { return WriteImageFile(path, Bytes()); }

  private:
    uint64_t m_sectors;
    uint32_t m_records;
    std::map<uint32_t, TestRecord> m_set;
    std::map<uint64_t, std::vector<uint8_t>> m_data;
    std::vector<std::pair<uint64_t, uint64_t>> m_used;
};

// Text of n bytes that names its seed on every line.
std::vector<uint8_t> TestText(const std::string& seed, size_t n);
} // namespace test
} // namespace tessaroo

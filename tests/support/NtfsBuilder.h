// In-memory NTFS structures for tests: a boot sector with chosen geometry
// and MFT file records (FILE header, update sequence array),
// built at the on-disk offsets without the core's decoders.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessaroo
{
namespace test
{
struct NtfsBootParams
{
    uint16_t bytesPerSector = 512;
    uint8_t sectorsPerCluster = 8;
    uint64_t totalSectors = 204799; // one less than the partition: the backup boot sector
    uint64_t mftCluster = 4;
    uint64_t mftMirrCluster = 2;
    int8_t clustersPerRecord = -10; // negative: 2^10 = 1024-byte records
    int8_t clustersPerIndex = 1;
};

// The 512-byte boot sector, named "NTFS    " and signed 0x55AA.
std::vector<uint8_t> MakeNtfsBootSector(const NtfsBootParams& p);

// NTFS times are 100-ns intervals since 1601-01-01 UTC.
uint64_t NtfsTimeFromUnix(int64_t unixSeconds);

constexpr uint16_t NTFS_RECORD_IN_USE = 0x01;
constexpr uint16_t NTFS_RECORD_IS_DIRECTORY = 0x02;

// Builds one MFT record. By default a record in use, sequence 1, one link,
// update sequence number 0x0001; Build() applies the fixups so the record is
// as stored on disk (the last two bytes of each sector hold the update
// sequence number, their true bytes sit in the array at 48).
class NtfsRecordBuilder
{
  public:
    explicit NtfsRecordBuilder(uint32_t recordSize = 1024, uint32_t bytesPerSector = 512);

    NtfsRecordBuilder& SetRecordNumber(uint32_t n);
    NtfsRecordBuilder& SetFlags(uint16_t flags); // NTFS_RECORD_IN_USE | NTFS_RECORD_IS_DIRECTORY
    NtfsRecordBuilder& SetUpdateSequenceNumber(uint16_t usn);

    // The record; with applyFixup false, the in-memory form (no sector ends replaced).
    std::vector<uint8_t> Build(bool applyFixup = true) const;

  private:
    uint32_t m_recordSize;
    uint32_t m_bytesPerSector;
    uint32_t m_recordNumber = 0;
    uint16_t m_flags = NTFS_RECORD_IN_USE;
    uint16_t m_usn = 1;
};
} // namespace test
} // namespace tessaroo

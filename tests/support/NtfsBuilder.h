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

constexpr uint16_t NTFS_RECORD_IN_USE = 0x01;
constexpr uint16_t NTFS_RECORD_IS_DIRECTORY = 0x02;

// One MFT record as stored (or, with applyFixup false, as in memory once
// fixed up): header, update sequence (one word per 512 bytes, the true tail
// bytes in the array at 0x30), attributes, end marker.
struct TestRecord
{
    uint16_t flags = 0; // NTFS_RECORD_IN_USE | NTFS_RECORD_IS_DIRECTORY
    uint64_t base = 0;  // base record of an extension record
    std::vector<std::vector<uint8_t>> attrs;
    // When set, the bytes-in-use field (else the end marker's end).
    uint32_t bytesInUse = 0;
};
std::vector<uint8_t> BuildRecord(uint32_t number, const TestRecord& r, uint32_t recordBytes,
                                 bool applyFixup = true, uint16_t usn = 7);

// A record with no attributes: in use, sequence 1, one link, update
// sequence number 1 unless set.
class NtfsRecordBuilder
{
  public:
    explicit NtfsRecordBuilder(uint32_t recordSize = 1024) : m_size(recordSize) {}
    NtfsRecordBuilder& SetRecordNumber(uint32_t n) { return m_number = n, *this; }
    NtfsRecordBuilder& SetFlags(uint16_t flags) { return m_record.flags = flags, *this; }
    NtfsRecordBuilder& SetUpdateSequenceNumber(uint16_t usn) { return m_usn = usn, *this; }
    std::vector<uint8_t> Build(bool applyFixup = true) const
    {
        return BuildRecord(m_number, m_record, m_size, applyFixup, m_usn);
    }

  private:
    uint32_t m_size, m_number = 0;
    TestRecord m_record{NTFS_RECORD_IN_USE, 0, {}};
    uint16_t m_usn = 1;
};
} // namespace test
} // namespace tessaroo

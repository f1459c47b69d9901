// In-memory NTFS structures for tests: a boot sector with chosen geometry
// and MFT file records (FILE header, update sequence array, attributes),
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

constexpr uint32_t NTFS_ATTR_STANDARD_INFORMATION = 0x10;
constexpr uint32_t NTFS_ATTR_FILE_NAME = 0x30;
constexpr uint32_t NTFS_ATTR_DATA = 0x80;
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

    NtfsRecordBuilder& AddStandardInformation(uint64_t ntfsTime, uint32_t fileAttributes = 0x20);
    // parentReference: record number in the low 48 bits, sequence in the high 16.
    // nameSpace: 0 POSIX, 1 Win32, 2 DOS, 3 Win32 and DOS.
    NtfsRecordBuilder& AddFileName(uint64_t parentReference, const std::u16string& name, uint64_t size,
                                   uint8_t nameSpace = 1, uint64_t ntfsTime = 0);
    NtfsRecordBuilder& AddResidentData(const std::vector<uint8_t>& data,
                                       const std::u16string& streamName = u"");
    // The record; with applyFixup false, the in-memory form (no sector ends replaced).
    std::vector<uint8_t> Build(bool applyFixup = true) const;

  private:
    void AddResident(uint32_t type, const std::vector<uint8_t>& value, const std::u16string& name,
                     uint8_t indexed);

    uint32_t m_recordSize;
    uint32_t m_bytesPerSector;
    uint32_t m_recordNumber = 0;
    uint16_t m_flags = NTFS_RECORD_IN_USE;
    uint16_t m_usn = 1;
    uint16_t m_nextAttributeId = 0;
    std::vector<uint8_t> m_attributes;
};
} // namespace test
} // namespace tessaroo

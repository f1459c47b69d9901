#include "tests/support/NtfsBuilder.h"

#include "core/ByteReader.h"

#include <cstring>

namespace tessaroo
{
namespace test
{
std::vector<uint8_t> MakeNtfsBootSector(const NtfsBootParams& p)
{
    std::vector<uint8_t> s(512, 0);
    s[0] = 0xEB;
    s[1] = 0x52;
    s[2] = 0x90;
    memcpy(&s[3], "NTFS    ", 8);
    PutU16(&s[11], p.bytesPerSector);
    s[13] = p.sectorsPerCluster;
    // Reserved sectors, FAT count, root entries, 16-bit totals and FAT size
    // stay 0: NTFS leaves every FAT field empty.
    s[21] = 0xF8;
    PutU16(&s[24], 63);
    PutU16(&s[26], 255);
    s[36] = 0x80; // drive number
    s[38] = 0x80;
    PutU64(&s[40], p.totalSectors);
    PutU64(&s[48], p.mftCluster);
    PutU64(&s[56], p.mftMirrCluster);
    s[64] = uint8_t(p.clustersPerRecord);
    s[68] = uint8_t(p.clustersPerIndex);
    PutU64(&s[72], 0x5EED00005EED0000ULL); // serial number
    s[510] = 0x55;
    s[511] = 0xAA;
    return s;
}

namespace
{
size_t Align8(size_t v)
{
    return (v + 7) & ~size_t(7);
}
} // namespace

uint64_t NtfsTimeFromUnix(int64_t unixSeconds)
{
    return uint64_t(unixSeconds + 11644473600LL) * 10000000ULL;
}

NtfsRecordBuilder::NtfsRecordBuilder(uint32_t recordSize, uint32_t bytesPerSector)
    : m_recordSize(recordSize), m_bytesPerSector(bytesPerSector ? bytesPerSector : 512)
{
}

NtfsRecordBuilder& NtfsRecordBuilder::SetRecordNumber(uint32_t n)
{
    m_recordNumber = n;
    return *this;
}

NtfsRecordBuilder& NtfsRecordBuilder::SetFlags(uint16_t flags)
{
    m_flags = flags;
    return *this;
}

NtfsRecordBuilder& NtfsRecordBuilder::SetUpdateSequenceNumber(uint16_t usn)
{
    m_usn = usn;
    return *this;
}

std::vector<uint8_t> NtfsRecordBuilder::Build(bool applyFixup) const
{
    std::vector<uint8_t> r(m_recordSize, 0);
    const uint32_t sectors = m_recordSize / m_bytesPerSector;
    const size_t usaOff = 48;
    const size_t usaCount = sectors + 1u; // the number itself, then one entry per sector
    const size_t firstAttr = Align8(usaOff + 2 * usaCount);
    memcpy(&r[0], "FILE", 4);
    PutU16(&r[4], uint16_t(usaOff));
    PutU16(&r[6], uint16_t(usaCount));
    PutU64(&r[8], 0x100000); // log sequence number
    PutU16(&r[16], 1);       // sequence
    PutU16(&r[18], 1);       // link count
    PutU16(&r[20], uint16_t(firstAttr));
    PutU16(&r[22], m_flags);
    PutU32(&r[44], m_recordNumber);
    // No attributes: the end marker follows the header.
    size_t pos = firstAttr;
    if (pos + 8 <= m_recordSize)
    {
        PutU32(&r[pos], 0xFFFFFFFF);
        pos += 8;
    }
    PutU32(&r[24], uint32_t(pos)); // bytes in use
    PutU32(&r[28], m_recordSize);  // bytes allocated
    PutU16(&r[usaOff], m_usn);
    for (uint32_t s = 0; s < sectors; ++s)
    {
        uint8_t* end = &r[(s + 1) * m_bytesPerSector - 2];
        memcpy(&r[usaOff + 2 + 2 * s], end, 2); // the true bytes
        if (applyFixup)
            PutU16(end, m_usn);
    }
    return r;
}
} // namespace test
} // namespace tessaroo

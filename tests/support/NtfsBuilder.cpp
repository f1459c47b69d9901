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
void PutUtf16(std::vector<uint8_t>& out, size_t off, const std::u16string& s)
{
    for (size_t i = 0; i < s.size(); ++i)
        PutU16(&out[off + 2 * i], uint16_t(s[i]));
}

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

void NtfsRecordBuilder::AddResident(uint32_t type, const std::vector<uint8_t>& value,
                                    const std::u16string& name, uint8_t indexed)
{
    const size_t nameOff = 24;
    const size_t valueOff = Align8(nameOff + 2 * name.size());
    const size_t len = Align8(valueOff + value.size());
    std::vector<uint8_t> a(len, 0);
    PutU32(&a[0], type);
    PutU32(&a[4], uint32_t(len));
    a[8] = 0; // resident
    a[9] = uint8_t(name.size());
    PutU16(&a[10], uint16_t(nameOff));
    PutU16(&a[14], m_nextAttributeId++);
    PutU32(&a[16], uint32_t(value.size()));
    PutU16(&a[20], uint16_t(valueOff));
    a[22] = indexed;
    PutUtf16(a, nameOff, name);
    if (!value.empty())
        memcpy(&a[valueOff], value.data(), value.size());
    m_attributes.insert(m_attributes.end(), a.begin(), a.end());
}

NtfsRecordBuilder& NtfsRecordBuilder::AddStandardInformation(uint64_t ntfsTime, uint32_t fileAttributes)
{
    std::vector<uint8_t> v(72, 0);
    for (size_t i = 0; i < 4; ++i)
        PutU64(&v[8 * i], ntfsTime);
    PutU32(&v[32], fileAttributes);
    AddResident(NTFS_ATTR_STANDARD_INFORMATION, v, u"", 0);
    return *this;
}

NtfsRecordBuilder& NtfsRecordBuilder::AddFileName(uint64_t parentReference, const std::u16string& name,
                                                  uint64_t size, uint8_t nameSpace, uint64_t ntfsTime)
{
    std::vector<uint8_t> v(66 + 2 * name.size(), 0);
    PutU64(&v[0], parentReference);
    for (size_t i = 0; i < 4; ++i)
        PutU64(&v[8 + 8 * i], ntfsTime);
    PutU64(&v[40], (size + 4095) / 4096 * 4096);
    PutU64(&v[48], size);
    PutU32(&v[56], (m_flags & NTFS_RECORD_IS_DIRECTORY) ? 0x10000000 : 0x20);
    v[64] = uint8_t(name.size());
    v[65] = nameSpace;
    PutUtf16(v, 66, name);
    AddResident(NTFS_ATTR_FILE_NAME, v, u"", 1);
    return *this;
}

NtfsRecordBuilder& NtfsRecordBuilder::AddResidentData(const std::vector<uint8_t>& data,
                                                      const std::u16string& streamName)
{
    AddResident(NTFS_ATTR_DATA, data, streamName, 0);
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
    PutU16(&r[40], m_nextAttributeId);
    PutU32(&r[44], m_recordNumber);
    // Attributes, then the end marker; whatever does not fit is cut, which
    // tests of oversized records rely on.
    size_t pos = firstAttr;
    const size_t room = m_recordSize > pos ? m_recordSize - pos : 0;
    const size_t n = m_attributes.size() < room ? m_attributes.size() : room;
    if (n)
        memcpy(&r[pos], m_attributes.data(), n);
    pos += n;
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

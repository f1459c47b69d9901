#include "tests/support/NtfsBuilder.h"

#include "core/ByteReader.h"

#include <algorithm>
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

std::vector<uint8_t> BuildRecord(uint32_t number, const TestRecord& r, uint32_t recordBytes, bool applyFixup,
                                 uint16_t usn)
{
    std::vector<uint8_t> rec(recordBytes, 0);
    const uint32_t blocks = recordBytes / 512;
    const size_t usa = 0x30, first = (usa + 2 * (blocks + 1) + 7) & ~size_t(7);
    memcpy(&rec[0], "FILE", 4);
    PutU16(&rec[4], uint16_t(usa));
    PutU16(&rec[6], uint16_t(blocks + 1));
    PutU16(&rec[0x10], 1);
    PutU16(&rec[0x12], 1);
    PutU16(&rec[0x14], uint16_t(first));
    PutU16(&rec[0x16], r.flags);
    PutU32(&rec[0x1C], recordBytes);
    PutU64(&rec[0x20], r.base);
    PutU32(&rec[0x2C], number);
    size_t pos = first;
    for (const std::vector<uint8_t>& a : r.attrs)
    {
        const size_t n = std::min(a.size(), recordBytes - pos);
        memcpy(&rec[pos], a.data(), n);
        pos += n;
    }
    if (pos + 8 <= recordBytes)
    {
        PutU32(&rec[pos], 0xFFFFFFFF);
        pos += 8;
    }
    PutU32(&rec[0x18], r.bytesInUse ? r.bytesInUse : uint32_t(pos));
    PutU16(&rec[usa], usn);
    for (uint32_t i = 0; i < blocks; ++i)
    {
        memcpy(&rec[usa + 2 + 2 * i], &rec[512 * (i + 1) - 2], 2);
        if (applyFixup)
            PutU16(&rec[512 * (i + 1) - 2], usn);
    }
    return rec;
}

} // namespace test
} // namespace tessaroo

#include "tests/support/FatBuilder.h"

#include "core/ByteReader.h"

#include <algorithm>
#include <cctype>

namespace tessaroo
{
namespace test
{
FatBootParams DefaultFatParams(FatFormat kind)
{
    // kind, bytes per sector, sectors per cluster, reserved sectors, FATs,
    // root entries, total sectors, sectors per FAT; the rest as declared.
    static const FatBootParams kinds[] = {{FatFormat::Fat12, 512, 2, 1, 2, 512, 4096, 6},
                                          {FatFormat::Fat16, 512, 4, 4, 2, 512, 32768, 32},
                                          {FatFormat::Fat32, 512, 1, 32, 2, 0, 131072, 1016}};
    return kinds[int(kind)];
}

namespace
{
void PutText(uint8_t* dst, const std::string& text, size_t width)
{
    for (size_t i = 0; i < width; ++i)
        dst[i] = i < text.size() ? uint8_t(text[i]) : uint8_t(' ');
}
} // namespace

std::vector<uint8_t> MakeFatBootSector(const FatBootParams& p)
{
    std::vector<uint8_t> s(512, 0);
    s[0] = 0xEB;
    s[1] = p.kind == FatFormat::Fat32 ? 0x58 : 0x3C;
    s[2] = 0x90;
    PutText(&s[3], "mkfs.fat", 8);
    PutU16(&s[11], p.bytesPerSector);
    s[13] = p.sectorsPerCluster;
    PutU16(&s[14], p.reservedSectors);
    s[16] = p.numFats;
    PutU16(&s[17], p.rootEntries);
    const bool t16 = p.kind != FatFormat::Fat32 && p.totalSectors < 65536;
    PutU16(&s[19], t16 ? uint16_t(p.totalSectors) : 0);
    s[21] = p.media;
    PutU16(&s[24], 32); // sectors per track
    PutU16(&s[26], 64); // heads
    PutU32(&s[32], t16 ? 0 : p.totalSectors);
    size_t ext; // extended boot record
    if (p.kind == FatFormat::Fat32)
    {
        PutU16(&s[22], 0);
        PutU32(&s[36], p.sectorsPerFat);
        PutU32(&s[44], p.rootCluster);
        PutU16(&s[48], 1); // FSInfo sector
        PutU16(&s[50], 6); // backup boot sector
        ext = 64;
    }
    else
    {
        PutU16(&s[22], uint16_t(p.sectorsPerFat));
        ext = 36;
    }
    s[ext] = 0x80;                   // drive number
    s[ext + 2] = 0x29;               // extended boot signature
    PutU32(&s[ext + 3], 0x5EED0000); // volume id
    PutText(&s[ext + 7], "NO NAME", 11);
    static const char* const TYPES[] = {"FAT12", "FAT16", "FAT32"};
    PutText(&s[ext + 18], TYPES[int(p.kind)], 8);
    s[510] = 0x55;
    s[511] = 0xAA;
    return s;
}

uint16_t FatDate(int year, int month, int day)
{
    return uint16_t(((year - 1980) & 0x7F) << 9 | (month & 0x0F) << 5 | (day & 0x1F));
}

std::array<uint8_t, 11> ShortName11(const std::string& name)
{
    std::array<uint8_t, 11> out;
    out.fill(' ');
    // 11 bytes without a point, or a dot entry's name, stand as they are.
    if (name.size() == 11 && (name.find('.') == std::string::npos || name[0] == '.'))
    {
        for (size_t i = 0; i < 11; ++i)
            out[i] = uint8_t(name[i]);
        return out;
    }
    const size_t dot = name.rfind('.');
    const std::string base = name.substr(0, dot);
    const std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
    for (size_t i = 0; i < base.size() && i < 8; ++i)
        out[i] = uint8_t(toupper(uint8_t(base[i])));
    for (size_t i = 0; i < ext.size() && i < 3; ++i)
        out[8 + i] = uint8_t(toupper(uint8_t(ext[i])));
    return out;
}

uint8_t LfnChecksum(const uint8_t* name11)
{
    uint8_t sum = 0;
    for (int i = 0; i < 11; ++i)
        sum = uint8_t(((sum & 1) ? 0x80 : 0) + (sum >> 1) + name11[i]);
    return sum;
}

std::array<uint8_t, 32> MakeShortEntry(const DirEntryParams& p)
{
    std::array<uint8_t, 32> e{};
    const std::array<uint8_t, 11> n = ShortName11(p.name);
    std::copy(n.begin(), n.end(), e.begin());
    if (p.deleted)
        e[0] = 0xE5;
    e[11] = p.attr;
    PutU16(&e[14], p.time);
    PutU16(&e[16], p.date);
    PutU16(&e[18], p.date);
    PutU16(&e[20], uint16_t(p.firstCluster >> 16));
    PutU16(&e[22], p.time);
    PutU16(&e[24], p.date);
    PutU16(&e[26], uint16_t(p.firstCluster));
    PutU32(&e[28], p.size);
    return e;
}

std::vector<uint8_t> ShortEntry(const std::string& name, uint32_t cluster, uint32_t size, uint8_t attr,
                                bool deleted)
{
    DirEntryParams p{name, attr, cluster, size};
    p.deleted = deleted;
    const std::array<uint8_t, 32> e = MakeShortEntry(p);
    return std::vector<uint8_t>(e.begin(), e.end());
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::vector<uint8_t> MakeLongNameEntries(const std::u16string& longName, uint8_t checksum, bool deleted)
{
    static const size_t unitOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    const size_t count = (longName.size() + 12) / 13;
    std::vector<uint8_t> out(count * 32, 0);
    for (size_t seq = 1; seq <= count; ++seq)
    {
        // Sequence 1 is stored last, right before the short entry.
        uint8_t* e = &out[(count - seq) * 32];
        e[0] = uint8_t(seq | (seq == count ? 0x40 : 0));
        e[11] = 0x0F;
        e[13] = checksum;
        for (size_t u = 0; u < 13; ++u)
        {
            const size_t index = (seq - 1) * 13 + u;
            uint16_t unit = index < longName.size()    ? uint16_t(longName[index])
                            : index == longName.size() ? 0
                                                       : 0xFFFF;
            PutU16(e + unitOffsets[u], unit);
        }
        if (deleted)
            e[0] = 0xE5;
    }
    return out;
}

std::vector<uint8_t> MakeNamedEntry(const std::u16string& longName, const DirEntryParams& shortEntry)
{
    const std::array<uint8_t, 32> s = MakeShortEntry(shortEntry);
    // The checksum covers the name as it was before a deletion marked it.
    const std::array<uint8_t, 11> n = ShortName11(shortEntry.name);
    std::vector<uint8_t> out = MakeLongNameEntries(longName, LfnChecksum(n.data()), shortEntry.deleted);
    out.insert(out.end(), s.begin(), s.end());
    return out;
}

std::vector<uint8_t> MakeDotPair(uint32_t selfCluster, uint32_t parentCluster)
{
    return Concat(
        {ShortEntry(".          ", selfCluster, 0, 0x10), ShortEntry("..         ", parentCluster, 0, 0x10)});
}

DirectoryBuilder& DirectoryBuilder::Add(const std::vector<uint8_t>& entries)
{
    m_bytes.insert(m_bytes.end(), entries.begin(), entries.end());
    return *this;
}

std::vector<uint8_t> DirectoryBuilder::Build(size_t sectorSize) const
{
    std::vector<uint8_t> out = m_bytes;
    out.resize(std::max<size_t>(1, (out.size() + sectorSize - 1) / sectorSize) * sectorSize, 0);
    return out;
}
} // namespace test
} // namespace tessaroo

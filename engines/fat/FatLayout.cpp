#include "engines/fat/FatLayout.h"

#include "core/BootSector.h"
#include "core/ByteReader.h"
#include "core/Portability.h"
#include "core/Recognisers.h"

#include <cstring>

namespace tessaroo
{
namespace
{
bool IsPowerOfTwo(uint64_t v)
{
    return v != 0 && (v & (v - 1)) == 0;
}

bool Fail(const char** why, const char* reason)
{
    if (why)
        *why = reason;
    return false;
}

// The UTF-16 units of a long-name part, at bytes 1-10, 14-25 and 28-31.
constexpr size_t LFN_UNIT_OFFSETS[LFN_UNITS_PER_ENTRY] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};

// Bytes an 8.3 name can never hold (besides those below 0x20 and the
// lower-case letters); a long name's character among "+,;=[]" becomes '_'.
constexpr const char SHORT_NAME_FORBIDDEN[] = "\"*+,./:;<=>?[\\]|";
constexpr const char SHORT_NAME_REPLACED[] = "+,;=[]";

bool IsShortNameFirstByte(uint8_t b)
{
    if (b == 0x05 || b >= 0x80)
        return b != DELETED_MARK;
    if (b <= 0x20 || b == 0x7F || (b >= 'a' && b <= 'z'))
        return false;
    return strchr(SHORT_NAME_FORBIDDEN, b) == nullptr;
}

// The first byte of the 8.3 name that systems make from a long name whose
// first character (after leading blanks and points) is unit; 0 when that
// cannot be told: outside ASCII the byte is the character's OEM code, '_'
// or the start of a hashed name.
uint8_t ShortNameFirstByteOf(uint16_t unit)
{
    if (unit <= 0x20 || unit >= 0x7F)
        return 0;
    if (unit >= 'a' && unit <= 'z')
        return uint8_t(unit - 'a' + 'A');
    if (strchr(SHORT_NAME_REPLACED, unit))
        return '_';
    return strchr(SHORT_NAME_FORBIDDEN, unit) ? 0 : uint8_t(unit);
}

// A deleted entry lost its first name byte to the deleted mark. The
// checksum is a chain of rotate-and-add steps over the 11 bytes, so it and
// bytes 1 to 10 give back the one first byte it was computed with.
uint8_t FirstByteFromChecksum(const uint8_t* entry, uint8_t checksum)
{
    uint8_t s = checksum;
    for (int i = 10; i >= 1; --i)
    {
        s = uint8_t(s - entry[i]);
        s = uint8_t((s << 1) | (s >> 7));
    }
    return s;
}
} // namespace

bool DeriveFatGeometry(const uint8_t* boot, size_t len, FatGeometry& g, const char** why)
{
    ByteReader r(boot, len);
    if (!r.Fits(0, BOOT_SECTOR_SIZE))
        return Fail(why, "no whole boot sector");
    const uint32_t bps = r.U16(BS_BYTES_PER_SECTOR);
    const uint32_t spc = r.U8(BS_SECTORS_PER_CLUSTER);
    if (bps < 512 || bps > 4096 || !IsPowerOfTwo(bps))
        return Fail(why, "unusable sector size");
    if (!IsPowerOfTwo(spc) || spc > 128)
        return Fail(why, "unusable cluster size");
    const bool fat32 = r.Matches(BS_FAT32_FS_TYPE, "FAT32   ", 8);
    FatGeometry out;
    out.bytesPerSector = bps;
    out.sectorsPerCluster = spc;
    out.bytesPerCluster = bps * spc;
    out.unitsPerSector = bps / 512;
    out.reservedSectors = r.U16(BS_RESERVED_SECTORS);
    out.numFats = r.U8(BS_NUM_FATS);
    out.sectorsPerFat = fat32 ? r.U32(BS_SECTORS_PER_FAT32) : r.U16(BS_SECTORS_PER_FAT16);
    if (out.numFats == 0 || out.sectorsPerFat == 0)
        return Fail(why, "no FAT");
    const uint32_t t32 = r.U32(BS_TOTAL_SECTORS32);
    out.totalSectors = t32 ? t32 : r.U16(BS_TOTAL_SECTORS16);
    if (fat32)
    {
        out.rootDirSectors = 0;
        out.rootCluster = r.U32(BS_FAT32_ROOT_CLUSTER);
    }
    else
    {
        // The fixed root area holds the boot sector's entry count, rounded up
        // to whole sectors; floppy formats carry 112 or 224 entries, not 512.
        const uint32_t entries = r.U16(BS_ROOT_ENTRIES);
        out.rootDirSectors =
            entries ? (entries * uint32_t(DIR_ENTRY_SIZE) + bps - 1) / bps : FAT_DEFAULT_ROOT_DIR_SECTORS;
        out.rootCluster = 0;
    }
    out.firstDataSector =
        out.reservedSectors + uint64_t(out.numFats) * out.sectorsPerFat + out.rootDirSectors;
    uint64_t clusters =
        out.totalSectors > out.firstDataSector ? (out.totalSectors - out.firstDataSector) / spc : 0;
    if (clusters > FAT_MAX_CLUSTERS)
        clusters = FAT_MAX_CLUSTERS;
    out.clusterCount = uint32_t(clusters);
    if (fat32)
        out.kind = FatKind::Fat32;
    else
        out.kind = clusters < FAT12_CLUSTER_LIMIT ? FatKind::Fat12 : FatKind::Fat16;
    const uint64_t fatBytes = out.sectorsPerFat * bps;
    switch (out.kind)
    {
    case FatKind::Fat12:
        out.fatEntryCapacity = fatBytes * 2 / 3;
        break;
    case FatKind::Fat16:
        out.fatEntryCapacity = fatBytes / 2;
        break;
    case FatKind::Fat32:
        out.fatEntryCapacity = fatBytes / 4;
        break;
    }
    // The root folder is where every walk starts; clusters 0 and 1 are
    // reserved and hold no data, so a root there (or beyond the volume) is
    // a damaged boot sector, not an empty volume.
    if (fat32 && !out.IsDataCluster(out.rootCluster))
        return Fail(why, "FAT32 root folder outside the data area");
    g = out;
    return true;
}

std::string FatShortName(const uint8_t* entry, bool withExtension)
{
    std::string s(reinterpret_cast<const char*>(entry + DE_NAME), 8);
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    if (!s.empty() && uint8_t(s[0]) == DELETED_MARK)
        s[0] = '!';
    else if (!s.empty() && s[0] == 0x05)
        s[0] = char(DELETED_MARK); // a name whose first byte really is 0xE5
    if (withExtension && entry[DE_EXT] != ' ')
    {
        std::string ext(reinterpret_cast<const char*>(entry + DE_EXT), 3);
        while (!ext.empty() && ext.back() == ' ')
            ext.pop_back();
        s += '.';
        s += ext;
    }
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return Gb2312ToUtf8(s.c_str());
}

void CFatLongName::Reset()
{
    m_nParts = 0;
    m_checksum = 0;
    m_bDeleted = false;
    m_bBroken = false;
    m_nNextOrder = 0;
}

void CFatLongName::Start(const uint8_t* entry, bool deleted)
{
    Reset();
    m_bDeleted = deleted;
    m_checksum = entry[LFN_CHECKSUM];
    Append(entry);
}

void CFatLongName::Append(const uint8_t* entry)
{
    if (m_nParts >= LFN_MAX_PARTS)
    {
        m_bBroken = true; // more parts than any name has
        return;
    }
    const ByteReader r(entry, DIR_ENTRY_SIZE);
    for (size_t k = 0; k < LFN_UNITS_PER_ENTRY; ++k)
        m_units[m_nParts][k] = r.U16(LFN_UNIT_OFFSETS[k]);
    ++m_nParts;
}

void CFatLongName::AddPart(const uint8_t* entry)
{
    const uint8_t order = entry[LFN_ORDER];
    if (order == DELETED_MARK)
    {
        // Deleted parts lost their orders: they belong together while they
        // carry one checksum.
        if (m_nParts > 0 && m_bDeleted && entry[LFN_CHECKSUM] == m_checksum)
            Append(entry);
        else
            Start(entry, true);
        return;
    }
    const uint8_t n = uint8_t(order & ~LFN_LAST_PART);
    if (order & LFN_LAST_PART)
    {
        Start(entry, false);
        m_bBroken = n == 0 || n > LFN_MAX_PARTS;
        m_nNextOrder = uint8_t(n - 1);
        return;
    }
    if (m_nParts > 0 && !m_bDeleted && !m_bBroken && n != 0 && n == m_nNextOrder &&
        entry[LFN_CHECKSUM] == m_checksum)
    {
        Append(entry);
        --m_nNextOrder;
        return;
    }
    // A part that continues no name: nothing up to the next first part has
    // a whole name.
    Start(entry, false);
    m_bBroken = true;
}

bool CFatLongName::Continues(const uint8_t* entry) const
{
    if (!IsPending())
        return false;
    if (entry[DE_ATTR] != ATTR_LONG_NAME)
    {
        // The short entry: the name must belong to it whole.
        CFatLongName trial = *this;
        return !trial.TakeFor(entry).empty();
    }
    if (entry[LFN_CHECKSUM] != m_checksum)
        return false;
    const uint8_t order = entry[LFN_ORDER];
    if (m_bDeleted)
        return order == DELETED_MARK;
    return order != DELETED_MARK && !(order & LFN_LAST_PART) && order != 0 && order == m_nNextOrder;
}

std::string CFatLongName::TakeFor(const uint8_t* entry)
{
    std::string name;
    const bool deleted = entry[0] == DELETED_MARK;
    if (m_nParts > 0 && !m_bBroken && deleted == m_bDeleted)
    {
        // The part stored first ends the name.
        uint16_t units[LFN_MAX_PARTS * LFN_UNITS_PER_ENTRY];
        size_t count = 0;
        for (uint32_t i = m_nParts; i-- > 0;)
            for (size_t k = 0; k < LFN_UNITS_PER_ENTRY; ++k)
                units[count++] = m_units[i][k];
        size_t len = 0;
        while (len < count && units[len] != 0)
            ++len;
        bool belongs = len > 0 && len >= (m_nParts - 1) * LFN_UNITS_PER_ENTRY;
        if (belongs && !deleted)
            belongs =
                m_nNextOrder == 0 && GetShortNameCheckSum(reinterpret_cast<const char*>(entry)) == m_checksum;
        else if (belongs)
        {
            size_t first = 0;
            while (first < len && (units[first] == ' ' || units[first] == '.'))
                ++first;
            const uint8_t b0 = FirstByteFromChecksum(entry, m_checksum);
            const uint8_t made = first < len ? ShortNameFirstByteOf(units[first]) : 0;
            belongs = made ? b0 == made : IsShortNameFirstByte(b0);
        }
        if (belongs)
            name = Utf16ToUtf8(units, len);
    }
    Reset();
    return name;
}
} // namespace tessaroo

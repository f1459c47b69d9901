// Layout constants of FAT volumes and the geometry the FAT engines derive
// from a boot sector. Every value read off the boot sector is checked here,
// once, before it becomes a divisor, a shift or a loop bound anywhere else.
#pragma once

#include "core/BootSector.h"
#include "core/Recognisers.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace tessaroo
{
// Cluster numbers 0 and 1 are reserved; data clusters start at 2.
constexpr uint32_t FAT_FIRST_DATA_CLUSTER = 2;

// Entry values at or above these end a chain (0x?FF7 marks a bad cluster,
// which ends a chain just as well for a reader).
constexpr uint32_t FAT12_END_OF_CHAIN = 0xFF8;
constexpr uint32_t FAT16_END_OF_CHAIN = 0xFFF8;
constexpr uint32_t FAT32_END_OF_CHAIN = 0x0FFFFFF8;
constexpr uint32_t FAT12_BAD_CLUSTER = 0xFF7;
constexpr uint32_t FAT16_BAD_CLUSTER = 0xFFF7;
constexpr uint32_t FAT32_BAD_CLUSTER = 0x0FFFFFF7;
// The top four bits of a FAT32 entry are reserved and not part of the link.
constexpr uint32_t FAT32_ENTRY_MASK = 0x0FFFFFFF;
constexpr uint32_t FAT16_ENTRY_MASK = 0xFFFF;
constexpr uint32_t FAT12_ENTRY_MASK = 0xFFF;

// Root-directory size assumed when a FAT12/16 boot sector gives no entry
// count: 512 entries of 32 bytes, what formatters write for hard-disk media.
constexpr uint32_t FAT_DEFAULT_ROOT_DIR_SECTORS = 32;
// The FAT is read through one window of at most this many bytes, reloaded
// only when an entry outside it is needed.
constexpr uint32_t FAT_WINDOW_BYTES = 16 * 1024 * 1024;
// How many bytes of a folder's first cluster the level walk reads: enough
// for the "." and ".." entries on any sector size.
constexpr uint32_t FAT_LEVEL_PROBE_BYTES = 4096;
// Boot bytes read by Init.
constexpr uint32_t FAT_BOOT_READ_BYTES = 4096;
// Candidate high words tried when a deleted FAT32 entry lost its high word.
constexpr uint32_t FAT_HIGH_WORD_GUESSES = 257;

enum class FatKind
{
    Fat12,
    Fat16,
    Fat32,
};

// The geometry of one FAT volume. Sector numbers are in the volume's own
// sector size and relative to the volume start unless a name says otherwise.
struct FatGeometry
{
    FatKind kind = FatKind::Fat32;
    uint32_t bytesPerSector = 512;
    uint32_t sectorsPerCluster = 1;
    uint32_t bytesPerCluster = 512;
    uint64_t reservedSectors = 0;
    uint64_t sectorsPerFat = 0;
    uint32_t numFats = 0;
    uint32_t rootDirSectors = 0; // FAT12/16 fixed root area; 0 on FAT32
    uint64_t firstDataSector = 0;
    uint64_t totalSectors = 0; // as the boot sector states it
    uint32_t rootCluster = 0;  // FAT32 root folder; 0 (the fixed area) on FAT12/16
    uint32_t clusterCount = 0; // data clusters 2 .. clusterCount + 1
    // Entries the first FAT can hold (its size over the entry width); chains
    // through clusters beyond it cannot be read.
    uint64_t fatEntryCapacity = 0;
    // 512-byte units per volume sector: every device position is a 512-byte
    // sector number, whatever sector size the volume was formatted with.
    uint32_t unitsPerSector = 1;

    bool IsDataCluster(uint64_t c) const
    {
        return c >= FAT_FIRST_DATA_CLUSTER && c < uint64_t(clusterCount) + FAT_FIRST_DATA_CLUSTER;
    }
    // Volume-relative first sector of data cluster c (c >= 2).
    uint64_t ClusterToSector(uint32_t c) const
    {
        return firstDataSector + uint64_t(c - FAT_FIRST_DATA_CLUSTER) * sectorsPerCluster;
    }
    uint32_t EndOfChain() const
    {
        return kind == FatKind::Fat32   ? FAT32_END_OF_CHAIN
               : kind == FatKind::Fat16 ? FAT16_END_OF_CHAIN
                                        : FAT12_END_OF_CHAIN;
    }
    uint32_t BadCluster() const
    {
        return kind == FatKind::Fat32   ? FAT32_BAD_CLUSTER
               : kind == FatKind::Fat16 ? FAT16_BAD_CLUSTER
                                        : FAT12_BAD_CLUSTER;
    }
    uint32_t EntryMask() const
    {
        return kind == FatKind::Fat32   ? FAT32_ENTRY_MASK
               : kind == FatKind::Fat16 ? FAT16_ENTRY_MASK
                                        : FAT12_ENTRY_MASK;
    }
};

// Derives the geometry from a boot sector (len >= 512). FAT32 is chosen by
// the "FAT32   " type text, FAT12 against FAT16 by the cluster count. False
// when a field cannot be used: a sector size that is not a power of two from
// 512 to 4096, a cluster size that is not a power of two up to 128 sectors,
// no FAT, an empty FAT, or a FAT32 root folder outside the data area (a
// root cluster of 0 or 1 names no cluster at all). *why, when given, then
// says which.
bool DeriveFatGeometry(const uint8_t* boot, size_t len, FatGeometry& g, const char** why = nullptr);

// The 8.3 name of a short entry (32 bytes) as UTF-8: the name without its
// padding, then, when withExtension and there is one, '.' and the
// extension; ASCII letters lower-cased, bytes above 0x7F read as GB2312. A
// live entry's first byte 0x05 stands for 0xE5; a deleted entry's first
// byte becomes '!'.
std::string FatShortName(const uint8_t* entry, bool withExtension);

// The long name of a short entry, gathered from the long-name parts stored
// before it. A name belongs to the entry only when its parts are whole and
// agree with the entry:
// - live: the parts carry one checksum, equal to the entry's name bytes'
//   checksum, and the orders n | 0x40, n - 1, ..., 1 without a gap;
// - deleted: the orders and the entry's first name byte are gone, so the
//   parts must carry one checksum, be at most 20, hold no terminator before
//   the last part, and the checksum must give (with name bytes 1 to 10) a
//   first byte that the long name's first character makes.
// Anything else (an orphaned part, a part of another name, a mix of live
// and deleted parts) gives no long name and the 8.3 name is used.
class CFatLongName
{
  public:
    CFatLongName() { Reset(); }
    void Reset();
    // A long-name entry (attribute 0x0F, 32 bytes), in on-disk order.
    void AddPart(const uint8_t* entry);
    // The long name (UTF-8) that belongs to the short entry (32 bytes), or
    // "" when none does. The gathered parts are dropped either way.
    std::string TakeFor(const uint8_t* entry);
    // Parts gathered that may still become a name: a run cut at the end of
    // a sector, waiting for the sector that holds its rest.
    bool IsPending() const { return m_nParts > 0 && !m_bBroken; }
    // True when entry (32 bytes), the first of another sector, carries on
    // the pending run: the next part of the same name, or the short entry
    // the name belongs to.
    bool Continues(const uint8_t* entry) const;

  private:
    void Start(const uint8_t* entry, bool deleted);
    void Append(const uint8_t* entry);

    uint16_t m_units[LFN_MAX_PARTS][LFN_UNITS_PER_ENTRY];
    uint32_t m_nParts;
    uint8_t m_checksum;
    bool m_bDeleted;
    bool m_bBroken;       // a part that fits no name was met
    uint8_t m_nNextOrder; // live parts: the order the next part must carry
};

// One file or folder entry of a directory buffer, as both FAT engines walk
// them. raw is the 32-byte short entry, offset its place in the buffer.
struct FatDirEntryView
{
    const uint8_t* raw;
    size_t offset;
    bool isDir;
    bool deleted;
    std::string longName; // "" when no long name belongs to the entry

    // The long name, else the 8.3 name (a folder's without its extension).
    std::string Name() const { return longName.empty() ? FatShortName(raw, !isDir) : longName; }
};

// Walks the 32-byte entries of a directory buffer of len bytes in order,
// gathering long-name parts in lfn (which may carry parts over from the
// sector before), and calls visit(const FatDirEntryView&) for every file
// and folder entry. Invalid entries drop the parts gathered; volume labels
// and the "." and ".." entries are passed over (a long name "..", as a
// hostile disk may carry, names an ordinary folder). Returns true when an
// end-of-directory entry ended the walk.
template <typename Visit> bool WalkFatEntries(const uint8_t* buf, size_t len, CFatLongName& lfn, Visit visit)
{
    const size_t entries = len / DIR_ENTRY_SIZE;
    for (size_t i = 0; i < entries; ++i)
    {
        const size_t off = i * DIR_ENTRY_SIZE;
        const uint8_t* e = buf + off;
        if (e[0] == 0)
            return true;
        if (!IsFatEntyValid(e, len - off))
        {
            lfn.Reset();
            continue;
        }
        const uint8_t attr = e[DE_ATTR];
        if (attr == ATTR_LONG_NAME)
        {
            lfn.AddPart(e);
            continue;
        }
        FatDirEntryView v{e, off, (attr & ATTR_DIRECTORY) != 0, e[0] == DELETED_MARK, lfn.TakeFor(e)};
        if (attr & ATTR_VOLUME_ID)
            continue;
        if (v.isDir && v.longName.empty())
        {
            const std::string shortName = FatShortName(e, false);
            if (shortName == "." || shortName == "..")
                continue;
        }
        visit(v);
    }
    return false;
}
} // namespace tessaroo

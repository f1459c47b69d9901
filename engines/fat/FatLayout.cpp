#include "engines/fat/FatLayout.h"

#include "core/BootSector.h"
#include "core/ByteReader.h"

namespace tessaroo
{
namespace
{
bool IsPowerOfTwo(uint64_t v)
{
    return v != 0 && (v & (v - 1)) == 0;
}
} // namespace

bool DeriveFatGeometry(const uint8_t* boot, size_t len, FatGeometry& g)
{
    ByteReader r(boot, len);
    if (!r.Fits(0, BOOT_SECTOR_SIZE))
        return false;
    const uint32_t bps = r.U16(BS_BYTES_PER_SECTOR);
    const uint32_t spc = r.U8(BS_SECTORS_PER_CLUSTER);
    if (bps < 512 || bps > 4096 || !IsPowerOfTwo(bps) || !IsPowerOfTwo(spc) || spc > 128)
        return false;
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
        return false;
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
    g = out;
    return true;
}
} // namespace tessaroo

// Boot-sector and directory-entry layouts of FAT and NTFS volumes: named
// offsets, and one decoder into native values. Nothing is ever laid over a
// sector buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace tessaroo
{
// Fields shared by FAT and NTFS boot sectors.
constexpr size_t BS_OEM_NAME = 3;          // 8 bytes
constexpr size_t BS_BYTES_PER_SECTOR = 11; // u16
constexpr size_t BS_SECTORS_PER_CLUSTER = 13;
constexpr size_t BS_RESERVED_SECTORS = 14; // u16
constexpr size_t BS_NUM_FATS = 16;
constexpr size_t BS_ROOT_ENTRIES = 17;    // u16
constexpr size_t BS_TOTAL_SECTORS16 = 19; // u16
constexpr size_t BS_MEDIA = 21;
constexpr size_t BS_SECTORS_PER_FAT16 = 22;  // u16
constexpr size_t BS_HIDDEN_SECTORS = 28;     // u32
constexpr size_t BS_TOTAL_SECTORS32 = 32;    // u32
constexpr size_t BS_SECTORS_PER_FAT32 = 36;  // u32
constexpr size_t BS_FAT32_ROOT_CLUSTER = 44; // u32
constexpr size_t BS_FAT32_FS_TYPE = 82;      // "FAT32   "
constexpr size_t BS_NTFS_TOTAL_SECTORS = 40; // u64
constexpr size_t BS_NTFS_MFT_CLUSTER = 48;   // u64
constexpr size_t BS_NTFS_MFTMIRR_CLUSTER = 56;
constexpr size_t BS_NTFS_CLUSTERS_PER_RECORD = 64; // signed byte
constexpr size_t BS_SIGNATURE = 510;               // 0x55 0xAA
constexpr size_t BOOT_SECTOR_SIZE = 512;

// FAT32 volumes carry at most this many clusters.
constexpr uint32_t FAT_MAX_CLUSTERS = 0x0FFFFFEF;
// Fewer clusters than this make a FAT12 volume.
constexpr uint32_t FAT12_CLUSTER_LIMIT = 4085;
constexpr uint32_t FAT16_CLUSTER_LIMIT = 65525;

// FAT directory entry offsets.
constexpr size_t DE_NAME = 0; // 8 bytes
constexpr size_t DE_EXT = 8;  // 3 bytes
constexpr size_t DE_ATTR = 11;
constexpr size_t DE_NTRES = 12;
constexpr size_t DE_CTIME_TENTH = 13;
constexpr size_t DE_CTIME = 14;
constexpr size_t DE_CDATE = 16;
constexpr size_t DE_ADATE = 18;
constexpr size_t DE_CLUSTER_HI = 20;
constexpr size_t DE_WTIME = 22;
constexpr size_t DE_WDATE = 24;
constexpr size_t DE_CLUSTER_LO = 26;
constexpr size_t DE_SIZE = 28;
constexpr size_t DIR_ENTRY_SIZE = 32;
// Long-name entry offsets.
constexpr size_t LFN_ORDER = 0;
constexpr size_t LFN_NAME1 = 1; // 5 UTF-16 units
constexpr size_t LFN_TYPE = 12;
constexpr size_t LFN_CHECKSUM = 13;
constexpr size_t LFN_NAME2 = 14; // 6 units
constexpr size_t LFN_NAME3 = 28; // 2 units
constexpr unsigned LFN_UNITS_PER_ENTRY = 13;
// A long name of 255 characters needs 20 parts (260 units).
constexpr unsigned LFN_MAX_PARTS = 20;
constexpr uint8_t LFN_LAST_PART = 0x40; // order flag of the part stored first

constexpr uint8_t ATTR_READ_ONLY = 0x01;
constexpr uint8_t ATTR_HIDDEN = 0x02;
constexpr uint8_t ATTR_SYSTEM = 0x04;
constexpr uint8_t ATTR_VOLUME_ID = 0x08;
constexpr uint8_t ATTR_DIRECTORY = 0x10;
constexpr uint8_t ATTR_ARCHIVE = 0x20;
constexpr uint8_t ATTR_LONG_NAME = 0x0F;
constexpr uint8_t DELETED_MARK = 0xE5;

// True when v is a valid sectors-per-cluster value (1, 2, 4, ..., 64).
constexpr bool IsValidSectorsPerCluster(unsigned v)
{
    return v == 1 || v == 2 || v == 4 || v == 8 || v == 16 || v == 32 || v == 64;
}
} // namespace tessaroo

#pragma pack(push, 1)
// The 32-byte FAT directory entry. Declared for the interfaces that take an
// entry; decoders read entries through the byte reader, never through this.
struct FAT32_Entry
{
    uint8_t name[8];
    uint8_t ext[3];
    uint8_t attr;
    uint8_t ntRes;
    uint8_t crtTimeTenth;
    uint16_t crtTime;
    uint16_t crtDate;
    uint16_t lstAccDate;
    uint16_t fstClusHI;
    uint16_t wrtTime;
    uint16_t wrtDate;
    uint16_t fstClusLO;
    uint32_t fileSize;
};
#pragma pack(pop)
static_assert(sizeof(FAT32_Entry) == 32, "directory entry is 32 bytes");
static_assert(std::is_trivially_copyable<FAT32_Entry>::value, "entries are copied as bytes");
static_assert(offsetof(FAT32_Entry, ext) == tessaroo::DE_EXT, "layout");
static_assert(offsetof(FAT32_Entry, attr) == tessaroo::DE_ATTR, "layout");
static_assert(offsetof(FAT32_Entry, ntRes) == tessaroo::DE_NTRES, "layout");
static_assert(offsetof(FAT32_Entry, crtTimeTenth) == tessaroo::DE_CTIME_TENTH, "layout");
static_assert(offsetof(FAT32_Entry, crtTime) == tessaroo::DE_CTIME, "layout");
static_assert(offsetof(FAT32_Entry, crtDate) == tessaroo::DE_CDATE, "layout");
static_assert(offsetof(FAT32_Entry, lstAccDate) == tessaroo::DE_ADATE, "layout");
static_assert(offsetof(FAT32_Entry, fstClusHI) == tessaroo::DE_CLUSTER_HI, "layout");
static_assert(offsetof(FAT32_Entry, wrtTime) == tessaroo::DE_WTIME, "layout");
static_assert(offsetof(FAT32_Entry, wrtDate) == tessaroo::DE_WDATE, "layout");
static_assert(offsetof(FAT32_Entry, fstClusLO) == tessaroo::DE_CLUSTER_LO, "layout");
static_assert(offsetof(FAT32_Entry, fileSize) == tessaroo::DE_SIZE, "layout");

// 64-bit time value, low 32 bits first.
struct _FILETIME
{
    uint32_t dwLowDateTime;
    uint32_t dwHighDateTime;
};

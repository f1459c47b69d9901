// One partition found on a disk. Front ends copy it by value (into lists, a
// tree row's user data, the window that starts a scan), so it is a plain
// record with a pinned layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

constexpr size_t PARTITION_NAME_UNITS = 36; // UTF-16 units, as a GPT entry stores its name
constexpr size_t PARTITION_DISK_NAME_SIZE = 16;

struct _PARTITION_ITEM_
{
    uint64_t u64StartSector;                         // first sector, absolute on the disk
    uint64_t u64EndSector;                           // last sector, inclusive
    int32_t nDiskIndex;                              // disk number the partition lives on
    char16_t wszPartitionName[PARTITION_NAME_UNITS]; // UTF-16; NUL-terminated only when shorter
    char szDiskName[PARTITION_DISK_NAME_SIZE];       // device path, cut to 15 bytes + NUL
};

static_assert(sizeof(_PARTITION_ITEM_) == 112, "partition record is 112 bytes");
static_assert(alignof(_PARTITION_ITEM_) == 8, "partition record is aligned to its 64-bit fields");
static_assert(std::is_trivially_copyable<_PARTITION_ITEM_>::value, "partition records are copied by value");
static_assert(std::is_standard_layout<_PARTITION_ITEM_>::value, "partition record layout is fixed");
static_assert(offsetof(_PARTITION_ITEM_, u64StartSector) == 0, "layout");
static_assert(offsetof(_PARTITION_ITEM_, u64EndSector) == 8, "layout");
static_assert(offsetof(_PARTITION_ITEM_, nDiskIndex) == 16, "layout");
static_assert(offsetof(_PARTITION_ITEM_, wszPartitionName) == 20, "layout");
static_assert(sizeof(_PARTITION_ITEM_::wszPartitionName) == 72, "layout");
static_assert(offsetof(_PARTITION_ITEM_, szDiskName) == 92, "layout");
static_assert(sizeof(_PARTITION_ITEM_::szDiskName) == 16, "layout");

// Units of the name before its NUL, or all 36 when the name fills the field
// (a GPT name may); front ends hand this length to their UTF-16 conversion.
size_t PartitionNameLength(const _PARTITION_ITEM_& item);

// The name as UTF-8 (the command line prints it); an unpaired surrogate
// becomes U+FFFD.
std::string PartitionNameToUtf8(const _PARTITION_ITEM_& item);

// Number of sectors the partition covers (end - start + 1); 0 for a record
// whose end lies before its start.
uint64_t PartitionSectorCount(const _PARTITION_ITEM_& item);

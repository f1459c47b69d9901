// One scanned volume in the scan index ("config" below the scan-log root):
// 592 bytes, little-endian, records back to back after an 8-byte folder index.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#pragma pack(push, 4)
struct _LOG_FILE_INFO_
{
    int32_t nDiskIndex;         // N of the device name "/dev/disk%d"
    uint32_t uReserved0;        // 0
    uint64_t u64StartSector;    // first sector of the scanned volume
    uint64_t u64SectorCount;    // sector count of the scanned volume
    uint64_t u64RunStart;       // volume-relative first sector of the free run the sweep stopped in
    uint64_t u64RunLength;      // length of that run in sectors
    uint64_t u64RunOffset;      // sectors of that run already swept
    uint64_t u64ScannedSectors; // sectors swept in all
    uint64_t u64FileCount;      // files found when the sweep stopped
    uint64_t u64FreeSpace;      // free bytes of the device path's file system when written (0 for images)
    uint64_t u64Reserved72;     // 0; matched by GetFileInfo(devicePath, value, ...)
    char szDevicePath[256];     // image or device given by path; "" for disks
    char szLogDirPath[256];     // the record's scan-log folder, ending in '/'
};
#pragma pack(pop)

constexpr size_t LOG_FILE_INFO_SIZE = 592;
// The folder index that precedes the records.
constexpr size_t LOG_CONFIG_HEADER_SIZE = 8;
static_assert(sizeof(_LOG_FILE_INFO_) == LOG_FILE_INFO_SIZE, "scan index record is 592 bytes");
static_assert(std::is_trivially_copyable<_LOG_FILE_INFO_>::value, "scan index records are copied as bytes");
static_assert(std::is_standard_layout<_LOG_FILE_INFO_>::value, "scan index records are a file format");
static_assert(offsetof(_LOG_FILE_INFO_, nDiskIndex) == 0, "layout");
static_assert(offsetof(_LOG_FILE_INFO_, uReserved0) == 4, "layout");
static_assert(offsetof(_LOG_FILE_INFO_, u64StartSector) == 8, "layout");
static_assert(offsetof(_LOG_FILE_INFO_, u64SectorCount) == 16, "layout");
static_assert(offsetof(_LOG_FILE_INFO_, u64RunStart) == 24, "layout");
static_assert(offsetof(_LOG_FILE_INFO_, u64RunLength) == 32, "layout");
static_assert(offsetof(_LOG_FILE_INFO_, u64RunOffset) == 40, "layout");
static_assert(offsetof(_LOG_FILE_INFO_, u64ScannedSectors) == 48, "layout");
static_assert(offsetof(_LOG_FILE_INFO_, u64FileCount) == 56, "layout");
static_assert(offsetof(_LOG_FILE_INFO_, u64FreeSpace) == 64, "layout");
static_assert(offsetof(_LOG_FILE_INFO_, u64Reserved72) == 72, "layout");
static_assert(offsetof(_LOG_FILE_INFO_, szDevicePath) == 80, "layout");
static_assert(offsetof(_LOG_FILE_INFO_, szLogDirPath) == 336, "layout");

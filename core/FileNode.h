// Records exchanged by every engine, the stores and the front ends. A node
// is also the record format of the scan-result node file, so its layout is a
// file format and is pinned below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

static_assert(sizeof(wchar_t) == 4, "wide strings are UTF-32: wchar_t must be 4 bytes");

// Which engine made a node; the deep-scan coordinator routes per-node work by it.
enum ENGINE_TYPE : uint32_t
{
    ENGINE_TYPE_FAST_NTFS = 0,
    ENGINE_TYPE_FAST_FAT = 1,
    ENGINE_TYPE_DEEP_NTFS = 2,
    ENGINE_TYPE_DEEP_FAT = 3,
    ENGINE_TYPE_SIGNATURE = 4,
};

#pragma pack(push, 4)
// One found file or folder. Fields an engine does not set are 0.
struct _FILE_NODE_
{
    uint32_t wcDriveLetter; // drive letter given to Init; carried, never interpreted
    uint32_t uEngineType;   // ENGINE_TYPE
    uint32_t bIsDir;        // 1 folder, 0 file
    uint32_t bIsDeleted;    // FAT folder nodes: deleted or inside a deleted folder
    uint32_t bDataHealth;   // 0 when the first data sector is known to be overwritten
    uint32_t uFileIndex;    // 1-based record number in the engine's node file
    uint32_t uClusterNO;    // FAT first cluster, NTFS record number, 0 for carved files
    uint32_t uClusterSize;  // bytes per cluster; 0xFFFFFFFF for carved files
    uint64_t u64CreateTime; // FAT: seconds since 1970; NTFS: raw FILETIME
    uint64_t u64AccessTime;
    uint64_t u64ModifyTime;
    uint64_t u64FileSize;             // bytes, 0 for folders
    uint64_t u64DataStartSector;      // FAT: first data sector, volume-relative
    uint64_t u64RecordSector;         // absolute sector of the node's own on-disk record
    uint64_t u64PartitionStartSector; // absolute first sector of the volume
    char szFileName[256];             // UTF-8, NUL-terminated
};
#pragma pack(pop)

// One folder still to be copied in a folder copy: the folder and the
// target folder that is to hold it. Kept in a first-in-first-out queue by
// the FAT and NTFS engines; never stored.
struct __FILE_DATA_RECOVERY__
{
    _FILE_NODE_ node;
    std::wstring parentPath;
};

// A search hit is a copy of the matching node record.
typedef _FILE_NODE_ __SEARCH_FILE_INFO__;

constexpr size_t FILE_NODE_SIZE = 344;
constexpr size_t FILE_NAME_SIZE = 256;

static_assert(sizeof(_FILE_NODE_) == FILE_NODE_SIZE, "node record is 344 bytes");
static_assert(alignof(_FILE_NODE_) == 4, "node record is packed to 4");
static_assert(std::is_trivially_copyable<_FILE_NODE_>::value, "node records are copied as bytes");
static_assert(std::is_standard_layout<_FILE_NODE_>::value, "node records are a file format");
static_assert(offsetof(_FILE_NODE_, wcDriveLetter) == 0, "layout");
static_assert(offsetof(_FILE_NODE_, uEngineType) == 4, "layout");
static_assert(offsetof(_FILE_NODE_, bIsDir) == 8, "layout");
static_assert(offsetof(_FILE_NODE_, bIsDeleted) == 12, "layout");
static_assert(offsetof(_FILE_NODE_, bDataHealth) == 16, "layout");
static_assert(offsetof(_FILE_NODE_, uFileIndex) == 20, "layout");
static_assert(offsetof(_FILE_NODE_, uClusterNO) == 24, "layout");
static_assert(offsetof(_FILE_NODE_, uClusterSize) == 28, "layout");
static_assert(offsetof(_FILE_NODE_, u64CreateTime) == 32, "layout");
static_assert(offsetof(_FILE_NODE_, u64AccessTime) == 40, "layout");
static_assert(offsetof(_FILE_NODE_, u64ModifyTime) == 48, "layout");
static_assert(offsetof(_FILE_NODE_, u64FileSize) == 56, "layout");
static_assert(offsetof(_FILE_NODE_, u64DataStartSector) == 64, "layout");
static_assert(offsetof(_FILE_NODE_, u64RecordSector) == 72, "layout");
static_assert(offsetof(_FILE_NODE_, u64PartitionStartSector) == 80, "layout");
static_assert(offsetof(_FILE_NODE_, szFileName) == 88, "layout");

// Scan mode asked of the factory; any non-zero value counts as a deep scan.
enum RECOVERY_TYPE : uint32_t
{
    RECOVERY_TYPE_FAST = 0,
    RECOVERY_TYPE_PROFESSIONAL = 1,
};
static_assert(sizeof(RECOVERY_TYPE) == 4, "RECOVERY_TYPE is a 32-bit enumeration");

// Progress callbacks. Each receives the caller's context first and runs on
// the thread of the engine operation; a non-zero return asks the engine to stop.
typedef int (*SCAN_CALLBACK)(void* ctx, int percent, int scale, int secondsLeft,
                             unsigned long long currentSector, unsigned long long totalSectors,
                             unsigned long long filesFound, wchar_t* text);
typedef int (*RECOVERY_CALLBACK)(void* ctx, int percent, int scale, int status, wchar_t* targetPath);
typedef int (*SEARCH_CALLBACK)(void* ctx, int percent, wchar_t* text);
typedef int (*PREVIEW_CALLBACK)(void* ctx, int percent, int status);

namespace tessaroo
{
// A scan report whose percent × scale falls in this band means "complete".
constexpr int SCAN_COMPLETE_LOW = 10000;
constexpr int SCAN_COMPLETE_HIGH = 10099;
// Preview buffers handed to PreView by the application.
constexpr int PREVIEW_BUFFER_SIZE = 10240;
} // namespace tessaroo

// The name of one folder of a scan result store, as kept in the store's
// "_DirInfo" file: 264 bytes, little-endian, records back to back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

struct _DIR_FILE_INFO_
{
    uint32_t uClusterNO;  // the folder's first cluster: the low half of its directory key
    uint32_t uFileIndex;  // the folder's own node index
    char szFileName[256]; // UTF-8, NUL-terminated
};

constexpr size_t DIR_FILE_INFO_SIZE = 264;
static_assert(sizeof(_DIR_FILE_INFO_) == DIR_FILE_INFO_SIZE, "folder-name record is 264 bytes");
static_assert(alignof(_DIR_FILE_INFO_) == 4, "folder-name record is 4-aligned");
static_assert(std::is_trivially_copyable<_DIR_FILE_INFO_>::value, "folder-name records are copied as bytes");
static_assert(std::is_standard_layout<_DIR_FILE_INFO_>::value, "folder-name records are a file format");
static_assert(offsetof(_DIR_FILE_INFO_, uClusterNO) == 0, "layout");
static_assert(offsetof(_DIR_FILE_INFO_, uFileIndex) == 4, "layout");
static_assert(offsetof(_DIR_FILE_INFO_, szFileName) == 8, "layout");

// Status values returned by every engine, store and reader operation.
// Operations never throw across these interfaces; a failed system call
// returns its errno value, everything else one of these.
#pragma once

#include <cstdint>

namespace tessaroo
{
constexpr uint32_t STATUS_SUCCESS = 0;
// Invalid argument, a query beyond the device, or a record that is not there.
constexpr uint32_t STATUS_INVALID_PARAMETER = 87;
// A device read came up short (end of device or a failed read).
constexpr uint32_t STATUS_READ_FAULT = 30;
// Allocation failed.
constexpr uint32_t STATUS_NOT_ENOUGH_MEMORY = 8;
// A FAT cluster larger than the engines are willing to buffer.
constexpr uint32_t STATUS_CLUSTER_TOO_LARGE = 29;
constexpr uint32_t CLUSTER_BUFFER_LIMIT = 104857600; // 100 MiB
// Returned by a recovery callback (and passed on by the engines) to stop a recovery run.
constexpr int STATUS_CANCEL = -9527;
// NTFS engines.
constexpr int STATUS_NTFS_FAILED = -1;
constexpr int STATUS_NTFS_NO_DATA = -100;
constexpr int STATUS_NTFS_BAD_RUN = -101;
} // namespace tessaroo

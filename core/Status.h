// Status values returned by every engine, store and reader operation.
// Operations never throw across these interfaces; a failed device call
// returns its errno value, a failed destination call a destination status,
// everything else one of these.
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
// A failure of the destination a file is recovered into (never of the
// scanned device): STATUS_DESTINATION | errno of the failed open, write,
// close or rename. Kept apart from the device's codes so that a read-only
// or full destination is never told as a damaged card (EROFS is 30, the
// value of STATUS_READ_FAULT).
constexpr uint32_t STATUS_DESTINATION = 0x00100000;
constexpr uint32_t STATUS_DESTINATION_MASK = 0x000FFFFF;
inline uint32_t DestinationStatus(int err)
{
    return STATUS_DESTINATION | (uint32_t(err > 0 ? err : 5 /* EIO */) & STATUS_DESTINATION_MASK);
}
inline bool IsDestinationStatus(uint32_t status)
{
    return (status & ~STATUS_DESTINATION_MASK) == STATUS_DESTINATION;
}
inline int DestinationErrno(uint32_t status)
{
    return int(status & STATUS_DESTINATION_MASK);
}
// NTFS engines.
constexpr int STATUS_NTFS_FAILED = -1;
constexpr int STATUS_NTFS_NO_DATA = -100;
constexpr int STATUS_NTFS_BAD_RUN = -101;
} // namespace tessaroo

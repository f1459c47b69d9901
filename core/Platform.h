// Where disks and the application-support folder live on this machine.
// Every place that opens a disk by number or forms a scan-log path goes
// through these functions.
#pragma once

#include <cstdint>
#include <string>

namespace tessaroo
{
// Highest disk number partition discovery probes, plus one.
constexpr int MAX_DISK_COUNT = 128;

// The device path of disk number diskIndex, or "" when there is no such disk.
// With TESSAROO_DISKS set (':'-separated block devices or image files) disk N
// is its N-th entry; otherwise on Linux the N-th whole disk of /sys/block in
// name order (no ram, zram, or loop devices without a backing file); on
// macOS "/dev/disk%d".
std::string GetDiskDevicePath(int diskIndex);

// Opens disk diskIndex read-only (O_RDONLY | O_CLOEXEC). Returns the
// descriptor, or -1 with errno set (ENOENT when there is no such disk).
int OpenDiskReadOnly(int diskIndex);

// Opens a device or image path read-only; -1 with errno set on failure
// (ENOTBLK for anything but a regular file or a block device: a FIFO, a
// character device, a socket; EISDIR for a folder). Never blocks.
int OpenDeviceReadOnly(const char* path);

// Size in bytes of an open device or image (block-device size query or the
// file's size); false when it cannot be had.
bool GetDeviceSize(int fd, uint64_t& bytes);

// "/Library/Application Support/Tessaroo/", or TESSAROO_SUPPORT_DIR with a
// trailing '/' when set.
std::string GetSupportDir();

// Makes an unprivileged run keep its scan logs in the user's cache folder
// (${XDG_CACHE_HOME:-~/.cache}/tessaroo) by setting TESSAROO_SUPPORT_DIR,
// unless it is set already: the system folder is writable only by root.
void SelectSupportDir(bool bPrivileged);

// GetSupportDir() + "ScanLog/".
std::string GetScanLogRoot();

// Creates path and its missing parents with the given mode (0755 unless a
// caller needs 0777). True when the folder exists afterwards.
bool MakeDirs(const std::string& path, unsigned int mode = 0755);
} // namespace tessaroo

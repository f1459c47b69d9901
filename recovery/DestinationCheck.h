// Recovering onto the volume being scanned would overwrite the very data
// being recovered. These functions find where a destination folder's file
// system lives (its disk and sector range, through /sys/dev/block) and tell
// whether that range overlaps the scanned volume.
#pragma once

#include <cstdint>
#include <string>

namespace tessaroo
{
// Where a block device lies: the whole disk it belongs to and its range on
// that disk in 512-byte sectors.
struct BlockLocation
{
    std::string strDisk; // kernel name of the whole disk ("sda", "mmcblk0")
    uint64_t u64Start = 0;
    uint64_t u64Size = 0;
};

// Resolves the block device major:minor through sysRoot + "/dev/block". A
// partition gives its disk, start and size; a whole disk start 0. False when
// the device is not a block device sysfs knows (tmpfs, overlay, network
// file systems, stacked devices whose disk cannot be told).
bool ResolveBlockDevice(unsigned int major, unsigned int minor, const std::string& sysRoot,
                        BlockLocation& out);

// The location of the file system holding path (or, when path does not
// exist yet, its nearest existing parent).
bool LocateFileSystemOf(const std::string& path, const std::string& sysRoot, BlockLocation& out);

// The location of a device or image path; false for an image file (a file
// cannot be overlapped by a file system's sector range) and for anything
// sysfs does not know.
bool LocateDevice(const std::string& devicePath, const std::string& sysRoot, BlockLocation& out);

// True when the two ranges lie on the same disk and share a sector.
bool RangesOverlap(const BlockLocation& a, const BlockLocation& b);

// True, with a message for the user, when destination lies on the scanned
// volume: sectors [startSector, startSector + sectorCount) of devicePath.
bool DestinationOverlapsVolume(const std::string& destination, const std::string& devicePath,
                               uint64_t startSector, uint64_t sectorCount, std::string& message,
                               const std::string& sysRoot = "/sys");
} // namespace tessaroo

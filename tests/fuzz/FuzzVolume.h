// The fast engine of a hostile volume driven as the command line drives
// it, shared by the FAT and NTFS volume targets.
#pragma once

#include "core/IFileRecoveryParse.h"

#include <cstddef>
#include <cstdint>

namespace fuzz
{
// The device: the input rounded up to whole 512-byte sectors, padded with
// zeros up to what the boot sector states (at most 64 MiB), so a volume cut
// after its last used sector reads as the whole one.
constexpr uint64_t DEVICE_LIMIT = 64ull << 20;

// Scan -> listing of every kind -> each hit's folder path, and for the
// first 20 hits a preview into the application's buffer and a recovery
// through the command line's flow -> the first folders of the root copied
// as trees -> the folder tree walked -> the free runs walked to the end.
// Checks: one result per recovered file, buffers terminated and within
// bounds, previews and copies inside their folders, free runs moving
// forward and on the volume.
void DriveVolume(IFileRecoveryParse& engine, long long sectors);

// Around one input: fills the disk; at the end checks that the disk is
// unchanged, nothing was written outside the scratch folders and no
// descriptor was left open.
class VolumeRun
{
  public:
    VolumeRun(const uint8_t* data, size_t size, uint64_t statedBytes);
    ~VolumeRun();
    long long Sectors() const { return (long long)(m_u64Bytes / 512); }

  private:
    const uint8_t* m_pData;
    size_t m_nSize;
    uint64_t m_u64Bytes;
    size_t m_nDescriptors;
};
} // namespace fuzz

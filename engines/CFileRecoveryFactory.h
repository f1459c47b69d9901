// Picks and initialises an engine for a volume from its first 16 KiB.
#pragma once

#include "core/IFileRecoveryParse.h"

#include <cstddef>
#include <string>

namespace tessaroo
{
enum class VolumeKind
{
    None,
    Ntfs,
    Fat,
    Ext,
};
// Classifies the first bytes of a volume: NTFS before FAT before ext. len
// must be at least 2048 for the ext test to run.
VolumeKind ClassifyVolume(const unsigned char* buf, size_t len);
constexpr size_t FACTORY_PROBE_SIZE = 16384;

// What a volume is, as the front ends show it.
struct VolumeDescription
{
    VolumeKind kind = VolumeKind::None;
    bool bReadable = false;  // its first sectors could be read
    std::string strFileSystem; // "FAT12", "FAT16", "FAT32", "NTFS", "ext", "unknown", "unreadable"
};
// Reads the first 16 KiB of the volume at startSector of disk diskIndex and
// names its file system; with the volume's sector count, a volume whose
// first boot sector is lost is named by its backup ("FAT32 (backup boot
// sector)").
VolumeDescription DescribeVolume(int diskIndex, unsigned long long startSector, unsigned long long sectorCount = 0);
// The same for bytes already read.
VolumeDescription DescribeVolume(const unsigned char* buf, size_t len);
} // namespace tessaroo

class CFileRecoveryFactory
{
  public:
    static CFileRecoveryFactory* GetInstance();

    // A new engine initialised with the disk form of Init, or null. The caller owns it.
    IFileRecoveryParse* CreateFileRecoveryInstance(int diskIndex, long long startSector,
                                                   long long sectorCount, wchar_t driveLetter,
                                                   RECOVERY_TYPE type);
    // The same for a device or image path (path form of Init).
    IFileRecoveryParse* CreateFileRecoveryInstance(wchar_t* devicePath, wchar_t driveLetter,
                                                   RECOVERY_TYPE type);

  private:
    CFileRecoveryFactory() = default;
};

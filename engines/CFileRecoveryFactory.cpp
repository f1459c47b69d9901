#include "engines/CFileRecoveryFactory.h"

#include "core/ByteReader.h"
#include "core/CDiskReader.h"
#include "core/FileIo.h"
#include "engines/CProfessionalRecovery.h"
#include "engines/ext/CFastExtRecovery.h"
#include "core/Log.h"
#include "core/Platform.h"
#include "core/Portability.h"
#include "core/Recognisers.h"
#include "engines/CProfessionalRecovery.h"
#include "engines/ext/CFastExtRecovery.h"
#include "engines/fat/CFastFatRecovery.h"
#include "engines/fat/FatLayout.h"
#include "engines/ntfs/CFastNtfsRecovery.h"
#include "engines/ntfs/NtfsLayout.h"

#include <memory>
#include <new>
#include <unistd.h>
#include <vector>

using namespace tessaroo;

namespace
{
// Where a volume's boot sector was found: its kind, and in 512-byte units
// from the volume's start (0, or a backup's place).
struct BootFound
{
    VolumeKind kind = VolumeKind::None;
    unsigned long long unit = 0;
    std::vector<unsigned char> sector; // the 512 bytes found there
};

// When the boot sector at the volume's start is unreadable or implausible,
// the backups the file systems keep: FAT32 at sector 6, NTFS in the
// volume's last sector, for 512- and 4096-byte sectors. Each must say it
// has the sector size its place assumes.
BootFound FindBackupBootSector(int fd, unsigned long long start, unsigned long long count)
{
    BootFound found;
    std::vector<unsigned char> b(BOOT_SECTOR_SIZE);
    for (unsigned int bps : {512u, 4096u})
    {
        size_t got = 0;
        const unsigned long long fatUnit = 6ULL * bps / 512;
        if (fatUnit < count && ReadFullAt(fd, b.data(), b.size(), (start + fatUnit) * 512, got) == 0 &&
            IsFat(b.data()))
        {
            FatGeometry g;
            if (DeriveFatGeometry(b.data(), b.size(), g) && g.kind == FatKind::Fat32 &&
                g.bytesPerSector == bps)
            {
                found = {VolumeKind::Fat, fatUnit, b};
                return found;
            }
        }
        const unsigned long long ntfsUnit = count >= bps / 512 ? count - bps / 512 : 0;
        if (ntfsUnit > 0 && ReadFullAt(fd, b.data(), b.size(), (start + ntfsUnit) * 512, got) == 0 &&
            IsNtfs(b.data()) && ByteReader(b.data(), b.size()).U16(BS_BYTES_PER_SECTOR) == bps)
        {
            found = {VolumeKind::Ntfs, ntfsUnit, b};
            return found;
        }
    }
    return found;
}

} // namespace

namespace tessaroo
{
VolumeKind ClassifyVolume(const unsigned char* buf, size_t len)
{
    if (!buf || len < BOOT_SECTOR_SIZE)
        return VolumeKind::None;
    if (IsNtfs(buf))
        return VolumeKind::Ntfs;
    if (IsFat(buf))
        return VolumeKind::Fat;
    if (len >= 2048 && IsExt(buf))
        return VolumeKind::Ext;
    return VolumeKind::None;
}

VolumeDescription DescribeVolume(const unsigned char* buf, size_t len)
{
    VolumeDescription d;
    d.bReadable = buf && len >= BOOT_SECTOR_SIZE;
    if (!d.bReadable)
    {
        d.strFileSystem = "unreadable";
        return d;
    }
    d.kind = ClassifyVolume(buf, len);
    switch (d.kind)
    {
    case VolumeKind::Fat:
    {
        FatGeometry g;
        if (!DeriveFatGeometry(buf, len, g))
            d.strFileSystem = "FAT";
        else
            d.strFileSystem = g.kind == FatKind::Fat12   ? "FAT12"
                              : g.kind == FatKind::Fat16 ? "FAT16"
                                                         : "FAT32";
        break;
    }
    case VolumeKind::Ntfs:
        d.strFileSystem = "NTFS";
        break;
    case VolumeKind::Ext:
        d.strFileSystem = "ext";
        break;
    case VolumeKind::None:
        d.strFileSystem = "unknown";
        break;
    }
    return d;
}

VolumeDescription DescribeVolume(int diskIndex, unsigned long long startSector,
                                 unsigned long long sectorCount)
{
    std::vector<unsigned char> buf(FACTORY_PROBE_SIZE);
    size_t got = 0;
    int fd = OpenDiskReadOnly(diskIndex);
    if (fd < 0)
        return DescribeVolume(buf.data(), 0);
    if (startSector <= (unsigned long long)(INT64_MAX / 512))
        ReadFullAt(fd, buf.data(), buf.size(), startSector * 512, got);
    VolumeDescription d = DescribeVolume(buf.data(), got);
    if (d.bReadable && d.kind == VolumeKind::None && sectorCount > 0)
    {
        const BootFound backup = FindBackupBootSector(fd, startSector, sectorCount);
        if (backup.kind != VolumeKind::None)
        {
            d = DescribeVolume(backup.sector.data(), backup.sector.size());
            d.strFileSystem += " (backup boot sector)";
        }
    }
    close(fd);
    return d;
}
} // namespace tessaroo

namespace
{
// The engine for a classified volume, not yet initialised. Branches whose
// engine is not built yet give null, as an unrecognised volume does.
IFileRecoveryParse* NewEngine(VolumeKind kind, RECOVERY_TYPE type, const std::vector<unsigned char>& probe,
                              unsigned long long bootUnit = 0)
{
    // Every deep request, whatever the volume holds, gets the coordinator:
    // it takes the quick engine of the volume itself, if there is one.
    if (type != RECOVERY_TYPE_FAST)
        return new (std::nothrow) CProfessionalRecovery();
    switch (kind)
    {
    case VolumeKind::Ext:
        return new (std::nothrow) CFastExtRecovery();
    case VolumeKind::Fat:
        if (CFastFatRecovery* fat = new (std::nothrow) CFastFatRecovery())
        {
            fat->UseBootSectorAt(bootUnit);
            return fat;
        }
        break;
    case VolumeKind::Ntfs:
        // Records are one sector (two of 512 bytes); sector sizes above
        // 4096 bytes have no record geometry the engine knows.
        if (IsNtfsSectorSizeSupported(ByteReader(probe.data(), probe.size()).U16(BS_BYTES_PER_SECTOR)))
            if (CFastNtfsRecovery* ntfs = new (std::nothrow) CFastNtfsRecovery())
            {
                ntfs->UseBootSectorAt(bootUnit);
                return ntfs;
            }
        break;
    case VolumeKind::None:
        break;
    }
    return nullptr;
}

bool ReadProbe(int fd, off_t offset, std::vector<unsigned char>& buf)
{
    if (lseek(fd, offset, SEEK_SET) < 0)
        return false;
    unsigned int got = 0;
    return ReadData(fd, buf.data(), int(buf.size()), &got) == 0 && got == buf.size();
}
} // namespace

CFileRecoveryFactory* CFileRecoveryFactory::GetInstance()
{
    static CFileRecoveryFactory instance;
    return &instance;
}

IFileRecoveryParse* CFileRecoveryFactory::CreateFileRecoveryInstance(int diskIndex, long long startSector,
                                                                     long long sectorCount,
                                                                     wchar_t driveLetter, RECOVERY_TYPE type)
{
    int fd = OpenDiskReadOnly(diskIndex);
    if (fd < 0)
    {
        CoreLog("Open Failed\n");
        return nullptr;
    }
    std::vector<unsigned char> probe(FACTORY_PROBE_SIZE);
    if (startSector < 0 || startSector > (long long)(INT64_MAX / 512) ||
        lseek(fd, off_t(startSector) * 512, SEEK_SET) < 0)
    {
        CoreLog("lseek Failed\n");
        close(fd);
        return nullptr;
    }
    unsigned int got = 0;
    if (ReadData(fd, probe.data(), int(probe.size()), &got) != 0 || got != probe.size())
    {
        CoreLog("read Failed\n");
        close(fd);
        return nullptr;
    }
    VolumeKind kind = ClassifyVolume(probe.data(), probe.size());
    BootFound backup;
    if (kind == VolumeKind::None && type == RECOVERY_TYPE_FAST && sectorCount > 0)
    {
        backup = FindBackupBootSector(fd, (unsigned long long)startSector, (unsigned long long)sectorCount);
        if (backup.kind != VolumeKind::None)
        {
            CoreLog("the boot sector at sector %lld is unreadable or implausible; the backup at sector %llu "
                    "is used\n",
                    startSector, (unsigned long long)startSector + backup.unit);
            kind = backup.kind;
        }
    }
    IFileRecoveryParse* engine =
        NewEngine(kind, type, backup.kind != VolumeKind::None ? backup.sector : probe, backup.unit);
    if (engine)
        engine->Init(diskIndex, startSector, sectorCount, driveLetter);
    close(fd);
    return engine;
}

IFileRecoveryParse* CFileRecoveryFactory::CreateFileRecoveryInstance(wchar_t* devicePath, wchar_t driveLetter,
                                                                     RECOVERY_TYPE type)
{
    if (!devicePath)
        return nullptr;
    // Paths are opened as the file system names them (UTF-8).
    std::string utf8 = WideToUtf8(devicePath);
    int fd = OpenDeviceReadOnly(utf8.c_str());
    if (fd < 0)
        return nullptr;
    std::vector<unsigned char> probe(FACTORY_PROBE_SIZE);
    bool ok = ReadProbe(fd, 0, probe);
    close(fd);
    if (!ok)
        return nullptr;
    IFileRecoveryParse* engine = NewEngine(ClassifyVolume(probe.data(), probe.size()), type, probe);
    if (engine)
        engine->Init(devicePath, driveLetter);
    return engine;
}

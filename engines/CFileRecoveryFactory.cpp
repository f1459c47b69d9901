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

VolumeDescription DescribeVolume(int diskIndex, unsigned long long startSector)
{
    std::vector<unsigned char> buf(FACTORY_PROBE_SIZE);
    size_t got = 0;
    int fd = OpenDiskReadOnly(diskIndex);
    if (fd >= 0)
    {
        if (startSector <= (unsigned long long)(INT64_MAX / 512))
            ReadFullAt(fd, buf.data(), buf.size(), startSector * 512, got);
        close(fd);
    }
    return DescribeVolume(buf.data(), got);
}
} // namespace tessaroo

namespace
{
// The engine for a classified volume, not yet initialised. Branches whose
// engine is not built yet give null, as an unrecognised volume does.
IFileRecoveryParse* NewEngine(VolumeKind kind, RECOVERY_TYPE type, const std::vector<unsigned char>& probe)
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
        return new (std::nothrow) CFastFatRecovery();
    case VolumeKind::Ntfs:
        // Records are one sector (two of 512 bytes); sector sizes above
        // 4096 bytes have no record geometry the engine knows.
        if (IsNtfsSectorSizeSupported(ByteReader(probe.data(), probe.size()).U16(BS_BYTES_PER_SECTOR)))
            return new (std::nothrow) CFastNtfsRecovery();
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
    IFileRecoveryParse* engine = NewEngine(ClassifyVolume(probe.data(), probe.size()), type, probe);
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

#include "recovery/DestinationCheck.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace tessaroo
{
namespace
{
bool ReadNumber(const std::string& path, uint64_t& v)
{
    std::ifstream f(path);
    unsigned long long n = 0;
    if (!(f >> n))
        return false;
    v = n;
    return true;
}

bool Exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::string BaseName(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DirName(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}
} // namespace

bool ResolveBlockDevice(unsigned int major, unsigned int minor, const std::string& sysRoot,
                        BlockLocation& out)
{
    char link[64];
    snprintf(link, sizeof(link), "/dev/block/%u:%u", major, minor);
    char resolved[PATH_MAX];
    if (!realpath((sysRoot + link).c_str(), resolved))
        return false;
    std::string dir = resolved;
    BlockLocation loc;
    if (Exists(dir + "/partition"))
    {
        if (!ReadNumber(dir + "/start", loc.u64Start) || !ReadNumber(dir + "/size", loc.u64Size))
            return false;
        loc.strDisk = BaseName(DirName(dir));
    }
    else
    {
        // A stacked device (device mapper, software RAID) maps its sectors
        // through other disks; where they land cannot be told from here.
        if (Exists(dir + "/slaves") && !Exists(dir + "/device"))
            return false;
        if (!ReadNumber(dir + "/size", loc.u64Size))
            return false;
        loc.strDisk = BaseName(dir);
        loc.u64Start = 0;
    }
    if (loc.strDisk.empty())
        return false;
    out = loc;
    return true;
}

bool LocateFileSystemOf(const std::string& path, const std::string& sysRoot, BlockLocation& out)
{
    std::string p = path.empty() ? std::string(".") : path;
    struct stat st;
    // A destination that does not exist yet will be made in its nearest
    // existing parent's file system.
    for (int i = 0; i < 4096 && stat(p.c_str(), &st) != 0; ++i)
    {
        if (p == "/" || p == ".")
            return false;
        std::string parent = p.find('/') == std::string::npos ? std::string(".") : DirName(p);
        if (parent == p)
            return false;
        p = parent;
    }
    if (stat(p.c_str(), &st) != 0)
        return false;
    return ResolveBlockDevice(major(st.st_dev), minor(st.st_dev), sysRoot, out);
}

bool LocateDevice(const std::string& devicePath, const std::string& sysRoot, BlockLocation& out)
{
    struct stat st;
    if (stat(devicePath.c_str(), &st) != 0 || !S_ISBLK(st.st_mode))
        return false;
    return ResolveBlockDevice(major(st.st_rdev), minor(st.st_rdev), sysRoot, out);
}

bool RangesOverlap(const BlockLocation& a, const BlockLocation& b)
{
    if (a.strDisk != b.strDisk || a.u64Size == 0 || b.u64Size == 0)
        return false;
    return a.u64Start < b.u64Start + b.u64Size && b.u64Start < a.u64Start + a.u64Size;
}

bool DestinationOverlapsVolume(const std::string& destination, const std::string& devicePath,
                               uint64_t startSector, uint64_t sectorCount, std::string& message,
                               const std::string& sysRoot)
{
    BlockLocation device, dest;
    if (!LocateDevice(devicePath, sysRoot, device) || !LocateFileSystemOf(destination, sysRoot, dest))
        return false;
    // The scanned device may itself be a partition; the volume's sectors
    // count from its start.
    BlockLocation volume;
    volume.strDisk = device.strDisk;
    volume.u64Start = device.u64Start + startSector;
    volume.u64Size = sectorCount;
    if (!RangesOverlap(volume, dest))
        return false;
    message = "the destination folder " + destination + " lies on the volume being recovered (" + devicePath +
              "); recovering there would overwrite the deleted files. Choose a folder on another disk or "
              "partition.";
    return true;
}
} // namespace tessaroo

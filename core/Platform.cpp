#include "core/Platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#ifdef __linux__
#include <linux/fs.h>
#endif

namespace tessaroo
{
namespace
{
#ifdef __linux__
bool ReadSysFile(const std::string& path, std::string& out)
{
    FILE* f = fopen(path.c_str(), "re");
    if (!f)
        return false;
    char buf[256];
    size_t n = fread(buf, 1, sizeof(buf) - 1, f);
    fclose(f);
    buf[n] = 0;
    out = buf;
    while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
        out.pop_back();
    return true;
}

// Whole disks of /sys/block in name order. Partitions are not listed there;
// RAM disks hold nothing to recover, and a loop device only matters while
// it has a backing file.
std::vector<std::string> ListSysBlockDisks()
{
    std::vector<std::string> names;
    DIR* d = opendir("/sys/block");
    if (!d)
        return names;
    while (dirent* e = readdir(d))
    {
        std::string n = e->d_name;
        if (n.empty() || n[0] == '.')
            continue;
        if (n.compare(0, 3, "ram") == 0 || n.compare(0, 4, "zram") == 0)
            continue;
        if (n.compare(0, 4, "loop") == 0)
        {
            std::string backing;
            if (!ReadSysFile("/sys/block/" + n + "/loop/backing_file", backing) || backing.empty())
                continue;
        }
        names.push_back(n);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}
#endif
} // namespace

std::string GetDiskDevicePath(int diskIndex)
{
    if (diskIndex < 0)
        return std::string();
    if (const char* list = getenv("TESSAROO_DISKS"))
    {
        // An empty entry keeps its number, so "a.img::b.img" maps disks 0 and 2.
        int n = 0;
        const char* p = list;
        while (true)
        {
            const char* colon = strchr(p, ':');
            size_t len = colon ? size_t(colon - p) : strlen(p);
            if (n == diskIndex)
                return std::string(p, len);
            if (!colon)
                return std::string();
            p = colon + 1;
            ++n;
        }
    }
#ifdef __linux__
    std::vector<std::string> disks = ListSysBlockDisks();
    if (size_t(diskIndex) < disks.size())
        return "/dev/" + disks[size_t(diskIndex)];
    return std::string();
#else
    char path[32];
    snprintf(path, sizeof(path), "/dev/disk%d", diskIndex);
    return path;
#endif
}

int OpenDeviceReadOnly(const char* path)
{
    if (!path || !*path)
    {
        errno = ENOENT;
        return -1;
    }
    // Non-blocking, so that a FIFO or a terminal named as an image cannot
    // hang the open; only what holds sectors is accepted.
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0)
    {
        const int e = errno;
        close(fd);
        errno = e;
        return -1;
    }
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode))
    {
        close(fd);
        errno = S_ISDIR(st.st_mode) ? EISDIR : ENOTBLK;
        return -1;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0)
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

int OpenDiskReadOnly(int diskIndex)
{
    std::string path = GetDiskDevicePath(diskIndex);
    return OpenDeviceReadOnly(path.c_str());
}

bool GetDeviceSize(int fd, uint64_t& bytes)
{
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0)
        return false;
    if (S_ISBLK(st.st_mode))
    {
#ifdef BLKGETSIZE64
        uint64_t size = 0;
        if (ioctl(fd, BLKGETSIZE64, &size) != 0)
            return false;
        bytes = size;
        return true;
#else
        off_t end = lseek(fd, 0, SEEK_END);
        if (end < 0)
            return false;
        bytes = uint64_t(end);
        return true;
#endif
    }
    if (!S_ISREG(st.st_mode))
        return false;
    bytes = uint64_t(st.st_size);
    return true;
}

std::string GetSupportDir()
{
    const char* dir = getenv("TESSAROO_SUPPORT_DIR");
    std::string s = (dir && *dir) ? dir : "/Library/Application Support/Tessaroo";
    if (s.back() != '/')
        s += '/';
    return s;
}

void SelectSupportDir(bool bPrivileged)
{
    const char* set = getenv("TESSAROO_SUPPORT_DIR");
    if (bPrivileged || (set && *set))
        return;
    std::string base;
    const char* xdg = getenv("XDG_CACHE_HOME");
    if (xdg && *xdg == '/')
        base = xdg;
    else
    {
        const char* home = getenv("HOME");
        if (!home || !*home)
        {
            const passwd* pw = getpwuid(geteuid());
            home = pw ? pw->pw_dir : nullptr;
        }
        base = std::string(home && *home ? home : "/tmp") + "/.cache";
    }
    setenv("TESSAROO_SUPPORT_DIR", (base + "/tessaroo").c_str(), 1);
}

std::string GetScanLogRoot()
{
    return GetSupportDir() + "ScanLog/";
}

bool MakeDirs(const std::string& path, unsigned int mode)
{
    std::string p = path;
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    if (p.empty())
        return false;
    size_t pos = 1;
    while (true)
    {
        size_t slash = p.find('/', pos);
        std::string cur = p.substr(0, slash);
        if (mkdir(cur.c_str(), mode) == 0)
        {
            // mkdir honours the umask; a folder asked to be shared gets its bits exactly.
            if (mode != 0755)
                chmod(cur.c_str(), mode);
        }
        else if (errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            break;
        pos = slash + 1;
    }
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
} // namespace tessaroo

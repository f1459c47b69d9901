#include "tests/fuzz/FuzzDisk.h"

#include "core/Log.h"
#include "core/Platform.h"

#include <ftw.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace fuzz
{
namespace
{
void QuietLog(const char*) {}

int Disk()
{
    static int fd = -1;
    if (fd < 0)
    {
        tessaroo::SetLogSink(QuietLog);
        fd = memfd_create("tessaroo-fuzz-disk", MFD_CLOEXEC);
        if (fd < 0)
            Fail("memfd_create failed");
        setenv("TESSAROO_DISKS", DiskPath().c_str(), 1);
    }
    return fd;
}

int CheckEntry(const char* path, const struct stat* st, int type, struct FTW*)
{
    const Scratch& s = GetScratch();
    const std::string p = path;
    if (p == s.root || p == s.root + "/outer" || p == s.inner)
        return 0;
    if (!Below(p, s.support) && !Below(p, s.out))
        Fail(("written outside the destination and scan-log folders: " + p).c_str());
    if (type == FTW_SL || type == FTW_SLN || !(S_ISREG(st->st_mode) || S_ISDIR(st->st_mode)))
        Fail(("neither a file nor a folder: " + p).c_str());
    return 0;
}
} // namespace

void Fail(const char* what)
{
    fprintf(stderr, "%s: %s\n", program_invocation_short_name, what);
    abort();
}

const std::string& DiskPath()
{
    static const std::string path = "/proc/self/fd/" + std::to_string(Disk());
    return path;
}

void FillDisk(const uint8_t* data, size_t size, uint64_t bytes)
{
    const int fd = Disk();
    if (ftruncate(fd, 0) != 0 || (size && pwrite(fd, data, size, 0) != ssize_t(size)) ||
        (bytes > size && ftruncate(fd, off_t(bytes)) != 0))
        Fail("cannot fill the disk");
}

void CheckDiskUnchanged(const uint8_t* data, size_t size, uint64_t bytes)
{
    struct stat st;
    if (fstat(Disk(), &st) != 0 || uint64_t(st.st_size) != bytes)
        Fail("the device changed size");
    std::vector<uint8_t> back(size);
    if (pread(Disk(), back.data(), size, 0) != ssize_t(size) || memcmp(back.data(), data, size) != 0)
        Fail("the device was written");
    const off_t tail = off_t((uint64_t(size) + 4095) / 4096 * 4096);
    if (uint64_t(tail) < bytes && lseek(Disk(), tail, SEEK_DATA) >= 0)
        Fail("the device was written past the input");
}

const Scratch& GetScratch()
{
    static Scratch s;
    if (!s.root.empty())
        return s;
    tessaroo::SetLogSink(QuietLog);
    const char* base = getenv("TESSAROO_FUZZ_TMP");
    std::string tmpl = std::string(base                            ? base
                                   : access("/dev/shm", W_OK) == 0 ? "/dev/shm"
                                                                   : "/tmp") +
                       "/tessaroo-fuzz.XXXXXX";
    if (!mkdtemp(&tmpl[0]))
        Fail("cannot make the scratch folder");
    s.root = tmpl;
    s.inner = s.root + "/outer/inner";
    s.support = s.inner + "/support";
    s.out = s.inner + "/out";
    if (!tessaroo::MakeDirs(s.support) || !tessaroo::MakeDirs(s.out))
        Fail("cannot make the scratch folders");
    setenv("TESSAROO_SUPPORT_DIR", s.support.c_str(), 1);
    atexit([] { tessaroo::test::RemoveTree(GetScratch().root); });
    return s;
}

void CheckAndClean()
{
    const Scratch& s = GetScratch();
    if (nftw(s.root.c_str(), CheckEntry, 16, FTW_PHYS) != 0)
        Fail("cannot walk the scratch folder");
    RemoveBelow(s.support);
    RemoveBelow(s.out);
}

void RemoveBelow(const std::string& dir)
{
    for (const std::string& name : tessaroo::test::ListFolder(dir))
        tessaroo::test::RemoveTree(dir + "/" + name);
}

bool Below(const std::string& path, const std::string& dir)
{
    return path == dir ||
           (path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 && path[dir.size()] == '/');
}

} // namespace fuzz

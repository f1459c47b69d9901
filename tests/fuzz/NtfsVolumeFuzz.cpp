// libFuzzer target: the fast NTFS engine over a hostile volume, driven as
// the command line drives it.
//
// Input: the first bytes of an NTFS volume (boot sector, MFT, data). The
// device is the input rounded up to whole 512-byte sectors and padded with
// zeros up to the size the boot sector states (at most 64 MiB), so a volume
// cut after its MFT reads as the whole one.
//
// The run: factory (fast) -> scan -> listing of every kind -> for each hit
// its folder path, and for the first 20 hits a preview into the
// application's 10240-byte buffer and a recovery through the command line's
// recovery flow -> the first folders of the root copied as folder trees ->
// the folder tree walked from the root -> the volume bitmap and its free
// runs walked to the volume's end -> the run lists of the first records.
//
// Checks besides the sanitizers: nothing is written outside the destination
// and scan-log folders, the device is unchanged, no descriptor is left
// open, every recovered file gets exactly one result, buffers come back
// terminated and within bounds, and the free-run walk moves forward.
#include "core/FileNode.h"
#include "core/Log.h"
#include "core/Portability.h"
#include "engines/CFileRecoveryFactory.h"
#include "engines/ntfs/CFastNtfsRecovery.h"
#include "recovery/CRecoveryFlow.h"
#include "recovery/KindPatterns.h"

#include <dirent.h>
#include <ftw.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

namespace
{
constexpr uint64_t DEVICE_LIMIT = 64ull << 20;
constexpr size_t RECOVERED_HITS = 20;
constexpr size_t FOLDER_COPIES = 3;
constexpr size_t TREE_QUERIES = 200;
constexpr unsigned RUN_LIST_RECORDS = 32;
constexpr int PATH_UNITS = 4096;
constexpr int IMAGE_PATH_UNITS = 256;

void QuietLog(const char*) {}

void Fail(const char* what)
{
    fprintf(stderr, "fuzz_ntfs_volume: %s\n", what);
    abort();
}

struct Setup
{
    int fd = -1;
    std::string devicePath, root, support, out;
};

const Setup& GetSetup()
{
    static Setup s;
    if (s.fd >= 0)
        return s;
    tessaroo::SetLogSink(QuietLog);
    const char* base = getenv("TESSAROO_FUZZ_TMP");
    if (!base)
        base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string tmpl = std::string(base) + "/tessaroo-fuzz-ntfs.XXXXXX";
    if (!mkdtemp(&tmpl[0]))
        Fail("cannot make the temporary folder");
    // Two levels between the root and the destination, so that a name that
    // climbs out of the destination still lands where the check looks.
    s.root = tmpl;
    s.support = s.root + "/outer/inner/support";
    s.out = s.root + "/outer/inner/out";
    for (const std::string& d : {s.root + "/outer", s.root + "/outer/inner", s.support, s.out})
        if (mkdir(d.c_str(), 0755) != 0)
            Fail("cannot make the temporary folders");
    setenv("TESSAROO_SUPPORT_DIR", s.support.c_str(), 1);
    s.fd = memfd_create("tessaroo-fuzz-ntfs", MFD_CLOEXEC);
    if (s.fd < 0)
        Fail("memfd_create failed");
    s.devicePath = "/proc/self/fd/" + std::to_string(s.fd);
    setenv("TESSAROO_DISKS", s.devicePath.c_str(), 1);
    return s;
}

bool Below(const std::string& path, const std::string& dir)
{
    return path == dir ||
           (path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 && path[dir.size()] == '/');
}

const Setup* g_check = nullptr;
int CheckEntry(const char* path, const struct stat* st, int type, struct FTW*)
{
    const std::string p = path;
    const Setup& s = *g_check;
    if (p == s.root || p == s.root + "/outer" || p == s.root + "/outer/inner")
        return 0;
    if (!Below(p, s.support) && !Below(p, s.out))
    {
        fprintf(stderr, "written outside the destination and scan-log folders: %s\n", path);
        abort();
    }
    if (type == FTW_SL || type == FTW_SLN || !(S_ISREG(st->st_mode) || S_ISDIR(st->st_mode)))
    {
        fprintf(stderr, "neither a file nor a folder: %s\n", path);
        abort();
    }
    return 0;
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW* ftw)
{
    if (ftw->level > 0)
        remove(path);
    return 0;
}

void RemoveTree()
{
    if (!g_check)
        return;
    nftw(g_check->root.c_str(), RemoveEntry, 16, FTW_PHYS | FTW_DEPTH);
    rmdir(g_check->root.c_str());
}

void CheckAndClean(const Setup& s)
{
    if (!g_check)
        atexit(RemoveTree);
    g_check = &s;
    if (nftw(s.root.c_str(), CheckEntry, 16, FTW_PHYS) != 0)
        Fail("cannot walk the temporary folder");
    nftw(s.support.c_str(), RemoveEntry, 16, FTW_PHYS | FTW_DEPTH);
    nftw(s.out.c_str(), RemoveEntry, 16, FTW_PHYS | FTW_DEPTH);
}

size_t OpenDescriptors()
{
    size_t n = 0;
    DIR* d = opendir("/proc/self/fd");
    if (!d)
        return 0;
    while (readdir(d))
        ++n;
    closedir(d);
    return n;
}

// The size the boot sector states (sectors at 0x28 times the sector size).
uint64_t StatedVolumeBytes(const uint8_t* data, size_t size)
{
    if (size < 512)
        return 0;
    uint32_t bps = uint32_t(data[11]) | uint32_t(data[12]) << 8;
    if (bps == 0)
        bps = 512;
    if (bps > 4096)
        return 0;
    uint64_t total = 0;
    for (int i = 7; i >= 0; --i)
        total = (total << 8) | data[0x28 + i];
    return total > DEVICE_LIMIT / bps ? DEVICE_LIMIT : total * bps;
}

void CheckTerminated(const wchar_t* s, size_t units, const char* what)
{
    if (wmemchr(s, L'\0', units) == nullptr)
        Fail(what);
}

int ScanReport(void*, int percent, int, int, unsigned long long, unsigned long long, unsigned long long,
               wchar_t*)
{
    if (percent < 0 || percent > 100)
        Fail("scan percent out of range");
    return 0;
}

int PreviewReport(void*, int percent, int)
{
    if (percent < 0 || percent > 100)
        Fail("preview percent out of range");
    return 0;
}

int FolderCopyReport(void*, int percent, int, int, wchar_t* target)
{
    if (percent < 0 || percent > 100)
        Fail("recovery percent out of range");
    if (target)
    {
        const std::string t = tessaroo::WideToUtf8(target);
        if (!t.empty() && !Below(t, GetSetup().out))
            Fail("a folder copy reported a target outside the destination");
    }
    return 0;
}

void WalkTree(IFileRecoveryParse* engine)
{
    struct Item
    {
        _FILE_NODE_ node;
        unsigned level;
    };
    std::vector<Item> queue;
    std::vector<_FILE_NODE_> children;
    unsigned int count = 0;
    engine->GetChildrenFileNode(nullptr, 0, children);
    engine->GetChildrenFileCount(nullptr, 0, count);
    for (const _FILE_NODE_& c : children)
        if (c.bIsDir)
            queue.push_back({c, 1});
    for (size_t i = 0; i < queue.size() && i < TREE_QUERIES; ++i)
    {
        Item it = queue[i];
        children.clear();
        engine->GetChildrenFileNode(&it.node, it.level, children);
        engine->GetChildrenFileCount(&it.node, it.level, count);
        for (const _FILE_NODE_& c : children)
            if (c.bIsDir && queue.size() < TREE_QUERIES)
                queue.push_back({c, it.level + 1});
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 512)
        return 0;
    const Setup& s = GetSetup();
    const size_t fdsBefore = OpenDescriptors();

    uint64_t deviceBytes = (uint64_t(size) + 511) / 512 * 512;
    const uint64_t stated = StatedVolumeBytes(data, size) / 512 * 512;
    if (stated > deviceBytes)
        deviceBytes = stated;
    if (ftruncate(s.fd, 0) != 0 || pwrite(s.fd, data, size, 0) != ssize_t(size) ||
        ftruncate(s.fd, off_t(deviceBytes)) != 0)
        Fail("cannot fill the device");
    const long long sectors = (long long)(deviceBytes / 512);

    std::unique_ptr<IFileRecoveryParse> engine(
        CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(0, 0, sectors, L'C',
                                                                        RECOVERY_TYPE_FAST));
    CFastNtfsRecovery* ntfs = dynamic_cast<CFastNtfsRecovery*>(engine.get());
    if (!ntfs)
    {
        engine.reset();
        CheckAndClean(s);
        return 0;
    }

    engine->InitCallBack(&ScanReport, nullptr, nullptr, 100);
    engine->ScanDevice(nullptr);
    engine->InitSearchCallBack(nullptr, nullptr);
    std::wstring key = tessaroo::Utf8ToWide(tessaroo::BuildPatternList(tessaroo::KIND_ALL).c_str());
    std::vector<__SEARCH_FILE_INFO__> hits;
    engine->SearchFileNode(&key[0], hits);

    std::unique_ptr<wchar_t[]> path(new wchar_t[PATH_UNITS]);
    std::unique_ptr<wchar_t[]> imagePath(new wchar_t[IMAGE_PATH_UNITS]);
    std::unique_ptr<unsigned char[]> preview(new unsigned char[tessaroo::PREVIEW_BUFFER_SIZE]);
    for (size_t i = 0; i < hits.size(); ++i)
    {
        if (strnlen(hits[i].szFileName, sizeof(hits[i].szFileName)) >= sizeof(hits[i].szFileName))
            Fail("node name not terminated");
        path[0] = 0;
        engine->GetFileNodeParentDirPath(&hits[i], path.get(), PATH_UNITS);
        CheckTerminated(path.get(), PATH_UNITS, "folder path not terminated");
        if (i >= RECOVERED_HITS)
            continue;
        int len = tessaroo::PREVIEW_BUFFER_SIZE;
        imagePath[0] = 0;
        engine->PreView(&hits[i], imagePath.get(), preview.get(), len, &PreviewReport, nullptr);
        if (len < 0 || len > tessaroo::PREVIEW_BUFFER_SIZE)
            Fail("preview length out of range");
        CheckTerminated(imagePath.get(), IMAGE_PATH_UNITS, "preview picture path not terminated");
        if (imagePath[0] && !Below(tessaroo::WideToUtf8(imagePath.get()), s.support))
            Fail("preview picture outside the scan-log folder");
    }

    std::vector<_FILE_NODE_> files(hits.begin(),
                                   hits.begin() + ptrdiff_t(std::min(hits.size(), RECOVERED_HITS)));
    if (!files.empty())
    {
        tessaroo::CRecoveryFlow flow;
        tessaroo::ScannedVolume volume;
        volume.strDevicePath = s.devicePath;
        volume.u64SectorCount = uint64_t(sectors);
        if (flow.RecoveryProcess(engine.get(), files, s.out + "/files", volume) !=
            tessaroo::CRecoveryFlow::OUTCOME_DONE)
            Fail("the recovery run did not complete");
        if (flow.GetResults().size() != files.size())
            Fail("a recovered file did not get exactly one result");
    }

    std::vector<_FILE_NODE_> top;
    engine->GetChildrenFileNode(nullptr, 0, top);
    size_t copies = 0;
    for (_FILE_NODE_& n : top)
    {
        if (!n.bIsDir || copies >= FOLDER_COPIES)
            continue;
        engine->InitCallBack(nullptr, &FolderCopyReport, nullptr, 100);
        std::wstring target = tessaroo::Utf8ToWide((s.out + "/tree" + std::to_string(copies++)).c_str());
        int separators = 0;
        GetPathDirIndex(target.c_str(), separators);
        engine->SaveFileData(&n, &target[0], separators);
    }
    engine->InitCallBack(nullptr, nullptr, nullptr, 100);

    WalkTree(engine.get());

    engine->BuildBitMapInfo();
    unsigned long long start = 0, count = 0;
    for (long long runs = 0;; ++runs)
    {
        if (runs > sectors + 1)
            Fail("the free-run walk does not end");
        const unsigned long long from = start;
        engine->GetUnUsedSectorCount(start, count);
        if (count == 0)
            break;
        if (start < from || start + count > (unsigned long long)sectors)
            Fail("a free run outside the volume or behind the walk");
        start += count;
    }

    // The run lists of the first records, as the deep engines will ask.
    for (unsigned r = 0; r < RUN_LIST_RECORDS; ++r)
    {
        std::vector<__RUNLIST__> runs;
        const unsigned long long sector = ntfs->GetFileRecordIndexSectorOffset(r);
        ntfs->GetRunListInfo(sector, 0x80, runs);
        ntfs->GetRunListInfo(sector, 0xA0, runs);
        unsigned long long bytes = 0;
        ntfs->GetBitMapRealBytesSize(sector, bytes);
        unsigned length = 0;
        ntfs->GetAttr0x80Data(sector, preview.get(), tessaroo::PREVIEW_BUFFER_SIZE, length);
        if (length > unsigned(tessaroo::PREVIEW_BUFFER_SIZE))
            Fail("resident data longer than its buffer");
    }

    engine.reset();

    struct stat st;
    if (fstat(s.fd, &st) != 0 || uint64_t(st.st_size) != deviceBytes)
        Fail("the device changed size");
    std::vector<uint8_t> back(size);
    if (pread(s.fd, back.data(), size, 0) != ssize_t(size) || memcmp(back.data(), data, size) != 0)
        Fail("the device was written");
    const off_t tail = off_t((uint64_t(size) + 4095) / 4096 * 4096);
    if (uint64_t(tail) < deviceBytes && lseek(s.fd, tail, SEEK_DATA) >= 0)
        Fail("the device was written past the input");

    CheckAndClean(s);
    if (OpenDescriptors() != fdsBefore)
        Fail("a descriptor was left open");
    return 0;
}

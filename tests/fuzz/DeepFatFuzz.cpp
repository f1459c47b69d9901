// libFuzzer target: the deep FAT engine fed hostile folder sectors in a
// hostile order over a hostile device, then queried, previewed and copied.
//
// Input: one header byte, then records of 515 bytes: an operation byte, a
// 16-bit sector number (little-endian, taken modulo the device size) and a
// 512-byte sector. Every record's sector is written to the device (a memfd
// of 4096 sectors, zeros elsewhere) at its number, so that the engine's own
// reads (a folder's first sector, a subfolder's dot pair, file data, the
// boot sector at the start of the swept range) meet the same hostile bytes.
// Then the records are offered in input order, not sector order:
//   op bit 2 set:   written to the device only (a boot sector, file data);
//   op bit 1 set:   offered as the sweep offers, by the recognisers
//                   (IsFatFileRecord, else IsFatFDTRecord);
//   otherwise:      bit 0 picks ParseFatFileRecord or ParseFDTFileRecord
//                   whatever the sector holds.
// Header bits 0-1 pick the start of the swept range (0, 63, 1000 or 2048).
// The end-of-sweep pass follows, then the tree walk, every file's folder
// path, previews and copies of the first files, folder copies of the first
// folders of the root.
//
// Checks besides the sanitizers: nothing is written outside the destination
// and scan-log folders, the device is unchanged, every copied file gets
// exactly one report with percent 100, buffers come back terminated and
// within bounds, no descriptor is left open.
#include "core/FileNode.h"
#include "core/Log.h"
#include "core/Platform.h"
#include "core/Portability.h"
#include "core/Recognisers.h"
#include "engines/fat/CProfessionalFatRecovery.h"
#include "store/CLogFileManager.h"
#include "store/FileTypeLists.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

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
constexpr uint64_t DEVICE_SECTORS = 4096;
constexpr size_t RECORD = 1 + 2 + 512;
constexpr size_t COPIED_FILES = 12;
constexpr size_t FOLDER_COPIES = 2;
constexpr size_t TREE_QUERIES = 200;
constexpr int PATH_UNITS = 4096;
constexpr int IMAGE_PATH_UNITS = 256;
constexpr unsigned long long STARTS[4] = {0, 63, 1000, 2048};

void QuietLog(const char*) {}

void Fail(const char* what)
{
    fprintf(stderr, "fuzz_deep_fat: %s\n", what);
    abort();
}

struct Setup
{
    int fd = -1;
    std::string root, support, out;
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
    std::string tmpl = std::string(base) + "/tessaroo-fuzz-deepfat.XXXXXX";
    if (!mkdtemp(&tmpl[0]))
        Fail("cannot make the temporary folder");
    s.root = tmpl;
    s.support = s.root + "/support";
    s.out = s.root + "/out";
    if (mkdir(s.support.c_str(), 0755) != 0 || mkdir(s.out.c_str(), 0755) != 0)
        Fail("cannot make the temporary folders");
    setenv("TESSAROO_SUPPORT_DIR", s.support.c_str(), 1);
    tessaroo::MakeDirs(tessaroo::GetScanLogRoot(), 0755);
    CLogFileManager::GetInstance()->Init();
    CLogFileManager::GetInstance()->AddDirIndex();
    s.fd = memfd_create("tessaroo-fuzz-deepfat", MFD_CLOEXEC);
    if (s.fd < 0)
        Fail("memfd_create failed");
    setenv("TESSAROO_DISKS", ("/proc/self/fd/" + std::to_string(s.fd)).c_str(), 1);
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
    if (p == g_check->root)
        return 0;
    if (!Below(p, g_check->support) && !Below(p, g_check->out))
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
    if (g_check)
    {
        nftw(g_check->root.c_str(), RemoveEntry, 16, FTW_PHYS | FTW_DEPTH);
        rmdir(g_check->root.c_str());
    }
}

// The destination emptied for the next input; the scan-log folder keeps its
// one store, which the next input's store of the same name replaces.
void CheckAndClean(const Setup& s)
{
    if (!g_check)
        atexit(RemoveTree);
    g_check = &s;
    if (nftw(s.root.c_str(), CheckEntry, 16, FTW_PHYS) != 0)
        Fail("cannot walk the temporary folder");
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

void CheckTerminated(const wchar_t* s, size_t units, const char* what)
{
    if (wmemchr(s, L'\0', units) == nullptr)
        Fail(what);
}

struct CopyLog
{
    size_t finals = 0;
};

int CopyReport(void* ctx, int percent, int, int, wchar_t* target)
{
    if (percent < 0 || percent > 100)
        Fail("recovery percent out of range");
    if (target && target[0] && !Below(tessaroo::WideToUtf8(target), GetSetup().out))
        Fail("a copy reported a target outside the destination");
    if (percent == 100)
        static_cast<CopyLog*>(ctx)->finals++;
    return 0;
}

int PreviewReport(void*, int percent, int)
{
    if (percent < 0 || percent > 100)
        Fail("preview percent out of range");
    return 0;
}

void WalkTree(CProfessionalFatRecovery& engine)
{
    struct Item
    {
        _FILE_NODE_ node;
        unsigned level;
    };
    std::vector<Item> queue;
    std::vector<_FILE_NODE_> children;
    unsigned int count = 0;
    engine.GetChildrenFileNode(nullptr, 0, children);
    engine.GetChildrenFileCount(nullptr, 0, count);
    for (const _FILE_NODE_& c : children)
        if (c.bIsDir)
            queue.push_back({c, 1});
    for (size_t i = 0; i < queue.size() && i < TREE_QUERIES; ++i)
    {
        children.clear();
        engine.GetChildrenFileNode(&queue[i].node, queue[i].level, children);
        engine.GetChildrenFileCount(&queue[i].node, queue[i].level, count);
        for (const _FILE_NODE_& c : children)
            if (c.bIsDir && queue.size() < TREE_QUERIES)
                queue.push_back({c, queue[i].level + 1});
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 + RECORD)
        return 0;
    const Setup& s = GetSetup();
    const size_t fdsBefore = OpenDescriptors();
    const unsigned long long start = STARTS[data[0] & 3];
    const size_t records = (size - 1) / RECORD;

    // The device: zeros, and every record's sector at its number.
    std::vector<uint8_t> device(DEVICE_SECTORS * 512, 0);
    for (size_t r = 0; r < records; ++r)
    {
        const uint8_t* rec = data + 1 + r * RECORD;
        const uint64_t sector = (uint64_t(rec[1]) | uint64_t(rec[2]) << 8) % DEVICE_SECTORS;
        memcpy(device.data() + sector * 512, rec + 3, 512);
    }
    if (ftruncate(s.fd, 0) != 0 || pwrite(s.fd, device.data(), device.size(), 0) != ssize_t(device.size()))
        Fail("cannot fill the device");

    std::unique_ptr<CProfessionalFatRecovery> engine(new CProfessionalFatRecovery());
    if (engine->Init(0, (long long)start, (long long)(DEVICE_SECTORS - start), L'C') != 0)
        Fail("Init failed on a readable device");
    engine->ClearProfessionalVec(nullptr);
    engine->InitVirtualDbrInfo();
    std::vector<uint8_t> sector(512);
    for (size_t r = 0; r < records; ++r)
    {
        const uint8_t* rec = data + 1 + r * RECORD;
        const uint8_t op = rec[0];
        const uint64_t at = (uint64_t(rec[1]) | uint64_t(rec[2]) << 8) % DEVICE_SECTORS;
        // A heap copy of exactly one sector: a read past it faults.
        memcpy(sector.data(), rec + 3, 512);
        if (op & 4)
            continue;
        if (op & 2)
        {
            if (IsFatFileRecord(sector.data()))
                engine->ParseFatFileRecord(sector.data(), at);
            else if (IsFatFDTRecord(sector.data(), 512))
                engine->ParseFDTFileRecord(sector.data(), at);
        }
        else if (op & 1)
            engine->ParseFatFileRecord(sector.data(), at);
        else
            engine->ParseFDTFileRecord(sector.data(), at);
    }
    engine->DealProfessionalRecordVec();

    std::wstring key =
        tessaroo::Utf8ToWide((std::string(tessaroo::PICTURE_TYPE_LIST) + tessaroo::MUSIC_TYPE_LIST +
                              tessaroo::OFFICE_TYPE_LIST + tessaroo::OTHER_TYPE_MARKER)
                                 .c_str());
    std::vector<__SEARCH_FILE_INFO__> hits;
    engine->InitSearchCallBack(nullptr, nullptr);
    engine->SearchFileNode(&key[0], hits);

    std::unique_ptr<wchar_t[]> path(new wchar_t[PATH_UNITS]);
    std::unique_ptr<wchar_t[]> imagePath(new wchar_t[IMAGE_PATH_UNITS]);
    std::unique_ptr<unsigned char[]> preview(new unsigned char[tessaroo::PREVIEW_BUFFER_SIZE]);
    for (size_t i = 0; i < hits.size(); ++i)
    {
        path[0] = 0;
        engine->GetFileNodeParentDirPath(&hits[i], path.get(), PATH_UNITS);
        CheckTerminated(path.get(), PATH_UNITS, "folder path not terminated");
        if (i >= COPIED_FILES)
            continue;
        int len = tessaroo::PREVIEW_BUFFER_SIZE;
        imagePath[0] = 0;
        engine->PreView(&hits[i], imagePath.get(), preview.get(), len, &PreviewReport, nullptr);
        if (len < 0 || len > tessaroo::PREVIEW_BUFFER_SIZE)
            Fail("preview length out of range");
        CheckTerminated(imagePath.get(), IMAGE_PATH_UNITS, "preview picture path not terminated");
        if (imagePath[0] && !Below(tessaroo::WideToUtf8(imagePath.get()), s.support))
            Fail("preview picture outside the scan-log folder");
        CopyLog log;
        engine->InitCallBack(nullptr, &CopyReport, &log, 100);
        std::wstring target = tessaroo::Utf8ToWide((s.out + "/f" + std::to_string(i)).c_str());
        engine->SaveFileData(&hits[i], &target[0], 0);
        if (log.finals != 1)
            Fail("a copied file did not get exactly one final report");
    }

    std::vector<_FILE_NODE_> top;
    engine->GetChildrenFileNode(nullptr, 0, top);
    size_t copies = 0;
    for (_FILE_NODE_& n : top)
    {
        if (!n.bIsDir || copies >= FOLDER_COPIES)
            continue;
        CopyLog log;
        engine->InitCallBack(nullptr, &CopyReport, &log, 100);
        std::wstring target = tessaroo::Utf8ToWide((s.out + "/tree" + std::to_string(copies++)).c_str());
        int separators = 0;
        GetPathDirIndex(target.c_str(), separators);
        engine->SaveFileData(&n, &target[0], separators);
    }
    engine->InitCallBack(nullptr, nullptr, nullptr, 100);
    WalkTree(*engine);
    engine.reset();

    std::vector<uint8_t> back(device.size());
    if (pread(s.fd, back.data(), back.size(), 0) != ssize_t(back.size()) || back != device)
        Fail("the device was written");
    CheckAndClean(s);
    if (OpenDescriptors() != fdsBefore)
        Fail("a descriptor was left open");
    return 0;
}

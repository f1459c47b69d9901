// libFuzzer target: the deep NTFS engine fed hostile file records in
// hostile order, over hostile MFT layouts, then queried and recovered from
// as the command line does.
//
// Input: byte 0 picks the order the records are offered in (ascending as
// the sweep does, descending, odd ones then even ones, shuffled by bytes
// 1-4, or ascending with every record offered a second time at a sector
// picked by the seed); byte 5 the first sector of the scanned area (0-7);
// the rest is the device, rounded up to whole 512-byte sectors. Every
// sector of the area that the sweep's recogniser takes for a file record
// is offered, with at least 1024 bytes behind it (a record cut by the
// device's end comes in an 8192-byte buffer, as the sweep re-reads it).
//
// The run: records -> folder pass -> listing of every kind -> for each hit
// its folder path and run list, and for the first 20 hits a preview into
// the application's 10240-byte buffer and a recovery through the command
// line's recovery flow -> the first folders of the root copied as trees ->
// the folder tree walked from the root.
//
// Checks besides the sanitizers: nodes carry the engine's type, a cluster
// size the engine accepts and sectors on the device; nothing is written
// outside the destination and scan-log folders, the device is unchanged,
// no descriptor is left open, every recovered file gets exactly one result,
// buffers come back terminated and within bounds.
#include "core/FileNode.h"
#include "core/Log.h"
#include "core/Portability.h"
#include "core/Recognisers.h"
#include "engines/ntfs/CProfessionalNtfsRecovery.h"
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
constexpr size_t PREFIX = 6;
constexpr size_t RECOVERED_HITS = 20;
constexpr size_t FOLDER_COPIES = 3;
constexpr size_t TREE_QUERIES = 200;
constexpr int PATH_UNITS = 4096;
constexpr int IMAGE_PATH_UNITS = 256;
constexpr size_t REREAD_BYTES = 8192;

void QuietLog(const char*) {}

void Fail(const char* what)
{
    fprintf(stderr, "fuzz_deep_ntfs_records: %s\n", what);
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
    std::string tmpl = std::string(base) + "/tessaroo-fuzz-deep-ntfs.XXXXXX";
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
    s.fd = memfd_create("tessaroo-fuzz-deep-ntfs", MFD_CLOEXEC);
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

void CheckTerminated(const wchar_t* s, size_t units, const char* what)
{
    if (wmemchr(s, L'\0', units) == nullptr)
        Fail(what);
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

uint32_t Next(uint32_t& x)
{
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
}

// The sectors of the area that start a record, in the order the input asks.
std::vector<std::pair<uint64_t, uint64_t>> OfferOrder(const uint8_t* dev, uint64_t devBytes, uint64_t start,
                                                      uint8_t mode, uint32_t seed)
{
    std::vector<uint64_t> records;
    for (uint64_t s = start; s * 512 + 512 <= devBytes; ++s)
    {
        uint8_t rec[1024] = {0};
        memcpy(rec, dev + s * 512, size_t(std::min<uint64_t>(1024, devBytes - s * 512)));
        if (IsNtfsFileRecord(rec, 1024))
            records.push_back(s);
    }
    std::vector<std::pair<uint64_t, uint64_t>> order; // (where the bytes are, sector claimed)
    uint32_t x = seed | 1;
    switch (mode % 5)
    {
    case 1:
        std::reverse(records.begin(), records.end());
        break;
    case 2:
        std::stable_partition(records.begin(), records.end(), [](uint64_t s) { return s % 2 == 1; });
        break;
    case 3:
        for (size_t i = records.size(); i > 1; --i)
            std::swap(records[i - 1], records[Next(x) % i]);
        break;
    default:
        break;
    }
    for (uint64_t s : records)
    {
        order.push_back({s, s});
        if (mode % 5 == 4)
            order.push_back({s, start + Next(x) % (devBytes / 512 - start)});
    }
    return order;
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
    if (size < PREFIX + 1024)
        return 0;
    const Setup& s = GetSetup();
    const size_t fdsBefore = OpenDescriptors();
    const uint8_t mode = data[0];
    const uint32_t seed =
        uint32_t(data[1]) | uint32_t(data[2]) << 8 | uint32_t(data[3]) << 16 | uint32_t(data[4]) << 24;
    const uint64_t start = data[5] & 7;
    data += PREFIX;
    size -= PREFIX;

    const uint64_t deviceBytes = (uint64_t(size) + 511) / 512 * 512;
    std::vector<uint8_t> device(size_t(deviceBytes), 0);
    memcpy(device.data(), data, size);
    if (ftruncate(s.fd, 0) != 0 || pwrite(s.fd, device.data(), device.size(), 0) != ssize_t(device.size()))
        Fail("cannot fill the device");
    const uint64_t sectors = deviceBytes / 512;
    if (start >= sectors)
    {
        CheckAndClean(s);
        return 0;
    }

    std::unique_ptr<CProfessionalNtfsRecovery> engine(new CProfessionalNtfsRecovery());
    if (engine->Init(0, (long long)start, (long long)(sectors - start), L'C') != 0)
        Fail("the device could not be opened");
    engine->InitProfessionalScan(nullptr);
    std::vector<uint8_t> record(REREAD_BYTES);
    for (const auto& offer : OfferOrder(device.data(), deviceBytes, start, mode, seed))
    {
        memset(record.data(), 0, record.size());
        memcpy(record.data(), device.data() + offer.first * 512,
               size_t(std::min<uint64_t>(REREAD_BYTES, deviceBytes - offer.first * 512)));
        const unsigned st = engine->ParseNtfsFileRecord(record.data(), offer.second);
        if (st != 0 && st != 87 && int(st) != -1)
            Fail("a record gave a status outside 0, -1 and 87");
    }
    engine->ParseProfessionalRecordVec();

    std::wstring key = tessaroo::Utf8ToWide(tessaroo::BuildPatternList(tessaroo::KIND_ALL).c_str());
    std::vector<__SEARCH_FILE_INFO__> hits;
    engine->SearchFileNode(&key[0], hits);
    if (hits.size() > engine->GetLostFileCount())
        Fail("more hits than nodes");

    std::unique_ptr<wchar_t[]> path(new wchar_t[PATH_UNITS]);
    std::unique_ptr<wchar_t[]> imagePath(new wchar_t[IMAGE_PATH_UNITS]);
    std::unique_ptr<unsigned char[]> preview(new unsigned char[tessaroo::PREVIEW_BUFFER_SIZE]);
    for (size_t i = 0; i < hits.size(); ++i)
    {
        const _FILE_NODE_& h = hits[i];
        const uint32_t spc = h.uClusterSize / 512;
        if (h.uEngineType != ENGINE_TYPE_DEEP_NTFS || h.uClusterSize % 512 != 0 || spc == 0 || spc > 128 ||
            (spc & (spc - 1)) != 0)
            Fail("a node with a foreign type or a cluster size the engine refuses");
        if (h.u64RecordSector >= sectors || h.u64PartitionStartSector >= sectors)
            Fail("a node placed off the device");
        if (strnlen(h.szFileName, sizeof(h.szFileName)) >= sizeof(h.szFileName))
            Fail("node name not terminated");
        path[0] = 0;
        engine->GetFileNodeParentDirPath(&hits[i], path.get(), PATH_UNITS);
        CheckTerminated(path.get(), PATH_UNITS, "folder path not terminated");
        std::vector<__RUNLIST__> runs;
        engine->GetRunListInfo((long long)h.u64RecordSector, 0x80, runs);
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
        volume.u64SectorCount = sectors;
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
    engine.reset();

    struct stat st;
    if (fstat(s.fd, &st) != 0 || uint64_t(st.st_size) != deviceBytes)
        Fail("the device changed size");
    std::vector<uint8_t> back(device.size());
    if (pread(s.fd, back.data(), back.size(), 0) != ssize_t(back.size()) || back != device)
        Fail("the device was written");

    CheckAndClean(s);
    if (OpenDescriptors() != fdsBefore)
        Fail("a descriptor was left open");
    return 0;
}

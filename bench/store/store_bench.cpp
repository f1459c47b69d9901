// Scan result store at the scale of a full memory card: 1,000,000 nodes in
// a tree with three folders of 100,000 files, spooled, flushed and queried
// the way the results browser does it. Prints the time of each phase and the
// peak resident memory. Target: all phases together under 3 s.
//
// Run (Release build): store_bench [nodes]
//   /usr/bin/time -v build/<dir>/bench/store/store_bench
// The store is written below TESSAROO_SUPPORT_DIR (a fresh temp folder when
// it is unset) and removed at the end.
#include "core/Platform.h"
#include "core/Portability.h"
#include "store/CLogFileManager.h"
#include "store/CScanResultFileManager.h"
#include "store/FileTypeLists.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ftw.h>
#include <random>
#include <string>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

long StatusKiB(const char* field)
{
    FILE* f = fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    long v = -1;
    size_t n = strlen(field);
    while (fgets(line, sizeof(line), f))
        if (strncmp(line, field, n) == 0)
            v = atol(line + n + 1);
    fclose(f);
    return v;
}

// Extension mix of a camera card and a document stick, one in eight unknown.
const char* const EXTENSIONS[] = {"jpg", "jpg", "jpg", "JPG", "png", "cr2", "mp3", "wav", "doc", "txt",
                                  "pdf", "mp4", "avi", "mov", "zip", "gz",  "dat", "xyz", "bin", ""};

struct Bench
{
    CScanResultFileManager store;
    std::mt19937 rng{2024};
    unsigned nextCluster = 3;
    unsigned largestCluster = 0;
    unsigned largestLevel = 0;
    std::vector<unsigned> sample; // file indices for the parent-path phase

    void AddFile(unsigned parentCluster, unsigned parentLevel, unsigned n)
    {
        _FILE_NODE_* p = store.CreateFileNode(sizeof(_FILE_NODE_));
        p->uEngineType = 1;
        p->bDataHealth = (rng() % 20) != 0; // one in twenty overwritten
        p->uFileIndex = store.GetFileIndex();
        p->uClusterNO = nextCluster++;
        p->uClusterSize = 32768;
        p->u64FileSize = 1000 + rng() % 5000000;
        const char* ext = EXTENSIONS[rng() % (sizeof(EXTENSIONS) / sizeof(EXTENSIONS[0]))];
        if (*ext)
            snprintf(p->szFileName, sizeof(p->szFileName), "IMG_%05u_%u.%s", n, p->uFileIndex % 977, ext);
        else
            snprintf(p->szFileName, sizeof(p->szFileName), "README_%u", n);
        store.AddChildren(parentCluster, parentLevel, p->uFileIndex, p->uClusterNO, nullptr);
        if (rng() % 90 == 0)
            sample.push_back(p->uFileIndex);
    }
    unsigned AddDir(unsigned parentCluster, unsigned parentLevel, const char* name)
    {
        _FILE_NODE_* p = store.CreateFileNode(sizeof(_FILE_NODE_));
        p->uEngineType = 1;
        p->bIsDir = 1;
        p->bDataHealth = 1;
        p->uFileIndex = store.GetFileIndex();
        p->uClusterNO = nextCluster++;
        snprintf(p->szFileName, sizeof(p->szFileName), "%s", name);
        store.AddChildren(parentCluster, parentLevel, p->uFileIndex, p->uClusterNO, p->szFileName);
        return p->uClusterNO;
    }

    // Root (cluster 2): a few files, three camera folders of 100,000
    // pictures each, then a document tree of folders two deep.
    void Spool(unsigned total)
    {
        const unsigned root = 2;
        for (unsigned i = 0; i < 50; ++i)
            AddFile(root, 0, i);
        for (int d = 0; d < 3 && store.GetFileIndex() < total; ++d)
        {
            char name[32];
            snprintf(name, sizeof(name), "DCIM%03d", 100 + d);
            unsigned c = AddDir(root, 0, name);
            for (unsigned i = 0; i < 100000 && store.GetFileIndex() < total; ++i)
                AddFile(c, 1, i);
            largestCluster = c;
            largestLevel = 1;
        }
        for (unsigned a = 0; store.GetFileIndex() < total; ++a)
        {
            char name[32];
            snprintf(name, sizeof(name), "Projects %u", a);
            unsigned c1 = AddDir(root, 0, name);
            for (unsigned b = 0; b < 100 && store.GetFileIndex() < total; ++b)
            {
                snprintf(name, sizeof(name), "Part %u", b);
                unsigned c2 = AddDir(c1, 1, name);
                for (unsigned i = 0; i < 99 && store.GetFileIndex() < total; ++i)
                    AddFile(c2, 2, i);
            }
        }
    }
};

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*)
{
    remove(path);
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    unsigned total = argc > 1 ? static_cast<unsigned>(strtoul(argv[1], nullptr, 10)) : 1000000;
    std::string tempDir;
    if (!getenv("TESSAROO_SUPPORT_DIR"))
    {
        char tmpl[] = "/tmp/tessaroo_store_bench_XXXXXX";
        if (!mkdtemp(tmpl))
            return 1;
        tempDir = tmpl;
        setenv("TESSAROO_SUPPORT_DIR", tmpl, 1);
    }
    tessaroo::MakeDirs(tessaroo::GetScanLogRoot());
    CLogFileManager::GetInstance()->Init();
    CLogFileManager::GetInstance()->AddDirIndex();

    double phase[8] = {};
    const Clock::time_point all = Clock::now();
    Clock::time_point t;
    int rc = 0;
    {
        Bench b;
        if (b.store.Init(L"Fast_63_20241231 5") != 0)
            return 1;

        t = Clock::now();
        b.Spool(total);
        phase[0] = Seconds(t);
        long rssSpooled = StatusKiB("VmRSS:");

        t = Clock::now();
        unsigned flush = b.store.FlushBufToFile();
        phase[1] = Seconds(t);

        const std::string key = std::string(tessaroo::PICTURE_TYPE_LIST) + "|" + tessaroo::MUSIC_TYPE_LIST +
                                "|" + tessaroo::OFFICE_TYPE_LIST + "|" + tessaroo::VIDEO_TYPE_LIST + "|" +
                                tessaroo::ARCHIVE_TYPE_LIST + "|*.other";
        const std::wstring wideKey = tessaroo::Utf8ToWide(key.c_str());
        size_t hitCount = 0;
        long rssSearch = 0;
        {
            std::vector<__SEARCH_FILE_INFO__> hits;
            t = Clock::now();
            int found = b.store.SearchFileNodeInfo(wideKey.c_str(), hits);
            phase[2] = Seconds(t);
            hitCount = hits.size();
            rssSearch = StatusKiB("VmRSS:");
            if (found != 1)
                rc = 1;
        }

        std::vector<_FILE_NODE_> children;
        t = Clock::now();
        unsigned st = b.store.GetChildrenFileNode(
            (static_cast<unsigned long long>(b.largestLevel) << 32) | b.largestCluster, children);
        phase[3] = Seconds(t);
        rc |= st != 0;

        unsigned count = 0;
        t = Clock::now();
        rc |= b.store.GetChildrenFileCount(0, count) != 0;
        phase[4] = Seconds(t);

        wchar_t path[512];
        size_t paths = 0;
        t = Clock::now();
        for (unsigned idx : b.sample)
        {
            if (paths == 10000)
                break;
            _FILE_NODE_ node{};
            node.uFileIndex = idx;
            rc |= b.store.GetParentDirPath(&node, path, 512) != 0;
            ++paths;
        }
        phase[5] = Seconds(t);
        const double total6 = phase[0] + phase[1] + phase[2] + phase[3] + phase[4] + phase[5];

        // Not part of the target: reopening the store as a later scan would.
        CScanResultFileManager reopened;
        t = Clock::now();
        rc |= reopened.Init(L"Fast_63_20241231 5") != 0;
        phase[6] = Seconds(t);

        printf("nodes                         %u (flush status %u)\n", b.store.GetFileIndex(), flush);
        printf("spool (create + AddChildren)  %.3f s   RSS after %ld MiB\n", phase[0], rssSpooled / 1024);
        printf("flush (nodes, relation, names)%.3f s\n", phase[1]);
        printf("search, five lists + *.other  %.3f s   %zu hits, RSS with hits %ld MiB\n", phase[2], hitCount,
               rssSearch / 1024);
        printf("children of largest folder    %.3f s   %zu children\n", phase[3], children.size());
        printf("count from the root           %.3f s   %u files\n", phase[4], count);
        printf("parent path of %zu nodes    %.3f s\n", paths, phase[5]);
        printf("TOTAL (target < 3 s)          %.3f s\n", total6);
        printf("reopen (load relation, names) %.3f s\n", phase[6]);
        printf("peak RSS                      %ld MiB\n", StatusKiB("VmHWM:") / 1024);
    }
    printf("wall incl. teardown           %.3f s\n", Seconds(all));
    if (!tempDir.empty())
        nftw(tempDir.c_str(), RemoveEntry, 16, FTW_PHYS | FTW_DEPTH);
    return rc;
}

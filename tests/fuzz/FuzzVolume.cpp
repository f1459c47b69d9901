#include "tests/fuzz/FuzzVolume.h"

#include "core/FileNode.h"
#include "core/Portability.h"
#include "recovery/CRecoveryFlow.h"
#include "recovery/KindPatterns.h"
#include "tests/fuzz/FuzzDisk.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

namespace fuzz
{
namespace
{
constexpr size_t RECOVERED_HITS = 20;
constexpr size_t FOLDER_COPIES = 3;
constexpr size_t TREE_QUERIES = 200;
constexpr int PATH_UNITS = 4096;
constexpr int IMAGE_PATH_UNITS = 256;

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

// Copies report inside the destination; ctx, when set, counts the final
// reports of one copy.
int CopyReport(void* ctx, int percent, int, int, wchar_t* target)
{
    if (percent < 0 || percent > 100)
        Fail("recovery percent out of range");
    const std::string t = target ? tessaroo::WideToUtf8(target) : std::string();
    if (!t.empty() && !Below(t, GetScratch().out))
        Fail("a copy reported a target outside the destination");
    if (ctx && percent == 100)
        ++*static_cast<size_t*>(ctx);
    return 0;
}

void WalkTree(IFileRecoveryParse& engine)
{
    // Query 0 is the root, query i the i-th folder found, breadth first.
    std::vector<std::pair<_FILE_NODE_, unsigned>> queue;
    for (size_t i = 0; i <= queue.size() && i <= TREE_QUERIES; ++i)
    {
        std::pair<_FILE_NODE_, unsigned> parent = i ? queue[i - 1] : std::pair<_FILE_NODE_, unsigned>();
        std::vector<_FILE_NODE_> children;
        unsigned int count = 0;
        engine.GetChildrenFileNode(i ? &parent.first : nullptr, parent.second, children);
        engine.GetChildrenFileCount(i ? &parent.first : nullptr, parent.second, count);
        for (const _FILE_NODE_& c : children)
            if (c.bIsDir && queue.size() < TREE_QUERIES)
                queue.push_back({c, parent.second + 1});
    }
}
} // namespace

void DriveListing(IFileRecoveryParse& engine, long long sectors, const DriveOptions& options)
{
    const Scratch& s = GetScratch();
    engine.InitSearchCallBack(nullptr, nullptr);
    std::wstring key = tessaroo::Utf8ToWide(tessaroo::BuildPatternList(tessaroo::KIND_ALL).c_str());
    std::vector<__SEARCH_FILE_INFO__> hits;
    engine.SearchFileNode(&key[0], hits);

    std::unique_ptr<wchar_t[]> path(new wchar_t[PATH_UNITS]);
    std::unique_ptr<wchar_t[]> imagePath(new wchar_t[IMAGE_PATH_UNITS]);
    std::unique_ptr<unsigned char[]> preview(new unsigned char[tessaroo::PREVIEW_BUFFER_SIZE]);
    for (size_t i = 0; i < hits.size(); ++i)
    {
        if (strnlen(hits[i].szFileName, sizeof(hits[i].szFileName)) >= sizeof(hits[i].szFileName))
            Fail("node name not terminated");
        path[0] = 0;
        engine.GetFileNodeParentDirPath(&hits[i], path.get(), PATH_UNITS);
        CheckTerminated(path.get(), PATH_UNITS, "folder path not terminated");
        if (options.checkHit)
            options.checkHit(hits[i]);
        if (i >= RECOVERED_HITS)
            continue;
        int len = tessaroo::PREVIEW_BUFFER_SIZE;
        imagePath[0] = 0;
        engine.PreView(&hits[i], imagePath.get(), preview.get(), len, &PreviewReport, nullptr);
        if (len < 0 || len > tessaroo::PREVIEW_BUFFER_SIZE)
            Fail("preview length out of range");
        CheckTerminated(imagePath.get(), IMAGE_PATH_UNITS, "preview picture path not terminated");
        if (imagePath[0] && !Below(tessaroo::WideToUtf8(imagePath.get()), s.support))
            Fail("preview picture outside the scan-log folder");
        if (!options.directCopies)
            continue;
        size_t finals = 0;
        engine.InitCallBack(nullptr, &CopyReport, &finals, 100);
        std::wstring target = tessaroo::Utf8ToWide((s.out + "/f" + std::to_string(i)).c_str());
        engine.SaveFileData(&hits[i], &target[0], 0);
        if (finals != 1)
            Fail("a copied file did not get exactly one final report");
    }

    std::vector<_FILE_NODE_> files(hits.begin(),
                                   hits.begin() + ptrdiff_t(std::min(hits.size(), RECOVERED_HITS)));
    if (!files.empty() && !options.directCopies)
    {
        tessaroo::CRecoveryFlow flow;
        tessaroo::ScannedVolume volume;
        volume.strDevicePath = DiskPath();
        volume.u64SectorCount = uint64_t(sectors);
        if (flow.RecoveryProcess(&engine, files, s.out + "/files", volume) !=
                tessaroo::CRecoveryFlow::OUTCOME_DONE ||
            flow.GetResults().size() != files.size())
            Fail("the recovery run did not complete, or a recovered file did not get exactly one result");
    }

    std::vector<_FILE_NODE_> top;
    engine.GetChildrenFileNode(nullptr, 0, top);
    size_t copies = 0;
    for (_FILE_NODE_& n : top)
    {
        if (!n.bIsDir || copies >= FOLDER_COPIES)
            continue;
        engine.InitCallBack(nullptr, &CopyReport, nullptr, 100);
        std::wstring target = tessaroo::Utf8ToWide((s.out + "/tree" + std::to_string(copies++)).c_str());
        int separators = 0;
        GetPathDirIndex(target.c_str(), separators);
        engine.SaveFileData(&n, &target[0], separators);
    }
    engine.InitCallBack(nullptr, nullptr, nullptr, 100);
    WalkTree(engine);
}

void DriveVolume(IFileRecoveryParse& engine, long long sectors)
{
    engine.InitCallBack(&ScanReport, nullptr, nullptr, 100);
    engine.ScanDevice(nullptr);
    DriveListing(engine, sectors);

    engine.BuildBitMapInfo();
    unsigned long long start = 0, count = 0;
    for (long long runs = 0;; ++runs)
    {
        if (runs > sectors + 1)
            Fail("the free-run walk does not end");
        const unsigned long long from = start;
        engine.GetUnUsedSectorCount(start, count);
        if (count == 0)
            break;
        if (start < from || start + count > (unsigned long long)sectors)
            Fail("a free run outside the volume or behind the walk");
        start += count;
    }
}

VolumeRun::VolumeRun(const uint8_t* data, size_t size, uint64_t statedBytes)
    : m_pData(data), m_nSize(size), m_u64Bytes(std::max((uint64_t(size) + 511) / 512 * 512,
                                                        std::min(statedBytes, DEVICE_LIMIT) / 512 * 512))
{
    GetScratch();
    FillDisk(data, size, m_u64Bytes);
    m_nDescriptors = tessaroo::test::OpenDescriptors();
}

VolumeRun::~VolumeRun()
{
    CheckDiskUnchanged(m_pData, m_nSize, m_u64Bytes);
    CheckAndClean();
    if (tessaroo::test::OpenDescriptors() != m_nDescriptors)
        Fail("a descriptor was left open");
}
} // namespace fuzz

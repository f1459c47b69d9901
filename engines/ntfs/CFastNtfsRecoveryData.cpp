// File data of the fast NTFS engine: the data check made during the scan,
// file copy, folder copy and preview. A node's data is found again from its
// record: resident bytes come from the record itself, others from its runs.
#include "engines/ntfs/CFastNtfsRecovery.h"

#include "core/Log.h"
#include "core/Portability.h"
#include "core/Status.h"
#include "recovery/CTargetFile.h"
#include "store/FileTypeLists.h"

#include <algorithm>
#include <cstring>
#include <set>

using namespace tessaroo;

namespace
{
// Where a preview picture goes needs to fit the application's path buffer.
constexpr size_t PREVIEW_PATH_LIMIT = 255;

std::string NameOf(const _FILE_NODE_& node)
{
    return std::string(node.szFileName, strnlen(node.szFileName, sizeof(node.szFileName)));
}

std::string ExtensionOf(const char* name, bool lower)
{
    char ext[FILE_NAME_SIZE] = {0};
    if (GetExtendName(name, ext, sizeof(ext)) != 0)
        return std::string();
    if (lower)
        GetCharLowerA(ext);
    return ext;
}

// A node's name as one component of a wide target path.
std::wstring SafeWideName(const _FILE_NODE_& node)
{
    return Utf8ToWide(MakeSafeTargetName(NameOf(node).c_str()).c_str());
}

int CountSeparators(const std::wstring& path)
{
    int n = 0;
    GetPathDirIndex(path.c_str(), n);
    return n;
}
} // namespace

int CFastNtfsRecovery::HealthOfData(const DataInfo& d, int status, const char* name, uint64_t size)
{
    const std::string ext = ExtensionOf(name, false);
    if (status != 0)
        return 1;
    if (d.bResident)
    {
        // An empty file has nothing to lose; a file that claims bytes its
        // record no longer holds has lost them.
        if (d.vecResident.empty())
            return size == 0 ? 1 : 0;
        if (ext.empty())
            return 1;
        return judge.IsFileTypeMatching(d.vecResident.data(), int(d.vecResident.size()), ext.c_str(), &reader,
                                        512, 0)
                   ? 1
                   : 0;
    }
    uint64_t abs = 0;
    if (!CNtfsParse::FirstDataSector(*this, d, abs) || ext.empty() || abs == 0)
        return 1;
    std::vector<uint8_t> sector(geo.bytesPerSector);
    if (ReadVolume(sector.data(), abs, geo.unitsPerSector) != STATUS_SUCCESS)
        return 1;
    return judge.IsFileTypeMatching(sector.data(), int(sector.size()), ext.c_str(), &reader, 512, abs) ? 1
                                                                                                       : 0;
}

int CFastNtfsRecovery::IsFileDataHealth(_FILE_NODE_* node, unsigned int)
{
    if (!node || !bGeometryValid)
        return 1;
    std::vector<uint8_t> rec(size_t(nRecordBytes), 0);
    NtfsRecordHeader h;
    if (ReadNodeRecord(node, rec.data(), rec.size()) != STATUS_SUCCESS ||
        !ParseNtfsRecordHeader(rec.data(), rec.size(), h))
        return 1;
    parser.FileRecordFixUp(rec.data(), rec.size());
    DataInfo d;
    const int ds = ResolveData(rec.data(), rec.size(), h, node->uClusterNO, NTFS_TYPE_DATA, d);
    return HealthOfData(d, ds, NameOf(*node).c_str(), node->u64FileSize);
}

int CFastNtfsRecovery::ReportRecovery(int percent, int status, const wchar_t* targetPath)
{
    if (!pRecoveryFunc)
        return 0;
    return pRecoveryFunc(pParam, percent, 100, status, const_cast<wchar_t*>(targetPath));
}

unsigned int
CFastNtfsRecovery::CopyFileData(const _FILE_NODE_* node, uint64_t limit,
                                const std::function<unsigned int(const unsigned char*, size_t)>& sink,
                                const std::function<int(int)>& progress, uint64_t& copied)
{
    copied = 0;
    if (!bGeometryValid)
        return STATUS_INVALID_PARAMETER;
    std::vector<uint8_t> rec(size_t(nRecordBytes), 0);
    unsigned int st = ReadNodeRecord(node, rec.data(), rec.size());
    if (st != STATUS_SUCCESS)
        return st;
    NtfsRecordHeader h;
    if (!ParseNtfsRecordHeader(rec.data(), rec.size(), h))
        return unsigned(STATUS_NTFS_FAILED);
    parser.FileRecordFixUp(rec.data(), rec.size());
    DataInfo d;
    const int ds = ResolveData(rec.data(), rec.size(), h, node->uClusterNO, NTFS_TYPE_DATA, d);
    if (ds != 0)
        return unsigned(ds);
    return CNtfsParse::CopyData(*this, d, limit, sink, progress, copied);
}

unsigned int CFastNtfsRecovery::SaveFileToTarget(_FILE_NODE_* node, wchar_t* targetPath)
{
    static const wchar_t empty[1] = {0};
    CTargetFile target;
    unsigned int status = STATUS_SUCCESS;
    if (!node || !targetPath)
        status = STATUS_INVALID_PARAMETER;
    else
        status = target.Create(targetPath);
    if (status == STATUS_SUCCESS && node->u64FileSize > 0)
    {
        uint64_t copied = 0;
        const wchar_t* report = targetPath;
        status = CopyFileData(
            node, node->u64FileSize,
            [&](const unsigned char* data, size_t n) { return target.Write(data, n); },
            [&](int percent) { return ReportRecovery(percent, 0, report); }, copied);
    }
    if (node)
        target.SetTimes(NtfsTimeToUnix(node->u64AccessTime), NtfsTimeToUnix(node->u64ModifyTime));
    // Kept whole (or as far as the volume still has it), or removed.
    status = target.Finish(status);
    // Exactly one report with percent 100 per file, naming the file as it
    // was kept: status 0, 30 for a file kept incomplete, or the failure (a
    // stop included, so the file is counted as not recovered).
    const std::wstring& path = target.GetPath();
    const int answer = ReportRecovery(100, int(status), path.empty() ? empty : path.c_str());
    if (status != STATUS_SUCCESS)
        CoreLog("CFastNtfsRecovery: file not recovered (%d)\n", int(status));
    // A stop asked at the last report takes effect after this file.
    return status != STATUS_SUCCESS ? status : unsigned(answer);
}

unsigned int CFastNtfsRecovery::SaveDataToTargetFile(_FILE_NODE_* node, wchar_t* targetPath)
{
    if (!node || !node->bIsDir)
        return SaveFileToTarget(node, targetPath);
    if (!targetPath)
        return STATUS_INVALID_PARAMETER;
    // A folder that cannot be made is still queued: each of its files then
    // fails with its own report rather than going missing from the results.
    unsigned int st = MakeTargetFolder(targetPath);
    __FILE_DATA_RECOVERY__ item;
    item.node = *node;
    item.parentPath = wstrCurrentDir;
    queRecovery.push_back(item);
    return st;
}

unsigned int CFastNtfsRecovery::SaveFileData(_FILE_NODE_* node, wchar_t* targetPath, int rootSeparators)
{
    if (!node || !node->bIsDir)
        return SaveFileToTarget(node, targetPath);
    if (!targetPath)
        return STATUS_INVALID_PARAMETER;
    (void)rootSeparators;
    return SaveFolderTree(node, targetPath);
}

unsigned int CFastNtfsRecovery::SaveFolderTree(_FILE_NODE_* node, wchar_t* targetPath)
{
    queRecovery.clear();
    wstrCurrentDir = targetPath;
    unsigned int status = MakeTargetFolder(targetPath);
    __FILE_DATA_RECOVERY__ first;
    first.node = *node;
    queRecovery.push_back(first);

    // The store files a folder's children under the folder's level below
    // the root. The level of each folder copied follows from the separators
    // of its target path, anchored at the level of the folder asked for.
    const int firstLevel = int(GetRootParentDirIndex(node->uClusterNO));
    const int levelOffset = firstLevel - CountSeparators(wstrCurrentDir);

    // Each folder is copied once, so relations damaged into a cycle end.
    std::set<unsigned int> copied;
    copied.insert(node->uClusterNO);
    bool isFirst = true;
    while (!queRecovery.empty())
    {
        __FILE_DATA_RECOVERY__ item = queRecovery.front();
        queRecovery.pop_front();
        if (!isFirst)
            wstrCurrentDir = item.parentPath + L"/" + SafeWideName(item.node);
        isFirst = false;
        const int level = CountSeparators(wstrCurrentDir) + levelOffset;
        std::vector<_FILE_NODE_> children;
        if (level < 0 || GetChildrenFileNode(&item.node, unsigned(level), children) != STATUS_SUCCESS)
            continue;
        for (_FILE_NODE_& child : children)
        {
            std::wstring target = wstrCurrentDir + L"/" + SafeWideName(child);
            if (child.bIsDir)
            {
                if (copied.insert(child.uClusterNO).second)
                    SaveDataToTargetFile(&child, &target[0]);
                continue;
            }
            status = SaveFileToTarget(&child, &target[0]);
            if (int(status) == STATUS_CANCEL)
            {
                queRecovery.clear();
                return status;
            }
        }
    }
    return status;
}

unsigned int CFastNtfsRecovery::PreView(_FILE_NODE_* node, wchar_t* imagePath, unsigned char* buf, int& len,
                                        PREVIEW_CALLBACK progress, void* ctx)
{
    const int capacity = len;
    len = 0;
    if (imagePath)
        imagePath[0] = 0;
    unsigned int status = STATUS_SUCCESS;
    CTargetFile picture;
    bool isPicture = false;
    uint64_t copied = 0;
    if (!node)
        status = STATUS_INVALID_PARAMETER;
    else
    {
        const std::string ext = ExtensionOf(NameOf(*node).c_str(), true);
        isPicture = !ext.empty() && imagePath && strstr(PICTURE_TYPE_LIST, ("." + ext).c_str()) != nullptr;
        if (isPicture)
        {
            status = picture.CreatePreview(ext.c_str());
            if (picture.GetPath().size() > PREVIEW_PATH_LIMIT)
                status = STATUS_INVALID_PARAMETER;
        }
    }
    if (status == STATUS_SUCCESS)
    {
        uint64_t limit = node->u64FileSize;
        if (!isPicture)
            limit = std::min<uint64_t>(limit, (buf && capacity > 0) ? uint64_t(capacity) : 0);
        if (limit > 0)
            status = CopyFileData(
                node, limit,
                [&](const unsigned char* data, size_t n)
                {
                    if (isPicture)
                        return picture.Write(data, n);
                    memcpy(buf + copied, data, n);
                    return STATUS_SUCCESS;
                },
                [&](int percent) { return progress ? progress(ctx, percent, 0) : 0; }, copied);
    }
    if (isPicture)
    {
        status = picture.Finish(status);
        if (status == STATUS_SUCCESS)
            CopyWide(imagePath, PREVIEW_PATH_LIMIT + 1, picture.GetPath().c_str());
    }
    if (progress)
        progress(ctx, 100, int(status));
    len = isPicture ? 0 : int(copied);
    return status;
}

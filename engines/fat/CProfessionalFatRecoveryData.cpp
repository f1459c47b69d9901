// File copy, folder copy and preview of the deep FAT engine. A lost volume
// has no table to follow, so a file's data is read from its first cluster
// on, over consecutive clusters, with the layout the node carries.
#include "core/FileIo.h"
#include "engines/fat/CProfessionalFatRecovery.h"

#include "core/Log.h"
#include "core/Platform.h"
#include "core/Portability.h"
#include "core/Status.h"
#include "recovery/CTargetFile.h"
#include "store/CScanResultFileManager.h"
#include "store/FileTypeLists.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <set>

using namespace tessaroo;

namespace
{
constexpr uint32_t SECTOR_SIZE = 512;
// Where a preview picture goes needs to fit the application's path buffer.
constexpr size_t PREVIEW_PATH_LIMIT = 255;
// Consecutive clusters are read this many bytes at a time (at least one
// cluster): one read per cluster would cost a call per 512 bytes on small
// clusters.
constexpr uint64_t READ_RUN_BYTES = 1024 * 1024;

std::string LowerExtension(const char* name)
{
    char ext[FILE_NAME_SIZE] = {0};
    if (GetExtendName(name, ext, sizeof(ext)) != 0)
        return std::string();
    GetCharLowerA(ext);
    return ext;
}

// A node's name as one component of a wide target path.
std::wstring SafeWideName(const _FILE_NODE_& node)
{
    char name[FILE_NAME_SIZE];
    memcpy(name, node.szFileName, sizeof(name));
    name[sizeof(name) - 1] = 0;
    return Utf8ToWide(MakeSafeTargetName(name).c_str());
}

int CountSeparators(const std::wstring& path)
{
    int n = 0;
    GetPathDirIndex(path.c_str(), n);
    return n;
}
} // namespace

int CProfessionalFatRecovery::ReportRecovery(int percent, int status, const wchar_t* targetPath)
{
    if (!m_pRecoveryFunc)
        return 0;
    return m_pRecoveryFunc(m_pParam, percent, 100, status, const_cast<wchar_t*>(targetPath));
}

unsigned int
CProfessionalFatRecovery::CopyFileData(const _FILE_NODE_* node, uint64_t limit,
                                       const std::function<unsigned int(const unsigned char*, size_t)>& sink,
                                       const std::function<int(int)>& progress, uint64_t& copied)
{
    copied = 0;
    if (node->uClusterSize > CLUSTER_BUFFER_LIMIT)
        return STATUS_CLUSTER_TOO_LARGE;
    if (node->uClusterSize == 0 || node->uClusterSize % SECTOR_SIZE != 0)
        return STATUS_INVALID_PARAMETER;
    // Clusters 0 and 1 hold no data: a file that names them has lost its
    // start (reading a folder's entries back as its content would be wrong).
    if (node->uClusterNO < 2)
        return STATUS_READ_FAULT;
    const uint64_t spc = node->uClusterSize / SECTOR_SIZE;
    const uint64_t runClusters = std::max<uint64_t>(1, READ_RUN_BYTES / node->uClusterSize);
    std::vector<unsigned char> buf;
    try
    {
        buf.resize(size_t(runClusters * node->uClusterSize));
    }
    catch (const std::bad_alloc&)
    {
        return STATUS_NOT_ENOUGH_MEMORY;
    }
    const uint64_t end = m_diskReader.GetEndSector();
    uint64_t sector =
        node->u64PartitionStartSector + node->u64DataStartSector + uint64_t(node->uClusterNO - 2) * spc;
    uint64_t remaining = limit;
    while (remaining > 0)
    {
        // Whole clusters, as many as the rest of the file needs and the device holds.
        const uint64_t clustersLeft = (remaining + node->uClusterSize - 1) / node->uClusterSize;
        uint64_t sectors = std::min(runClusters, clustersLeft) * spc;
        if (sector >= end)
            return STATUS_READ_FAULT; // the device ended before the file did: incomplete
        sectors = std::min(sectors, end - sector);
        unsigned int got = 0;
        unsigned int st =
            m_diskReader.ReadData(buf.data(), int(sectors), (long long)sector, int(SECTOR_SIZE), &got);
        if (st == STATUS_SUCCESS)
            got = unsigned(sectors);
        else if (st != STATUS_READ_FAULT || got == 0)
            return st == STATUS_SUCCESS ? STATUS_READ_FAULT : st;
        const size_t n = size_t(std::min<uint64_t>(uint64_t(got) * SECTOR_SIZE, remaining));
        st = sink(buf.data(), n);
        if (st != STATUS_SUCCESS)
            return st;
        copied += n;
        remaining -= n;
        if (remaining == 0)
            break;
        if (got < sectors)
            return STATUS_READ_FAULT;
        const int answer = progress(int(copied * 100 / limit));
        if (answer != 0)
            return unsigned(answer);
        sector += got;
    }
    return STATUS_SUCCESS;
}

unsigned int CProfessionalFatRecovery::SaveFileToTarget(_FILE_NODE_* node, wchar_t* targetPath)
{
    static const wchar_t empty[1] = {0};
    CTargetFile target;
    unsigned int status = STATUS_SUCCESS;
    if (!node || !targetPath)
        status = STATUS_INVALID_PARAMETER;
    else if (node->uClusterSize > CLUSTER_BUFFER_LIMIT)
        status = STATUS_CLUSTER_TOO_LARGE;
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
        target.SetTimes(int64_t(node->u64AccessTime), int64_t(node->u64ModifyTime));
    // Kept whole (or as far as the device had it), or removed.
    status = target.Finish(status);
    // Exactly one report with percent 100 per file, naming the file as it
    // was kept: status 0, 30 for a file kept incomplete, or the failure (a
    // stop included, so the file is counted as not recovered).
    const std::wstring& path = target.GetPath();
    const int answer = ReportRecovery(100, int(status), path.empty() ? empty : path.c_str());
    if (status != STATUS_SUCCESS)
        CoreLog("CProfessionalFatRecovery: file not recovered (%d)\n", int(status));
    // A stop asked at the last report takes effect after this file.
    return status != STATUS_SUCCESS ? status : unsigned(answer);
}

unsigned int CProfessionalFatRecovery::SaveDataToTargetFile(_FILE_NODE_* node, wchar_t* targetPath)
{
    if (!node || !node->bIsDir)
        return SaveFileToTarget(node, targetPath);
    if (!targetPath)
        return STATUS_INVALID_PARAMETER;
    // A folder that cannot be made is still queued: each of its files then
    // fails with its own report rather than going missing from the results.
    const unsigned int st = MakeTargetFolder(targetPath);
    __FILE_DATA_RECOVERY__ item;
    item.node = *node;
    item.parentPath = m_strCurPath;
    m_fileRecoveryDeque.push_back(item);
    return st;
}

unsigned int CProfessionalFatRecovery::SaveFileData(_FILE_NODE_* node, wchar_t* targetPath,
                                                    int rootSeparators)
{
    if (!node || !node->bIsDir)
        return SaveFileToTarget(node, targetPath);
    if (!targetPath)
        return STATUS_INVALID_PARAMETER;
    // The level of each folder copied follows from the store itself (see
    // SaveFolderTree), whatever separators the destination's path holds.
    (void)rootSeparators;
    return SaveFolderTree(node, targetPath);
}

int CProfessionalFatRecovery::FolderLevel(const _FILE_NODE_& node)
{
    if (!m_pScanResult)
        return 0;
    m_pScanResult->FlushBufToFile();
    std::vector<_FILE_NODE_> parents;
    m_pScanResult->GetParentFileNode(&node, parents);
    return int(parents.size()) + 1;
}

unsigned int CProfessionalFatRecovery::SaveFolderTree(_FILE_NODE_* node, wchar_t* targetPath)
{
    m_fileRecoveryDeque.clear();
    m_strCurPath = targetPath;
    unsigned int status = MakeTargetFolder(targetPath);
    __FILE_DATA_RECOVERY__ first;
    first.node = *node;
    first.parentPath.clear();
    m_fileRecoveryDeque.push_back(first);

    // The store files each folder's children under the folder's level
    // below the root; each folder copied lies one level deeper than its
    // target's parent, anchored at the level of the folder asked for.
    const int levelOffset = FolderLevel(*node) - CountSeparators(m_strCurPath);

    // Each folder is copied once, so relations damaged into a cycle end.
    std::set<unsigned int> copied;
    copied.insert(node->uClusterNO);
    bool isFirst = true;
    while (!m_fileRecoveryDeque.empty())
    {
        __FILE_DATA_RECOVERY__ item = m_fileRecoveryDeque.front();
        m_fileRecoveryDeque.pop_front();
        if (!isFirst)
            m_strCurPath = item.parentPath + L"/" + SafeWideName(item.node);
        isFirst = false;
        const int level = CountSeparators(m_strCurPath) + levelOffset;
        std::vector<_FILE_NODE_> children;
        if (level < 0 || GetChildrenFileNode(&item.node, unsigned(level), children) != STATUS_SUCCESS)
            continue;
        for (_FILE_NODE_& child : children)
        {
            if (child.bIsDir)
            {
                if (!copied.insert(child.uClusterNO).second)
                    continue;
                std::wstring target = m_strCurPath + L"/" + SafeWideName(child);
                SaveDataToTargetFile(&child, &target[0]);
                continue;
            }
            std::wstring target = m_strCurPath + L"/" + SafeWideName(child);
            status = SaveFileToTarget(&child, &target[0]);
            if (int(status) == STATUS_CANCEL)
            {
                m_fileRecoveryDeque.clear();
                return status;
            }
        }
    }
    return status;
}

unsigned int CProfessionalFatRecovery::PreView(_FILE_NODE_* node, wchar_t* imagePath, unsigned char* buf,
                                               int& len, PREVIEW_CALLBACK progress, void* ctx)
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
        const std::string ext = LowerExtension(node->szFileName);
        isPicture = !ext.empty() && imagePath && strstr(PICTURE_TYPE_LIST, ("." + ext).c_str()) != nullptr;
        if (isPicture)
        {
            status = picture.CreatePreview(ext.c_str());
            if (picture.GetPath().size() > PREVIEW_PATH_LIMIT)
                status = STATUS_INVALID_PARAMETER;
        }
    }
    if (status == STATUS_SUCCESS && node->uClusterSize > CLUSTER_BUFFER_LIMIT)
        status = STATUS_CLUSTER_TOO_LARGE;
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

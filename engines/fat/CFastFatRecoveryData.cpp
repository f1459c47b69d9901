// File copy, folder copy and preview of the fast FAT engine: a file's data
// is read a cluster at a time along its chain through the FAT window.
#include "core/FileIo.h"
#include "engines/fat/CFastFatRecovery.h"

#include "core/Log.h"
#include "core/Platform.h"
#include "core/Portability.h"
#include "core/Status.h"
#include "recovery/CTargetFile.h"
#include "store/FileTypeLists.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <new>
#include <set>

using namespace tessaroo;

namespace
{
// Where a preview picture goes needs to fit the application's path buffer.
constexpr size_t PREVIEW_PATH_LIMIT = 255;

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

int CFastFatRecovery::ReportRecovery(int percent, int status, const wchar_t* targetPath)
{
    if (!m_pRecoveryFunc)
        return 0;
    return m_pRecoveryFunc(m_pParam, percent, 100, status, const_cast<wchar_t*>(targetPath));
}

unsigned int CFastFatRecovery::ReadClusterOfNode(const _FILE_NODE_* node, uint32_t cluster,
                                                 unsigned char* buf, uint32_t& bytes)
{
    bytes = 0;
    const uint32_t bps = m_geo.bytesPerSector;
    const uint32_t sectors = node->uClusterSize / bps;
    const uint64_t sector = node->u64DataStartSector + uint64_t(cluster - FAT_FIRST_DATA_CLUSTER) * sectors;
    // The node names its own volume start; a node of this engine always
    // names this engine's volume.
    const uint64_t abs = node->u64PartitionStartSector + sector * m_geo.unitsPerSector;
    const uint64_t end = m_u64StartSector + m_u64SectorCount;
    if (abs >= end)
        return STATUS_READ_FAULT;
    uint64_t units = std::min<uint64_t>(uint64_t(sectors) * m_geo.unitsPerSector, end - abs);
    unsigned int got = 0;
    unsigned int st = m_diskReader.ReadData(buf, int(units), (long long)abs, 512, &got);
    if (st == STATUS_SUCCESS)
        got = unsigned(units);
    else if (st != STATUS_READ_FAULT || got == 0)
        return st == STATUS_SUCCESS ? STATUS_READ_FAULT : st;
    bytes = got * 512u;
    return bytes ? STATUS_SUCCESS : STATUS_READ_FAULT;
}

unsigned int CFastFatRecovery::CopyFileData(const _FILE_NODE_* node, uint64_t limit,
                                            const std::function<unsigned int(const unsigned char*, size_t)>& sink,
                                            const std::function<int(int)>& progress, uint64_t& copied)
{
    copied = 0;
    if (node->uClusterSize > CLUSTER_BUFFER_LIMIT)
        return STATUS_CLUSTER_TOO_LARGE;
    if (node->uClusterSize == 0 || node->uClusterSize % m_geo.bytesPerSector != 0 || !m_bGeometryValid)
        return STATUS_INVALID_PARAMETER;
    std::vector<unsigned char> cluster;
    try
    {
        cluster.resize(node->uClusterSize);
    }
    catch (const std::bad_alloc&)
    {
        return STATUS_NOT_ENOUGH_MEMORY;
    }
    uint32_t c = node->uClusterNO;
    // A first cluster outside the data area holds nothing of the file.
    if (!m_geo.IsDataCluster(c))
        return STATUS_READ_FAULT;
    CClusterRunSet met;
    uint64_t remaining = limit;
    while (remaining > 0)
    {
        uint32_t bytes = 0;
        unsigned int st = ReadClusterOfNode(node, c, cluster.data(), bytes);
        if (st != STATUS_SUCCESS)
            return st;
        const size_t n = size_t(std::min<uint64_t>(bytes, remaining));
        st = sink(cluster.data(), n);
        if (st != STATUS_SUCCESS)
            return st;
        copied += n;
        remaining -= n;
        if (remaining == 0)
            break;
        const int answer = progress(int(copied * 100 / limit));
        if (answer != 0)
            return unsigned(answer);
        uint32_t next = 0;
        st = m_fat.NextFileCluster(c, met, next);
        if (st != STATUS_SUCCESS)
            return st;
        if (next == 0)
            return STATUS_READ_FAULT; // the volume ended before the file did: incomplete
        c = next;
    }
    return STATUS_SUCCESS;
}

unsigned int CFastFatRecovery::SaveFileToTarget(_FILE_NODE_* node, wchar_t* targetPath)
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
    // Kept whole (or as far as the volume had it), or removed.
    status = target.Finish(status);
    // Exactly one report with percent 100 per file, naming the file as it
    // was kept: status 0, 30 for a file kept incomplete, or the failure (a
    // stop included, so the file is counted as not recovered).
    const std::wstring& path = target.GetPath();
    const int answer = ReportRecovery(100, int(status), path.empty() ? empty : path.c_str());
    if (status != STATUS_SUCCESS)
        CoreLog("CFastFatRecovery: file not recovered (%d)\n", int(status));
    // A stop asked at the last report takes effect after this file.
    return status != STATUS_SUCCESS ? status : unsigned(answer);
}

unsigned int CFastFatRecovery::SaveDataToTargetFile(_FILE_NODE_* node, wchar_t* targetPath)
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
    item.parentPath = m_strCurPath;
    m_fileRecoveryDeque.push_back(item);
    return st;
}

unsigned int CFastFatRecovery::SaveFileData(_FILE_NODE_* node, wchar_t* targetPath, int rootSeparators)
{
    if (!node || !node->bIsDir)
        return SaveFileToTarget(node, targetPath);
    if (!targetPath)
        return STATUS_INVALID_PARAMETER;
    (void)rootSeparators;
    return SaveFolderTree(node, targetPath);
}

unsigned int CFastFatRecovery::SaveFolderTree(_FILE_NODE_* node, wchar_t* targetPath)
{
    m_fileRecoveryDeque.clear();
    m_strCurPath = targetPath;
    unsigned int status = MakeTargetFolder(targetPath);
    __FILE_DATA_RECOVERY__ first;
    first.node = *node;
    first.parentPath.clear();
    m_fileRecoveryDeque.push_back(first);

    // The store files each folder's children under the folder's level below
    // the root. The level of each folder copied follows from the separators
    // of its target path, anchored at the level of the folder asked for.
    int firstLevel = 0;
    _GetRootParentDirIndex(node->uClusterNO, firstLevel);
    const int levelOffset = firstLevel - CountSeparators(m_strCurPath);

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
                std::wstring name = SafeWideName(child);
                std::wstring target = m_strCurPath + L"/" + name;
                // The queued item rebuilds its path from the parent and the
                // name, so an existing folder of that name is merged into.
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

unsigned int CFastFatRecovery::PreView(_FILE_NODE_* node, wchar_t* imagePath, unsigned char* buf, int& len,
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

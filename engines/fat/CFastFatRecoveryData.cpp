// File copy, folder copy and preview of the fast FAT engine: a file's data
// is read a cluster at a time along its chain through the FAT window.
#include "core/FileIo.h"
#include "engines/fat/CFastFatRecovery.h"

#include "core/Log.h"
#include "core/Platform.h"
#include "core/Portability.h"
#include "core/Status.h"
#include "recovery/EngineCopy.h"
#include "store/FileTypeLists.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <new>
#include <set>

using namespace tessaroo;

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

unsigned int
CFastFatRecovery::CopyFileData(const _FILE_NODE_* node, uint64_t limit,
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

tessaroo::FILE_DATA_READER CFastFatRecovery::DataReader()
{
    return [this](const _FILE_NODE_& node, uint64_t limit, const DATA_SINK& sink,
                  const COPY_PROGRESS& progress, uint64_t& copied)
    { return CopyFileData(&node, limit, sink, progress, copied); };
}

unsigned int CFastFatRecovery::SaveFileToTarget(_FILE_NODE_* node, wchar_t* targetPath)
{
    COPY_REPORTS reports;
    reports.pfnRecovery = m_pRecoveryFunc;
    reports.pCtx = m_pParam;
    reports.szEngine = "CFastFatRecovery";
    return SaveFileThroughTarget(
        node, targetPath, DataReader(), reports, node ? int64_t(node->u64AccessTime) : 0,
        node ? int64_t(node->u64ModifyTime) : 0,
        node && node->uClusterSize > CLUSTER_BUFFER_LIMIT ? STATUS_CLUSTER_TOO_LARGE : 0);
}

unsigned int CFastFatRecovery::SaveDataToTargetFile(_FILE_NODE_* node, wchar_t* targetPath)
{
    return SaveFileData(node, targetPath, 0);
}

unsigned int CFastFatRecovery::SaveFileData(_FILE_NODE_* node, wchar_t* targetPath, int rootSeparators)
{
    if (!node || !node->bIsDir)
        return SaveFileToTarget(node, targetPath);
    // The level of each folder copied follows from the folder asked for,
    // whatever separators the destination's path holds.
    (void)rootSeparators;
    int firstLevel = 0;
    _GetRootParentDirIndex(node->uClusterNO, firstLevel);
    return SaveFolderThroughTarget(*this, *node, targetPath, firstLevel,
                                   [this](_FILE_NODE_* f, wchar_t* t) { return SaveFileToTarget(f, t); });
}

unsigned int CFastFatRecovery::PreView(_FILE_NODE_* node, wchar_t* imagePath, unsigned char* buf, int& len,
                                       PREVIEW_CALLBACK progress, void* ctx)
{
    return PreviewThroughTarget(node, imagePath, buf, len, progress, ctx, DataReader(),
                                node && node->uClusterSize > CLUSTER_BUFFER_LIMIT ? STATUS_CLUSTER_TOO_LARGE
                                                                                  : 0);
}

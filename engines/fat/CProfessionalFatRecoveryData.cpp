// File copy, folder copy and preview of the deep FAT engine. A lost volume
// has no table to follow, so a file's data is read from its first cluster
// on, over consecutive clusters, with the layout the node carries.
#include "core/FileIo.h"
#include "engines/fat/CProfessionalFatRecovery.h"

#include "core/Log.h"
#include "core/Platform.h"
#include "core/Portability.h"
#include "core/Status.h"
#include "recovery/EngineCopy.h"
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
// Consecutive clusters are read this many bytes at a time (at least one
// cluster): one read per cluster would cost a call per 512 bytes on small
// clusters.
constexpr uint64_t READ_RUN_BYTES = 1024 * 1024;

} // namespace

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

tessaroo::FILE_DATA_READER CProfessionalFatRecovery::DataReader()
{
    return [this](const _FILE_NODE_& node, uint64_t limit, const DATA_SINK& sink,
                  const COPY_PROGRESS& progress, uint64_t& copied)
    { return CopyFileData(&node, limit, sink, progress, copied); };
}

unsigned int CProfessionalFatRecovery::SaveFileToTarget(_FILE_NODE_* node, wchar_t* targetPath)
{
    COPY_REPORTS reports;
    reports.pfnRecovery = m_pRecoveryFunc;
    reports.pCtx = m_pParam;
    reports.szEngine = "CProfessionalFatRecovery";
    return SaveFileThroughTarget(
        node, targetPath, DataReader(), reports, node ? int64_t(node->u64AccessTime) : 0,
        node ? int64_t(node->u64ModifyTime) : 0,
        node && node->uClusterSize > CLUSTER_BUFFER_LIMIT ? STATUS_CLUSTER_TOO_LARGE : 0);
}

unsigned int CProfessionalFatRecovery::SaveDataToTargetFile(_FILE_NODE_* node, wchar_t* targetPath)
{
    return SaveFileData(node, targetPath, 0);
}

unsigned int CProfessionalFatRecovery::SaveFileData(_FILE_NODE_* node, wchar_t* targetPath,
                                                    int rootSeparators)
{
    if (!node || !node->bIsDir)
        return SaveFileToTarget(node, targetPath);
    // The level of each folder copied follows from the store itself,
    // whatever separators the destination's path holds.
    (void)rootSeparators;
    return SaveFolderThroughTarget(*this, *node, targetPath, FolderLevel(*node),
                                   [this](_FILE_NODE_* f, wchar_t* t) { return SaveFileToTarget(f, t); });
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

unsigned int CProfessionalFatRecovery::PreView(_FILE_NODE_* node, wchar_t* imagePath, unsigned char* buf,
                                               int& len, PREVIEW_CALLBACK progress, void* ctx)
{
    return PreviewThroughTarget(node, imagePath, buf, len, progress, ctx, DataReader(),
                                node && node->uClusterSize > CLUSTER_BUFFER_LIMIT ? STATUS_CLUSTER_TOO_LARGE
                                                                                  : 0);
}

// File data of the fast NTFS engine: the data check made during the scan,
// file copy, folder copy and preview. A node's data is found again from its
// record: resident bytes come from the record itself, others from its runs.
#include "engines/ntfs/CFastNtfsRecovery.h"

#include "core/Log.h"
#include "core/Portability.h"
#include "core/Status.h"
#include "recovery/EngineCopy.h"
#include "store/FileTypeLists.h"

#include <algorithm>
#include <cstring>
#include <set>

using namespace tessaroo;

namespace
{

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

tessaroo::FILE_DATA_READER CFastNtfsRecovery::DataReader()
{
    return [this](const _FILE_NODE_& node, uint64_t limit, const DATA_SINK& sink,
                  const COPY_PROGRESS& progress, uint64_t& copied)
    { return CopyFileData(&node, limit, sink, progress, copied); };
}

unsigned int CFastNtfsRecovery::SaveFileToTarget(_FILE_NODE_* node, wchar_t* targetPath)
{
    COPY_REPORTS reports;
    reports.pfnRecovery = pRecoveryFunc;
    reports.pCtx = pParam;
    reports.szEngine = "CFastNtfsRecovery";
    return SaveFileThroughTarget(node, targetPath, DataReader(), reports,
                                 node ? NtfsTimeToUnix(node->u64AccessTime) : 0,
                                 node ? NtfsTimeToUnix(node->u64ModifyTime) : 0);
}

unsigned int CFastNtfsRecovery::SaveDataToTargetFile(_FILE_NODE_* node, wchar_t* targetPath)
{
    return SaveFileData(node, targetPath, 0);
}

unsigned int CFastNtfsRecovery::SaveFileData(_FILE_NODE_* node, wchar_t* targetPath, int rootSeparators)
{
    if (!node || !node->bIsDir)
        return SaveFileToTarget(node, targetPath);
    // The level of each folder copied follows from the folder asked for,
    // whatever separators the destination's path holds.
    (void)rootSeparators;
    return SaveFolderThroughTarget(*this, *node, targetPath, int(GetRootParentDirIndex(node->uClusterNO)),
                                   [this](_FILE_NODE_* f, wchar_t* t) { return SaveFileToTarget(f, t); });
}

unsigned int CFastNtfsRecovery::PreView(_FILE_NODE_* node, wchar_t* imagePath, unsigned char* buf, int& len,
                                        PREVIEW_CALLBACK progress, void* ctx)
{
    return PreviewThroughTarget(node, imagePath, buf, len, progress, ctx, DataReader());
}

// File data of the deep NTFS engine: the data check made when a record is
// found, the run lists the coordinator asks for, file copy, folder copy and
// preview. A node's data is found again from its record, on the volume the
// node names: its start sector and cluster size, and the MFT that places
// its record (for the records an attribute list names).
#include "engines/ntfs/CProfessionalNtfsRecovery.h"

#include "core/Log.h"
#include "core/Portability.h"
#include "core/Status.h"
#include "recovery/EngineCopy.h"
#include "store/CScanResultFileManager.h"
#include "store/FileTypeLists.h"

#include <algorithm>
#include <cstring>
#include <set>

using namespace tessaroo;

namespace
{
constexpr uint32_t SECTOR_BYTES = 512;
constexpr uint32_t RECORD_BYTES = 1024;
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

int CProfessionalNtfsRecovery::ReadNodeData(const _FILE_NODE_* node, NtfsDataInfo& d, VolumeRef& vol)
{
    const uint64_t spc = node->uClusterSize / SECTOR_BYTES;
    if (node->uClusterSize % SECTOR_BYTES != 0 || spc == 0 || spc > 128 || (spc & (spc - 1)) != 0 ||
        node->u64PartitionStartSector > uint64_t(INT64_MAX))
        return int(STATUS_INVALID_PARAMETER);
    std::vector<uint8_t> rec(RECORD_BYTES, 0);
    const unsigned int st = ReadAbs(rec.data(), node->u64RecordSector, RECORD_BYTES / SECTOR_BYTES);
    if (st != STATUS_SUCCESS)
        return int(st);
    NtfsRecordHeader h;
    // The record at the node's sector must still be the node's own.
    if (!ParseNtfsRecordHeader(rec.data(), rec.size(), h) || h.recordNumber != node->uClusterNO)
        return STATUS_NTFS_FAILED;
    parser.FileRecordFixUp(rec.data(), rec.size());
    vol = PlaceRecord(h.recordNumber, node->u64RecordSector, 0);
    vol.i64VolumeStart = int64_t(node->u64PartitionStartSector);
    vol.uSectorsPerCluster = uint32_t(spc);
    CRecordVolume access(*this, vol);
    return parser.ResolveData(access, rec.data(), rec.size(), h, h.recordNumber, NTFS_TYPE_DATA, d);
}

int CProfessionalNtfsRecovery::GetRunListInfo(long long recordSector, int attributeType,
                                              std::vector<__RUNLIST__>& runs)
{
    if (recordSector < 0)
        return int(STATUS_INVALID_PARAMETER);
    std::vector<uint8_t> rec(RECORD_BYTES, 0);
    const unsigned int st = ReadAbs(rec.data(), uint64_t(recordSector), RECORD_BYTES / SECTOR_BYTES);
    if (st != STATUS_SUCCESS)
        return int(st);
    NtfsRecordHeader h;
    if (!ParseNtfsRecordHeader(rec.data(), rec.size(), h))
        return STATUS_NTFS_FAILED;
    if (h.firstAttribute >= RECORD_BYTES)
        return int(STATUS_INVALID_PARAMETER);
    parser.FileRecordFixUp(rec.data(), rec.size());
    uint32_t ownSpc = 0;
    RecordSectorsPerCluster(rec.data(), rec.size(), h, ownSpc);
    CRecordVolume access(*this, PlaceRecord(h.recordNumber, uint64_t(recordSector), ownSpc));
    NtfsDataInfo d;
    if (parser.ResolveData(access, rec.data(), rec.size(), h, h.recordNumber, uint32_t(attributeType), d) !=
            0 ||
        d.bResident)
        return STATUS_NTFS_NO_DATA;
    runs.insert(runs.end(), d.vecRuns.begin(), d.vecRuns.end());
    return 0;
}

int CProfessionalNtfsRecovery::HealthOfData(const VolumeRef& vol, const NtfsDataInfo& d, int status,
                                            const char* name, uint64_t size)
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
                                        int(SECTOR_BYTES), 0)
                   ? 1
                   : 0;
    }
    CRecordVolume access(*this, vol);
    uint64_t abs = 0;
    if (!CNtfsParse::FirstDataSector(access, d, abs) || ext.empty() || abs == 0)
        return 1;
    std::vector<uint8_t> sector(SECTOR_BYTES);
    if (ReadAbs(sector.data(), abs, 1) != STATUS_SUCCESS)
        return 1;
    return judge.IsFileTypeMatching(sector.data(), int(sector.size()), ext.c_str(), &reader,
                                    int(SECTOR_BYTES), abs)
               ? 1
               : 0;
}

int CProfessionalNtfsRecovery::IsFileDataHealth(_FILE_NODE_* node)
{
    if (!node || node->bIsDir)
        return 1;
    NtfsDataInfo d;
    VolumeRef vol;
    const int ds = ReadNodeData(node, d, vol);
    return HealthOfData(vol, d, ds, NameOf(*node).c_str(), node->u64FileSize);
}

unsigned int
CProfessionalNtfsRecovery::CopyFileData(const _FILE_NODE_* node, uint64_t limit,
                                        const std::function<unsigned int(const unsigned char*, size_t)>& sink,
                                        const std::function<int(int)>& progress, uint64_t& copied)
{
    copied = 0;
    NtfsDataInfo d;
    VolumeRef vol;
    const int ds = ReadNodeData(node, d, vol);
    if (ds != 0)
        return unsigned(ds);
    CRecordVolume access(*this, vol);
    return CNtfsParse::CopyData(access, d, limit, sink, progress, copied);
}

tessaroo::FILE_DATA_READER CProfessionalNtfsRecovery::DataReader()
{
    return [this](const _FILE_NODE_& node, uint64_t limit, const DATA_SINK& sink,
                  const COPY_PROGRESS& progress, uint64_t& copied)
    { return CopyFileData(&node, limit, sink, progress, copied); };
}

unsigned int CProfessionalNtfsRecovery::SaveFileToTarget(_FILE_NODE_* node, wchar_t* targetPath)
{
    COPY_REPORTS reports;
    reports.pfnRecovery = pRecoveryFunc;
    reports.pCtx = pParam;
    reports.szEngine = "CProfessionalNtfsRecovery";
    return SaveFileThroughTarget(node, targetPath, DataReader(), reports,
                                 node ? NtfsTimeToUnix(node->u64AccessTime) : 0,
                                 node ? NtfsTimeToUnix(node->u64ModifyTime) : 0);
}

unsigned int CProfessionalNtfsRecovery::SaveDataToTargetFile(_FILE_NODE_* node, wchar_t* targetPath)
{
    return SaveFileData(node, targetPath, 0);
}

unsigned int CProfessionalNtfsRecovery::SaveFileData(_FILE_NODE_* node, wchar_t* targetPath,
                                                     int rootSeparators)
{
    if (!node || !node->bIsDir)
        return SaveFileToTarget(node, targetPath);
    // The store files a folder's children under the folder's level below
    // the root: one more than the folders above it, whatever separators
    // the destination's path holds.
    (void)rootSeparators;
    std::vector<_FILE_NODE_> above;
    if (pResultStore)
        pResultStore->GetParentFileNode(node, above);
    return SaveFolderThroughTarget(*this, *node, targetPath, int(above.size()) + 1,
                                   [this](_FILE_NODE_* f, wchar_t* t) { return SaveFileToTarget(f, t); });
}

unsigned int CProfessionalNtfsRecovery::PreView(_FILE_NODE_* node, wchar_t* imagePath, unsigned char* buf,
                                                int& len, PREVIEW_CALLBACK progress, void* ctx)
{
    return PreviewThroughTarget(node, imagePath, buf, len, progress, ctx, DataReader());
}

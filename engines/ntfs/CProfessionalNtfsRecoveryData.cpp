// File data of the deep NTFS engine: the data check made when a record is
// found, the run lists the coordinator asks for, file copy, folder copy and
// preview. A node's data is found again from its record, on the volume the
// node names: its start sector and cluster size, and the MFT that places
// its record (for the records an attribute list names).
#include "engines/ntfs/CProfessionalNtfsRecovery.h"

#include "core/Log.h"
#include "core/Portability.h"
#include "core/Status.h"
#include "recovery/CTargetFile.h"
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

int CProfessionalNtfsRecovery::ReportRecovery(int percent, int status, const wchar_t* targetPath)
{
    if (!pRecoveryFunc)
        return 0;
    return pRecoveryFunc(pParam, percent, 100, status, const_cast<wchar_t*>(targetPath));
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

unsigned int CProfessionalNtfsRecovery::SaveFileToTarget(_FILE_NODE_* node, wchar_t* targetPath)
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
    // Kept whole (or as far as the device still has it), or removed.
    status = target.Finish(status);
    // Exactly one report with percent 100 per file, naming the file as it
    // was kept: status 0, 30 for a file kept incomplete, or the failure (a
    // stop included, so the file is counted as not recovered).
    const std::wstring& path = target.GetPath();
    const int answer = ReportRecovery(100, int(status), path.empty() ? empty : path.c_str());
    if (status != STATUS_SUCCESS)
        CoreLog("CProfessionalNtfsRecovery: file not recovered (%d)\n", int(status));
    // A stop asked at the last report takes effect after this file.
    return status != STATUS_SUCCESS ? status : unsigned(answer);
}

unsigned int CProfessionalNtfsRecovery::SaveDataToTargetFile(_FILE_NODE_* node, wchar_t* targetPath)
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

unsigned int CProfessionalNtfsRecovery::SaveFileData(_FILE_NODE_* node, wchar_t* targetPath,
                                                     int rootSeparators)
{
    (void)rootSeparators;
    if (!node || !node->bIsDir)
        return SaveFileToTarget(node, targetPath);
    if (!targetPath)
        return STATUS_INVALID_PARAMETER;
    return SaveFolderTree(node, targetPath);
}

unsigned int CProfessionalNtfsRecovery::SaveFolderTree(_FILE_NODE_* node, wchar_t* targetPath)
{
    queRecovery.clear();
    wstrCurrentDir = targetPath;
    unsigned int status = MakeTargetFolder(targetPath);
    __FILE_DATA_RECOVERY__ first;
    first.node = *node;
    queRecovery.push_back(first);

    // The store files a folder's children under the folder's level below
    // the root: one more than the folders above it. The level of each
    // folder copied follows from the separators of its target path,
    // anchored at the level of the folder asked for.
    std::vector<_FILE_NODE_> above;
    if (pResultStore)
        pResultStore->GetParentFileNode(node, above);
    const int firstLevel = int(above.size()) + 1;
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

unsigned int CProfessionalNtfsRecovery::PreView(_FILE_NODE_* node, wchar_t* imagePath, unsigned char* buf,
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

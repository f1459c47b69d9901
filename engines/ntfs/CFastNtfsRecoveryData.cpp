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
// Data moves through one buffer of this size per call.
constexpr size_t TRANSFER_BYTES = 64 * 1024;

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
    std::vector<NtfsExtent> extents;
    CNtfsParse::PlaceRuns(d.vecRuns, VolumeClusters(), extents);
    if (extents.empty() || extents[0].bSparse || ext.empty())
        return 1;
    const uint64_t abs = ClusterToAbs(extents[0].u64Cluster);
    if (abs == 0)
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
    if (d.bResident)
    {
        // Only the bytes the record holds: a size beyond them is a file
        // kept incomplete, never padded from an earlier buffer.
        const size_t n = size_t(std::min<uint64_t>(limit, d.vecResident.size()));
        if (n > 0 && (st = sink(d.vecResident.data(), n)) != STATUS_SUCCESS)
            return st;
        copied = n;
        return n < limit ? STATUS_READ_FAULT : STATUS_SUCCESS;
    }
    std::vector<NtfsExtent> extents;
    CNtfsParse::PlaceRuns(d.vecRuns, VolumeClusters(), extents);
    // Bytes past the initialised length read as zeros, whatever the
    // clusters there hold.
    const uint64_t valid = d.bHasValid ? d.u64ValidSize : UINT64_MAX;
    std::vector<uint8_t> buf(TRANSFER_BYTES);
    uint64_t remaining = limit, fileOffset = 0;
    for (const NtfsExtent& e : extents)
    {
        const uint64_t extentBytes = e.u64Count * geo.bytesPerCluster;
        for (uint64_t done = 0; done < extentBytes && remaining > 0;)
        {
            const size_t n = size_t(std::min<uint64_t>({TRANSFER_BYTES, extentBytes - done, remaining}));
            if (e.bSparse || fileOffset >= valid)
                memset(buf.data(), 0, n); // a hole holds no clusters: it reads as zeros
            else
            {
                st = ReadVolume(buf.data(), ClusterToAbs(e.u64Cluster) + done / 512,
                                uint32_t((n + 511) / 512));
                if (st != STATUS_SUCCESS)
                    return st;
                if (valid - fileOffset < n)
                    memset(buf.data() + (valid - fileOffset), 0, size_t(n - (valid - fileOffset)));
            }
            if ((st = sink(buf.data(), n)) != STATUS_SUCCESS)
                return st;
            copied += n;
            remaining -= n;
            done += n;
            fileOffset += n;
            if (remaining > 0)
            {
                const int answer = progress(int(copied * 100 / limit));
                if (answer != 0)
                    return unsigned(answer);
            }
        }
        if (remaining == 0)
            break;
    }
    // The runs ended before the file did: what they held is kept, incomplete.
    return remaining > 0 ? STATUS_READ_FAULT : STATUS_SUCCESS;
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

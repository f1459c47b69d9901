// File copy, folder copy and preview of the fast FAT engine: a file's data
// is read a cluster at a time along its chain through the FAT window.
#include "core/FileIo.h"
#include "engines/fat/CFastFatRecovery.h"

#include "core/Log.h"
#include "core/Platform.h"
#include "core/Portability.h"
#include "core/Status.h"
#include "store/FileTypeLists.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

using namespace tessaroo;

namespace
{
// Where a preview picture goes needs to fit the application's path buffer.
constexpr size_t PREVIEW_PATH_LIMIT = 255;

// Target files are always new: an existing file or a planted link at the
// target is an error, never overwritten or followed.
int CreateTargetFile(const std::string& path, mode_t mode)
{
    return open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
}

// Creates a target folder, or accepts an existing real folder (never a link).
unsigned int EnsureTargetFolder(const std::string& path)
{
    if (mkdir(path.c_str(), 0755) == 0)
        return STATUS_SUCCESS;
    const int e = errno;
    struct stat st;
    if (e == EEXIST && lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return STATUS_SUCCESS;
    return unsigned(e == EEXIST ? ENOTDIR : e);
}

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
    return Ansi2Unicode(MakeSafeTargetName(name).c_str());
}

// A free name for a new target below a folder the engine created.
std::wstring FreeTargetName(const std::wstring& path)
{
    std::string utf8 = WideToUtf8(path.c_str());
    std::vector<wchar_t> out(utf8.size() + 64);
    GetRealFileName(utf8.c_str(), out.data(), int(out.size()));
    return std::wstring(out.data());
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

unsigned int CFastFatRecovery::CopyFileData(const _FILE_NODE_* node, int fd, unsigned char* buf,
                                            uint64_t limit, const wchar_t* reportPath,
                                            PREVIEW_CALLBACK preview, void* previewCtx, uint64_t& copied,
                                            int& lastAnswer)
{
    copied = 0;
    lastAnswer = 0;
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
        unsigned int writeStatus = STATUS_SUCCESS;
        if (fd >= 0)
            writeStatus = WriteFull(fd, cluster.data(), n);
        else if (buf)
            memcpy(buf + copied, cluster.data(), n);
        if (writeStatus != STATUS_SUCCESS)
            return writeStatus;
        copied += n;
        remaining -= n;
        const int percent = int(copied * 100 / limit);
        const int answer = preview ? preview(previewCtx, percent, 0) : ReportRecovery(percent, 0, reportPath);
        if (answer != 0)
        {
            // The report of the last bytes already told the receiver the file
            // is complete; a stop asked there takes effect after this file.
            if (remaining == 0)
            {
                lastAnswer = answer;
                return STATUS_SUCCESS;
            }
            return unsigned(answer);
        }
        if (remaining == 0)
            break;
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
    const wchar_t* report = targetPath ? targetPath : empty;
    unsigned int status = STATUS_SUCCESS;
    int fd = -1;
    if (!node || !targetPath)
        status = STATUS_INVALID_PARAMETER;
    else
    {
        fd = CreateTargetFile(WideToUtf8(targetPath), 0644);
        if (fd < 0)
            status = unsigned(errno);
    }
    if (status == STATUS_SUCCESS && node->uClusterSize > CLUSTER_BUFFER_LIMIT)
        status = STATUS_CLUSTER_TOO_LARGE;
    int stopAnswer = 0;
    if (status == STATUS_SUCCESS)
    {
        if (node->u64FileSize == 0)
            stopAnswer = ReportRecovery(100, 0, report);
        else
        {
            uint64_t copied = 0;
            status = CopyFileData(node, fd, nullptr, node->u64FileSize, report, nullptr, nullptr, copied,
                                  stopAnswer);
        }
    }
    // Exactly one report with percent 100 per file: the last progress report
    // of a complete copy, or this one for a failure of any kind (a stop
    // included, so the file is counted as not recovered).
    if (status != STATUS_SUCCESS)
    {
        ReportRecovery(100, int(status), report);
        CoreLog("CFastFatRecovery: file not recovered (%d)\n", int(status));
    }
    if (fd >= 0)
        close(fd);
    return status != STATUS_SUCCESS ? status : unsigned(stopAnswer);
}

unsigned int CFastFatRecovery::SaveDataToTargetFile(_FILE_NODE_* node, wchar_t* targetPath)
{
    if (!node || !node->bIsDir)
        return SaveFileToTarget(node, targetPath);
    if (!targetPath)
        return STATUS_INVALID_PARAMETER;
    // A folder that cannot be made is still queued: each of its files then
    // fails with its own report rather than going missing from the results.
    unsigned int st = EnsureTargetFolder(WideToUtf8(targetPath));
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
    unsigned int status = EnsureTargetFolder(WideToUtf8(targetPath));
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
            std::wstring target = FreeTargetName(m_strCurPath + L"/" + SafeWideName(child));
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
    int fd = -1;
    std::string picturePath;
    uint64_t copied = 0;
    bool picture = false;
    if (!node)
        status = STATUS_INVALID_PARAMETER;
    else
    {
        const std::string ext = LowerExtension(node->szFileName);
        picture = !ext.empty() && imagePath && strstr(PICTURE_TYPE_LIST, ("." + ext).c_str()) != nullptr;
        if (picture)
        {
            const std::string dir = GetScanLogRoot();
            picturePath = dir + "tmp." + MakeSafeTargetName(ext.c_str());
            if (picturePath.size() > PREVIEW_PATH_LIMIT)
                picture = false;
            else
            {
                MakeDirs(dir, 0755);
                unlink(picturePath.c_str());
                fd = CreateTargetFile(picturePath, 0600);
                if (fd < 0)
                    status = unsigned(errno);
                else
                {
                    std::wstring w = Utf8ToWide(picturePath.c_str());
                    CopyWide(imagePath, PREVIEW_PATH_LIMIT + 1, w.c_str());
                }
            }
        }
    }
    if (status == STATUS_SUCCESS && node->uClusterSize > CLUSTER_BUFFER_LIMIT)
        status = STATUS_CLUSTER_TOO_LARGE;
    if (status == STATUS_SUCCESS)
    {
        uint64_t limit = node->u64FileSize;
        if (!picture)
            limit = std::min<uint64_t>(limit, (buf && capacity > 0) ? uint64_t(capacity) : 0);
        int lastAnswer = 0;
        if (limit > 0)
            status = CopyFileData(node, picture ? fd : -1, picture ? nullptr : buf, limit, nullptr, progress,
                                  ctx, copied, lastAnswer);
    }
    if (progress)
        progress(ctx, 100, int(status));
    if (fd >= 0)
        close(fd);
    if (picture && !picturePath.empty() && status != STATUS_SUCCESS)
    {
        if (fd >= 0)
            unlink(picturePath.c_str());
        if (imagePath)
            imagePath[0] = 0;
    }
    len = picture ? 0 : int(copied);
    return status;
}

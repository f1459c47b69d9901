#include "recovery/EngineCopy.h"

#include "core/Log.h"
#include "core/Portability.h"
#include "core/Status.h"
#include "recovery/CTargetFile.h"
#include "store/FileTypeLists.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <set>
#include <string>

namespace tessaroo
{
namespace
{
// Where a preview picture goes needs to fit the application's path buffer.
constexpr size_t PREVIEW_PATH_LIMIT = 255;

std::string NodeName(const _FILE_NODE_& node)
{
    return std::string(node.szFileName, strnlen(node.szFileName, sizeof(node.szFileName)));
}

std::string LowerExtension(const _FILE_NODE_& node)
{
    char ext[FILE_NAME_SIZE] = {0};
    if (GetExtendName(NodeName(node).c_str(), ext, sizeof(ext)) != 0)
        return std::string();
    GetCharLowerA(ext);
    return ext;
}

// A node's name as one component of a wide target path.
std::wstring SafeWideName(const _FILE_NODE_& node)
{
    return Utf8ToWide(MakeSafeTargetName(NodeName(node).c_str()).c_str());
}

int Report(const COPY_REPORTS& r, int percent, int status, const wchar_t* path)
{
    return r.pfnRecovery ? r.pfnRecovery(r.pCtx, percent, 100, status, const_cast<wchar_t*>(path)) : 0;
}
} // namespace

unsigned int SaveFileThroughTarget(const _FILE_NODE_* node, const wchar_t* targetPath,
                                   const FILE_DATA_READER& read, const COPY_REPORTS& reports,
                                   int64_t accessTime, int64_t modifyTime, unsigned int refusal)
{
    static const wchar_t empty[1] = {0};
    CTargetFile target;
    unsigned int status = STATUS_SUCCESS;
    if (!node || !targetPath)
        status = STATUS_INVALID_PARAMETER;
    else if (refusal != STATUS_SUCCESS)
        status = refusal;
    else
        status = target.Create(targetPath);
    if (status == STATUS_SUCCESS && node->u64FileSize > 0)
    {
        uint64_t copied = 0;
        status = read(
            *node, node->u64FileSize,
            [&](const unsigned char* data, size_t n) { return target.Write(data, n); },
            [&](int percent) { return Report(reports, std::min(percent, 99), 0, targetPath); }, copied);
    }
    target.SetTimes(accessTime, modifyTime);
    // Kept whole (or as far as the volume had it), or removed.
    status = target.Finish(status);
    const std::wstring& path = target.GetPath();
    const int answer = Report(reports, 100, int(status), path.empty() ? empty : path.c_str());
    if (status != STATUS_SUCCESS)
        CoreLog("%s: file not recovered (%d)\n", reports.szEngine, int(status));
    return status != STATUS_SUCCESS ? status : unsigned(answer);
}

unsigned int SaveFolderThroughTarget(IFileRecoveryParse& engine, const _FILE_NODE_& folder,
                                     const wchar_t* targetPath, int firstLevel,
                                     const std::function<unsigned int(_FILE_NODE_*, wchar_t*)>& saveFile)
{
    if (!targetPath)
        return STATUS_INVALID_PARAMETER;
    unsigned int status = MakeTargetFolder(targetPath);
    // Folders still to be copied, each with the target folder that holds
    // it and its level below the root.
    struct PENDING
    {
        __FILE_DATA_RECOVERY__ item;
        int nLevel;
    };
    std::deque<PENDING> queue;
    PENDING first;
    first.item.node = folder;
    first.item.parentPath = targetPath;
    first.nLevel = firstLevel;
    queue.push_back(first);
    // Each folder is copied once, so relations damaged into a cycle end.
    std::set<unsigned int> copied;
    copied.insert(folder.uClusterNO);
    while (!queue.empty())
    {
        PENDING p = queue.front();
        queue.pop_front();
        std::vector<_FILE_NODE_> children;
        if (p.nLevel < 0 ||
            engine.GetChildrenFileNode(&p.item.node, unsigned(p.nLevel), children) != STATUS_SUCCESS)
            continue;
        const std::wstring& here = p.item.parentPath;
        for (_FILE_NODE_& child : children)
        {
            std::wstring target = here + L"/" + SafeWideName(child);
            if (child.bIsDir)
            {
                if (!copied.insert(child.uClusterNO).second)
                    continue;
                // An existing folder of that name is merged into; one that
                // cannot be made still has its files tried.
                MakeTargetFolder(target.c_str());
                PENDING next;
                next.item.node = child;
                next.item.parentPath = target;
                next.nLevel = p.nLevel + 1;
                queue.push_back(next);
                continue;
            }
            status = saveFile(&child, &target[0]);
            if (int(status) == STATUS_CANCEL)
                return status;
        }
    }
    return status;
}

unsigned int PreviewThroughTarget(const _FILE_NODE_* node, wchar_t* imagePath, unsigned char* buf, int& len,
                                  PREVIEW_CALLBACK progress, void* ctx, const FILE_DATA_READER& read,
                                  unsigned int refusal)
{
    const int capacity = len;
    len = 0;
    if (imagePath)
        imagePath[0] = 0;
    unsigned int status = node ? refusal : STATUS_INVALID_PARAMETER;
    CTargetFile picture;
    bool isPicture = false;
    uint64_t copied = 0;
    if (status == STATUS_SUCCESS)
    {
        const std::string ext = LowerExtension(*node);
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
            status = read(
                *node, limit,
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
} // namespace tessaroo

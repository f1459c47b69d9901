// File copy and preview of the signature engine: a carved file is the run
// of sectors from its first sector, as long as its estimate.
#include "engines/signature/CFileTypeRecovery.h"

#include "core/Log.h"
#include "core/Portability.h"
#include "core/Status.h"
#include "recovery/CTargetFile.h"
#include "store/FileTypeLists.h"

#include <algorithm>
#include <cstring>
#include <new>

using namespace tessaroo;

namespace
{
constexpr size_t COPY_PIECE = 65536;
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

bool IsHandledSectorSize(int bps)
{
    return bps >= 512 && bps <= 4096 && (bps & (bps - 1)) == 0;
}
} // namespace

int CFileTypeRecovery::ReportRecovery(int percent, int status, const wchar_t* targetPath)
{
    if (!m_pRecoveryFunc)
        return 0;
    return m_pRecoveryFunc(m_pParam, percent, 100, status, const_cast<wchar_t*>(targetPath));
}

template <typename Sink, typename Progress>
unsigned int CFileTypeRecovery::CopyCarvedData(const _FILE_NODE_& node, uint64_t limit, Sink sink,
                                               Progress progress, uint64_t& copied)
{
    copied = 0;
    if (m_copyBuf.size() != COPY_PIECE)
    {
        try
        {
            m_copyBuf.resize(COPY_PIECE);
        }
        catch (const std::bad_alloc&)
        {
            return STATUS_NOT_ENOUGH_MEMORY;
        }
    }
    const int bps = IsHandledSectorSize(m_nBytesPerSector) ? m_nBytesPerSector : 512;
    const unsigned long long end = m_diskReader.GetEndSector();
    unsigned long long sector = node.u64RecordSector;
    uint64_t remaining = limit;
    while (remaining > 0)
    {
        // A length estimate (a header's size field above all) can run past
        // the end of the device: what lies before it is the file we have.
        if (sector >= end || sector > (unsigned long long)INT64_MAX)
            return STATUS_READ_FAULT;
        const uint64_t want = std::min<uint64_t>(
            {(remaining + unsigned(bps) - 1) / unsigned(bps), COPY_PIECE / unsigned(bps), end - sector});
        unsigned int got = 0;
        unsigned int st = m_diskReader.ReadData(m_copyBuf.data(), int(want), (long long)sector, bps, &got);
        if (st == STATUS_SUCCESS)
            got = unsigned(want);
        else if (st != STATUS_READ_FAULT || got == 0)
            return st == STATUS_SUCCESS ? STATUS_READ_FAULT : st;
        const size_t n = size_t(std::min<uint64_t>(uint64_t(got) * unsigned(bps), remaining));
        st = sink(m_copyBuf.data(), n);
        if (st != STATUS_SUCCESS)
            return st;
        copied += n;
        remaining -= n;
        sector += got;
        if (remaining == 0)
            break;
        if (got < want)
            return STATUS_READ_FAULT;
        const int answer = progress(int(copied * 100 / limit));
        if (answer != 0)
            return unsigned(answer);
    }
    return STATUS_SUCCESS;
}

unsigned int CFileTypeRecovery::SaveDataToTargetFile(_FILE_NODE_* node, wchar_t* targetPath)
{
    static const wchar_t empty[1] = {0};
    CTargetFile target;
    unsigned int status = STATUS_SUCCESS;
    if (!node || !targetPath)
        status = STATUS_INVALID_PARAMETER;
    else
        status = target.Create(targetPath);
    // A size of 0 (a BMP header may say so) makes an empty file.
    if (status == STATUS_SUCCESS && node->u64FileSize > 0)
    {
        uint64_t copied = 0;
        const wchar_t* report = targetPath;
        status = CopyCarvedData(
            *node, node->u64FileSize,
            [&](const unsigned char* data, size_t n) { return target.Write(data, n); },
            [&](int percent) { return ReportRecovery(percent, 0, report); }, copied);
    }
    // Carved files have no times of their own: they keep the time of recovery.
    status = target.Finish(status);
    // Exactly one report with percent 100 per file, naming the file as it
    // was kept: 0, 30 for a file kept incomplete, or the failure (a stop
    // included, so the file is counted as not recovered).
    const std::wstring& path = target.GetPath();
    const int answer = ReportRecovery(100, int(status), path.empty() ? empty : path.c_str());
    if (status != STATUS_SUCCESS)
        CoreLog("CFileTypeRecovery: file not recovered (%d)\n", int(status));
    // A stop asked at the last report takes effect after this file.
    return status != STATUS_SUCCESS ? status : unsigned(answer);
}

unsigned int CFileTypeRecovery::SaveFileData(_FILE_NODE_* node, wchar_t* targetPath, int)
{
    return SaveDataToTargetFile(node, targetPath);
}

unsigned int CFileTypeRecovery::PreView(_FILE_NODE_* node, wchar_t* imagePath, unsigned char* buf, int& len,
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
    if (status == STATUS_SUCCESS)
    {
        uint64_t limit = node->u64FileSize;
        if (!isPicture)
            limit = std::min<uint64_t>(limit, (buf && capacity > 0) ? uint64_t(capacity) : 0);
        if (limit > 0)
            status = CopyCarvedData(
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

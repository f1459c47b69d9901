// File copy and preview of the signature engine: a carved file is the run
// of sectors from its first sector, as long as its estimate.
#include "engines/signature/CFileTypeRecovery.h"

#include "core/Log.h"
#include "core/Portability.h"
#include "core/Status.h"
#include "recovery/EngineCopy.h"
#include "store/FileTypeLists.h"

#include <algorithm>
#include <cstring>
#include <new>

using namespace tessaroo;

namespace
{
constexpr size_t COPY_PIECE = 65536;
bool IsHandledSectorSize(int bps)
{
    return bps >= 512 && bps <= 4096 && (bps & (bps - 1)) == 0;
}
} // namespace

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

tessaroo::FILE_DATA_READER CFileTypeRecovery::DataReader()
{
    return [this](const _FILE_NODE_& node, uint64_t limit, const DATA_SINK& sink,
                  const COPY_PROGRESS& progress, uint64_t& copied)
    { return CopyCarvedData(node, limit, sink, progress, copied); };
}

unsigned int CFileTypeRecovery::SaveDataToTargetFile(_FILE_NODE_* node, wchar_t* targetPath)
{
    COPY_REPORTS reports;
    reports.pfnRecovery = m_pRecoveryFunc;
    reports.pCtx = m_pParam;
    reports.szEngine = "CFileTypeRecovery";
    // Carved files have no times of their own: they keep the time of recovery.
    return SaveFileThroughTarget(node, targetPath, DataReader(), reports, 0, 0);
}

unsigned int CFileTypeRecovery::SaveFileData(_FILE_NODE_* node, wchar_t* targetPath, int)
{
    return SaveDataToTargetFile(node, targetPath);
}

unsigned int CFileTypeRecovery::PreView(_FILE_NODE_* node, wchar_t* imagePath, unsigned char* buf, int& len,
                                        PREVIEW_CALLBACK progress, void* ctx)
{
    return PreviewThroughTarget(node, imagePath, buf, len, progress, ctx, DataReader());
}

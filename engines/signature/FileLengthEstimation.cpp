// The signature lookup of the carving sweep and the machinery every length
// estimator shares: the scan-forward loop, its end tests and progress
// reports, and the sector-aligned tail rule.
#include "core/CDiskReader.h"
#include "core/Status.h"
#include "engines/signature/CFileTypeJudge.h"
#include "engines/signature/ExtendNameTable.h"
#include "engines/signature/LengthScan.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

using namespace tessaroo;

unsigned int CFileTypeJudge::InitCallBack(SCAN_CALLBACK scan, RECOVERY_CALLBACK recovery, void* ctx,
                                          int scale)
{
    s_state.m_progressFunc = scan;
    s_state.m_pRecoveryFunc = recovery;
    s_state.m_pParam = ctx;
    s_state.m_nPercent = scale;
    return STATUS_SUCCESS;
}

int CFileTypeJudge::ParseFileBuf(const unsigned char* buf, int len, unsigned long long sector,
                                 unsigned long long scanned, unsigned long long total, int secondsLeft,
                                 unsigned long long fileCount, CDiskReader* reader, int bytesPerSector,
                                 char* name, size_t nameSize, EXTEND_NAME_TYPE& type,
                                 unsigned long long& length)
{
    CLookupScope scope;
    LOOKUP_STATE& st = s_state;
    InstallLookup(reader, bytesPerSector, sector);
    st.m_u64ScanSectorCount = scanned;
    st.m_u64SectorTotalCount = total;
    st.m_nRemaidSecond = secondsLeft;
    st.m_u64FileCount = fileCount;
    length = 0;

    type = GetDataBufType(buf, len);
    // What this pass found decides whether the next one applies the
    // transport-stream continuation and range tests.
    st.m_bIsNeedCheckTsFileRange = 1;
    st.m_bIsMtsFileHead = 0;
    if (type == EXT_UNKNOWN)
        return int(STATUS_INVALID_PARAMETER);
    const EXTEND_NAME_AND_TYPE* row = nullptr;
    for (size_t i = 0; i < EXTEND_NAME_ROW_COUNT && !row; ++i)
        if (szExtendNameAndType[i].type == type)
            row = &szExtendNameAndType[i];
    if (!row || !row->pfnEstimate)
        return int(STATUS_INVALID_PARAMETER);
    if (type != EXT_TS)
        st.m_bIsNeedCheckTsFileRange = 0;
    if (type == EXT_MTS)
        st.m_bIsMtsFileHead = 1;
    if (name && nameSize)
        snprintf(name, nameSize, "%lld.%s", (long long)sector, row->szExtendName);

    st.m_ErrorCode = 0;
    length = row->pfnEstimate(buf, len);
    if (st.m_ErrorCode != 0)
        return st.m_ErrorCode == int(STATUS_INVALID_PARAMETER) ? STATUS_CANCEL : st.m_ErrorCode;
    return int(STATUS_SUCCESS);
}

bool CFileTypeJudge::ReadSectorsUpTo(unsigned long long sector, int maxCount, unsigned char* dst,
                                     size_t dstSize, int& got)
{
    got = 0;
    const CDiskReader* reader = s_state.m_pDiskReader;
    if (!reader || maxCount <= 0)
        return false;
    const unsigned long long end = reader->GetEndSector();
    if (sector >= end)
        return false;
    const int count = int(std::min<unsigned long long>((unsigned long long)maxCount, end - sector));
    if (!ReadSectors(sector, count, dst, dstSize))
        return false;
    got = count;
    return true;
}

// ---------------------------------------------------------------------------
// End tests

int tessaroo::FindEndSector(const unsigned char* block, size_t len, bool endTestMpg)
{
    CFileTypeJudge::LOOKUP_STATE& st = CFileTypeJudge::s_state;
    const size_t bps = EstimateSectorSize();
    for (size_t k = 0; block && k * bps < len && bps <= len - k * bps; ++k)
    {
        // Recognisers that read on from the device must see this sector as
        // the current one.
        ++st.m_u64CurrentSector;
        const unsigned char* sector = block + k * bps;
        const EXTEND_NAME_TYPE t = CFileTypeJudge::GetDataBufType(sector, int(bps));
        if (t != EXT_UNKNOWN && !(endTestMpg && t == EXT_MPG))
            return int(k);
        if (CFileTypeJudge::IsFileSystemSector(sector, int(bps)))
            return int(k);
    }
    return -1;
}

namespace
{
int EndTest(const unsigned char* block, int len, unsigned long long& size, bool mpg)
{
    if (!block || len <= 0)
        return 0;
    CFileTypeJudge::CLookupScope scope;
    const int k = FindEndSector(block, size_t(len), mpg);
    if (k < 0)
        return 0;
    size += (unsigned long long)k * EstimateSectorSize();
    return 1;
}

// The progress report of an estimate that has read up to sector count of
// the sweep. The figures shown never pass the total, and the percent stays
// below the band that tells the receiver the scan is complete.
int ReportEstimateProgress(unsigned long long count)
{
    CFileTypeJudge::LOOKUP_STATE& st = CFileTypeJudge::s_state;
    if (!st.m_progressFunc)
        return 0;
    const unsigned long long total = st.m_u64SectorTotalCount;
    const unsigned long long shown = std::min(count, total);
    int percent = 10;
    if (total)
        percent += int((unsigned __int128)shown * 100 / total);
    if (st.m_nPercent > 0)
        percent = std::min(percent, (SCAN_COMPLETE_LOW - 1) / st.m_nPercent);
    const int answer = st.m_progressFunc(st.m_pParam, percent, st.m_nPercent, st.m_nRemaidSecond, shown,
                                         total, st.m_u64FileCount, nullptr);
    st.m_ErrorCode = answer;
    return answer;
}
} // namespace

int CFileTypeJudge::IsEndOfFile(const unsigned char* block, int len, unsigned long long& size)
{
    return EndTest(block, len, size, false);
}

int CFileTypeJudge::IsEndOfVedioFile(const unsigned char* block, int len, unsigned long long& size)
{
    return EndTest(block, len, size, false);
}

int CFileTypeJudge::IsEndOfMPGFile(const unsigned char* block, int len, unsigned long long& size)
{
    return EndTest(block, len, size, true);
}

// ---------------------------------------------------------------------------
// The scan-forward loop

uint64_t CLengthScan::Run()
{
    CFileTypeJudge::CLookupScope scope;
    CFileTypeJudge::LOOKUP_STATE& st = CFileTypeJudge::s_state;
    const size_t bps = EstimateSectorSize();
    uint64_t size = bps;
    if (st.m_u64StartSector == ULLONG_MAX)
        return OnEnd(size);
    unsigned long long next = st.m_u64StartSector + 1;
    uint64_t budget = m_u64Limit / bps;
    const int perRead = int(CFileTypeJudge::READ_BUF_SIZE / bps);
    unsigned long long count = st.m_u64ScanSectorCount;
    while (budget > 0)
    {
        int got = 0;
        const int want = int(std::min<uint64_t>(budget, uint64_t(perRead)));
        if (!CFileTypeJudge::ReadSectorsUpTo(next, want, st.m_pReadBuf, sizeof(st.m_pReadBuf), got))
            break;
        count += unsigned(got);
        if (ReportEstimateProgress(count) != 0)
            break;
        const size_t bytes = size_t(got) * bps;
        const int hit = FindEndSector(st.m_pReadBuf, bytes, m_bEndTestMpg);
        SCAN_CHUNK chunk{st.m_pReadBuf, bytes, hit < 0 ? bytes : size_t(hit) * bps, size, hit >= 0};
        uint64_t result = 0;
        if (OnChunk(chunk, result))
            return result;
        size += chunk.nFileBytes;
        if (hit >= 0)
            break;
        next += unsigned(got);
        budget -= uint64_t(got);
    }
    return OnEnd(size);
}

// ---------------------------------------------------------------------------
// Searches and the sector-aligned tail rule

size_t tessaroo::FindBytes(const unsigned char* buf, size_t from, size_t to, const void* pattern, size_t n)
{
    const unsigned char* pat = static_cast<const unsigned char*>(pattern);
    if (!buf || n == 0)
        return to;
    while (from < to && to - from >= n)
    {
        const void* hit = memchr(buf + from, pat[0], to - from - n + 1);
        if (!hit)
            return to;
        const size_t p = size_t(static_cast<const unsigned char*>(hit) - buf);
        if (memcmp(buf + p, pat, n) == 0)
            return p;
        from = p + 1;
    }
    return to;
}

size_t tessaroo::FindLastBytes(const unsigned char* buf, size_t from, size_t to, const void* pattern,
                               size_t n)
{
    const unsigned char* pat = static_cast<const unsigned char*>(pattern);
    if (!buf || n == 0 || from >= to || to - from < n)
        return to;
    size_t last = to - n; // the last start that leaves room for the whole pattern
    while (true)
    {
        const void* hit = memrchr(buf + from, pat[0], last - from + 1);
        if (!hit)
            return to;
        const size_t p = size_t(static_cast<const unsigned char*>(hit) - buf);
        if (memcmp(buf + p, pat, n) == 0)
            return p;
        if (p == from)
            return to;
        last = p - 1;
    }
}

bool tessaroo::IsAlignedTail(const unsigned char* buf, size_t len, size_t end, size_t bytesPerSector)
{
    if (end > len || bytesPerSector == 0)
        return false;
    if (end % bytesPerSector == 0)
        return true;
    const size_t sectorEnd = std::min(len, (end / bytesPerSector + 1) * bytesPerSector);
    return CFileTypeJudge::IsZeroBuffer(buf + end, int(sectorEnd - end)) != 0;
}

bool tessaroo::FindAlignedTail(const unsigned char* buf, size_t len, const void* pattern, size_t n,
                               size_t& end)
{
    const size_t bps = EstimateSectorSize();
    for (size_t p = FindBytes(buf, 0, len, pattern, n); p < len; p = FindBytes(buf, p + 1, len, pattern, n))
        if (IsAlignedTail(buf, len, p + n, bps))
        {
            end = p + n;
            return true;
        }
    return false;
}

int CFileTypeJudge::GetJPGFileTailOffset(const unsigned char* buf, int len, unsigned long long& offset)
{
    static const unsigned char EOI[2] = {0xFF, 0xD9};
    if (!buf || len <= 0)
        return 0;
    const size_t p = FindBytes(buf, 0, size_t(len), EOI, 2);
    if (p >= size_t(len) || !IsAlignedTail(buf, size_t(len), p + 2, EstimateSectorSize()))
        return 0;
    offset = p + 2;
    return 1;
}

int CFileTypeJudge::GetPNGFileTailOffset(const unsigned char* buf, int len, unsigned long long& offset)
{
    static const unsigned char IEND[8] = {'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    size_t end = 0;
    if (!buf || len <= 0 || !FindAlignedTail(buf, size_t(len), IEND, sizeof(IEND), end))
        return 0;
    offset = end;
    return 1;
}

int CFileTypeJudge::GetGIFFileTailOffset(const unsigned char* buf, int len, unsigned long long& offset)
{
    static const unsigned char TRAILER[2] = {0x00, 0x3B};
    size_t end = 0;
    if (!buf || len <= 0 || !FindAlignedTail(buf, size_t(len), TRAILER, sizeof(TRAILER), end))
        return 0;
    offset = end;
    return 1;
}

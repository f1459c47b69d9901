#include "engines/signature/CFileTypeJudge.h"

#include "core/ByteReader.h"
#include "core/CDiskReader.h"
#include "core/Log.h"
#include "core/Recognisers.h"
#include "core/Status.h"
#include "engines/signature/ExtendNameTable.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#ifndef NDEBUG
#include <atomic>
#include <thread>
#endif

using namespace tessaroo;

CFileTypeJudge::LOOKUP_STATE CFileTypeJudge::s_state;

#ifndef NDEBUG
namespace
{
std::atomic<std::thread::id> g_scopeOwner{};
int g_nScopeDepth = 0; // touched only by the owning thread
} // namespace

CFileTypeJudge::CLookupScope::CLookupScope()
{
    const std::thread::id self = std::this_thread::get_id();
    if (g_scopeOwner.load() == self)
    {
        ++g_nScopeDepth;
        return;
    }
    std::thread::id none;
    if (!g_scopeOwner.compare_exchange_strong(none, self))
    {
        CoreLog("CFileTypeJudge used by two threads at once\n");
        abort();
    }
    g_nScopeDepth = 1;
}

CFileTypeJudge::CLookupScope::~CLookupScope()
{
    if (--g_nScopeDepth == 0)
        g_scopeOwner.store(std::thread::id());
}
#else
CFileTypeJudge::CLookupScope::CLookupScope() {}
CFileTypeJudge::CLookupScope::~CLookupScope() {}
#endif

namespace
{
bool IsHandledSectorSize(int bytesPerSector)
{
    return bytesPerSector >= CFileTypeJudge::MIN_SECTOR_SIZE &&
           bytesPerSector <= CFileTypeJudge::MAX_SECTOR_SIZE && (bytesPerSector & (bytesPerSector - 1)) == 0;
}

char AsciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

// Whole-string comparison ignoring ASCII case only: extensions read off a
// disk may hold GB2312 bytes, which no locale must fold.
bool ExtensionEquals(const char* ext, const char* rowExt)
{
    size_t i = 0;
    for (; rowExt[i]; ++i)
        if (AsciiLower(ext[i]) != rowExt[i])
            return false;
    return ext[i] == 0;
}
} // namespace

void CFileTypeJudge::InstallLookup(CDiskReader* reader, int bytesPerSector, unsigned long long sector)
{
    s_state.m_pDiskReader = reader ? reader : m_pOwnReader;
    s_state.m_nBytesPerSector = bytesPerSector;
    s_state.m_u64StartSector = sector;
    s_state.m_u64CurrentSector = sector;
}

void CFileTypeJudge::BeginLookup(int bytesPerSector, unsigned long long sector)
{
    CLookupScope scope;
    InstallLookup(nullptr, bytesPerSector, sector);
}

EXTEND_NAME_TYPE CFileTypeJudge::GetDataBufType(const unsigned char* buf, int len)
{
    if (!buf || len <= 0)
        return EXT_UNKNOWN;
    CLookupScope scope;
    const uint8_t lead = buf[0];
    const unsigned n = g_leadByteRows.nCount[lead];
    const uint8_t* rows = g_leadByteRows.nRow[lead];
    for (unsigned k = 0; k < n; ++k)
    {
        EXTEND_NAME_TYPE t = szExtendNameAndType[rows[k]].pRecogniser->pfnRecognise(buf, len);
        if (t != EXT_UNKNOWN)
            return t;
    }
    return EXT_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::GetDataBufTypeByTableOrder(const unsigned char* buf, int len)
{
    CLookupScope scope;
    for (size_t i = 0; i < EXTEND_NAME_ROW_COUNT; ++i)
    {
        EXTEND_NAME_TYPE t = szExtendNameAndType[i].pRecogniser->pfnRecognise(buf, len);
        if (t != EXT_UNKNOWN)
            return t;
    }
    return EXT_UNKNOWN;
}

int CFileTypeJudge::FindExtendNameRow(const char* ext)
{
    if (!ext)
        return -1;
    for (size_t i = 0; i < EXTEND_NAME_ROW_COUNT; ++i)
        if (ExtensionEquals(ext, szExtendNameAndType[i].szExtendName))
            return int(i);
    return -1;
}

EXTEND_NAME_TYPE CFileTypeJudge::GetExtendNameType(const char* ext)
{
    const int row = FindExtendNameRow(ext);
    return row < 0 ? EXT_UNKNOWN : szExtendNameAndType[row].type;
}

int CFileTypeJudge::IsFileTypeMatching(const unsigned char* buf, int len, const char* ext,
                                       CDiskReader* reader, int bytesPerSector, unsigned long long sector)
{
    const int row = FindExtendNameRow(ext);
    if (row < 0)
        return 1;
    CLookupScope scope;
    InstallLookup(reader, bytesPerSector, sector);
    s_state.m_bIsNeedCheckTsFileRange = 0;
    const EXTEND_NAME_AND_TYPE& r = szExtendNameAndType[row];
    return r.pRecogniser->pfnRecognise(buf, len) == r.type ? 1 : 0;
}

EXTEND_NAME_TYPE CFileTypeJudge::ReturnFileType(const char* name, unsigned len)
{
    if (!name)
        return EXT_UNKNOWN;
    auto startsWith = [&](const char* prefix, unsigned minLen)
    {
        if (len < minLen)
            return false;
        for (unsigned i = 0; prefix[i]; ++i)
            if (AsciiLower(name[i]) != prefix[i])
                return false;
        return true;
    };
    if (startsWith("word", 5))
        return EXT_DOCX;
    if (startsWith("ppt", 4))
        return EXT_PPTX;
    if (startsWith("xl", 3))
        return EXT_XLSX;
    return EXT_UNKNOWN;
}

int CFileTypeJudge::IsZeroBuffer(const unsigned char* buf, int len)
{
    if (len < 0 || (len > 0 && !buf))
        return 0;
    // Word-wise: zero sectors are the commonest free space on a medium.
    size_t i = 0;
    const size_t n = size_t(len);
    for (; i + 8 <= n; i += 8)
    {
        uint64_t w;
        memcpy(&w, buf + i, 8);
        if (w)
            return 0;
    }
    for (; i < n; ++i)
        if (buf[i])
            return 0;
    return 1;
}

int CFileTypeJudge::IsSectorTailIsZeroBuffetr(const unsigned char* buf, int len)
{
    return IsZeroBuffer(buf, len);
}

bool CFileTypeJudge::IsFileSystemSector(const unsigned char* buf, int len)
{
    if (!buf || len < 32)
        return false;
    const ByteReader r(buf, size_t(len));
    if (r.Matches(0, "FILE", 4) || r.Matches(0, "INDX", 4))
        return true;
    if (r.Matches(0, "RSTR", 4))
    {
        static const unsigned char NTFS16[8] = {'N', 0, 'T', 0, 'F', 0, 'S', 0};
        for (size_t off = 0; r.Fits(off, sizeof(NTFS16)); ++off)
            if (r.Matches(off, NTFS16, sizeof(NTFS16)))
                return true;
    }
    static const unsigned char STA16[8] = {'$', 0, 'S', 0, 'T', 0, 'A', 0};
    if (r.Matches(0, STA16, sizeof(STA16)))
        return true;
    if (r.U8(0) == 0xEB && r.U8(2) == 0x90)
    {
        static const char* const OEM_NAMES[] = {"MSDOS5.0", "MSWIN4.0", "MSWIN4.1", "EXFAT   ", "NTFS    "};
        for (const char* oem : OEM_NAMES)
            if (r.Matches(BS_OEM_NAME, oem, 8))
                return true;
    }
    return IsFatFDTRecord(buf, len) != 0;
}

void CFileTypeJudge::AddTsFileRange(unsigned long long firstSector, unsigned long long lastSector)
{
    s_state.m_tsFileRangeVec.push_back(_TS_FILE_RANGE_{firstSector, lastSector});
}

bool CFileTypeJudge::ReadSectors(unsigned long long sector, int count, unsigned char* dst, size_t dstSize)
{
    CDiskReader* reader = s_state.m_pDiskReader;
    const int bytesPerSector = s_state.m_nBytesPerSector;
    if (!reader || !dst || count <= 0 || !IsHandledSectorSize(bytesPerSector))
        return false;
    if (size_t(count) > dstSize / size_t(bytesPerSector))
        return false;
    // Past the end of the device is a failed read like any other: the caller
    // answers it as it answers an I/O error, and nothing is logged.
    const unsigned long long end = reader->GetEndSector();
    if (sector >= end || (unsigned long long)count > end - sector || sector > (unsigned long long)LLONG_MAX)
        return false;
    unsigned int got = 0;
    const unsigned int status = reader->ReadData(dst, count, (long long)sector, bytesPerSector, &got);
    return status == STATUS_SUCCESS && got == unsigned(count);
}

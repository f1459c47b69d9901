// Recognisers of office documents: compound files (Office 97-2003, Flash
// authoring files), Office Open XML zips, PDF.
#include "core/ByteReader.h"
#include "engines/signature/CFileTypeJudge.h"
#include "engines/signature/FileRecognisers.h"

#include <climits>
#include <cstring>

using namespace tessaroo;

namespace
{
constexpr unsigned char CFB_SIGNATURE[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr size_t CFB_FIRST_DIR_SECTOR = 48; // u32 in the compound-file header
constexpr size_t CFB_DIR_ENTRY = 128;
constexpr size_t CFB_DIR_CLSID = 80; // 16 bytes in a directory entry

// Class identifiers of the root storage, as stored on disk (the first three
// groups little-endian).
constexpr unsigned char CLSID_WORD[16] = {0x06, 0x09, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                          0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr unsigned char CLSID_EXCEL5[16] = {0x10, 0x08, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                            0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr unsigned char CLSID_EXCEL8[16] = {0x20, 0x08, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                            0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr unsigned char CLSID_POWERPOINT[16] = {0x10, 0x8D, 0x81, 0x64, 0x9B, 0x4F, 0xCF, 0x11,
                                                0x86, 0xEA, 0x00, 0xAA, 0x00, 0xB9, 0x29, 0xE8};

constexpr unsigned char ZIP_LOCAL[4] = {'P', 'K', 0x03, 0x04};
constexpr unsigned char ZIP_CENTRAL[4] = {'P', 'K', 0x01, 0x02};
constexpr unsigned char ZIP_END[4] = {'P', 'K', 0x05, 0x06};
// Where a header keeps its name length (u16) and its name.
constexpr size_t ZIP_LOCAL_NAME_LEN = 26, ZIP_LOCAL_NAME = 30;
constexpr size_t ZIP_CENTRAL_NAME_LEN = 28, ZIP_CENTRAL_NAME = 46;
// Part names are looked for in the first 20 sectors, 4 at a time.
constexpr int ZIP_WINDOW_SECTORS = 4;
constexpr int ZIP_WINDOWS = 5;
constexpr size_t ZIP_CARRY = 4;

// True when the UTF-16LE directory-entry name at off starts with the ASCII
// text prefix, ignoring case.
bool EntryNameStartsWith(const ByteReader& r, size_t off, const char* prefix)
{
    for (size_t i = 0; prefix[i]; ++i)
    {
        uint16_t unit = 0;
        if (!r.ReadU16(off + 2 * i, unit) || unit >= 0x80)
            return false;
        char a = char(unit), b = prefix[i];
        if (a >= 'A' && a <= 'Z')
            a = char(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z')
            b = char(b - 'A' + 'a');
        if (a != b)
            return false;
    }
    return true;
}

// First position p >= from with the 4-byte signature sig at p and p + 4 <= limit;
// limit when there is none.
size_t FindSignature(const unsigned char* buf, size_t from, size_t limit, const unsigned char* sig)
{
    while (from < limit && limit - from >= 4)
    {
        const void* hit = memchr(buf + from, sig[0], limit - from - 3);
        if (!hit)
            return limit;
        const size_t p = size_t(static_cast<const unsigned char*>(hit) - buf);
        if (memcmp(buf + p, sig, 4) == 0)
            return p;
        from = p + 1;
    }
    return limit;
}

// The document kind a zip header at p names, when its whole name lies in the window.
EXTEND_NAME_TYPE HeaderNameType(const ByteReader& r, size_t p, size_t lenOff, size_t nameOff)
{
    uint16_t nameLen = 0;
    if (!r.ReadU16(p + lenOff, nameLen) || !r.Fits(p + nameOff, nameLen))
        return EXT_UNKNOWN;
    return CFileTypeJudge::ReturnFileType(reinterpret_cast<const char*>(r.Data() + p + nameOff), nameLen);
}
} // namespace

EXTEND_NAME_TYPE CFileTypeJudge::IsFlaType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_FLA))
        return EXT_UNKNOWN;
    return ByteReader(buf, size_t(len)).Matches(0, CFB_SIGNATURE, 4) ? EXT_FLA : EXT_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsOffice2003Type(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_OFFICE2003))
        return EXT_UNKNOWN;
    if (!ByteReader(buf, size_t(len)).Matches(0, CFB_SIGNATURE, sizeof(CFB_SIGNATURE)))
        return EXT_UNKNOWN;
    return GetOffice2003Type(buf, len);
}

EXTEND_NAME_TYPE CFileTypeJudge::GetOffice2003Type(const unsigned char* head, int len)
{
    LOOKUP_STATE& st = s_state;
    unsigned char* sec = st.m_probeBuf;
    const unsigned long long current = st.m_u64CurrentSector;
    if (current == ULLONG_MAX || !ReadSectors(current + 1, 1, sec, PROBE_BUF_SIZE))
        return EXT_OLE;
    const ByteReader next(sec, size_t(st.m_nBytesPerSector));
    // The first stream usually starts right after the header: an Excel BOF
    // record, or a Word file information block.
    if (next.U16(0) == 0x0809 && next.U16(2) == 0x0010 && next.U16(4) == 0x0600)
        return EXT_XLS;
    if (next.U16(0) == 0xA5EC)
        return EXT_DOC;

    uint32_t dirSector = 0;
    if (!head || len < 0 || !ByteReader(head, size_t(len)).ReadU32(CFB_FIRST_DIR_SECTOR, dirSector))
        return EXT_OLE;
    if (current + 1 > ULLONG_MAX - dirSector || !ReadSectors(current + 1 + dirSector, 1, sec, PROBE_BUF_SIZE))
        return EXT_OLE;
    const ByteReader dir(sec, size_t(st.m_nBytesPerSector));
    if (dir.Matches(CFB_DIR_CLSID, CLSID_WORD, 16))
        return EXT_DOC;
    if (dir.Matches(CFB_DIR_CLSID, CLSID_EXCEL5, 16) || dir.Matches(CFB_DIR_CLSID, CLSID_EXCEL8, 16))
        return EXT_XLS;
    if (dir.Matches(CFB_DIR_CLSID, CLSID_POWERPOINT, 16))
        return EXT_PPT;
    // Otherwise the stream names of the sector's entries decide. Excel's
    // stream is "Workbook"; "Wordbook" is accepted as well.
    const size_t entries = size_t(st.m_nBytesPerSector) / CFB_DIR_ENTRY;
    for (size_t i = 0; i < entries; ++i)
    {
        const size_t e = i * CFB_DIR_ENTRY;
        if (EntryNameStartsWith(dir, e, "WordDocument"))
            return EXT_DOC;
        if (EntryNameStartsWith(dir, e, "Workbook") || EntryNameStartsWith(dir, e, "Wordbook"))
            return EXT_XLS;
        if (EntryNameStartsWith(dir, e, "PowerPoint Document"))
            return EXT_PPT;
    }
    return EXT_OLE;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsOffice2007Type(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_OFFICE2007))
        return EXT_UNKNOWN;
    const ByteReader r(buf, size_t(len));
    if (!r.Matches(0, ZIP_LOCAL, 4) && !r.Matches(31, "[Content_Types].xml", 19))
        return EXT_UNKNOWN;
    return GetOffice2007Type();
}

EXTEND_NAME_TYPE CFileTypeJudge::GetOffice2007Type()
{
    LOOKUP_STATE& st = s_state;
    const int bytesPerSector = st.m_nBytesPerSector;
    if (bytesPerSector < MIN_SECTOR_SIZE || bytesPerSector > MAX_SECTOR_SIZE)
        return EXT_UNKNOWN;
    unsigned char* win = st.m_probeBuf;
    const size_t windowBytes = size_t(ZIP_WINDOW_SECTORS) * size_t(bytesPerSector);
    size_t have = 0;
    for (int w = 0; w < ZIP_WINDOWS; ++w)
    {
        // Keep the last bytes of the window before, so that a signature cut
        // by the window edge is still seen whole.
        size_t carry = 0;
        if (w > 0)
        {
            memmove(win, win + have - ZIP_CARRY, ZIP_CARRY);
            carry = ZIP_CARRY;
        }
        const unsigned long long sector =
            st.m_u64CurrentSector + (unsigned long long)(w * ZIP_WINDOW_SECTORS);
        if (sector < st.m_u64CurrentSector ||
            !ReadSectors(sector, ZIP_WINDOW_SECTORS, win + carry, PROBE_BUF_SIZE - carry))
            return EXT_UNKNOWN;
        have = carry + windowBytes;
        const ByteReader r(win, have);

        // Headers after the end of the central directory belong to something else.
        const size_t limit = FindSignature(win, 0, have, ZIP_END);
        size_t local = 0, central = 0;
        bool localDone = false, centralDone = false;
        while (!localDone || !centralDone)
        {
            if (!localDone)
            {
                const size_t p = FindSignature(win, local, limit, ZIP_LOCAL);
                if (p >= limit)
                    localDone = true;
                else
                {
                    const EXTEND_NAME_TYPE t = HeaderNameType(r, p, ZIP_LOCAL_NAME_LEN, ZIP_LOCAL_NAME);
                    if (t != EXT_UNKNOWN)
                        return t;
                    local = p + 4;
                }
            }
            if (!centralDone)
            {
                const size_t p = FindSignature(win, central, limit, ZIP_CENTRAL);
                if (p >= limit)
                    centralDone = true;
                else
                {
                    const EXTEND_NAME_TYPE t = HeaderNameType(r, p, ZIP_CENTRAL_NAME_LEN, ZIP_CENTRAL_NAME);
                    if (t != EXT_UNKNOWN)
                        return t;
                    central = p + 4;
                }
            }
        }
    }
    return EXT_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsPdfType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_PDF))
        return EXT_UNKNOWN;
    return ByteReader(buf, size_t(len)).Matches(0, "%PDF-", 5) ? EXT_PDF : EXT_UNKNOWN;
}

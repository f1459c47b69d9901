// Length estimators of office documents: compound files (Office 97-2003,
// Flash authoring files), Office Open XML zips, PDF.
#include "core/ByteReader.h"
#include "engines/signature/CFileTypeJudge.h"
#include "engines/signature/LengthScan.h"

#include <algorithm>
#include <climits>
#include <vector>

using namespace tessaroo;

namespace
{
// Compound-file header fields.
constexpr size_t CFB_SECTOR_SHIFT = 30;    // u16: 9 (512-byte sectors) or 12 (4096)
constexpr size_t CFB_FAT_SECTORS = 44;     // u32
constexpr size_t CFB_MINIFAT_SECTORS = 64; // u32
constexpr size_t CFB_FIRST_DIFAT = 68;     // u32
constexpr size_t CFB_DIFAT_SECTORS = 72;   // u32
constexpr size_t CFB_HEADER_DIFAT = 76;    // the first 109 FAT sector numbers
constexpr uint32_t CFB_HEADER_DIFAT_ENTRIES = 109;
constexpr uint32_t CFB_MAX_REGULAR_SECTOR = 0xFFFFFFFA;
constexpr uint32_t CFB_FREE = 0xFFFFFFFF;

// Reads the compound-file sector number (the header is sector -1) of the
// file at the start sector into the probe buffer: its first
// sectorSize bytes. False when it lies outside the device or the read fails.
bool ReadCompoundSector(uint32_t number, size_t sectorSize)
{
    CFileTypeJudge::LOOKUP_STATE& st = CFileTypeJudge::s_state;
    const size_t bps = EstimateSectorSize();
    if (number > CFB_MAX_REGULAR_SECTOR || sectorSize < bps || sectorSize % bps != 0 ||
        sectorSize > CFileTypeJudge::PROBE_BUF_SIZE)
        return false;
    const unsigned long long perSector = sectorSize / bps;
    const unsigned long long rel = (uint64_t(number) + 1) * perSector;
    if (st.m_u64StartSector > ULLONG_MAX - rel)
        return false;
    return CFileTypeJudge::ReadSectors(st.m_u64StartSector + rel, int(perSector), st.m_probeBuf,
                                       sizeof(st.m_probeBuf));
}

// Word files of the Chinese edition: the user-type text of their CompObj
// stream, "Microsoft Office Word " and GB2312 for "document", ends near the
// end of the file.
class COffice2003Scan : public CLengthScan
{
  public:
    COffice2003Scan() : CLengthScan(LIMIT_OFFICE, false) {}

  protected:
    bool OnChunk(const SCAN_CHUNK& c, uint64_t& result) override
    {
        static const unsigned char COMPOBJ[6] = {0x01, 0x00, 0xFE, 0xFF, 0x03, 0x0A};
        static const unsigned char USER_TYPE[26] = {'M', 'i', 'c', 'r', 'o',  's',  'o',  'f', 't',
                                                    ' ', 'O', 'f', 'f', 'i',  'c',  'e',  ' ', 'W',
                                                    'o', 'r', 'd', ' ', 0xCE, 0xC4, 0xB5, 0xB5};
        if (FindBytes(c.pData, 0, c.nFileBytes, COMPOBJ, sizeof(COMPOBJ)) >= c.nFileBytes)
            return false;
        const size_t p = FindBytes(c.pData, 0, c.nFileBytes, USER_TYPE, sizeof(USER_TYPE));
        if (p >= c.nFileBytes)
            return false;
        const size_t bps = EstimateSectorSize();
        result = c.u64Offset + (p + sizeof(USER_TYPE) + bps - 1) / bps * bps;
        return true;
    }
};

// PDF: the last end-of-file comment of the chunk, else its last trailer
// keyword.
class CPdfScan : public CLengthScan
{
  public:
    CPdfScan() : CLengthScan(LIMIT_1_GIB, false) {}

  protected:
    bool OnChunk(const SCAN_CHUNK& c, uint64_t& result) override
    {
        size_t p = FindLastBytes(c.pData, 0, c.nFileBytes, "%%EOF", 5);
        if (p < c.nFileBytes)
        {
            result = c.u64Offset + p + 5;
            return true;
        }
        p = FindLastBytes(c.pData, 0, c.nFileBytes, "trailer", 7);
        if (p < c.nFileBytes)
        {
            result = c.u64Offset + p + 7;
            return true;
        }
        return false;
    }
};
} // namespace

unsigned long long CFileTypeJudge::GetOFFICE2003FileBytesSizeByFileHead(const unsigned char* head, int len)
{
    if (!head || len < 512)
        return 0;
    const ByteReader r(head, size_t(len));
    const uint16_t shift = r.U16(CFB_SECTOR_SHIFT);
    if (shift != 9 && shift != 12)
        return 0;
    // Sector numbers, FAT entries per sector and DIFAT entries per sector
    // (the last entry links to the next DIFAT sector) of this sector size.
    const size_t sectorSize = size_t(1) << shift;
    const uint32_t entries = uint32_t(sectorSize / 4);
    const uint32_t difatEntries = entries - 1;
    const uint32_t maxSectors = (CFB_MAX_REGULAR_SECTOR >> (shift - 2)) + 1;
    const uint32_t fatCount = r.U32(CFB_FAT_SECTORS);
    const uint32_t difatCount = r.U32(CFB_DIFAT_SECTORS);
    if (fatCount > maxSectors || r.U32(CFB_MINIFAT_SECTORS) > maxSectors ||
        difatCount > maxSectors / difatEntries + 1)
        return 0;
    // The header holds the first 109 FAT sector numbers; DIFAT sectors hold
    // the rest, exactly as many as those need.
    if (difatCount == 0
            ? (fatCount < 1 || fatCount > CFB_HEADER_DIFAT_ENTRIES)
            : (fatCount <= CFB_HEADER_DIFAT_ENTRIES ||
               difatCount != (fatCount - CFB_HEADER_DIFAT_ENTRIES + difatEntries - 1) / difatEntries))
        return 0;

    // Sectors the FATs cover, and the header.
    const uint64_t covered = uint64_t(fatCount) * entries + 1;
    // Past the cap the last FAT sector cannot change the answer.
    if ((covered - entries) * sectorSize >= LIMIT_OFFICE)
        return LIMIT_OFFICE;

    uint32_t lastFat = 0;
    if (difatCount == 0)
        lastFat = r.U32(CFB_HEADER_DIFAT + 4 * (fatCount - 1));
    else
    {
        // The DIFAT chain, bounded by its count; a sector met twice or a
        // failed read means the chain cannot be trusted.
        std::vector<uint32_t> met;
        uint32_t number = r.U32(CFB_FIRST_DIFAT);
        for (uint32_t i = 1;; ++i)
        {
            if (number > CFB_MAX_REGULAR_SECTOR || std::find(met.begin(), met.end(), number) != met.end())
                return 0;
            met.push_back(number);
            if (!ReadCompoundSector(number, sectorSize))
                return 0;
            const ByteReader d(s_state.m_probeBuf, sectorSize);
            if (i == difatCount)
            {
                const uint32_t rem = (fatCount - CFB_HEADER_DIFAT_ENTRIES) % difatEntries;
                lastFat = d.U32(4 * (rem == 0 ? difatEntries - 1 : rem - 1));
                break;
            }
            number = d.U32(4 * difatEntries);
        }
    }

    uint64_t size = covered * sectorSize;
    if (ReadCompoundSector(lastFat, sectorSize))
    {
        // Free entries at the end of the last FAT sector are sectors the file
        // does not have.
        const ByteReader f(s_state.m_probeBuf, sectorSize);
        uint32_t trailing = 0;
        while (trailing < entries && f.U32(4 * (entries - 1 - trailing)) == CFB_FREE)
            ++trailing;
        size = (covered - trailing) * sectorSize;
    }
    return std::min<uint64_t>(size, LIMIT_OFFICE);
}

unsigned long long CFileTypeJudge::GetOFFICE2003FileBytesSize(const unsigned char* head, int len)
{
    const unsigned long long size = GetOFFICE2003FileBytesSizeByFileHead(head, len);
    if (size)
        return size;
    return COffice2003Scan().Run();
}

unsigned long long CFileTypeJudge::GetFLAFileBytesSize(const unsigned char* head, int len)
{
    // Every compound file is typed fla by content, Word, Excel and PowerPoint
    // files included: its own header tells its length best.
    const unsigned long long size = GetOFFICE2003FileBytesSizeByFileHead(head, len);
    if (size)
        return size;
    return GetDefaultAudioFileBytesSize(head, len);
}

unsigned long long CFileTypeJudge::GetOFFICE2007FileBytesSize(const unsigned char*, int)
{
    return ScanToZipEnd(LIMIT_OFFICE);
}

unsigned long long CFileTypeJudge::GetPDFFileBytesSize(const unsigned char*, int)
{
    return CPdfScan().Run();
}

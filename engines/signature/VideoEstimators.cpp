// Length estimators of video containers and streams.
#include "core/ByteReader.h"
#include "engines/signature/CFileTypeJudge.h"
#include "engines/signature/LengthScan.h"

#include <algorithm>

using namespace tessaroo;

namespace
{
// MPEG: an elementary video stream ends with a sequence end code, a program
// stream with a program end code; both stand at the very end of the file.
class CMpgScan : public CLengthScan
{
  public:
    explicit CMpgScan(bool elementary) : CLengthScan(LIMIT_4_GIB, true), m_bElementary(elementary) {}

  protected:
    bool OnChunk(const SCAN_CHUNK& c, uint64_t& result) override
    {
        static const unsigned char SEQUENCE_END[4] = {0, 0, 1, 0xB7}, PROGRAM_END[4] = {0, 0, 1, 0xB9};
        const unsigned char* marker = m_bElementary ? SEQUENCE_END : PROGRAM_END;
        size_t end = 0;
        // The end code belongs to this file when it lies before the next
        // file's start; an end hit is believed only when the chunk has none.
        if (FindAlignedTail(c.pData, c.nFileBytes, marker, 4, end) ||
            (c.bEndHit && FindAlignedTail(c.pData, c.nBytes, marker, 4, end)))
        {
            result = c.u64Offset + end;
            return true;
        }
        return false;
    }

  private:
    bool m_bElementary;
};

// Files whose end leaves a fixed marker: the first one in the file's part
// of the chunk, else (the marker wins over an end hit inside the file) in
// the whole chunk.
size_t FindWinningMarker(const SCAN_CHUNK& c, const void* marker, size_t n)
{
    size_t p = FindBytes(c.pData, 0, c.nFileBytes, marker, n);
    if (p < c.nFileBytes)
        return p;
    if (!c.bEndHit)
        return c.nBytes;
    p = FindBytes(c.pData, 0, c.nBytes, marker, n);
    return p;
}

// MP4 written by some encoders: a free box whose text runs to the file's end.
class CMp4Scan : public CLengthScan
{
  public:
    CMp4Scan() : CLengthScan(LIMIT_4_GIB, false) {}

  protected:
    bool OnChunk(const SCAN_CHUNK& c, uint64_t& result) override
    {
        static const char TEXT[] = "freeIsoMedia File Produced";
        const size_t n = sizeof(TEXT) - 1;
        const size_t p = FindWinningMarker(c, TEXT, n);
        if (p >= c.nBytes)
            return false;
        size_t tail = p + n;
        while (tail < c.nBytes && c.pData[tail] != 0)
            ++tail;
        result = c.u64Offset + tail;
        return true;
    }
};

// RealMedia: the empty index chunk that closes the file.
class CRmvbScan : public CLengthScan
{
  public:
    CRmvbScan() : CLengthScan(LIMIT_4_GIB, false) {}

  protected:
    bool OnChunk(const SCAN_CHUNK& c, uint64_t& result) override
    {
        static const unsigned char LAST_INDEX[20] = {'I', 'N', 'D', 'X', 0, 0, 0, 0x14, 0, 0,
                                                     0,   0,   0,   0,   0, 2, 0, 0,    0, 0};
        const size_t p = FindWinningMarker(c, LAST_INDEX, sizeof(LAST_INDEX));
        if (p >= c.nBytes)
            return false;
        result = c.u64Offset + p + sizeof(LAST_INDEX);
        return true;
    }
};

constexpr size_t TS_PACKET = 188;
constexpr uint8_t TS_SYNC = 0x47;

// MPEG transport stream: the file is as long as its packet grid runs on
// unbroken. The grid length is the offset of the first packet start that
// lacks its sync byte.
class CTsScan : public CLengthScan
{
  public:
    CTsScan(const unsigned char* head, size_t len) : CLengthScan(LIMIT_64_GIB, false)
    {
        for (m_u64Next = 0; m_u64Next < len; m_u64Next += TS_PACKET)
            if (head[m_u64Next] != TS_SYNC)
            {
                m_u64Grid = m_u64Next;
                m_bBroken = true;
                break;
            }
        // The scan reads from the next sector on; a head shorter than a
        // sector leaves a gap the grid cannot be followed across.
        const size_t bps = EstimateSectorSize();
        if (!m_bBroken && len < bps)
        {
            m_u64Grid = m_u64Next = len;
            m_bBroken = true;
        }
    }

  protected:
    bool OnChunk(const SCAN_CHUNK& c, uint64_t& result) override
    {
        if (m_bBroken)
            return false;
        const uint64_t end = c.u64Offset + c.nFileBytes;
        for (; m_u64Next < end; m_u64Next += TS_PACKET)
            if (m_u64Next >= c.u64Offset && c.pData[m_u64Next - c.u64Offset] != TS_SYNC)
            {
                m_u64Grid = m_u64Next;
                m_bBroken = true;
                break;
            }
        // Whatever the scan meets later, the grid length is the result.
        if (m_bBroken && m_u64Grid)
        {
            result = m_u64Grid;
            return true;
        }
        return false;
    }
    uint64_t OnEnd(uint64_t scanned) override
    {
        return m_bBroken && m_u64Grid && m_u64Grid < scanned ? m_u64Grid : scanned;
    }

  private:
    uint64_t m_u64Next = 0;
    uint64_t m_u64Grid = 0;
    bool m_bBroken = false;
};

uint32_t HeadU32(const unsigned char* head, int len, size_t off)
{
    return ByteReader(head, len > 0 ? size_t(len) : 0).U32(off);
}
} // namespace

unsigned long long CFileTypeJudge::GetMPGFileBytesSize(const unsigned char* head, int len)
{
    static const unsigned char SEQUENCE[4] = {0, 0, 1, 0xB3};
    const bool elementary = head && ByteReader(head, len > 0 ? size_t(len) : 0).Matches(0, SEQUENCE, 4);
    return CMpgScan(elementary).Run();
}

unsigned long long CFileTypeJudge::GetMP4FileBytesSize(const unsigned char*, int)
{
    return CMp4Scan().Run();
}

unsigned long long CFileTypeJudge::GetRMVBFileBytesSize(const unsigned char*, int)
{
    return CRmvbScan().Run();
}

unsigned long long CFileTypeJudge::GetDefaultVedioFileBytesSize(const unsigned char*, int)
{
    return CLengthScan(LIMIT_4_GIB, false).Run();
}

unsigned long long CFileTypeJudge::GetMKVFileBytes(const unsigned char*, int)
{
    return CLengthScan(LIMIT_64_GIB, false).Run();
}

unsigned long long CFileTypeJudge::GetTSFileBytesSize(const unsigned char* head, int len)
{
    const size_t bps = EstimateSectorSize();
    const size_t have = head && len > 0 ? std::min(size_t(len), bps) : 0;
    const unsigned long long size = CTsScan(head, have).Run();
    // Packet runs inside this stream are not the starts of new files.
    const unsigned long long first = s_state.m_u64StartSector;
    const unsigned long long sectors = std::max<unsigned long long>(1, (size + bps - 1) / bps);
    AddTsFileRange(first, sectors - 1 > ~0ULL - first ? ~0ULL : first + sectors - 1);
    return size;
}

unsigned long long CFileTypeJudge::GetASFFileBytesSize(const unsigned char* head, int len)
{
    // The file properties object {8CABDCA1-A947-11CF-8EE4-00C00C205365} as
    // stored; its file size sits 40 bytes in, its flags 88 bytes in.
    static const unsigned char FILE_PROPERTIES[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                                      0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
    constexpr size_t SEARCH_FROM = 30, SIZE_AT = 40, FLAGS_AT = 88;
    constexpr uint64_t SIZE_CAP = LIMIT_256_MIB;
    const size_t bps = EstimateSectorSize();
    if (!head || len <= 0)
        return bps;
    const ByteReader r(head, size_t(len));
    const size_t p = FindBytes(head, std::min(SEARCH_FROM, size_t(len)), size_t(len), FILE_PROPERTIES, 16);
    uint64_t size = 0;
    uint8_t flags = 0;
    if (p >= size_t(len) || !r.ReadU64(p + SIZE_AT, size) || !r.ReadU8(p + FLAGS_AT, flags))
        return bps;
    // A broadcast stream's header says nothing of its length.
    if (flags & 1)
        return bps;
    return std::min(size, SIZE_CAP);
}

unsigned long long CFileTypeJudge::GetSWFFileBytesSize(const unsigned char* head, int len)
{
    const size_t bps = EstimateSectorSize();
    // A compressed movie's length field counts its inflated bytes.
    if (!head || len < 8 || head[0] != 'F')
        return bps;
    return std::min<uint64_t>(HeadU32(head, len, 4), LIMIT_256_MIB);
}

unsigned long long CFileTypeJudge::GetAVIFileBytesSize(const unsigned char* head, int len)
{
    if (!head || len < 16)
        return EstimateSectorSize();
    return uint64_t(HeadU32(head, len, 4)) + 8;
}

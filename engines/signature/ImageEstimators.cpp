// Length estimators of picture files. They take any head the image
// recognisers accept: a JPEG whose first segment is any marker after its
// start of image, a BMP with any of the DIB header sizes; neither estimate
// reads the first segment or the DIB header.
#include "core/ByteReader.h"
#include "engines/signature/CFileTypeJudge.h"
#include "engines/signature/LengthScan.h"

#include <algorithm>

using namespace tessaroo;

namespace
{
// JPEG: the end-of-image marker under the sector-aligned rule. An embedded
// thumbnail ends with the same marker, so a chunk's marker is only a
// candidate: the scan runs on to the next file and a later chunk's marker
// replaces it.
class CJpgScan : public CLengthScan
{
  public:
    CJpgScan() : CLengthScan(LIMIT_128_MIB, false) {}

  protected:
    bool OnChunk(const SCAN_CHUNK& c, uint64_t&) override
    {
        unsigned long long off = 0;
        if (CFileTypeJudge::GetJPGFileTailOffset(c.pData, int(c.nFileBytes), off))
            m_u64Candidate = c.u64Offset + off;
        return false;
    }
    uint64_t OnEnd(uint64_t scanned) override
    {
        return m_u64Candidate && m_u64Candidate < scanned ? m_u64Candidate : scanned;
    }

  private:
    uint64_t m_u64Candidate = 0;
};

// PNG and GIF: the first accepted tail marker ends the file at once.
class CTailScan : public CLengthScan
{
  public:
    typedef int (*PFN_TAIL)(const unsigned char*, int, unsigned long long&);
    explicit CTailScan(PFN_TAIL tail) : CLengthScan(LIMIT_128_MIB, false), m_pfnTail(tail) {}

  protected:
    bool OnChunk(const SCAN_CHUNK& c, uint64_t& result) override
    {
        unsigned long long off = 0;
        if (!m_pfnTail(c.pData, int(c.nFileBytes), off))
            return false;
        result = c.u64Offset + off;
        return true;
    }

  private:
    PFN_TAIL m_pfnTail;
};

// The head sector's own tail: a file that ends within its first sector.
bool HeadTail(CTailScan::PFN_TAIL tail, const unsigned char* head, int len, unsigned long long& size)
{
    if (!head || len <= 0)
        return false;
    return tail(head, std::min(len, int(EstimateSectorSize())), size) != 0;
}
} // namespace

unsigned long long CFileTypeJudge::GetJPGFileBytesSize(const unsigned char* head, int len)
{
    unsigned long long size = 0;
    if (HeadTail(&GetJPGFileTailOffset, head, len, size))
        return size;
    return CJpgScan().Run();
}

unsigned long long CFileTypeJudge::GetPNGFileBytesSize(const unsigned char* head, int len)
{
    unsigned long long size = 0;
    if (HeadTail(&GetPNGFileTailOffset, head, len, size))
        return size;
    return CTailScan(&GetPNGFileTailOffset).Run();
}

unsigned long long CFileTypeJudge::GetGIFFileBytesSize(const unsigned char* head, int len)
{
    unsigned long long size = 0;
    if (HeadTail(&GetGIFFileTailOffset, head, len, size))
        return size;
    return CTailScan(&GetGIFFileTailOffset).Run();
}

unsigned long long CFileTypeJudge::GetDefaultPictureFileBytesSize(const unsigned char*, int)
{
    return CLengthScan(LIMIT_128_MIB, false).Run();
}

unsigned long long CFileTypeJudge::GetBMPFileBytesSize(const unsigned char* head, int len)
{
    if (!head || len < 6)
        return 0;
    return std::min<uint64_t>(ByteReader(head, size_t(len)).U32(2), LIMIT_128_MIB);
}

unsigned long long CFileTypeJudge::GetICOFileBytesSize(const unsigned char* head, int len)
{
    // The images follow the directory in its order: the last entry's image
    // ends the file. Entries of 16 bytes from offset 6; size at 8, offset at 12.
    const size_t bps = EstimateSectorSize();
    if (!head || len < 6)
        return bps;
    const size_t count = ByteReader(head, size_t(len)).U16(4);
    if (count == 0)
        return bps;
    const size_t sizeAt = 16 * count - 2, offsetAt = 16 * count + 2;
    ByteReader r(head, size_t(len));
    if (16 * count + 6 > size_t(len))
    {
        // A directory longer than the head sector: read 64 KiB at the head.
        LOOKUP_STATE& st = s_state;
        int got = 0;
        if (!ReadSectorsUpTo(st.m_u64StartSector, int(READ_BUF_SIZE / bps), st.m_pReadBuf,
                             sizeof(st.m_pReadBuf), got))
            return bps;
        r = ByteReader(st.m_pReadBuf, size_t(got) * bps);
    }
    uint32_t size = 0, offset = 0;
    if (!r.ReadU32(sizeAt, size) || !r.ReadU32(offsetAt, offset))
        return bps;
    return uint64_t(offset) + size;
}

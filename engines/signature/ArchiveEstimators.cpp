// Length estimators of archives.
#include "core/ByteReader.h"
#include "engines/signature/CFileTypeJudge.h"
#include "engines/signature/LengthScan.h"

#include <algorithm>

using namespace tessaroo;

namespace
{
// 7z: the encoded header at the end of the archive describes its own LZMA
// coder; from the end of its pack information to the archive's end is 27
// bytes when the header's unpacked size takes two bytes, as it does for
// all but the smallest archives.
class C7zScan : public CLengthScan
{
  public:
    C7zScan() : CLengthScan(LIMIT_4_GIB, false) {}

  protected:
    bool OnChunk(const SCAN_CHUNK& c, uint64_t& result) override
    {
        static const unsigned char CODER[12] = {0x00, 0x07, 0x0B, 0x01, 0x00, 0x01,
                                                0x23, 0x03, 0x01, 0x01, 0x05, 0x5D};
        constexpr size_t TO_END = 27;
        const size_t p = FindLastBytes(c.pData, 0, c.nFileBytes, CODER, sizeof(CODER));
        if (p >= c.nFileBytes)
            return false;
        result = c.u64Offset + p + TO_END;
        return true;
    }
};

// Zip containers: the end-of-central-directory record and its comment
// close the file. The last one in the file's part of the chunk; it wins
// over an end hit (a stored member that starts a sector looks like a new
// file) when that part has none.
class CZipScan : public CLengthScan
{
  public:
    explicit CZipScan(uint64_t limit) : CLengthScan(limit, false) {}

  protected:
    bool OnChunk(const SCAN_CHUNK& c, uint64_t& result) override
    {
        static const unsigned char EOCD[4] = {'P', 'K', 0x05, 0x06};
        constexpr size_t EOCD_SIZE = 22, COMMENT_LENGTH = 20;
        size_t part = c.nFileBytes;
        size_t p = FindLastBytes(c.pData, 0, part, EOCD, 4);
        if (p >= part && c.bEndHit)
        {
            part = c.nBytes;
            p = FindLastBytes(c.pData, 0, part, EOCD, 4);
        }
        if (p >= part)
            return false;
        const uint16_t comment = ByteReader(c.pData, c.nBytes).U16(p + COMMENT_LENGTH);
        result = c.u64Offset + p + EOCD_SIZE + comment;
        return true;
    }
};

// RAR 1.5 to 4.x: the end-of-archive block, under the sector-aligned rule.
class CRarScan : public CLengthScan
{
  public:
    CRarScan() : CLengthScan(LIMIT_4_GIB, false) {}

  protected:
    bool OnChunk(const SCAN_CHUNK& c, uint64_t& result) override
    {
        static const unsigned char END_BLOCK[7] = {0xC4, 0x3D, 0x7B, 0x00, 0x40, 0x07, 0x00};
        size_t end = 0;
        if (!FindAlignedTail(c.pData, c.nFileBytes, END_BLOCK, sizeof(END_BLOCK), end))
            return false;
        result = c.u64Offset + end;
        return true;
    }
};
} // namespace

uint64_t tessaroo::ScanToZipEnd(uint64_t limit)
{
    return CZipScan(limit).Run();
}

unsigned long long CFileTypeJudge::Get7ZFileBytesSize(const unsigned char*, int)
{
    return C7zScan().Run();
}

unsigned long long CFileTypeJudge::GetZIPFileBytesSize(const unsigned char*, int)
{
    return ScanToZipEnd(LIMIT_4_GIB);
}

unsigned long long CFileTypeJudge::GetRARFileBytesSize(const unsigned char*, int)
{
    return CRarScan().Run();
}

unsigned long long CFileTypeJudge::GetCABFileBytesSize(const unsigned char* head, int len)
{
    if (!head || len < 36)
        return EstimateSectorSize();
    return std::min<uint64_t>(ByteReader(head, size_t(len)).U32(8), LIMIT_1_GIB);
}

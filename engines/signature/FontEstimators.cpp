// Length estimators of font files.
#include "core/ByteReader.h"
#include "engines/signature/CFileTypeJudge.h"
#include "engines/signature/LengthScan.h"

#include <algorithm>

using namespace tessaroo;

namespace
{
uint32_t BigEndian32(const ByteReader& r, size_t off, bool& ok)
{
    uint8_t b[4] = {};
    ok = ok && r.ReadBytes(off, b, 4);
    return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
}
} // namespace

unsigned long long CFileTypeJudge::GetTTFFileBytesSize(const unsigned char* head, int len)
{
    // The table directory (16 bytes per table from offset 12: tag, checksum,
    // offset, length, big-endian); the file ends with its furthest table.
    const size_t bps = EstimateSectorSize();
    if (!head || len < 6)
        return bps;
    ByteReader r(head, size_t(len));
    const size_t count = size_t(r.U8(4)) << 8 | r.U8(5);
    if (count == 0)
        return 0;
    if (16 * count + 12 > size_t(len))
    {
        // A directory longer than the head sector: read 64 KiB at the head.
        LOOKUP_STATE& st = s_state;
        int got = 0;
        if (!ReadSectorsUpTo(st.m_u64StartSector, int(READ_BUF_SIZE / bps), st.m_pReadBuf,
                             sizeof(st.m_pReadBuf), got))
            return bps;
        r = ByteReader(st.m_pReadBuf, size_t(got) * bps);
    }
    uint64_t end = 0;
    for (size_t i = 0; i < count; ++i)
    {
        bool ok = true;
        const uint64_t offset = BigEndian32(r, 20 + 16 * i, ok);
        const uint64_t length = BigEndian32(r, 24 + 16 * i, ok);
        if (!ok)
            break; // the directory runs past what was read
        end = std::max(end, offset + length);
    }
    return end ? end : bps;
}

// Recognisers of font files.
#include "core/ByteReader.h"
#include "engines/signature/CFileTypeJudge.h"
#include "engines/signature/FileRecognisers.h"

using namespace tessaroo;

namespace
{
uint16_t BigEndian16(const ByteReader& r, size_t off)
{
    return uint16_t((r.U8(off) << 8) | r.U8(off + 1));
}
} // namespace

EXTEND_NAME_TYPE CFileTypeJudge::IsTtfType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_TTF))
        return EXT_UNKNOWN;
    // TrueType offset table (version 1.0, then four non-zero big-endian
    // words: table count and the binary-search fields), a table directory of
    // 16 bytes per table, and a table that starts with version 1.0 right
    // after the directory.
    static const unsigned char VERSION_1_0[4] = {0x00, 0x01, 0x00, 0x00};
    const ByteReader r(buf, size_t(len));
    if (!r.Matches(0, VERSION_1_0, 4))
        return EXT_UNKNOWN;
    const size_t tables = BigEndian16(r, 4);
    for (size_t off = 4; off <= 10; off += 2)
        if (BigEndian16(r, off) == 0)
            return EXT_UNKNOWN;
    const size_t after = 16 * tables + 12;
    return r.Fits(after, 4) && r.Matches(after, VERSION_1_0, 4) ? EXT_TTF : EXT_UNKNOWN;
}

// Recognisers of picture files.
#include "core/ByteReader.h"
#include "engines/signature/CFileTypeJudge.h"
#include "engines/signature/FileRecognisers.h"

using namespace tessaroo;

namespace
{
bool IsDigit(uint8_t c)
{
    return c >= '0' && c <= '9';
}
} // namespace

EXTEND_NAME_TYPE CFileTypeJudge::IsGifType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_GIF))
        return EXT_UNKNOWN;
    // "GIF87a" / "GIF89a": two digits and a lower-case letter.
    const ByteReader r(buf, size_t(len));
    const uint8_t letter = r.U8(5);
    return r.Matches(0, "GIF", 3) && IsDigit(r.U8(3)) && IsDigit(r.U8(4)) && letter >= 'a' && letter <= 'z'
               ? EXT_GIF
               : EXT_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsBmpType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_BMP))
        return EXT_UNKNOWN;
    // File header with both reserved words 0, then a DIB header of one of the
    // sizes writers use: 12 (OS/2 1.x), 40, 52, 56 (Windows, with colour
    // masks), 64 (OS/2 2.x), 108 (V4) and 124 (V5; ImageMagick, editors).
    const ByteReader r(buf, size_t(len));
    if (!r.Matches(0, "BA", 2) && !r.Matches(0, "BM", 2))
        return EXT_UNKNOWN;
    uint16_t reserved1 = 1, reserved2 = 1;
    uint32_t infoSize = 0;
    if (!r.ReadU16(6, reserved1) || !r.ReadU16(8, reserved2) || !r.ReadU32(14, infoSize))
        return EXT_UNKNOWN;
    if (reserved1 != 0 || reserved2 != 0)
        return EXT_UNKNOWN;
    int64_t width = 0, height = 0;
    uint16_t planes = 0, bitCount = 0;
    uint32_t compression = 0;
    if (infoSize == 12)
    {
        uint16_t w = 0, h = 0;
        if (!r.ReadU16(18, w) || !r.ReadU16(20, h) || !r.ReadU16(22, planes) || !r.ReadU16(24, bitCount))
            return EXT_UNKNOWN;
        width = w;
        height = h;
    }
    else if (infoSize == 40 || infoSize == 52 || infoSize == 56 || infoSize == 64 || infoSize == 108 ||
             infoSize == 124)
    {
        uint32_t w = 0, h = 0;
        if (!r.ReadU32(18, w) || !r.ReadU32(22, h) || !r.ReadU16(26, planes) || !r.ReadU16(28, bitCount) ||
            !r.ReadU32(30, compression))
            return EXT_UNKNOWN;
        width = int32_t(w);
        height = int32_t(h); // negative: rows stored top down
    }
    else
        return EXT_UNKNOWN;
    // A picture has pixels and one plane; the depth is one a bitmap can
    // have (0 only for a JPEG or PNG stream inside, compression 4 or 5).
    constexpr int64_t MAX_SIDE = int64_t(1) << 20;
    if (width <= 0 || width > MAX_SIDE || height == 0 || height > MAX_SIDE || height < -MAX_SIDE ||
        planes != 1)
        return EXT_UNKNOWN;
    switch (bitCount)
    {
    case 0:
        return compression == 4 || compression == 5 ? EXT_BMP : EXT_UNKNOWN;
    case 1:
    case 2:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        return EXT_BMP;
    default:
        return EXT_UNKNOWN;
    }
}

EXTEND_NAME_TYPE CFileTypeJudge::IsJpgType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_JPG))
        return EXT_UNKNOWN;
    // Start of image, then the first segment: a table, an application
    // segment (JFIF, Exif, ICC, Adobe...), a comment or a frame header. The
    // markers D0-D9 carry no length and never come first, so they do not
    // count. The segment's length covers at least itself, and where its end
    // lies in the buffer the next marker starts there.
    const ByteReader r(buf, size_t(len));
    uint8_t soi0 = 0, soi1 = 0, ff = 0, marker = 0, lengthHigh = 0, lengthLow = 0;
    if (!r.ReadU8(0, soi0) || !r.ReadU8(1, soi1) || !r.ReadU8(2, ff) || !r.ReadU8(3, marker) ||
        !r.ReadU8(4, lengthHigh) || !r.ReadU8(5, lengthLow))
        return EXT_UNKNOWN;
    const uint32_t segment = (uint32_t(lengthHigh) << 8) | lengthLow; // big-endian, as all JPEG fields
    if (soi0 != 0xFF || soi1 != 0xD8 || ff != 0xFF || marker < 0xC0 || marker == 0xFF ||
        (marker >= 0xD0 && marker <= 0xD9) || segment < 2)
        return EXT_UNKNOWN;
    uint8_t next = 0;
    if (r.ReadU8(4 + size_t(segment), next) && next != 0xFF)
        return EXT_UNKNOWN;
    return EXT_JPG;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsPngType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_PNG))
        return EXT_UNKNOWN;
    static const unsigned char SIGNATURE[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    return ByteReader(buf, size_t(len)).Matches(0, SIGNATURE, 8) ? EXT_PNG : EXT_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsPsdType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_PSD))
        return EXT_UNKNOWN;
    return ByteReader(buf, size_t(len)).Matches(0, "8BPS", 4) ? EXT_PSD : EXT_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsTifType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_TIF))
        return EXT_UNKNOWN;
    static const unsigned char INTEL[4] = {'I', 'I', 0x2A, 0x00}, MOTOROLA[4] = {'M', 'M', 0x00, 0x2A};
    const ByteReader r(buf, size_t(len));
    return r.Matches(0, INTEL, 4) || r.Matches(0, MOTOROLA, 4) ? EXT_TIF : EXT_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsIcoType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_ICO))
        return EXT_UNKNOWN;
    static const unsigned char ICON[4] = {0x00, 0x00, 0x01, 0x00};
    const ByteReader r(buf, size_t(len));
    if (!r.Matches(0, ICON, 4))
        return EXT_UNKNOWN;
    const uint16_t count = r.U16(4);
    constexpr size_t DIR_START = 6, ENTRY = 16;
    if (count == 0 || !r.Fits(DIR_START, ENTRY * count))
        return EXT_UNKNOWN;
    // The images follow the directory back to back, in directory order: each
    // entry's offset is where the one before it ended. 64-bit sums, so
    // hostile sizes cannot wrap into a match.
    uint64_t expected = DIR_START + ENTRY * count;
    for (size_t i = 0; i < count; ++i)
    {
        const size_t entry = DIR_START + ENTRY * i;
        uint32_t size = 0, offset = 0;
        if (r.U8(entry + 3) != 0 || !r.ReadU32(entry + 8, size) || !r.ReadU32(entry + 12, offset))
            return EXT_UNKNOWN;
        if (offset != expected)
            return EXT_UNKNOWN;
        expected += size;
    }
    return EXT_ICO;
}

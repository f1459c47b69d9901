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
    // File header with both reserved words 0, then a BITMAPINFOHEADER (40 bytes).
    const ByteReader r(buf, size_t(len));
    if (!r.Matches(0, "BA", 2) && !r.Matches(0, "BM", 2))
        return EXT_UNKNOWN;
    uint16_t reserved1 = 1, reserved2 = 1;
    uint32_t infoSize = 0;
    if (!r.ReadU16(6, reserved1) || !r.ReadU16(8, reserved2) || !r.ReadU32(14, infoSize))
        return EXT_UNKNOWN;
    return reserved1 == 0 && reserved2 == 0 && infoSize == 40 ? EXT_BMP : EXT_UNKNOWN;
}

EXTEND_NAME_TYPE CFileTypeJudge::IsJpgType(const unsigned char* buf, int len)
{
    if (RejectsBuffer(buf, len, RECOGNISE_JPG))
        return EXT_UNKNOWN;
    // Start of image directly followed by a JFIF (APP0) or Exif (APP1) segment.
    static const unsigned char APP0[4] = {0xFF, 0xD8, 0xFF, 0xE0}, APP1[4] = {0xFF, 0xD8, 0xFF, 0xE1};
    const ByteReader r(buf, size_t(len));
    if ((r.Matches(0, APP0, 4) && r.Matches(6, "JFIF", 4)) ||
        (r.Matches(0, APP1, 4) && r.Matches(6, "Exif", 4)))
        return EXT_JPG;
    return EXT_UNKNOWN;
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

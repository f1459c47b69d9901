// Hand-built heads at the edges of each recogniser's test, each judged on
// an exact-size copy (the sanitizer build faults on a read past it): the
// bounds and the arithmetic of each test. Plain signatures, and buffers
// shorter than a recogniser's minimum, are left to the real samples.
#include "tests/signature/SignatureTestEnv.h"

#include "core/ByteReader.h"

#include <cstring>

using namespace sigtest;
using tessaroo::PutU16;
using tessaroo::PutU32;

namespace
{
// An icon directory of images back to back, sizes given; skew moves the
// second image's offset.
Bytes Icon(std::vector<uint32_t> sizes, int32_t skew = 0, uint8_t reserved = 0)
{
    Bytes b = Raw({0, 0, 1, 0}, 512);
    PutU16(&b[4], uint16_t(sizes.size()));
    uint32_t at = uint32_t(6 + 16 * sizes.size());
    for (size_t i = 0; i < sizes.size(); ++i)
    {
        uint8_t* e = &b[6 + 16 * i];
        e[0] = e[1] = 16;
        e[3] = reserved;
        PutU32(e + 8, sizes[i]);
        PutU32(e + 12, i == 1 ? uint32_t(int32_t(at) + skew) : at);
        at += sizes[i];
    }
    return b;
}

// A TrueType offset table for n tables (big-endian), the version of the
// first table repeated right after the directory.
Bytes Font(uint16_t n, uint16_t rangeShift, bool versionAfterDirectory = true)
{
    Bytes b = Raw({0, 1, 0, 0, uint8_t(n >> 8), uint8_t(n), 0, 128, 0, 3, uint8_t(rangeShift >> 8),
                   uint8_t(rangeShift)},
                  512);
    const size_t after = 16 * size_t(n) + 12;
    return versionAfterDirectory && after + 4 <= b.size() ? With(b, after, Raw({0, 1, 0, 0})) : b;
}

// A first sector holding the MZ header and a PE header at pe.
Bytes Pe(uint32_t pe, uint16_t characteristics)
{
    Bytes b = Raw({'M', 'Z'}, 512);
    PutU32(&b[60], pe);
    if (size_t(pe) + 24 <= b.size())
    {
        b = With(b, pe, Raw({'P', 'E', 0, 0}));
        PutU16(&b[pe + 22], characteristics);
    }
    return b;
}

Bytes Id3(uint8_t version, uint8_t flags, uint8_t sizeByte, size_t len = 16)
{
    return Slice(Raw({'I', 'D', '3', version, 0, flags, 0, 0, 0, sizeByte}, 16), 0, len);
}

Bytes Gzip(uint8_t method, uint8_t flags, uint8_t extraFlags, uint8_t system)
{
    return Raw({0x1F, 0x8B, method, flags, 0, 0, 0, 0, extraFlags, system}, 16);
}

// A bitmap file header (reserved words 0) and a DIB header of size, with
// the width, height, planes and depth given.
Bytes Bitmap(uint32_t size, int32_t width, int32_t height, uint16_t planes, uint16_t bits,
             uint32_t compression = 0)
{
    Bytes b = Text("BM", 64);
    PutU32(&b[14], size);
    PutU32(&b[18], uint32_t(width));
    PutU32(&b[22], uint32_t(height));
    PutU16(&b[26], planes);
    PutU16(&b[28], bits);
    PutU32(&b[30], compression);
    return b;
}

// SOI, then a first segment of marker and length whose end, when inside the
// 64 bytes, holds next.
Bytes Jpeg(uint8_t marker, uint16_t length, uint8_t next = 0xFF)
{
    Bytes b = Raw({0xFF, 0xD8, 0xFF, marker, uint8_t(length >> 8), uint8_t(length)}, 64);
    if (length >= 2 && size_t(4) + length < b.size())
        b[4 + length] = next;
    return b;
}

TEST_F(JudgeTest, HandBuiltHeadsAtTheEdgesOfEachTest)
{
    using J = CFileTypeJudge;
    const Bytes mid = With(With(Text("MThd", 18), 4, Raw({0, 0, 0, 6})), 14, Text("MTrk"));
    const Bytes pack = Raw({0, 0, 1, 0xBA}, 40), system = Raw({0, 0, 1, 0xBB});
    const struct
    {
        const char* szWhat;
        PFN_RECOGNISE_FILE pfn;
        Bytes buf;
        EXTEND_NAME_TYPE expected;
    } cases[] = {
        {"%PDF- as the whole buffer", J::IsPdfType, Text("%PDF-"), EXT_PDF},
        {"GIF8xa: not a digit", J::IsGifType, Text("GIF8xa", 8), EXT_UNKNOWN},
        {"icon, three images back to back", J::IsIcoType, Icon({1000, 2000, 3000}), EXT_ICO},
        {"icon, second offset one byte late", J::IsIcoType, Icon({1000, 2000}, 1), EXT_UNKNOWN},
        {"icon, no images", J::IsIcoType, Icon({}), EXT_UNKNOWN},
        {"icon, reserved byte set", J::IsIcoType, Icon({1000}, 0, 1), EXT_UNKNOWN},
        {"icon, directory ends at the buffer end", J::IsIcoType,
         Slice(Icon(std::vector<uint32_t>(31, 100)), 0, 502), EXT_ICO},
        // The second offset is where 32-bit arithmetic would put it.
        {"icon, sizes that wrap 32 bits", J::IsIcoType, Icon({0xFFFFFFF0u, 100}), EXT_UNKNOWN},
        {"font, range shift 0", J::IsTtfType, Font(8, 0), EXT_UNKNOWN},
        {"font, no version after the directory", J::IsTtfType, Font(10, 32, false), EXT_UNKNOWN},
        {"font, directory ends 4 bytes before the end", J::IsTtfType, Font(31, 32), EXT_TTF},
        {"object file, not an image", J::IsPeType, Pe(0x80, 0x0100), EXT_UNKNOWN},
        {"PE header at 488", J::IsPeType, Pe(488, 0x0102), EXT_EXE},
        {"PE offset far away", J::IsPeType, Pe(0xFFFFFFF0u, 0x0102), EXT_UNKNOWN},
        {"ID3 version FF", J::IsMp3Type, Id3(0xFF, 0, 0x23), EXT_UNKNOWN},
        {"ID3 undefined flag", J::IsMp3Type, Id3(4, 0x10, 0x23), EXT_UNKNOWN},
        {"ID3 size byte with bit 7", J::IsMp3Type, Id3(4, 0, 0x80), EXT_UNKNOWN},
        {"ID3 header exactly", J::IsMp3Type, Id3(4, 0, 0x23, 10), EXT_MP3},
        {"MIDI header and track", J::IsMidType, mid, EXT_MID},
        {"MIDI header length 7", J::IsMidType, With(mid, 4, Raw({0, 0, 0, 7})), EXT_UNKNOWN},
        {"gzip best, stored name", J::IsGzipType, Gzip(8, 8, 2, 3), EXT_GZIP},
        {"gzip text flag", J::IsGzipType, Gzip(8, 1, 0, 3), EXT_UNKNOWN},
        {"gzip extra field", J::IsGzipType, Gzip(8, 4, 0, 3), EXT_UNKNOWN},
        {"gzip extra flags 1", J::IsGzipType, Gzip(8, 0, 1, 3), EXT_UNKNOWN},
        {"gzip system 14", J::IsGzipType, Gzip(8, 0, 0, 14), EXT_UNKNOWN},
        {"gzip not deflate", J::IsGzipType, Gzip(9, 0, 0, 3), EXT_UNKNOWN},
        {"FWS version 6", J::IsSwfType, Raw({'F', 'W', 'S', 6}, 8), EXT_UNKNOWN},
        {"CWS version 5", J::IsSwfType, Raw({'C', 'W', 'S', 5}, 8), EXT_UNKNOWN},
        {"CWS version 15", J::IsSwfType, Raw({'C', 'W', 'S', 15}, 8), EXT_SWF},
        {"program stream, system header at 28", J::IsMpgType, With(pack, 28, system), EXT_MPG},
        {"program stream of 16 bytes, system header at 12", J::IsMpgType,
         Slice(With(pack, 12, system), 0, 16), EXT_MPG},
        {"sequence header then system header", J::IsMpgType, With(Raw({0, 0, 1, 0xB3}, 32), 12, system),
         EXT_UNKNOWN},
        {"moov first", J::IsMovType, Text("moov", 16), EXT_MOV},
        // The picture starts cameras, editors and converters write: every
        // header size a bitmap has, and a JPEG whose first segment is any
        // table or application segment. The rest of each header tells a
        // start from noise.
        // The 12-byte OS/2 header has 16-bit fields.
        {"bitmap, OS/2 1.x header", J::IsBmpType,
         With(Text("BM", 64), 14, Raw({12, 0, 0, 0, 64, 0, 48, 0, 1, 0, 24})), EXT_BMP},
        {"bitmap, info header with masks", J::IsBmpType, Bitmap(52, 64, 48, 1, 16, 3), EXT_BMP},
        {"bitmap, OS/2 2.x header", J::IsBmpType, Bitmap(64, 64, 48, 1, 8), EXT_BMP},
        {"bitmap, V4 header", J::IsBmpType, Bitmap(108, 64, 48, 1, 32, 3), EXT_BMP},
        {"bitmap, V5 header", J::IsBmpType, Bitmap(124, 64, 48, 1, 24), EXT_BMP},
        {"bitmap holding a PNG stream", J::IsBmpType, Bitmap(124, 64, 48, 1, 0, 5), EXT_BMP},
        {"bitmap of depth 0, uncompressed", J::IsBmpType, Bitmap(124, 64, 48, 1, 0, 0), EXT_UNKNOWN},
        {"bitmap, header size 100", J::IsBmpType, Bitmap(100, 64, 48, 1, 24), EXT_UNKNOWN},
        {"bitmap, reserved word set", J::IsBmpType, With(Bitmap(40, 64, 48, 1, 24), 8, Raw({1})),
         EXT_UNKNOWN},
        {"bitmap of width 0", J::IsBmpType, Bitmap(40, 0, 48, 1, 24), EXT_UNKNOWN},
        {"bitmap of height 0", J::IsBmpType, Bitmap(124, 64, 0, 1, 24), EXT_UNKNOWN},
        {"bitmap of two planes", J::IsBmpType, Bitmap(124, 64, 48, 2, 24), EXT_UNKNOWN},
        {"bitmap of depth 7", J::IsBmpType, Bitmap(124, 64, 48, 1, 7), EXT_UNKNOWN},
        {"quantisation table first", J::IsJpgType, Jpeg(0xDB, 67), EXT_JPG},
        {"Adobe APP14 first", J::IsJpgType, With(Jpeg(0xEE, 14), 6, Text("Adobe")), EXT_JPG},
        {"segment ending at the buffer's last byte", J::IsJpgType, Jpeg(0xDB, 59), EXT_JPG},
        {"segment not followed by a marker", J::IsJpgType, Jpeg(0xDB, 20, 0x00), EXT_UNKNOWN},
        {"segment of length 1", J::IsJpgType, Jpeg(0xE0, 1), EXT_UNKNOWN},
        {"restart marker first", J::IsJpgType, Jpeg(0xD0, 20), EXT_UNKNOWN},
        {"fill byte", J::IsJpgType, Jpeg(0xFF, 20), EXT_UNKNOWN},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.pfn(Exact(c.buf).get(), int(c.buf.size())), c.expected) << c.szWhat;
}

// While an MTS file is measured, a packet with a timestamp is its middle.
TEST_F(JudgeTest, MtsHeadFlagRejectsPacketsWithATimestamp)
{
    const Bytes zeroStamp =
        Raw({0, 0, 0, 0, 0x47, 0x40, 0, 0x10, 0x00, 0x00, 0xB0, 0x11, 0x00, 0x00, 0xC1, 0x00});
    const Bytes stamped = With(zeroStamp, 0, Raw({0x03, 0x2C, 0x2E, 0x48}));
    EXPECT_EQ(CFileTypeJudge::IsMtsType(stamped.data(), 16), EXT_MTS);
    CFileTypeJudge::SetMtsFileHead(1);
    EXPECT_EQ(CFileTypeJudge::IsMtsType(stamped.data(), 16), EXT_UNKNOWN);
    EXPECT_EQ(CFileTypeJudge::IsMtsType(zeroStamp.data(), 16), EXT_MTS);
}
} // namespace

// Hand-built heads at the edges of each recogniser's test, and every
// recogniser on every length of real heads: nothing is read past the
// buffer (the sanitizer build checks each call on an exact-size copy).
#include "tests/signature/SignatureTestEnv.h"

#include "core/ByteReader.h"
#include "engines/signature/ExtendNameTable.h"

#include <cstring>
#include <string>

using namespace sigtest;
using tessaroo::PutU16;
using tessaroo::PutU32;

namespace
{
Bytes Text(const char* s, size_t len = 0)
{
    const size_t n = strlen(s);
    Bytes b(s, s + n);
    if (len > n)
        b.resize(len, 0);
    return b;
}

Bytes Raw(std::initializer_list<uint8_t> bytes, size_t len = 0)
{
    Bytes b(bytes);
    if (len > b.size())
        b.resize(len, 0);
    return b;
}

Bytes With(Bytes b, size_t off, const Bytes& part)
{
    if (b.size() < off + part.size())
        b.resize(off + part.size(), 0);
    std::copy(part.begin(), part.end(), b.begin() + long(off));
    return b;
}

Bytes Cut(Bytes b, size_t len)
{
    b.resize(len);
    return b;
}

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

// A TrueType offset table for n tables; the big-endian fields are written by hand.
Bytes Font(uint16_t n, uint16_t rangeShift, bool versionAfterDirectory = true)
{
    Bytes b = Raw({0, 1, 0, 0}, 512);
    auto be16 = [&](size_t off, uint16_t v)
    {
        b[off] = uint8_t(v >> 8);
        b[off + 1] = uint8_t(v);
    };
    be16(4, n);
    be16(6, 128);
    be16(8, 3);
    be16(10, rangeShift);
    const size_t after = 16 * size_t(n) + 12;
    if (versionAfterDirectory && after + 4 <= b.size())
        b = With(b, after, Raw({0, 1, 0, 0}));
    return b;
}

// A first sector holding the MZ header and a PE header at pe.
Bytes Pe(uint32_t pe, uint16_t characteristics, size_t len = 512)
{
    Bytes b = Raw({'M', 'Z'}, std::max<size_t>(len, 512));
    PutU32(&b[60], pe);
    if (pe <= b.size() - 4)
        b = With(b, pe, Raw({'P', 'E', 0, 0}));
    if (size_t(pe) + 24 <= b.size())
        PutU16(&b[pe + 22], characteristics);
    b.resize(len);
    return b;
}

Bytes Id3(uint8_t version, uint8_t flags, uint8_t sizeByte, size_t len = 16)
{
    Bytes b = Raw({'I', 'D', '3', version, 0, flags, 0, 0, 0, sizeByte}, len);
    b.resize(len);
    return b;
}

Bytes Gzip(uint8_t method, uint8_t flags, uint8_t extraFlags, uint8_t system)
{
    return Raw({0x1F, 0x8B, method, flags, 0, 0, 0, 0, extraFlags, system}, 16);
}

const Bytes MTS_PAT = Raw({0x00, 0x00, 0xB0, 0x11, 0x00, 0x00, 0xC1, 0x00});

struct CornerCase
{
    const char* szWhat;
    PFN_RECOGNISE_FILE pfn;
    Bytes buf;
    EXTEND_NAME_TYPE expected;
};

std::vector<CornerCase> CornerCases()
{
    using J = CFileTypeJudge;
    const Bytes jfif = With(Raw({0xFF, 0xD8, 0xFF, 0xE0, 0, 16}, 16), 6, Text("JFIF"));
    const Bytes mid = With(With(Text("MThd", 18), 4, Raw({0, 0, 0, 6})), 14, Text("MTrk"));
    return {
        {"PDF with hyphen", J::IsPdfType, Text("%PDF-1.7\n"), EXT_PDF},
        {"%PDF without the hyphen", J::IsPdfType, Text("%PDF1.7\n"), EXT_UNKNOWN},
        {"%PDF then a line end", J::IsPdfType, Text("%PDF\n"), EXT_UNKNOWN},
        {"lower-case %pdf-", J::IsPdfType, Text("%pdf-1.4"), EXT_UNKNOWN},
        {"%PDF- as the whole buffer", J::IsPdfType, Text("%PDF-"), EXT_PDF},
        {"GIF89a", J::IsGifType, Text("GIF89a", 8), EXT_GIF},
        {"GIF87a", J::IsGifType, Text("GIF87a", 8), EXT_GIF},
        {"GIF89A: upper-case letter", J::IsGifType, Text("GIF89A", 8), EXT_UNKNOWN},
        {"GIF8xa: not a digit", J::IsGifType, Text("GIF8xa", 8), EXT_UNKNOWN},
        {"GIF89a in 7 bytes", J::IsGifType, Text("GIF89a", 7), EXT_UNKNOWN},
        {"icon, three images back to back", J::IsIcoType, Icon({1000, 2000, 3000}), EXT_ICO},
        {"icon, second offset one byte late", J::IsIcoType, Icon({1000, 2000}, 1), EXT_UNKNOWN},
        {"icon, second offset one byte early", J::IsIcoType, Icon({1000, 2000}, -1), EXT_UNKNOWN},
        {"icon, no images", J::IsIcoType, Icon({}), EXT_UNKNOWN},
        {"icon, reserved byte set", J::IsIcoType, Icon({1000}, 0, 1), EXT_UNKNOWN},
        {"icon, directory longer than the buffer", J::IsIcoType,
         Cut(Icon(std::vector<uint32_t>(31, 100)), 501), EXT_UNKNOWN},
        {"icon, directory ends at the buffer end", J::IsIcoType,
         Cut(Icon(std::vector<uint32_t>(31, 100)), 502), EXT_ICO},
        // The second offset is where 32-bit arithmetic would put it.
        {"icon, sizes that wrap 32 bits", J::IsIcoType, Icon({0xFFFFFFF0u, 100}), EXT_UNKNOWN},
        {"font, 10 tables", J::IsTtfType, Font(10, 32), EXT_TTF},
        {"font, range shift 0", J::IsTtfType, Font(8, 0), EXT_UNKNOWN},
        {"font, no version after the directory", J::IsTtfType, Font(10, 32, false), EXT_UNKNOWN},
        {"font, directory past the buffer", J::IsTtfType, Font(40, 32), EXT_UNKNOWN},
        {"font, directory ends 4 bytes before the end", J::IsTtfType, Cut(Font(31, 32), 512), EXT_TTF},
        {"font, one byte short", J::IsTtfType, Cut(Font(31, 32), 511), EXT_UNKNOWN},
        {"exe", J::IsPeType, Pe(0x80, 0x0102), EXT_EXE},
        {"dll", J::IsPeType, Pe(0x80, 0x2102), EXT_DLL},
        {"system file", J::IsPeType, Pe(0x80, 0x1102), EXT_SYS},
        {"system dll", J::IsPeType, Pe(0x80, 0x3102), EXT_SYS},
        {"object file, not an image", J::IsPeType, Pe(0x80, 0x0100), EXT_UNKNOWN},
        {"PE header at 488", J::IsPeType, Pe(488, 0x0102), EXT_EXE},
        {"PE header at 489", J::IsPeType, Pe(489, 0x0102), EXT_UNKNOWN},
        {"PE offset far away", J::IsPeType, Pe(0xFFFFFFF0u, 0x0102), EXT_UNKNOWN},
        {"PE head of 511 bytes", J::IsPeType, Pe(0x80, 0x0102, 511), EXT_UNKNOWN},
        {"ID3v2.4 header", J::IsMp3Type, Id3(4, 0, 0x23), EXT_MP3},
        {"ID3 version FF", J::IsMp3Type, Id3(0xFF, 0, 0x23), EXT_UNKNOWN},
        {"ID3 undefined flag", J::IsMp3Type, Id3(4, 0x10, 0x23), EXT_UNKNOWN},
        {"ID3 footer flag", J::IsMp3Type, Id3(4, 0x10, 0), EXT_UNKNOWN},
        {"ID3 size byte with bit 7", J::IsMp3Type, Id3(4, 0, 0x80), EXT_UNKNOWN},
        {"ID3 header cut before its size", J::IsMp3Type, Id3(4, 0, 0x23, 9), EXT_UNKNOWN},
        {"ID3 header exactly", J::IsMp3Type, Id3(4, 0, 0x23, 10), EXT_MP3},
        {"MIDI header and track", J::IsMidType, mid, EXT_MID},
        {"MIDI track tag cut", J::IsMidType, Cut(mid, 17), EXT_UNKNOWN},
        {"MIDI header length 7", J::IsMidType, With(mid, 4, Raw({0, 0, 0, 7})), EXT_UNKNOWN},
        {"7z signature", J::Is7zType, Raw({'7', 'z', 0xBC, 0xAF, 0x27}), EXT_7Z},
        {"7z signature cut", J::Is7zType, Raw({'7', 'z', 0xBC, 0xAF}), EXT_UNKNOWN},
        {"ghost image", J::IsGhoType, Raw({0xFE, 0xEF, 0, 0}), EXT_GHO},
        {"ghost signature cut", J::IsGhoType, Raw({0xFE, 0xEF, 0}), EXT_UNKNOWN},
        {"gzip default level", J::IsGzipType, Gzip(8, 0, 0, 3), EXT_GZIP},
        {"gzip best, stored name", J::IsGzipType, Gzip(8, 8, 2, 3), EXT_GZIP},
        {"gzip fastest, unknown system", J::IsGzipType, Gzip(8, 0, 4, 0xFF), EXT_GZIP},
        {"gzip text flag", J::IsGzipType, Gzip(8, 1, 0, 3), EXT_UNKNOWN},
        {"gzip extra field", J::IsGzipType, Gzip(8, 4, 0, 3), EXT_UNKNOWN},
        {"gzip extra flags 1", J::IsGzipType, Gzip(8, 0, 1, 3), EXT_UNKNOWN},
        {"gzip system 14", J::IsGzipType, Gzip(8, 0, 0, 14), EXT_UNKNOWN},
        {"gzip not deflate", J::IsGzipType, Gzip(9, 0, 0, 3), EXT_UNKNOWN},
        {"FWS version 5", J::IsSwfType, Raw({'F', 'W', 'S', 5}, 8), EXT_SWF},
        {"FWS version 6", J::IsSwfType, Raw({'F', 'W', 'S', 6}, 8), EXT_UNKNOWN},
        {"CWS version 5", J::IsSwfType, Raw({'C', 'W', 'S', 5}, 8), EXT_UNKNOWN},
        {"CWS version 15", J::IsSwfType, Raw({'C', 'W', 'S', 15}, 8), EXT_SWF},
        {"CWS version 16", J::IsSwfType, Raw({'C', 'W', 'S', 16}, 8), EXT_UNKNOWN},
        {"bitmap, info header", J::IsBmpType, With(Text("BM", 40), 14, Raw({40})), EXT_BMP},
        {"bitmap array", J::IsBmpType, With(Text("BA", 40), 14, Raw({40})), EXT_BMP},
        {"bitmap, V5 header", J::IsBmpType, With(Text("BM", 40), 14, Raw({124})), EXT_UNKNOWN},
        {"bitmap, reserved word set", J::IsBmpType, With(With(Text("BM", 40), 14, Raw({40})), 8, Raw({1})),
         EXT_UNKNOWN},
        {"JFIF", J::IsJpgType, jfif, EXT_JPG},
        {"Exif", J::IsJpgType, With(Raw({0xFF, 0xD8, 0xFF, 0xE1}, 16), 6, Text("Exif")), EXT_JPG},
        {"APP1 holding JFIF", J::IsJpgType, With(Raw({0xFF, 0xD8, 0xFF, 0xE1}, 16), 6, Text("JFIF")),
         EXT_UNKNOWN},
        {"JPEG without APP0/APP1", J::IsJpgType, Raw({0xFF, 0xD8, 0xFF, 0xDB, 0, 0x43}, 16), EXT_UNKNOWN},
        {"TIFF little-endian", J::IsTifType, Raw({'I', 'I', 0x2A, 0}), EXT_TIF},
        {"TIFF big-endian", J::IsTifType, Raw({'M', 'M', 0, 0x2A}), EXT_TIF},
        {"TIFF mixed order", J::IsTifType, Raw({'I', 'I', 0, 0x2A}), EXT_UNKNOWN},
        {"program stream, system header at 12", J::IsMpgType,
         With(Raw({0, 0, 1, 0xBA}, 32), 12, Raw({0, 0, 1, 0xBB})), EXT_MPG},
        {"program stream, system header at 28", J::IsMpgType,
         With(Raw({0, 0, 1, 0xBA}, 32), 28, Raw({0, 0, 1, 0xBB})), EXT_MPG},
        {"program stream, system header at 29", J::IsMpgType,
         With(Raw({0, 0, 1, 0xBA}, 40), 29, Raw({0, 0, 1, 0xBB})), EXT_UNKNOWN},
        {"program stream of 16 bytes, system header at 12", J::IsMpgType,
         With(Raw({0, 0, 1, 0xBA}, 16), 12, Raw({0, 0, 1, 0xBB})), EXT_MPG},
        {"sequence header then group", J::IsMpgType, With(Raw({0, 0, 1, 0xB3}, 32), 12, Raw({0, 0, 1, 0xB8})),
         EXT_MPG},
        {"sequence header then system header", J::IsMpgType,
         With(Raw({0, 0, 1, 0xB3}, 32), 12, Raw({0, 0, 1, 0xBB})), EXT_UNKNOWN},
        {"ftyp isom", J::IsMp4Type, With(Raw({0, 0, 0, 0x1C}, 32), 4, Text("ftypisom")), EXT_MP4},
        {"ftyp mp41", J::IsMp4Type, With(Raw({0, 0, 0, 0x1C}, 32), 4, Text("ftypmp41")), EXT_UNKNOWN},
        {"ftyp 3gp5", J::Is3pgType, With(Raw({0, 0, 0, 0x1C}, 32), 4, Text("ftyp3gp5")), EXT_3GP},
        {"ftyp 3g2a", J::Is3pgType, With(Raw({0, 0, 0, 0x1C}, 32), 4, Text("ftyp3g2a")), EXT_UNKNOWN},
        {"moov first", J::IsMovType, Text("moov", 16), EXT_MOV},
        {"ftyp qt", J::IsMovType, With(Raw({0, 0, 0, 0x14}, 16), 4, Text("ftypqt  ")), EXT_MOV},
        {"MTS, zero timestamp", J::IsMtsType, With(Raw({0, 0, 0, 0, 0x47, 0x40, 0, 0x10}, 16), 8, MTS_PAT),
         EXT_MTS},
        {"MTS, transport stream id 1", J::IsMtsType,
         With(With(Raw({0, 0, 0, 0, 0x47, 0x40, 0, 0x10}, 16), 8, MTS_PAT), 13, Raw({1})), EXT_UNKNOWN},
        {"MXF open header partition", J::IsMxfType,
         Raw({0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01, 0x0D, 0x01, 0x02, 0x01, 0x01, 0x02, 0x01,
              0x00}),
         EXT_UNKNOWN},
        {"FLV", J::IsFlvType, Raw({'F', 'L', 'V', 1, 5, 0, 0, 0, 9}, 16), EXT_FLV},
        {"FLV header size 10", J::IsFlvType, Raw({'F', 'L', 'V', 1, 5, 0, 0, 0, 10}, 16), EXT_UNKNOWN},
        {"AVI", J::IsAviType, With(With(Text("RIFF", 16), 8, Text("AVI ")), 12, Text("LIST")), EXT_AVI},
        {"AVI with JUNK first", J::IsAviType, With(With(Text("RIFF", 16), 8, Text("AVI ")), 12, Text("JUNK")),
         EXT_UNKNOWN},
        {"WAV", J::IsWavType, With(With(Text("RIFF", 16), 8, Text("WAVE")), 12, Text("fmt ")), EXT_WAV},
        {"WAV without fmt first", J::IsWavType,
         With(With(Text("RIFF", 16), 8, Text("WAVE")), 12, Text("LIST")), EXT_UNKNOWN},
        {"RAR 4", J::IsRarType, Raw({'R', 'a', 'r', '!', 0x1A, 7, 0}), EXT_RAR},
        {"RAR 5", J::IsRarType, Raw({'R', 'a', 'r', '!', 0x1A, 7, 1, 0}), EXT_UNKNOWN},
        {"SQLite 3", J::IsSqlType, Text("SQLite format 3", 16), EXT_DB},
        {"SQLite 2", J::IsSqlType, Text("SQLite format 2", 16), EXT_UNKNOWN},
        {"PST", J::IsPstEmailType, With(Text("!BDN", 16), 8, Text("SM")), EXT_PST},
        {"PST without SM", J::IsPstEmailType, Text("!BDN", 16), EXT_UNKNOWN},
        {"layer II header", J::IsMp2Type, Raw({0xFF, 0xFD, 0xE4, 0x00}), EXT_MP2},
        {"layer II, original bit", J::IsMp2Type, Raw({0xFF, 0xFD, 0xE4, 0x04}), EXT_UNKNOWN},
        {"compound file, 15 bytes", J::IsFlaType, Cut(Raw({0xD0, 0xCF, 0x11, 0xE0}, 16), 15), EXT_UNKNOWN},
        {"zip local header", J::IsZipType, Raw({'P', 'K', 3, 4}, 48), EXT_ZIP},
        {"zip local header in 47 bytes", J::IsZipType, Raw({'P', 'K', 3, 4}, 47), EXT_UNKNOWN},
    };
}

TEST_F(JudgeTest, HandBuiltHeadsAtTheEdgesOfEachTest)
{
    for (const CornerCase& c : CornerCases())
    {
        // An exact-size heap copy: the sanitizer build faults on any read past it.
        std::unique_ptr<uint8_t[]> copy(new uint8_t[c.buf.size()]);
        memcpy(copy.get(), c.buf.data(), c.buf.size());
        EXPECT_EQ(c.pfn(copy.get(), int(c.buf.size())), c.expected) << c.szWhat;
    }
}

TEST_F(JudgeTest, MtsHeadFlagRejectsPacketsWithATimestamp)
{
    const Bytes zeroStamp = With(Raw({0, 0, 0, 0, 0x47, 0x40, 0, 0x10}, 16), 8, MTS_PAT);
    const Bytes stamped = With(Raw({0x03, 0x2C, 0x2E, 0x48, 0x47, 0x40, 0, 0x10}, 16), 8, MTS_PAT);
    EXPECT_EQ(CFileTypeJudge::IsMtsType(stamped.data(), 16), EXT_MTS);
    CFileTypeJudge::SetMtsFileHead(1);
    EXPECT_EQ(CFileTypeJudge::IsMtsType(stamped.data(), 16), EXT_UNKNOWN);
    EXPECT_EQ(CFileTypeJudge::IsMtsType(zeroStamp.data(), 16), EXT_MTS);
    CFileTypeJudge::SetMtsFileHead(0);
    EXPECT_EQ(CFileTypeJudge::IsMtsType(stamped.data(), 16), EXT_MTS);
}

// Every recogniser, on every length of every real head from 0 to 600 bytes,
// each on an exact-size copy: shorter than its minimum is never recognised,
// and no length makes it read past the buffer. The content lookup's fast
// path answers as the table order does at every length.
TEST_F(JudgeTest, EveryRecogniserStaysInsideEveryLength)
{
    const char* const heads[] = {
        "mpeg1_program.mpg", "isom.mp4",     "realmedia.rm",  "windows_media.wmv", "compressed.swf",
        "mpeg4.avi",         "sorenson.flv", "h263.3gp",      "mpeg4.mkv",         "mpeg2.ts",
        "avchd.mts",         "mpeg2.mxf",    "quicktime.mov", "id3v2.mp3",         "track.mid",
        "monkey.ape",        "pcm.wav",      "layer2.mp2",    "yamaha.mmf",        "gif89a.gif",
        "bitmap.bmp",        "jfif.jpg",     "picture.png",   "picture.psd",       "intel.tif",
        "icon.ico",          "word.doc",     "word.docx",     "document.pdf",      "best.gz",
        "empty.7z",          "photos.zip",   "archive.rar",   "cabinet.cab",       "backup.gho",
        "library.dll",       "sqlite.db",    "mail.dbx",      "mail.pst",          "font.ttf"};
    std::vector<const tessaroo::FILE_RECOGNISER*> recognisers;
    for (size_t i = 0; i < EXTEND_NAME_ROW_COUNT; ++i)
        if (std::find(recognisers.begin(), recognisers.end(), szExtendNameAndType[i].pRecogniser) ==
            recognisers.end())
            recognisers.push_back(szExtendNameAndType[i].pRecogniser);

    for (const char* name : heads)
    {
        const Bytes file = Sample(name);
        ASSERT_FALSE(file.empty()) << name;
        ImageDevice dev(Layout(1 + (file.size() + 511) / 512 + 64, {{1, file}}));
        CFileTypeJudge judge(&dev.Reader());
        judge.BeginLookup(512, 1);
        for (size_t len = 0; len <= 600; ++len)
        {
            const Bytes head = Slice(file, 0, len);
            std::unique_ptr<uint8_t[]> copy(new uint8_t[len ? len : 1]);
            if (len)
                memcpy(copy.get(), head.data(), len);
            for (const tessaroo::FILE_RECOGNISER* r : recognisers)
            {
                const EXTEND_NAME_TYPE t = r->pfnRecognise(copy.get(), int(len));
                if (int(len) < r->nMinLen)
                {
                    EXPECT_EQ(t, EXT_UNKNOWN) << r->szName << " on " << len << " bytes of " << name;
                }
            }
            EXPECT_EQ(CFileTypeJudge::GetDataBufType(copy.get(), int(len)),
                      CFileTypeJudge::GetDataBufTypeByTableOrder(copy.get(), int(len)))
                << len << " bytes of " << name;
        }
    }
    for (const tessaroo::FILE_RECOGNISER* r : recognisers)
        EXPECT_EQ(r->pfnRecognise(nullptr, 4096), EXT_UNKNOWN) << r->szName;
}
} // namespace

// The recognisers that read following sectors from the device: transport
// streams (packet grid, continuation from the sector before, ranges already
// carved), compound files and Office Open XML zips, including reads that
// would pass the end of the device.
#include "tests/signature/SignatureTestEnv.h"

#include "core/ByteReader.h"

#include <climits>
#include <cstring>

using namespace sigtest;
using tessaroo::PutU16;
using tessaroo::PutU32;

namespace
{
// ---- transport streams ----------------------------------------------------

// packets × 188 bytes, each starting 47 40 11 10, payload bytes never 47.
Bytes TsStream(size_t packets)
{
    Bytes b(packets * 188, 0xAA);
    for (size_t i = 0; i < packets; ++i)
    {
        b[i * 188] = 0x47;
        b[i * 188 + 1] = 0x40;
        b[i * 188 + 2] = 0x11;
        b[i * 188 + 3] = 0x10;
    }
    return b;
}

struct TsCase
{
    const char* szWhat;
    int nBytesPerSector = 512;
    size_t streamSector = 10;
    size_t imageSectors = 64;
    std::vector<size_t> previousSyncAt;  // 47s put into the sector before the stream
    std::vector<_TS_FILE_RANGE_> ranges; // transport streams already carved
    int bRangeCheck = 1;
    int nBreakPacket = -1;    // a packet whose sync byte is cleared
    bool bZeroHeader = false; // bytes 1-3 of the first packet cleared
    size_t nBufLen = 0;       // 0: one sector
    EXTEND_NAME_TYPE expected = EXT_TS;
};

std::vector<TsCase> TsCases()
{
    std::vector<TsCase> v;
    auto add = [&](const char* what, auto edit)
    {
        TsCase c;
        c.szWhat = what;
        edit(c);
        v.push_back(c);
    };
    add("clean start after a free sector", [](TsCase&) {});
    add("sector before ends with a whole packet (47 at 324)",
        [](TsCase& c)
        {
            c.previousSyncAt = {324};
            c.expected = EXT_UNKNOWN;
        });
    add("sector before holds a packet start at 136",
        [](TsCase& c)
        {
            c.previousSyncAt = {136};
            c.expected = EXT_UNKNOWN;
        });
    add("47 at 324 with the range test off",
        [](TsCase& c)
        {
            c.previousSyncAt = {324};
            c.bRangeCheck = 0;
        });
    add("47s of the sector before off the packet grid",
        [](TsCase& c) { c.previousSyncAt = {0, 135, 137, 323, 325, 511}; });
    add("start inside a carved stream",
        [](TsCase& c)
        {
            c.ranges = {{5, 20}};
            c.expected = EXT_UNKNOWN;
        });
    add("start is the first sector of a carved stream",
        [](TsCase& c)
        {
            c.ranges = {{10, 10}};
            c.expected = EXT_UNKNOWN;
        });
    add("carved streams just before and just after", [](TsCase& c) { c.ranges = {{0, 9}, {11, 40}}; });
    add("carved stream ignored with the range test off",
        [](TsCase& c)
        {
            c.ranges = {{5, 20}};
            c.bRangeCheck = 0;
        });
    add("stream at sector 0: no sector before",
        [](TsCase& c)
        {
            c.streamSector = 0;
            c.expected = EXT_UNKNOWN;
        });
    add("stream at sector 0, range test off",
        [](TsCase& c)
        {
            c.streamSector = 0;
            c.bRangeCheck = 0;
        });
    add("grid broken at packet 21 of the 4 KiB block",
        [](TsCase& c)
        {
            c.nBreakPacket = 21;
            c.expected = EXT_UNKNOWN;
        });
    add("grid broken at packet 22, past the 4 KiB block", [](TsCase& c) { c.nBreakPacket = 22; });
    add("grid broken in the judged sector",
        [](TsCase& c)
        {
            c.nBreakPacket = 2;
            c.expected = EXT_UNKNOWN;
        });
    add("4 KiB block runs past the device end",
        [](TsCase& c)
        {
            c.imageSectors = 17;
            c.expected = EXT_UNKNOWN;
        });
    add("4 KiB block ends at the device end", [](TsCase& c) { c.imageSectors = 18; });
    add("null packet header",
        [](TsCase& c)
        {
            c.bZeroHeader = true;
            c.expected = EXT_UNKNOWN;
        });
    add("buffer of exactly two packets", [](TsCase& c) { c.nBufLen = 376; });
    add("buffer of 187 bytes",
        [](TsCase& c)
        {
            c.nBufLen = 187;
            c.expected = EXT_UNKNOWN;
        });
    add("1 KiB sectors, 47 at 1024 - 3 x 188",
        [](TsCase& c)
        {
            c.nBytesPerSector = 1024;
            c.streamSector = 5;
            c.previousSyncAt = {460};
            c.expected = EXT_UNKNOWN;
        });
    add("1 KiB sectors, 47 at 1024 - 5 x 188",
        [](TsCase& c)
        {
            c.nBytesPerSector = 1024;
            c.streamSector = 5;
            c.previousSyncAt = {84};
            c.expected = EXT_UNKNOWN;
        });
    add("1 KiB sectors, clean start",
        [](TsCase& c)
        {
            c.nBytesPerSector = 1024;
            c.streamSector = 5;
        });
    add("4 KiB sectors, 47 at 4096 - 21 x 188",
        [](TsCase& c)
        {
            c.nBytesPerSector = 4096;
            c.streamSector = 2;
            c.imageSectors = 16;
            c.previousSyncAt = {148};
            c.expected = EXT_UNKNOWN;
        });
    add("4 KiB sectors, clean start",
        [](TsCase& c)
        {
            c.nBytesPerSector = 4096;
            c.streamSector = 2;
            c.imageSectors = 16;
        });
    add("sector size the judge does not read with",
        [](TsCase& c)
        {
            c.nBytesPerSector = 520;
            c.expected = EXT_UNKNOWN;
        });
    return v;
}

void PrintTo(const TsCase& c, std::ostream* os)
{
    *os << c.szWhat;
}

class TsRecognition : public JudgeTest, public ::testing::WithParamInterface<TsCase>
{
};

TEST_P(TsRecognition, ContinuationAndRangeTests)
{
    const TsCase& c = GetParam();
    const int bps = c.nBytesPerSector;
    Bytes stream = TsStream(200);
    if (c.nBreakPacket >= 0)
        stream[size_t(c.nBreakPacket) * 188] = 0x00;
    if (c.bZeroHeader)
        stream[1] = stream[2] = stream[3] = 0;
    Bytes previous(size_t(bps), 0);
    for (size_t at : c.previousSyncAt)
        previous[at] = 0x47;
    std::vector<std::pair<size_t, Bytes>> pieces = {{c.streamSector, stream}};
    if (c.streamSector > 0)
        pieces.push_back({c.streamSector - 1, previous});
    Bytes img = Layout(c.imageSectors, pieces, bps);
    img.resize(c.imageSectors * size_t(bps));
    ImageDevice dev(img, bps);
    ASSERT_TRUE(dev.Ok());

    for (const _TS_FILE_RANGE_& r : c.ranges)
        CFileTypeJudge::AddTsFileRange(r.u64FirstSector, r.u64LastSector);
    CFileTypeJudge::SetNeedCheckTsFileRange(c.bRangeCheck);
    CFileTypeJudge judge(&dev.Reader());
    judge.BeginLookup(bps, c.streamSector);
    const size_t len = c.nBufLen ? c.nBufLen : size_t(bps);
    const Bytes head = Slice(img, c.streamSector * size_t(bps), len);
    std::unique_ptr<uint8_t[]> exact(new uint8_t[len]);
    memcpy(exact.get(), head.data(), len);

    EXPECT_EQ(CFileTypeJudge::IsTsType(exact.get(), int(len)), c.expected);
    EXPECT_EQ(CFileTypeJudge::GetDataBufType(exact.get(), int(len)), c.expected);
    // Matching by extension never applies the continuation and range tests,
    // and leaves them off.
    const bool gridHolds = c.nBreakPacket != 21 && c.nBreakPacket != 2 && !c.bZeroHeader &&
                           c.imageSectors != 17 && len >= 188 && bps != 520;
    EXPECT_EQ(judge.IsFileTypeMatching(exact.get(), int(len), "ts", bps, c.streamSector), gridHolds ? 1 : 0);
    EXPECT_EQ(CFileTypeJudge::s_state.m_bIsNeedCheckTsFileRange, 0);
}

std::string TsCaseName(const ::testing::TestParamInfo<TsCase>& param)
{
    return "case" + std::to_string(param.index);
}

INSTANTIATE_TEST_SUITE_P(Packets, TsRecognition, ::testing::ValuesIn(TsCases()), TsCaseName);

// ---- compound files ----------------------------------------------------------

Bytes CompoundHeader(uint32_t firstDirSector)
{
    Bytes h = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    h.resize(512, 0);
    PutU16(&h[30], 9);
    PutU32(&h[48], firstDirSector);
    return h;
}

// A directory sector whose second entry carries the UTF-16LE name.
Bytes DirectorySector(const char* name)
{
    Bytes d(512, 0);
    const char* root = "Root Entry";
    for (size_t i = 0; root[i]; ++i)
        d[2 * i] = uint8_t(root[i]);
    for (size_t i = 0; name[i]; ++i)
        d[128 + 2 * i] = uint8_t(name[i]);
    return d;
}

struct CompoundCase
{
    const char* szWhat;
    const char* szDirName;
    EXTEND_NAME_TYPE expected;
};

TEST_F(JudgeTest, CompoundFileKindFromStreamNames)
{
    const CompoundCase cases[] = {
        {"WordDocument", "WordDocument", EXT_DOC},
        {"worddocument in lower case", "worddocument", EXT_DOC},
        {"Workbook", "Workbook", EXT_XLS},
        {"WORKBOOK", "WORKBOOK", EXT_XLS},
        {"Wordbook", "Wordbook", EXT_XLS},
        {"PowerPoint Document", "PowerPoint Document", EXT_PPT},
        {"Book (Excel 5) is not looked for", "Book", EXT_OLE},
        {"name longer than a known one", "WordDocumentX", EXT_DOC},
        {"PowerPoint alone", "PowerPoint", EXT_OLE},
        {"Contents", "Contents", EXT_OLE},
    };
    for (const CompoundCase& c : cases)
    {
        // Header at 1, a free stream sector at 2, the directory at 1 + 1 + 3.
        ImageDevice dev(Layout(16, {{1, CompoundHeader(3)}, {5, DirectorySector(c.szDirName)}}));
        CFileTypeJudge judge(&dev.Reader());
        judge.BeginLookup(512, 1);
        const Bytes head = CompoundHeader(3);
        EXPECT_EQ(CFileTypeJudge::IsOffice2003Type(head.data(), 512), c.expected) << c.szWhat;
        EXPECT_EQ(CFileTypeJudge::GetDataBufType(head.data(), 512), EXT_FLA) << c.szWhat;
    }
}

TEST_F(JudgeTest, CompoundFileReadsThatFailGiveOle)
{
    const Bytes head = CompoundHeader(3);
    {
        // The header is the last sector of the device: there is no next sector.
        ImageDevice dev(Layout(2, {{1, head}}));
        CFileTypeJudge judge(&dev.Reader());
        judge.BeginLookup(512, 1);
        EXPECT_EQ(CFileTypeJudge::IsOffice2003Type(head.data(), 512), EXT_OLE);
        EXPECT_EQ(judge.IsFileTypeMatching(head.data(), 512, "doc", 512, 1), 0);
        EXPECT_EQ(judge.IsFileTypeMatching(head.data(), 512, "ole", 512, 1), 1);
    }
    {
        // A directory sector number far past the device end.
        const Bytes far = CompoundHeader(0xFFFFFFF0u);
        ImageDevice dev(Layout(16, {{1, far}}));
        CFileTypeJudge judge(&dev.Reader());
        judge.BeginLookup(512, 1);
        EXPECT_EQ(CFileTypeJudge::IsOffice2003Type(far.data(), 512), EXT_OLE);
        // Sector numbers at the top of the range do not wrap round to the start.
        judge.BeginLookup(512, ULLONG_MAX - 1);
        EXPECT_EQ(CFileTypeJudge::IsOffice2003Type(far.data(), 512), EXT_OLE);
        judge.BeginLookup(512, ULLONG_MAX);
        EXPECT_EQ(CFileTypeJudge::IsOffice2003Type(far.data(), 512), EXT_OLE);
    }
    {
        // A head too short to hold the directory sector number.
        ImageDevice dev(Layout(16, {{1, head}, {5, DirectorySector("WordDocument")}}));
        CFileTypeJudge judge(&dev.Reader());
        judge.BeginLookup(512, 1);
        std::unique_ptr<uint8_t[]> shortHead(new uint8_t[16]);
        memcpy(shortHead.get(), head.data(), 16);
        EXPECT_EQ(CFileTypeJudge::IsOffice2003Type(shortHead.get(), 16), EXT_OLE);
        EXPECT_EQ(CFileTypeJudge::IsOffice2003Type(head.data(), 512), EXT_DOC);
    }
    {
        // No device at all.
        CFileTypeJudge judge;
        judge.BeginLookup(512, 1);
        EXPECT_EQ(CFileTypeJudge::IsOffice2003Type(head.data(), 512), EXT_OLE);
    }
}

// ---- Office Open XML zips -------------------------------------------------------

Bytes LocalHeader(const std::string& name, uint16_t nameLen = 0xFFFF)
{
    Bytes h = {'P', 'K', 3, 4};
    h.resize(30, 0);
    PutU16(&h[26], nameLen == 0xFFFF ? uint16_t(name.size()) : nameLen);
    h.insert(h.end(), name.begin(), name.end());
    return h;
}

Bytes CentralHeader(const std::string& name)
{
    Bytes h = {'P', 'K', 1, 2};
    h.resize(46, 0);
    PutU16(&h[28], uint16_t(name.size()));
    h.insert(h.end(), name.begin(), name.end());
    return h;
}

Bytes EndOfCentralDirectory()
{
    Bytes h = {'P', 'K', 5, 6};
    h.resize(22, 0);
    return h;
}

// Pieces at byte offsets of a zip of sectors × 512 bytes of filler.
Bytes Zip(size_t sectors, const std::vector<std::pair<size_t, Bytes>>& at)
{
    Bytes z(sectors * 512, 0x11);
    for (const auto& p : at)
        std::copy(p.second.begin(), p.second.end(), z.begin() + long(p.first));
    return z;
}

struct ZipCase
{
    const char* szWhat;
    Bytes zip;
    size_t deviceSectors; // the zip starts at sector 1
    EXTEND_NAME_TYPE expected2007;
    EXTEND_NAME_TYPE expectedContent;
};

std::vector<ZipCase> ZipCases()
{
    const Bytes types = LocalHeader("[Content_Types].xml");
    return {
        {"word part in the second local header",
         Zip(4, {{0, types}, {200, LocalHeader("word/document.xml")}}), 64, EXT_DOCX, EXT_DOCX},
        {"only the central directory names the part",
         Zip(8, {{0, LocalHeader("media/image1.png")}, {3000, CentralHeader("ppt/presentation.xml")}}), 64,
         EXT_PPTX, EXT_PPTX},
        {"local header cut by the window edge",
         Zip(8, {{0, LocalHeader("mimetype")}, {2046, LocalHeader("xl/workbook.xml")}}), 64, EXT_XLSX,
         EXT_XLSX},
        {"central header cut by the window edge",
         Zip(8, {{0, LocalHeader("mimetype")}, {2047, CentralHeader("word/document.xml")}}), 64, EXT_DOCX,
         EXT_DOCX},
        {"headers after the end record are not looked at",
         Zip(4, {{0, types}, {100, EndOfCentralDirectory()}, {200, LocalHeader("word/document.xml")}}), 64,
         EXT_UNKNOWN, EXT_ZIP},
        {"name running past its window",
         Zip(8, {{0, types}, {2020, LocalHeader("word/document.xml/and/more")}}), 64, EXT_UNKNOWN, EXT_ZIP},
        {"name length past the window", Zip(4, {{0, LocalHeader("word/document.xml", 0xF000)}}), 64,
         EXT_UNKNOWN, EXT_ZIP},
        {"empty name", Zip(4, {{0, LocalHeader("", 0)}, {100, LocalHeader("docProps/app.xml")}}), 64,
         EXT_UNKNOWN, EXT_ZIP},
        {"part named in the 20th sector",
         Zip(24, {{0, types}, {19 * 512 + 8, LocalHeader("word/document.xml")}}), 64, EXT_DOCX, EXT_DOCX},
        {"part named in the 21st sector",
         Zip(24, {{0, types}, {20 * 512 + 8, LocalHeader("word/document.xml")}}), 64, EXT_UNKNOWN, EXT_ZIP},
        {"first window runs past the device end",
         Zip(2, {{0, types}, {200, LocalHeader("word/document.xml")}}), 3, EXT_UNKNOWN, EXT_ZIP},
        {"first window ends at the device end", Zip(4, {{0, types}, {200, LocalHeader("word/document.xml")}}),
         5, EXT_DOCX, EXT_DOCX},
        {"second window past the device end, part in the first",
         Zip(4, {{0, types}, {1500, LocalHeader("xl/styles.xml")}}), 6, EXT_XLSX, EXT_XLSX},
        {"content types named at 31 without a zip header",
         Zip(4, {{31, Bytes({'[', 'C', 'o', 'n', 't', 'e', 'n', 't', '_', 'T', 'y', 'p', 'e', 's', ']', '.',
                             'x', 'm', 'l'})},
                 {600, LocalHeader("word/document.xml")}}),
         64, EXT_DOCX, EXT_DOCX},
    };
}

TEST_F(JudgeTest, OfficeOpenXmlPartNames)
{
    for (const ZipCase& c : ZipCases())
    {
        Bytes img = Layout(c.deviceSectors, {{1, c.zip}});
        img.resize(c.deviceSectors * 512);
        ImageDevice dev(img);
        CFileTypeJudge judge(&dev.Reader());
        judge.BeginLookup(512, 1);
        const Bytes head = Slice(c.zip, 0, 512);
        EXPECT_EQ(CFileTypeJudge::IsOffice2007Type(head.data(), 512), c.expected2007) << c.szWhat;
        EXPECT_EQ(CFileTypeJudge::GetDataBufType(head.data(), 512), c.expectedContent) << c.szWhat;
    }
}

TEST_F(JudgeTest, OfficeOpenXmlWithLargeSectors)
{
    const Bytes docx = Sample("word.docx");
    ASSERT_FALSE(docx.empty());
    ImageDevice dev(Layout(8, {{1, docx}}, 4096), 4096);
    CFileTypeJudge judge(&dev.Reader());
    judge.BeginLookup(4096, 1);
    const Bytes head = Slice(docx, 0, 4096);
    EXPECT_EQ(CFileTypeJudge::GetDataBufType(head.data(), 4096), EXT_DOCX);
    // The same zip as the device's last sectors: the first window cannot be read.
    ImageDevice tail(Layout(4, {{3, docx}}, 4096), 4096);
    judge.SetDiskReader(&tail.Reader());
    judge.BeginLookup(4096, 3);
    EXPECT_EQ(CFileTypeJudge::GetDataBufType(head.data(), 4096), EXT_ZIP);
    EXPECT_EQ(judge.IsFileTypeMatching(head.data(), 4096, "docx", 4096, 3), 0);
    EXPECT_EQ(judge.IsFileTypeMatching(head.data(), 4096, "zip", 4096, 3), 1);
    // Window sectors at the top of the range do not wrap round to sector 0.
    judge.BeginLookup(4096, ULLONG_MAX - 2);
    EXPECT_EQ(CFileTypeJudge::IsOffice2007Type(head.data(), 4096), EXT_UNKNOWN);
}

// The reader a lookup uses is the one installed last; a judge constructed
// without one reads nothing.
TEST_F(JudgeTest, EachJudgeInstallsItsOwnReader)
{
    const Bytes docx = Sample("word.docx");
    ImageDevice dev(Layout(16, {{1, docx}}));
    const Bytes head = Slice(docx, 0, 512);
    CFileTypeJudge withDevice(&dev.Reader()), withoutDevice;
    withDevice.BeginLookup(512, 1);
    EXPECT_EQ(CFileTypeJudge::GetDataBufType(head.data(), 512), EXT_DOCX);
    withoutDevice.BeginLookup(512, 1);
    EXPECT_EQ(CFileTypeJudge::s_state.m_pDiskReader, nullptr);
    EXPECT_EQ(CFileTypeJudge::GetDataBufType(head.data(), 512), EXT_ZIP);
    EXPECT_EQ(withoutDevice.IsFileTypeMatching(head.data(), 512, "docx", &dev.Reader(), 512, 1), 1);
    EXPECT_EQ(CFileTypeJudge::s_state.m_pDiskReader, &dev.Reader());
}
} // namespace

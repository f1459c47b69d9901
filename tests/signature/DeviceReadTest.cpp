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

// A stream of 200 packets at sector 10 of 64 (by default), after a sector
// that may hold sync bytes.
struct TsCase
{
    explicit TsCase(const char* what) : szWhat(what) {}
    TsCase& Sectors(int bps, size_t at, size_t total) { return nBps = bps, nAt = at, nTotal = total, *this; }
    TsCase& Before(std::vector<size_t> at) { return previousSyncAt = at, *this; }
    TsCase& Carved(std::vector<_TS_FILE_RANGE_> r) { return ranges = r, *this; }
    TsCase& NoRangeCheck() { return bRangeCheck = 0, *this; }
    TsCase& Clear(std::vector<size_t> at) { return cleared = at, *this; }
    TsCase& Len(size_t len) { return nLen = len, *this; }
    TsCase& Unknown() { return expected = EXT_UNKNOWN, *this; }
    TsCase& GridBroken() { return bGridHolds = false, Unknown(); }

    const char* szWhat;
    int nBps = 512;
    size_t nAt = 10, nTotal = 64;
    std::vector<size_t> previousSyncAt;
    std::vector<_TS_FILE_RANGE_> ranges;
    int bRangeCheck = 1;
    std::vector<size_t> cleared; // stream bytes set to 0
    size_t nLen = 0;             // 0: one sector
    EXTEND_NAME_TYPE expected = EXT_TS;
    bool bGridHolds = true; // what matching by extension answers
};

TEST_F(JudgeTest, TransportStreamContinuationAndRangeTests)
{
    const TsCase cases[] = {
        TsCase("clean start after a free sector"),
        TsCase("sector before ends with a whole packet (47 at 324)").Before({324}).Unknown(),
        TsCase("47 at 324 with the range test off").Before({324}).NoRangeCheck(),
        TsCase("47s of the sector before off the packet grid").Before({0, 135, 137, 323, 325, 511}),
        TsCase("start inside a carved stream").Carved({{5, 20}}).Unknown(),
        TsCase("start is the first sector of a carved stream").Carved({{10, 10}}).Unknown(),
        TsCase("carved streams just before and just after").Carved({{0, 9}, {11, 40}}),
        TsCase("stream at sector 0: no sector before").Sectors(512, 0, 64).Unknown(),
        TsCase("stream at sector 0, range test off").Sectors(512, 0, 64).NoRangeCheck(),
        TsCase("grid broken at packet 21 of the 4 KiB block").Clear({21 * 188}).GridBroken(),
        TsCase("grid broken in the judged sector").Clear({2 * 188}).GridBroken(),
        TsCase("4 KiB block runs past the device end").Sectors(512, 10, 17).GridBroken(),
        TsCase("null packet header").Clear({1, 2, 3}).GridBroken(),
        TsCase("buffer of exactly two packets").Len(376),
        TsCase("1 KiB sectors, 47 at 1024 - 3 x 188").Sectors(1024, 5, 64).Before({460}).Unknown(),
        TsCase("4 KiB sectors, 47 at 4096 - 21 x 188").Sectors(4096, 2, 16).Before({148}).Unknown(),
        TsCase("4 KiB sectors, clean start").Sectors(4096, 2, 16),
        TsCase("sector size the judge does not read with").Sectors(520, 10, 64).GridBroken(),
    };
    for (const TsCase& c : cases)
    {
        SCOPED_TRACE(c.szWhat);
        Reset();
        const size_t bps = size_t(c.nBps);
        Bytes stream = TsPackets(200);
        for (size_t at : c.cleared)
            stream[at] = 0;
        Bytes img = Layout(c.nTotal, {{c.nAt, stream}}, c.nBps);
        for (size_t at : c.previousSyncAt)
            img[(c.nAt - 1) * bps + at] = 0x47;
        img.resize(c.nTotal * bps);
        JudgeOnDevice on(img, c.nAt, c.nBps);
        for (const _TS_FILE_RANGE_& r : c.ranges)
            CFileTypeJudge::AddTsFileRange(r.u64FirstSector, r.u64LastSector);
        CFileTypeJudge::SetNeedCheckTsFileRange(c.bRangeCheck);
        const size_t len = c.nLen ? c.nLen : bps;
        const auto head = Exact(Slice(stream, 0, len));
        EXPECT_EQ(CFileTypeJudge::IsTsType(head.get(), int(len)), c.expected);
        EXPECT_EQ(CFileTypeJudge::GetDataBufType(head.get(), int(len)), c.expected);
        // Matching by extension never applies the continuation and range
        // tests, and leaves them off.
        EXPECT_EQ(on.judge.IsFileTypeMatching(head.get(), int(len), "ts", c.nBps, c.nAt),
                  c.bGridHolds ? 1 : 0);
        EXPECT_EQ(CFileTypeJudge::s_state.m_bIsNeedCheckTsFileRange, 0);
    }
}

// ---- compound files ----------------------------------------------------------

// A directory sector whose second entry carries the UTF-16LE name.
Bytes DirectorySector(const char* name)
{
    Bytes d(512, 0);
    for (size_t i = 0; "Root Entry"[i]; ++i)
        d[2 * i] = uint8_t("Root Entry"[i]);
    for (size_t i = 0; name[i]; ++i)
        d[128 + 2 * i] = uint8_t(name[i]);
    return d;
}

// The stream names decide, ignoring case, by prefix; Excel 5's "Book" and
// a bare "PowerPoint" are not looked for. Reads that fail give a plain
// compound file.
TEST_F(JudgeTest, CompoundFileKindFromStreamNamesAndFailedReads)
{
    const std::pair<const char*, EXTEND_NAME_TYPE> cases[] = {
        {"WordDocument", EXT_DOC}, {"worddocument", EXT_DOC}, {"WordDocumentX", EXT_DOC},
        {"Workbook", EXT_XLS},     {"Wordbook", EXT_XLS},     {"PowerPoint Document", EXT_PPT},
        {"Book", EXT_OLE},         {"PowerPoint", EXT_OLE},
    };
    const Bytes head = CompoundHead(0);
    for (const auto& c : cases)
    {
        // Header at 1, a free stream sector at 2, the directory at 1 + 1 + 3.
        JudgeOnDevice on(Layout(16, {{1, head}, {5, DirectorySector(c.first)}}), 1);
        EXPECT_EQ(CFileTypeJudge::IsOffice2003Type(head.data(), 512), c.second) << c.first;
        EXPECT_EQ(CFileTypeJudge::GetDataBufType(head.data(), 512), EXT_FLA) << c.first;
        // A head too short to hold the directory sector number.
        EXPECT_EQ(CFileTypeJudge::IsOffice2003Type(Exact(Slice(head, 0, 16)).get(), 16), EXT_OLE) << c.first;
    }
    {
        // The header is the last sector of the device: there is no next sector.
        JudgeOnDevice on(Layout(2, {{1, head}}), 1);
        EXPECT_EQ(CFileTypeJudge::IsOffice2003Type(head.data(), 512), EXT_OLE);
        EXPECT_EQ(on.judge.IsFileTypeMatching(head.data(), 512, "doc", 512, 1), 0);
        EXPECT_EQ(on.judge.IsFileTypeMatching(head.data(), 512, "ole", 512, 1), 1);
    }
    // A directory sector number far past the device end, and sector numbers
    // at the top of the range: nothing wraps round to sector 0, which holds
    // a Word stream's first bytes.
    const Bytes far = CompoundHead(0, {}, 0, 0xFFFFFFFE, 9, 0xFFFFFFF0u);
    JudgeOnDevice on(Layout(16, {{0, Raw({0xEC, 0xA5})}, {1, far}}), 1);
    for (unsigned long long sector : {1ull, ULLONG_MAX - 1, ULLONG_MAX})
    {
        on.judge.BeginLookup(512, sector);
        EXPECT_EQ(CFileTypeJudge::IsOffice2003Type(far.data(), 512), EXT_OLE) << sector;
    }
    // No device at all.
    CFileTypeJudge().BeginLookup(512, 1);
    EXPECT_EQ(CFileTypeJudge::IsOffice2003Type(head.data(), 512), EXT_OLE);
}

// ---- Office Open XML zips -------------------------------------------------------

// A zip's local header ("PK\3\4", name length at 26, name at 30) naming
// name, or claiming nameLen bytes; kind 1: the central header ("PK\1\2",
// 28 and 46).
Bytes Local(const std::string& name, int nameLen = -1, uint8_t kind = 3)
{
    Bytes h = Raw({'P', 'K', kind, uint8_t(kind + 1)}, kind == 3 ? 30 : 46);
    PutU16(&h[kind == 3 ? 26 : 28], uint16_t(nameLen < 0 ? name.size() : size_t(nameLen)));
    return With(h, h.size(), Bytes(name.begin(), name.end()));
}
Bytes Central(const std::string& name)
{
    return Local(name, -1, 1);
}

// Pieces at byte offsets of a zip of sectors x 512 bytes of filler.
Bytes Zip(size_t sectors, const std::vector<std::pair<size_t, Bytes>>& at)
{
    return With(Bytes(sectors * 512, 0x11), at);
}

TEST_F(JudgeTest, OfficeOpenXmlPartNames)
{
    const Bytes types = Local("[Content_Types].xml"), word = Local("word/document.xml");
    const Bytes end = {'P', 'K', 5, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const struct
    {
        const char* szWhat;
        Bytes zip;
        size_t deviceSectors; // the zip starts at sector 1
        EXTEND_NAME_TYPE expected2007;
    } cases[] = {
        {"word part in the second local header", Zip(4, {{0, types}, {200, word}}), 64, EXT_DOCX},
        {"only the central directory names the part",
         Zip(8, {{0, Local("media/image1.png")}, {3000, Central("ppt/presentation.xml")}}), 64, EXT_PPTX},
        {"local header cut by the window edge",
         Zip(8, {{0, Local("mimetype")}, {2046, Local("xl/workbook.xml")}}), 64, EXT_XLSX},
        {"central header cut by the window edge",
         Zip(8, {{0, Local("mimetype")}, {2047, Central("word/document.xml")}}), 64, EXT_DOCX},
        {"headers after the end record are not looked at", Zip(4, {{0, types}, {100, end}, {200, word}}), 64,
         EXT_UNKNOWN},
        {"name running past its window", Zip(8, {{0, types}, {2020, Local("word/document.xml/and/more")}}),
         64, EXT_UNKNOWN},
        {"name length past the window", Zip(4, {{0, Local("word/document.xml", 0xF000)}}), 64, EXT_UNKNOWN},
        {"empty name", Zip(4, {{0, Local("", 0)}, {100, Local("docProps/app.xml")}}), 64, EXT_UNKNOWN},
        {"part named in the 20th sector", Zip(24, {{0, types}, {19 * 512 + 8, word}}), 64, EXT_DOCX},
        {"first window runs past the device end", Zip(2, {{0, types}, {200, word}}), 3, EXT_UNKNOWN},
        {"second window past the device end, part in the first",
         Zip(4, {{0, types}, {1500, Local("xl/styles.xml")}}), 6, EXT_XLSX},
        {"content types named at 31 without a zip header",
         Zip(4, {{31, Bytes(types.begin() + 30, types.end())}, {600, word}}), 64, EXT_DOCX},
    };
    for (const auto& c : cases)
    {
        Bytes img = Layout(c.deviceSectors, {{1, c.zip}});
        img.resize(c.deviceSectors * 512);
        JudgeOnDevice on(img, 1);
        const Bytes head = Slice(c.zip, 0, 512);
        EXPECT_EQ(CFileTypeJudge::IsOffice2007Type(head.data(), 512), c.expected2007) << c.szWhat;
        // Undecided, a zip is typed as a zip.
        EXPECT_EQ(CFileTypeJudge::GetDataBufType(head.data(), 512),
                  c.expected2007 == EXT_UNKNOWN ? EXT_ZIP : c.expected2007)
            << c.szWhat;
    }
}

// The reader a lookup uses is the one installed last.
TEST_F(JudgeTest, OfficeOpenXmlWithLargeSectors)
{
    const Bytes docx = Sample("word.docx");
    ASSERT_FALSE(docx.empty());
    JudgeOnDevice on(Layout(8, {{1, docx}}, 4096), 1, 4096);
    const Bytes head = Slice(docx, 0, 4096);
    EXPECT_EQ(CFileTypeJudge::GetDataBufType(head.data(), 4096), EXT_DOCX);
    // The same zip as the device's last sectors: the first window cannot be read.
    JudgeOnDevice tail(Layout(4, {{3, docx}}, 4096), 3, 4096);
    EXPECT_EQ(CFileTypeJudge::GetDataBufType(head.data(), 4096), EXT_ZIP);
    EXPECT_EQ(tail.judge.IsFileTypeMatching(head.data(), 4096, "docx", 4096, 3), 0);
    EXPECT_EQ(tail.judge.IsFileTypeMatching(head.data(), 4096, "zip", 4096, 3), 1);
    // Window sectors past the end of the device, at the top of the range too,
    // are failed reads.
    on.judge.BeginLookup(4096, ULLONG_MAX - 2);
    EXPECT_EQ(CFileTypeJudge::IsOffice2007Type(head.data(), 4096), EXT_UNKNOWN);
    // A judge constructed without a reader reads nothing, unless given one.
    CFileTypeJudge withoutDevice;
    withoutDevice.BeginLookup(4096, 1);
    EXPECT_EQ(CFileTypeJudge::GetDataBufType(head.data(), 4096), EXT_ZIP);
    EXPECT_EQ(withoutDevice.IsFileTypeMatching(head.data(), 4096, "docx", &on.dev.Reader(), 4096, 1), 1);
}

} // namespace

// Hand-built corners of the length estimates: tails in the head sector,
// header fields that claim too much, the transport-stream grid and its
// recorded range, the MIDI track walk, compound-file DIFAT chains that fail
// or loop, adjacent archives, and progress reports and stops during an
// estimate.
#include "tests/signature/SignatureTestEnv.h"

#include "core/ByteReader.h"
#include "core/Status.h"
#include "engines/signature/LengthScan.h"

#include <tuple>

using namespace sigtest;
using tessaroo::PutU32;

namespace
{
const Bytes JFIF = JfifHead();
const Bytes PNG_HEAD = Raw({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, 512);

struct Estimate
{
    int status = -1;
    EXTEND_NAME_TYPE type = EXT_UNKNOWN;
    unsigned long long length = 0;
};

// The signature lookup at sector of an image device holding img.
Estimate EstimateAt(ImageDevice& dev, const Bytes& img, uint64_t sector, Reports* reports = nullptr,
                    unsigned long long scanned = 0, unsigned long long total = 1000000)
{
    CFileTypeJudge judge(&dev.Reader());
    judge.InitCallBack(reports ? &Reports::OnScan : nullptr, nullptr, reports, 100);
    Estimate e;
    char name[64] = {0};
    e.status = judge.ParseFileBuf(&img[sector * 512], 512, sector, scanned, total, -1, 0, &dev.Reader(), 512,
                                  name, sizeof(name), e.type, e.length);
    judge.InitCallBack(nullptr, nullptr, nullptr, 0);
    return e;
}

Bytes Be32(uint32_t v)
{
    return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

struct Case
{
    const char* what;
    std::vector<std::pair<size_t, Bytes>> pieces; // sector, bytes; the file starts at sector 1
    size_t sectors;
    unsigned long long expected;
};

TEST_F(JudgeTest, LengthRulesOnHandBuiltFiles)
{
    Bytes jpgTailInHead = With(JFIF, 300, {0xFF, 0xD9});
    Bytes jpgTailNotAlone = With(jpgTailInHead, 400, {0x01});
    Bytes fws = Text("FWS\x05", 512);
    PutU32(&fws[4], 0x20000000);
    // MIDI: two tracks with a chunk of another type between them; 0x2000
    // bytes in all.
    const Bytes midi = With(Text("MThd"), {{4, Be32(6)},
                                           {8, {0, 1, 0, 2, 0, 96}},
                                           {14, Text("MTrk")},
                                           {18, Be32(0x1000 - 22)},
                                           {0x1000, Text("XFIH")},
                                           {0x1004, Be32(0x100 - 8)},
                                           {0x1100, Text("MTrk")},
                                           {0x1104, Be32(0x2000 - 0x1108)}});
    const Bytes midiHuge = With(midi, 18, Be32(0xFFFFFFF0));
    // Two zips in one chunk, each end record with a comment.
    const Bytes zipHead = Raw({'P', 'K', 3, 4, 20, 0, 0, 0, 0, 0}, 512);
    const Bytes eocdComment = With(Raw({'P', 'K', 5, 6}, 22), {{20, {7, 0}}, {22, Text("comment")}});
    // MPEG program stream ending with its end code at a sector's end.
    Bytes pack = Raw({0, 0, 1, 0xBA, 0x44, 0, 4, 0, 4, 1, 1, 0x89, 0xC3, 0xF8, 0, 0, 1, 0xBB}, 512);
    Bytes mpgEnd = With(Bytes(508, 0xAA), 508, {0, 0, 1, 0xB9});

    const Case cases[] = {
        {"JPEG tail in the head sector, zeros after", {{1, jpgTailInHead}, {2, jpgTailInHead}}, 8, 302},
        {"JPEG tail in the head followed by data: the later tail",
         {{1, jpgTailNotAlone}, {2, With(Bytes(512, 0x11), 100, Raw({0xFF, 0xD9}, 412))}, {5, PNG_HEAD}},
         8,
         512 + 102},
        {"JPEG tail under no rule: the estimate runs to the next file",
         {{1, JFIF}, {2, With(Bytes(512, 0x11), 100, {0xFF, 0xD9})}, {5, PNG_HEAD}},
         8,
         4 * 512},
        {"PNG tail ending at a sector edge",
         {{1, PNG_HEAD}, {3, With(Bytes(504, 0x11), 504, Text("IEND\xAE\x42\x60\x82"))}},
         8,
         3 * 512},
        {"Flash movie length capped at 256 MiB", {{1, fws}}, 8, 0x10000000},
        {"MIDI walk over an alien chunk", {{1, midi}, {40, PNG_HEAD}}, 64, 0x2000},
        {"MIDI track longer than the file: to the next file", {{1, midiHuge}, {40, PNG_HEAD}}, 64, 39 * 512},
        {"zip followed by a zip in the same chunk: its own end",
         {{1, zipHead}, {2, eocdComment}, {4, zipHead}, {5, eocdComment}},
         16,
         512 + 29},
        {"MPEG end code at a sector's end", {{1, pack}, {2, Bytes(512, 0xAA)}, {3, mpgEnd}}, 8, 3 * 512},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.what);
        Reset();
        const Bytes img = Layout(c.sectors, c.pieces);
        ImageDevice dev(img);
        Reports reports;
        const Estimate e = EstimateAt(dev, img, 1, &reports);
        EXPECT_EQ(0, e.status);
        EXPECT_EQ(c.expected, e.length);
        if (c.expected == 302)
        {
            EXPECT_TRUE(reports.scans.empty()) << "no sector after the head was read";
        }
    }
}

// A stream whose grid breaks in its third chunk is as long as its grid,
// though more packets and the next file come later; its sectors are
// recorded, so a packet run inside it is no new file.
TEST_F(JudgeTest, TransportStreamGridBreakIsItsLengthAndItsRangeIsRecorded)
{
    const size_t breakAt = 800; // 800 x 188 lies in the third chunk
    Bytes ts = TsPackets(1200);
    ts[breakAt * 188] = 0;
    const Bytes img = Layout(1000, {{20, ts}, {20 + 600, PNG_HEAD}});
    ImageDevice dev(img);
    const Estimate e = EstimateAt(dev, img, 20);
    ASSERT_EQ(0, e.status);
    EXPECT_EQ(EXT_TS, e.type);
    EXPECT_EQ(breakAt * 188, e.length);
    ASSERT_EQ(1u, CFileTypeJudge::s_state.m_tsFileRangeVec.size());
    EXPECT_EQ(20u, CFileTypeJudge::s_state.m_tsFileRangeVec[0].u64FirstSector);
    EXPECT_EQ(20u + (breakAt * 188 + 511) / 512 - 1,
              CFileTypeJudge::s_state.m_tsFileRangeVec[0].u64LastSector);
    // Its first sector is no new stream now.
    EXPECT_EQ(87, EstimateAt(dev, img, 20).status);
}

// ---- compound files ------------------------------------------------------

// A FAT sector whose first used entries are followed by free ones.
Bytes FatSector(size_t used, size_t entries = 128)
{
    Bytes f(entries * 4, 0xFF);
    for (size_t i = 0; i < used; ++i)
        PutU32(&f[4 * i], 0xFFFFFFFE);
    return f;
}

Bytes DifatSector(std::vector<uint32_t> entries, uint32_t next)
{
    Bytes d(512, 0xFF);
    for (size_t i = 0; i < entries.size(); ++i)
        PutU32(&d[4 * i], entries[i]);
    PutU32(&d[508], next);
    return d;
}

TEST_F(JudgeTest, CompoundFileLengthFromItsHeaderAndDifatChain)
{
    // Layouts put the file at sector 1; compound sector n is device sector 2 + n.
    // With DIFAT: 109 FAT sectors (number 6) in the header, the rest named
    // by DIFAT sector 5.
    const std::vector<uint32_t> full(109, 6);
    constexpr uint32_t END = 0xFFFFFFFE;
    const struct
    {
        const char* what;
        Bytes head;
        std::vector<std::pair<size_t, Bytes>> sectors;
        unsigned long long expected;
    } cases[] = {
        {"FAT sector 3, 10 entries used", CompoundHead(1), {{2 + 3, FatSector(10)}}, 11 * 512},
        {"FAT sector unreadable: all it covers", CompoundHead(1, {3000}), {}, 129 * 512},
        {"no FAT sector", CompoundHead(0), {{2 + 3, FatSector(10)}}, 0},
        {"more FAT sectors than the header holds, no DIFAT", CompoundHead(110), {{2 + 3, FatSector(10)}}, 0},
        {"DIFAT sector naming the last FAT sector",
         CompoundHead(110, full, 1, 5),
         {{2 + 5, DifatSector({7}, END)}, {2 + 7, FatSector(100)}},
         (109 * 128 + 100 + 1) * 512ull},
        {"DIFAT count unlike the FAT count", CompoundHead(110, full, 2, 5), {{7, DifatSector({7}, END)}}, 0},
        // 300 FAT sectors need 2 DIFAT sectors; the first links to itself.
        {"DIFAT chain looping on itself", CompoundHead(300, full, 2, 5), {{2 + 5, DifatSector({7}, 5)}}, 0},
        {"DIFAT sector beyond the device", CompoundHead(110, full, 1, 5000), {}, 0},
        // One FAT sector of 1024 entries.
        {"4096-byte sectors", CompoundHead(1, {0}, 0, END, 12), {{1 + 8, FatSector(6, 1024)}}, 7 * 4096},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        Reset();
        JudgeOnDevice on(With(Layout(64, c.sectors), 512, c.head), 1);
        EXPECT_EQ(c.expected, CFileTypeJudge::GetOFFICE2003FileBytesSizeByFileHead(c.head.data(), 512));
    }
}

// ---- progress and stops ------------------------------------------------------

// A JPEG with no tail before the device's end: the estimate reads all of
// it, reporting each chunk; any non-zero answer to a report stops it.
TEST_F(JudgeTest, EstimateProgressStaysWithinTheTotalAndAnyAnswerStopsIt)
{
    const Bytes img = Layout(1 + 3 * 128 + 10, {{1, JFIF}});
    ImageDevice dev(img);
    Reports reports;
    // The sweep is near its end: what the estimate reads ahead passes the total.
    const Estimate e = EstimateAt(dev, img, 1, &reports, 90, 100);
    ASSERT_EQ(0, e.status);
    EXPECT_EQ((img.size() / 512 - 1) * 512, e.length);
    ASSERT_EQ(4u, reports.scans.size());
    for (const Reports::Scan& s : reports.scans)
        EXPECT_EQ(std::make_tuple(true, 100ull, 100, true),
                  std::make_tuple(s.current <= s.total, s.total, s.scale,
                                  s.percent * s.scale < tessaroo::SCAN_COMPLETE_LOW));
    // With no total the figures are still sane.
    Reports none;
    EXPECT_EQ(0, EstimateAt(dev, img, 1, &none, 0, 0).status);
    ASSERT_FALSE(none.scans.empty());
    for (const Reports::Scan& s : none.scans)
        EXPECT_EQ(0u, s.current);
    for (int answer : {1, -9527, 87})
    {
        SCOPED_TRACE(answer);
        Reports stop;
        stop.nStopAtScan = 1;
        stop.nStopAnswer = answer;
        const Estimate stopped = EstimateAt(dev, img, 1, &stop);
        EXPECT_EQ(answer == 87 ? tessaroo::STATUS_CANCEL : answer, stopped.status);
        EXPECT_EQ(2u, stop.scans.size()) << "no read after the stop";
        EXPECT_EQ(512u + 65536, stopped.length);
    }
}
} // namespace

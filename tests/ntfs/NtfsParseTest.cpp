// The NTFS record primitives on hand-built bytes: run lists and their
// placement on the volume, the update-sequence fix-up for every sector size, and attribute walks that
// must stay inside their record.
#include "core/ByteReader.h"
#include "engines/ntfs/CNtfsParse.h"
#include "engines/ntfs/NtfsLayout.h"
#include "tests/ntfs/NtfsTestUtil.h"

#include <gtest/gtest.h>

using namespace tessaroo;
using namespace tessaroo::test;

// Run lists as the format writes them and as damage leaves them, decoded
// and placed on a volume of 65,536 clusters.
TEST(NtfsRunList, DecodesAndPlacesRunsAndClipsThem)
{
    const uint64_t SPARSE = ~0ull;
    const struct
    {
        const char* what;
        std::vector<uint8_t> bytes;
        std::vector<std::pair<uint64_t, uint64_t>> extents; // (cluster, count)
    } cases[] = {
        {"one run", {0x21, 0x18, 0x34, 0x56, 0}, {{0x5634, 0x18}}},
        {"offset -1", {0x21, 0x18, 0x34, 0x56, 0x21, 0x01, 0xFF, 0xFF, 0}, {{0x5634, 0x18}, {0x5633, 1}}},
        {"offset -32768",
         {0x31, 0x01, 0x00, 0x90, 0x00, 0x21, 0x02, 0x00, 0x80, 0},
         {{0x9000, 1}, {0x1000, 2}}},
        {"offset +32767", {0x21, 0x02, 0xFF, 0x7F, 0}, {{32767, 2}}},
        {"5-byte length keeps its low 4 bytes", {0x15, 0x04, 0, 0, 0, 0xAA, 0x10, 0}, {{0x10, 4}}},
        {"sparse run",
         {0x11, 0x04, 0x20, 0x01, 0x08, 0x11, 0x02, 0x05, 0},
         {{0x20, 4}, {SPARSE, 8}, {0x25, 2}}},
        {"length nibble above 7", {0x11, 0x04, 0x20, 0x18, 1, 2, 3, 4, 5, 6, 7, 8, 9}, {{0x20, 4}}},
        {"offset nibble above 7", {0x11, 0x04, 0x20, 0x81, 1, 1, 2, 3, 4, 5, 6, 7, 8}, {{0x20, 4}}},
        {"no length bytes", {0x10, 0x05, 0}, {}},
        {"header 0 ends", {0x00, 0x11, 0x04, 0x20}, {}},
        {"a run cut by the attribute's end", {0x11, 0x04, 0x20, 0x44, 1, 2}, {{0x20, 4}}},
        {"backwards", EncodeRuns({{4, 100}, {2, -60}, {3, 10}}), {{100, 4}, {40, 2}, {50, 3}}},
        {"a hole keeps the start",
         EncodeRuns({{4, 100}, {8, 0, true}, {2, 5}}),
         {{100, 4}, {SPARSE, 8}, {105, 2}}},
        {"crossing the end is cut", EncodeRuns({{4, 100}, {50, 65400}}), {{100, 4}, {65500, 36}}},
        {"starting past the end ends", EncodeRuns({{4, 100}, {2, 70000}, {2, -69990}}), {{100, 4}}},
        {"starting before 0 ends", EncodeRuns({{4, 100}, {2, -200}, {2, 300}}), {{100, 4}}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        const std::vector<uint8_t> a = NonResidentAttr(0x80, c.bytes, 0);
        std::vector<__RUNLIST__> runs;
        CNtfsParse::GetRunList(a.data(), a.size(), runs);
        std::vector<NtfsExtent> extents;
        CNtfsParse::PlaceRuns(runs, 65536, extents);
        std::vector<std::pair<uint64_t, uint64_t>> got;
        for (const NtfsExtent& e : extents)
            got.push_back({e.bSparse ? SPARSE : e.u64Cluster, e.u64Count});
        EXPECT_EQ(got, c.extents);
    }
}

// The update sequence protects each 512 bytes of a record whatever the
// sector size: a 4096-byte record has eight tails, the word for each one
// in the array from 0x32.
TEST(NtfsFixUp, RepairsEveryBlockOfTheRecord)
{
    for (int bps : {512, 1024, 2048, 4096})
    {
        CNtfsParse parser;
        ASSERT_EQ(parser.Init(bps), 0);
        const uint32_t rb = bps == 512 ? 1024 : uint32_t(bps);
        const TestRecord r{1, 0, {ResidentAttr(0x80, TestText("fixup", rb - 0x100))}};
        const std::vector<uint8_t> plain = BuildRecord(20, r, rb, false);
        std::vector<uint8_t> rec = BuildRecord(20, r, rb);
        EXPECT_NE(rec, plain);
        // A buffer shorter than the record is refused.
        EXPECT_EQ(parser.FileRecordFixUp(rec.data(), rb - 1), -1);
        EXPECT_EQ(parser.FileRecordFixUp(rec.data(), rec.size()), 0);
        EXPECT_EQ(rec, plain) << bps << "-byte sectors";
        EXPECT_EQ(parser.GetFixupCount(), int(rb / 512));
    }
    CNtfsParse parser;
    std::vector<uint8_t> zero(1024, 0);
    zero[0x32] = 0x55;
    EXPECT_EQ(parser.FileRecordFixUp(zero.data(), zero.size()), -1);
    EXPECT_EQ(zero[510], 0);
    EXPECT_NE(parser.Init(8192), 0);
}

// Walks end at the record's end, at a damaged length and at an end marker;
// fields that do not fit their attribute are not read.
TEST(NtfsAttributes, WalksStayInsideTheRecord)
{
    const uint32_t rb = 1024;
    auto walk = [&](TestRecord r)
    {
        std::vector<uint8_t> rec = BuildRecord(30, r, rb);
        NtfsRecordHeader h;
        EXPECT_TRUE(ParseNtfsRecordHeader(rec.data(), rec.size(), h));
        CNtfsParse parser;
        parser.FileRecordFixUp(rec.data(), rec.size());
        std::vector<uint32_t> types;
        CNtfsAttributeWalker w(rec.data(), rec.size(), h);
        NtfsAttribute a;
        while (w.Next(a))
        {
            EXPECT_LE(a.offset + a.length, rec.size());
            EXPECT_LE(a.valueOffset + a.valueLength, a.length);
            types.push_back(a.type);
        }
        return types;
    };
    const std::vector<uint8_t> fn = FileNameAttr(5, u"name.txt"), data = ResidentAttr(0x80, {1, 2, 3});
    // An attribute with a field changed (at, to).
    const auto bad = [&](size_t at, uint32_t to)
    {
        std::vector<uint8_t> a = data;
        PutU32(&a[at], to);
        return a;
    };
    // Bytes in use cut the walk: the data attribute after them is not this
    // record's (on disk it may be stale bytes of an earlier record); more
    // than the record is bounded by it.
    TestRecord cut{1, 0, {fn, data}}, over = cut;
    cut.bytesInUse = uint32_t(0x38 + fn.size() + 8);
    over.bytesInUse = 0xFFFFFFFF;
    const std::pair<TestRecord, std::vector<uint32_t>> cases[] = {
        {{1, 0, {fn, data}}, {0x30, 0x80}},
        {{1, 0, {fn, bad(4, 0xFFFFFFF0), fn}}, {0x30}},  // a huge length
        {{1, 0, {fn, bad(4, 0), fn}}, {0x30}},           // no length
        {{1, 0, {fn, bad(0x10, 0x1000)}}, {0x30, 0x80}}, // a value past the attribute: walked, not read
        {cut, {0x30}},
        {over, {0x30, 0x80}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(walk(c.first), c.second);
}

TEST(NtfsAttributes, ListEntriesStopAtAShortEntry)
{
    std::vector<uint8_t> list = Concat({ListEntry(0x10, 40), ListEntry(0x80, 41), ListEntry(0x80, 42, 10)});
    EXPECT_EQ(ParseNtfsAttributeList(list.data(), list.size()).size(), 3u);
    PutU16(&list[0x20 + 4], 0x19); // the second entry claims 25 bytes
    const std::vector<NtfsListEntry> got = ParseNtfsAttributeList(list.data(), list.size());
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].record, 40u);
    EXPECT_TRUE(ParseNtfsAttributeList(list.data(), 0x19).empty());
}

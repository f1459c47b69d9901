// The deep NTFS engine on devices built record by record, for what no
// formatter writes: MFTs in pieces whose "$MFT" record is named in another
// case or found after their other records, the records of two volumes
// interleaved, folder chains that loop, cluster sizes that are not powers
// of two, and parents that are gone.
#include "core/ByteReader.h"
#include "core/Status.h"
#include "tests/ntfs/DeepNtfsDriver.h"

#include <gtest/gtest.h>

using namespace tessaroo;
using namespace tessaroo::test;

namespace
{
constexpr uint16_t IN_USE = 1, DIR = 2;

// Non-resident data whose allocated size is allocated bytes for clusters.
std::vector<uint8_t> DataAttr(const std::vector<TestRun>& runs, uint64_t realSize, uint64_t clusters,
                              uint64_t allocated)
{
    std::vector<uint8_t> a = NonResidentAttr(0x80, EncodeRuns(runs), realSize, 0, clusters - 1);
    PutU64(&a[0x28], allocated);
    return a;
}

TestRecord Mft(const std::u16string& name, const std::vector<TestRun>& runs, uint64_t clusterBytes)
{
    uint64_t clusters = 0;
    for (const TestRun& r : runs)
        clusters += r.count;
    return {
        IN_USE,
        0,
        {FileNameAttr(5, name), DataAttr(runs, clusters * clusterBytes, clusters, clusters * clusterBytes)}};
}

TestRecord Folder(uint32_t parent, const std::u16string& name, uint16_t flags = IN_USE | DIR)
{
    return {flags, 0, {FileNameAttr(parent, name)}};
}

TestRecord TextFile(uint32_t parent, const std::u16string& name, const std::string& seed, size_t n)
{
    return {0, 0, {FileNameAttr(parent, name), ResidentAttr(0x80, TestText(seed, n))}};
}

// A file of n bytes in two clusters at cluster (clusterBytes each).
TestRecord ClusterFile(uint32_t parent, const std::u16string& name, uint64_t cluster, uint64_t n,
                       uint64_t clusterBytes)
{
    return {0, 0, {FileNameAttr(parent, name), DataAttr({{2, int64_t(cluster)}}, n, 2, 2 * clusterBytes)}};
}

class Device
{
  public:
    void Record(uint64_t sector, uint32_t number, const TestRecord& r)
    {
        img.Put(sector, BuildRecord(number, r, 1024));
    }
    void Put(uint64_t sector, const std::vector<uint8_t>& bytes) { img.Put(sector, bytes); }
    // The device scanned as the deep sweep scans it.
    std::unique_ptr<DeepNtfsScan> Scan(uint64_t sectors = 8192)
    {
        const std::string path = dir.File("device.img");
        EXPECT_TRUE(img.Write(path, sectors));
        return std::unique_ptr<DeepNtfsScan>(new DeepNtfsScan(path));
    }
    TempDir dir{"deep-ntfs"};
    SectorImage img;
};

std::string ReadText(const std::string& path)
{
    std::vector<uint8_t> b;
    ReadWholeFile(path, b);
    return std::string(b.begin(), b.end());
}

std::string Text(const std::string& seed, size_t n)
{
    const std::vector<uint8_t> t = TestText(seed, n);
    return std::string(t.begin(), t.end());
}

std::vector<std::string> Keys(const std::map<std::string, _FILE_NODE_>& m)
{
    std::vector<std::string> out;
    for (const auto& e : m)
        out.push_back(e.first);
    return out;
}
} // namespace

// An MFT in two pieces on a volume at sector 64 with 1 KiB clusters: the
// file in the second piece can only be placed through the runs of record 0,
// which is learned when it is named "$MFT" in any case.
struct MftName
{
    const char* label;
    std::u16string name;
    bool learned;
};
class DeepNtfsMftName : public ::testing::TestWithParam<MftName>
{
};

TEST_P(DeepNtfsMftName, PlacesTheRecordsOfItsPieces)
{
    Device d;
    d.Record(84, 0, Mft(GetParam().name, {{24, 10}, {16, 190}}, 1024));
    d.Record(116, 16, Folder(5, u"Docs"));
    d.Record(476, 30, ClusterFile(16, u"inside.txt", 300, 1500, 1024));
    d.Put(664, TestText("inside", 2048));
    std::unique_ptr<DeepNtfsScan> s = d.Scan(2048);
    std::map<std::string, _FILE_NODE_> files = s->ByPath();
    const std::string expected = GetParam().learned ? "Docs/inside.txt" : "LostFolder16/inside.txt";
    ASSERT_EQ(Keys(files), std::vector<std::string>{expected});
    const _FILE_NODE_& f = files[expected];
    EXPECT_EQ(f.uEngineType, 2u);
    EXPECT_EQ(f.u64RecordSector, 476u);
    EXPECT_EQ(f.uClusterSize, 1024u);
    EXPECT_EQ(f.u64PartitionStartSector, GetParam().learned ? 64u : 0u);
    EXPECT_EQ(s->engine.GetMftLayoutCount(), GetParam().learned ? 1u : 0u);
    if (!GetParam().learned)
        return;
    unsigned int st = 0;
    ReportLog log = s->Recover(f, d.dir.File("inside.txt"), st);
    EXPECT_EQ(st, 0u);
    EXPECT_EQ(log.Finals(), 1);
    EXPECT_EQ(ReadText(d.dir.File("inside.txt")), Text("inside", 1500));
}

INSTANTIATE_TEST_SUITE_P(Names, DeepNtfsMftName,
                         ::testing::Values(MftName{"Upper", u"$MFT", true}, MftName{"Lower", u"$mft", true},
                                           MftName{"Mixed", u"$Mft", true},
                                           MftName{"NoDollar", u"MFT", false},
                                           MftName{"Mirror", u"$MFTMirr", false}),
                         [](const ::testing::TestParamInfo<MftName>& i)
                         { return std::string(i.param.label); });

// An MFT whose runs go on in a record its attribute list names: its own
// record cannot tell the cluster size (its allocated size counts all the
// pieces), the pieces joined do: 1 KiB, not the 4 KiB a 4 MiB device
// would be given.
TEST(DeepNtfsCorner, AnMftInPiecesNamedByItsAttributeList)
{
    Device d;
    std::vector<uint8_t> list;
    for (const auto& e : {ListEntry(0x30, 0), ListEntry(0x80, 0, 0), ListEntry(0x80, 15, 24)})
        list.insert(list.end(), e.begin(), e.end());
    std::vector<uint8_t> first = NonResidentAttr(0x80, EncodeRuns({{24, 10}}), 40 * 1024, 0, 23);
    PutU64(&first[0x28], 40 * 1024);
    d.Record(84, 0, {IN_USE, 0, {ResidentAttr(0x20, list), FileNameAttr(5, u"$MFT"), first}});
    d.Record(114, 15, {IN_USE, 0, {NonResidentAttr(0x80, EncodeRuns({{16, 200}}), 0, 24, 39)}});
    d.Record(116, 16, Folder(5, u"Docs"));
    d.Record(476, 30, ClusterFile(16, u"inside.txt", 300, 1500, 1024));
    std::unique_ptr<DeepNtfsScan> s = d.Scan();
    std::map<std::string, _FILE_NODE_> files = s->ByPath();
    ASSERT_EQ(Keys(files), std::vector<std::string>{"Docs/inside.txt"});
    EXPECT_EQ(files["Docs/inside.txt"].u64PartitionStartSector, 64u);
}

// A record met before the "$MFT" record of its volume is taken to lie in a
// contiguous MFT on a volume at the scanned area's start; those after it
// are placed by its runs.
TEST(DeepNtfsCorner, ARecordFoundBeforeAnyMft)
{
    Device d;
    // The second piece (records 24-39) lies before the first (0-23).
    d.Record(464, 0, Mft(u"$MFT", {{24, 200}, {16, -140}}, 1024));
    d.Record(496, 16, Folder(5, u"Docs"));
    d.Record(504, 20, TextFile(16, u"late.txt", "late", 300));
    d.Record(196, 30, TextFile(16, u"early.txt", "early", 300));
    // Where a contiguous MFT would have record 16 for the early record.
    d.Record(196 - 2 * (30 - 16), 16, Folder(5, u"Here"));
    std::unique_ptr<DeepNtfsScan> s = d.Scan(2048);
    std::map<std::string, _FILE_NODE_> files = s->ByPath();
    ASSERT_EQ(Keys(files), (std::vector<std::string>{"Docs/late.txt", "Here/early.txt"}));
    EXPECT_EQ(files["Here/early.txt"].u64PartitionStartSector, 0u);
    EXPECT_EQ(files["Docs/late.txt"].u64PartitionStartSector, 64u);
}

// Two volumes whose MFT pieces alternate on the device: each record is
// placed by its own MFT, with its volume's start and cluster size, and the
// two folders numbered 16 stay two folders.
TEST(DeepNtfsCorner, RecordsOfTwoVolumesInterleaved)
{
    Device d;
    // Volume A at 128, 512-byte clusters; volume B at 256, 2 KiB clusters.
    d.Record(228, 0, Mft(u"$MFT", {{32, 100}, {32, 600}}, 512));
    d.Record(296, 0, Mft(u"$MFT", {{8, 10}, {8, 190}}, 2048));
    d.Record(828, 16, Folder(5, u"AlphaDocs"));
    d.Record(836, 20, ClusterFile(16, u"a.txt", 2000, 1000, 512));
    d.Record(1056, 16, Folder(5, u"BetaDocs"));
    d.Record(1064, 20, ClusterFile(16, u"b.txt", 1000, 3000, 2048));
    d.Put(128 + 2000, TestText("alpha", 1024));
    d.Put(256 + 4 * 1000, TestText("beta", 4096));
    std::unique_ptr<DeepNtfsScan> s = d.Scan();
    EXPECT_EQ(s->engine.GetMftLayoutCount(), 2u);
    std::map<std::string, _FILE_NODE_> files = s->ByPath();
    ASSERT_EQ(Keys(files), (std::vector<std::string>{"AlphaDocs/a.txt", "BetaDocs/b.txt"}));
    EXPECT_EQ(files["AlphaDocs/a.txt"].u64PartitionStartSector, 128u);
    EXPECT_EQ(files["AlphaDocs/a.txt"].uClusterSize, 512u);
    EXPECT_EQ(files["BetaDocs/b.txt"].u64PartitionStartSector, 256u);
    EXPECT_EQ(files["BetaDocs/b.txt"].uClusterSize, 2048u);
    unsigned int st = 0;
    s->Recover(files["AlphaDocs/a.txt"], d.dir.File("a.txt"), st);
    EXPECT_EQ(ReadText(d.dir.File("a.txt")), Text("alpha", 1000));
    s->Recover(files["BetaDocs/b.txt"], d.dir.File("b.txt"), st);
    EXPECT_EQ(ReadText(d.dir.File("b.txt")), Text("beta", 3000));
    std::vector<_FILE_NODE_> root;
    ASSERT_EQ(s->engine.GetChildrenFileNode(nullptr, 0, root), 0u);
    ASSERT_EQ(root.size(), 2u);
    EXPECT_NE(root[0].uClusterNO, root[1].uClusterNO);
}

// Chains that loop end, and every file in a loop is reachable: the loop's
// folder of the lowest record number goes to the root, whichever file
// meets the loop first.
TEST(DeepNtfsCorner, FolderChainsThatLoop)
{
    Device d;
    // No "$MFT": record n of the contiguous MFT at sector 0 lies at 2n.
    d.Record(60, 30, Folder(31, u"A", DIR));
    d.Record(62, 31, Folder(30, u"B", DIR));
    d.Record(64, 32, TextFile(31, u"in B.txt", "b", 40));
    d.Record(66, 33, Folder(33, u"Self", DIR));
    d.Record(68, 34, TextFile(30, u"in A.txt", "a", 40));
    d.Record(70, 35, TextFile(33, u"mine.txt", "m", 40));
    std::unique_ptr<DeepNtfsScan> s = d.Scan(2048);
    EXPECT_EQ(Keys(s->ByPath()), (std::vector<std::string>{"A/B/in B.txt", "A/in A.txt", "Self/mine.txt"}));
}

// The cluster size a record's data states (allocated bytes over its
// clusters) counts only as a power of two from 1 to 128 sectors; else the
// size for the device's size is taken (4 KiB for 4 MiB).
struct ClusterCase
{
    uint64_t allocated; // for 4 clusters
    uint32_t clusterBytes;
};
class DeepNtfsClusterSize : public ::testing::TestWithParam<ClusterCase>
{
};

TEST_P(DeepNtfsClusterSize, FromTheRecordOnlyWhenItIsAPowerOfTwo)
{
    Device d;
    d.Record(80, 40,
             {0, 0, {FileNameAttr(5, u"data.bin"), DataAttr({{4, 100}}, 1000, 4, GetParam().allocated)}});
    std::unique_ptr<DeepNtfsScan> s = d.Scan();
    ASSERT_EQ(s->hits.size(), 1u);
    EXPECT_EQ(s->hits[0].uClusterSize, GetParam().clusterBytes);
}

INSTANTIATE_TEST_SUITE_P(Sizes, DeepNtfsClusterSize,
                         ::testing::Values(ClusterCase{4 * 512, 512}, ClusterCase{4 * 1024, 1024},
                                           ClusterCase{4 * 65536, 65536}, ClusterCase{4 * 1536, 4096},
                                           ClusterCase{4 * 3072, 4096}, ClusterCase{4 * 131072, 4096},
                                           ClusterCase{4 * 1024 + 512, 4096}, ClusterCase{0, 4096}),
                         [](const ::testing::TestParamInfo<ClusterCase>& i)
                         { return "Allocated" + std::to_string(i.param.allocated); });

// Folders come from the chains of the files in them; a parent that is gone
// becomes one "LostFolder<n>" at the root however many files it held.
TEST(DeepNtfsCorner, FilesAreListedUnderTheirFoldersOrLostFolders)
{
    Device d;
    d.Record(32, 16, Folder(5, u"Folder"));
    d.Record(34, 17, TextFile(16, u"a.txt", "a", 30));
    d.Record(36, 18, {IN_USE, 0, {FileNameAttr(16, u"live.txt"), ResidentAttr(0x80, TestText("l", 30))}});
    d.Record(38, 19, TextFile(21, u"b.txt", "b", 30));
    d.Record(42, 21, {IN_USE, 0, {FileNameAttr(5, u"notafolder.txt"), ResidentAttr(0x80, {1})}});
    d.Record(40, 20, TextFile(40, u"c.txt", "c", 30)); // nothing at record 40's place
    d.Record(44, 22, TextFile(40, u"d.txt", "d", 30));
    d.Record(46, 23, TextFile(24, u"e.txt", "e", 30));
    d.Record(48, 99, Folder(5, u"NotRecord24")); // at record 24's place, another record
    d.Record(50, 25, TextFile(11, u"$ObjId", "o", 30));
    d.Record(52, 26, TextFile(11, u"f.txt", "f", 30));
    d.Record(54, 27, Folder(5, u"Empty"));
    d.Record(6, 3, TextFile(5, u"$Volume", "v", 30));
    std::unique_ptr<DeepNtfsScan> s = d.Scan(2048);
    EXPECT_EQ(Keys(s->ByPath()),
              (std::vector<std::string>{"Folder/a.txt", "Folder/live.txt", "LostFolder11/f.txt",
                                        "LostFolder21/b.txt", "LostFolder24/e.txt", "LostFolder40/c.txt",
                                        "LostFolder40/d.txt", "notafolder.txt"}));
    std::vector<_FILE_NODE_> root;
    ASSERT_EQ(s->engine.GetChildrenFileNode(nullptr, 0, root), 0u);
    std::vector<std::string> names;
    for (const _FILE_NODE_& n : root)
        names.push_back(NodeName(n));
    EXPECT_EQ(names, (std::vector<std::string>{"notafolder.txt", "Folder", "LostFolder11", "LostFolder21",
                                               "LostFolder24", "LostFolder40"}));
    unsigned int count = 0;
    EXPECT_EQ(s->engine.GetChildrenFileCount(nullptr, 0, count), 0u);
    EXPECT_EQ(count, 8u);
    std::vector<_FILE_NODE_> none;
    EXPECT_EQ(s->engine.GetChildrenFileNode(nullptr, 1, none), 87u);
}

// A copy ends at the data the record still describes: one report per file,
// 30 for a file kept incomplete, and no file at all without data.
TEST(DeepNtfsCorner, CopiesKeepWhatTheRecordStillDescribes)
{
    Device d;
    d.Record(40, 20, ClusterFile(5, u"short.bin", 100, 5000, 1024));
    d.Put(200, TestText("short", 2048));
    d.Record(42, 21, {0, 0, {FileNameAttr(5, u"nodata.txt", 1, 3000)}});
    std::unique_ptr<DeepNtfsScan> s = d.Scan(2048);
    std::map<std::string, _FILE_NODE_> files = s->ByPath();
    ASSERT_EQ(Keys(files), (std::vector<std::string>{"nodata.txt", "short.bin"}));
    unsigned int st = 0;
    ReportLog log = s->Recover(files["short.bin"], d.dir.File("short.bin"), st);
    EXPECT_EQ(st, STATUS_READ_FAULT);
    ASSERT_EQ(log.Finals(), 1);
    EXPECT_EQ(log.reports.back().status, int(STATUS_READ_FAULT));
    EXPECT_EQ(ReadText(d.dir.File("short.bin")), Text("short", 2048));
    log = s->Recover(files["nodata.txt"], d.dir.File("nodata.txt"), st);
    EXPECT_EQ(int(st), STATUS_NTFS_NO_DATA);
    EXPECT_EQ(log.Finals(), 1);
    EXPECT_FALSE(access(d.dir.File("nodata.txt").c_str(), F_OK) == 0);

    std::vector<__RUNLIST__> runs;
    EXPECT_EQ(s->engine.GetRunListInfo(40, 0x80, runs), 0);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].i64ClusterOffset, 100);
    EXPECT_EQ(s->engine.GetRunListInfo(42, 0x80, runs), STATUS_NTFS_NO_DATA);
    EXPECT_EQ(s->engine.GetRunListInfo(1000, 0x80, runs), STATUS_NTFS_FAILED);
}

// Both NTFS engines on volumes built record by record, for what no
// formatter writes: records that lie about their length, attribute lists
// that point at themselves or at records another file has taken, folder
// chains that loop, parents that are gone, and recoveries that must not
// take another file's data. Then what each engine meets alone: for the
// fast one an MFT that cannot be read whole and the volume bitmap; for the
// deep one MFTs in pieces whose "$MFT" record is named in another case or
// found after their other records, the records of two volumes interleaved
// and cluster sizes that are not powers of two.
#include "core/ByteReader.h"
#include "core/Status.h"
#include "tests/ntfs/NtfsTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>
#include <tuple>

using namespace tessaroo;
using namespace tessaroo::test;

namespace
{
constexpr uint16_t IN_USE = 1, DIR = 2;

std::string Text(const std::string& seed, size_t n)
{
    const std::vector<uint8_t> t = TestText(seed, n);
    return std::string(t.begin(), t.end());
}

// Every listed file as "path @partition-start /cluster-size".
std::vector<std::string> Where(const std::map<std::string, _FILE_NODE_>& files)
{
    std::vector<std::string> out;
    for (const auto& f : files)
        out.push_back(f.first + " @" + std::to_string(f.second.u64PartitionStartSector) + " /" +
                      std::to_string(f.second.uClusterSize));
    return out;
}

std::vector<std::string> RootNames(IFileRecoveryParse* engine)
{
    std::vector<_FILE_NODE_> root;
    EXPECT_EQ(engine->GetChildrenFileNode(nullptr, 0, root), 0u);
    std::vector<std::string> names;
    for (const _FILE_NODE_& n : root)
        names.push_back(NodeNameUtf8(n));
    return names;
}

// Non-resident data in these runs from VCN first to last.
std::vector<uint8_t> Data(const std::vector<TestRun>& runs, uint64_t size, uint64_t first = 0,
                          uint64_t last = 0, uint64_t allocated = ~0ull)
{
    return NonResidentAttr(0x80, EncodeRuns(runs), size, first, last, allocated);
}

// A resident attribute list of these entries.
std::vector<uint8_t> List(std::initializer_list<std::vector<uint8_t>> entries)
{
    return ResidentAttr(0x20, Concat(entries));
}

TestRecord TextFile(uint32_t parent, const std::u16string& name, const std::string& seed, size_t n,
                    uint16_t flags = 0)
{
    return {flags, 0, {FileNameAttr(parent, name), ResidentAttr(0x80, TestText(seed, n))}};
}

TestRecord Folder(uint32_t parent, const std::u16string& name, uint16_t flags = IN_USE | DIR)
{
    return {flags, 0, {FileNameAttr(parent, name)}};
}

// Record 0 of an MFT in these runs of clusters.
TestRecord Mft(const std::u16string& name, const std::vector<TestRun>& runs, uint64_t clusterBytes)
{
    uint64_t clusters = 0;
    for (const TestRun& r : runs)
        clusters += r.count;
    const uint64_t bytes = clusters * clusterBytes;
    return {IN_USE, 0, {FileNameAttr(5, name), Data(runs, bytes, 0, clusters - 1, bytes)}};
}

// A hand-built volume scanned by the engine of the test's parameter (true:
// the deep one).
class NtfsCorner : public ::testing::TestWithParam<bool>
{
  protected:
    NtfsScan& Scan(const MiniNtfs& v)
    {
        EXPECT_TRUE(v.Write(dir.File("volume.img")));
        scan.reset(new NtfsScan(GetParam(), dir.File("volume.img")));
        EXPECT_NE(scan->engine, nullptr);
        return *scan;
    }
    bool Deep() const { return GetParam(); }
    TempDir dir{"ntfs-corner"};
    std::unique_ptr<NtfsScan> scan;
};

// Folders in use, deleted folders, records reused by a file and records
// that are gone: every file is listed under the folder a user would
// expect, with its long name. The deep engine lists the files in use too.
TEST_P(NtfsCorner, FilesAreListedUnderTheirFoldersOrLostFolders)
{
    MiniNtfs v;
    const uint64_t c = v.FirstFree();
    v.SetRecord(16, Folder(5, u"Folder"));
    TestRecord longName = TextFile(16, u"Long file name.txt", "a", 300);
    longName.attrs.insert(longName.attrs.begin(), FileNameAttr(16, u"LONGFI~1.TXT", 2));
    v.SetRecord(17, longName);
    v.SetRecord(18, Folder(5, u"Old.jpg", DIR));
    v.SetRecord(19, {0, 0, {FileNameAttr(18, u"x.bin"), Data({{2, int64_t(c)}}, 700)}});
    v.PutClusters(c, TestText("x", 1024));
    v.SetRecord(20, TextFile(21, u"a.txt", "b", 10));
    v.SetRecord(21, TextFile(5, u"notafolder.txt", "n", 10, IN_USE));
    v.SetRecord(22, TextFile(40, u"b.txt", "c", 10));
    v.SetRecord(23, TextFile(40, u"c.txt", "c", 10));
    v.SetRecord(24, TextFile(16, u"live.txt", "l", 10, IN_USE));
    v.SetRecord(25, Folder(5, u"Empty"));
    v.SetRecord(26, TextFile(11, u"f.txt", "f", 10));
    // The volume's own files are never listed, deleted or not; the deep
    // engine, which lists files in use, knows those of $Extend by name.
    if (Deep())
        v.SetRecord(27, TextFile(11, u"$ObjId", "o", 10, IN_USE));
    v.SetRecord(3, TextFile(5, u"$Volume", "v", 10));
    v.SetRecord(11, TextFile(5, u"$Extend.txt", "e", 10));
    NtfsScan& s = Scan(v);
    ASSERT_EQ(s.status, 0u);
    std::map<std::string, _FILE_NODE_> files = s.ByPath();
    std::vector<std::string> want = {"Folder/Long file name.txt", "LostFolder11/f.txt", "LostFolder21/a.txt",
                                     "LostFolder40/b.txt",        "LostFolder40/c.txt", "Old.jpg/x.bin"};
    // A folder named like a picture is still shown: folders carry no data to judge.
    std::vector<std::string> root = {"Folder", "LostFolder11", "LostFolder21", "LostFolder40", "Old.jpg"};
    if (Deep())
    {
        want.insert(want.begin() + 1, "Folder/live.txt");
        want.push_back("notafolder.txt");
        root.insert(root.begin(), "notafolder.txt");
    }
    EXPECT_EQ(Paths(files), want);
    EXPECT_EQ(RootNames(s.engine), root);
    EXPECT_EQ(files["Old.jpg/x.bin"].u64FileSize, 700u);
    EXPECT_EQ(files["Old.jpg/x.bin"].u64RecordSector, 16u + 2 * 19);
    unsigned int count = 0;
    EXPECT_EQ(s.engine->GetChildrenFileCount(nullptr, 0, count), 0u);
    EXPECT_EQ(count, files.size());
}

// Chains that loop end, and every file in a loop is reachable.
TEST_P(NtfsCorner, FolderChainsThatLoopEnd)
{
    MiniNtfs v;
    v.SetRecord(30, Folder(31, u"A", DIR));
    v.SetRecord(31, Folder(30, u"B", DIR));
    v.SetRecord(32, TextFile(31, u"in B.txt", "b", 40));
    v.SetRecord(33, Folder(33, u"Self", DIR));
    v.SetRecord(34, TextFile(30, u"in A.txt", "a", 40));
    v.SetRecord(35, TextFile(33, u"mine.txt", "m", 40));
    NtfsScan& s = Scan(v);
    ASSERT_EQ(s.status, 0u);
    EXPECT_EQ(s.hits.size(), 3u);
    if (!Deep())
    {
        std::vector<unsigned int> ancestors = s.fast->GetAncestors();
        std::sort(ancestors.begin(), ancestors.end());
        EXPECT_EQ(ancestors, (std::vector<unsigned int>{30, 31, 33}));
        return;
    }
    // The loop's folder of the lowest record number goes to the root,
    // whichever file meets the loop first.
    EXPECT_EQ(Paths(s.ByPath()), (std::vector<std::string>{"A/B/in B.txt", "A/in A.txt", "Self/mine.txt"}));
}

// What decides a file's data is its own record and the records that name
// it as their base: never the bytes that follow its record, never a record
// another file took.
TEST_P(NtfsCorner, AFileNeverGetsAnotherFilesData)
{
    MiniNtfs v;
    const uint64_t c = v.FirstFree();
    // No data attribute at all; the next record holds one.
    v.SetRecord(40, {0, 0, {FileNameAttr(5, u"nodata.txt", 1, 5000)}});
    v.SetRecord(41, {0, 0, {FileNameAttr(5, u"other.txt"), Data({{4, int64_t(c)}}, 2048)}});
    v.PutClusters(c, TestText("other", 2048));
    // A data attribute past the bytes in use: stale, not this file's.
    TestRecord stale{0, 0, {FileNameAttr(5, u"stale.txt", 1, 2048), Data({{4, int64_t(c)}}, 2048)}};
    stale.bytesInUse = uint32_t(0x38 + stale.attrs[0].size() + 8);
    v.SetRecord(42, stale);
    // An attribute list whose second piece lies in a record now in use by
    // another file (it names no base), holding that file's clusters.
    const uint64_t mine = c + 8, theirs = c + 16;
    v.SetRecord(43, {0,
                     0,
                     {FileNameAttr(5, u"listed.txt"),
                      List({ListEntry(0x30, 43), ListEntry(0x80, 43, 0), ListEntry(0x80, 44, 2)}),
                      Data({{2, int64_t(mine)}}, 4 * 512, 0, 1)}});
    v.SetRecord(44, {IN_USE, 0, {Data({{2, int64_t(theirs)}}, 0, 2, 3)}});
    v.PutClusters(mine, TestText("mine", 1024));
    v.PutClusters(theirs, TestText("theirs", 1024));
    // A named stream ahead of the unnamed one is other data of the file.
    v.SetRecord(45, {0,
                     0,
                     {FileNameAttr(5, u"streams.txt"), ResidentAttr(0x80, TestText("zone", 40), u"Zone"),
                      ResidentAttr(0x80, TestText("body", 300))}});
    NtfsScan& s = Scan(v);
    std::map<std::string, _FILE_NODE_> files = s.ByPath();
    ASSERT_EQ(Paths(files), (std::vector<std::string>{"listed.txt", "nodata.txt", "other.txt", "stale.txt",
                                                      "streams.txt"}));
    for (const char* name : {"nodata.txt", "stale.txt"})
        s.Copy(files[name], dir.File(name), STATUS_NTFS_NO_DATA);
    EXPECT_EQ(ListFolder(dir.Path()), (std::vector<std::string>{"volume.img"}));
    EXPECT_EQ(s.Copy(files["streams.txt"], dir.File("streams.txt"), STATUS_SUCCESS), Text("body", 300));
    std::vector<__RUNLIST__> runs;
    EXPECT_EQ(s.RunList(files["nodata.txt"].u64RecordSector, runs), STATUS_NTFS_NO_DATA);
    // Incomplete, kept: the first piece only.
    EXPECT_EQ(s.Copy(files["listed.txt"], dir.File("listed.txt"), STATUS_READ_FAULT), Text("mine", 1024));
}

// A list that names the base record again and again, and itself, ends; its
// pieces are joined while each starts where the last ended.
TEST_P(NtfsCorner, AttributeListPointingToItself)
{
    MiniNtfs v;
    const uint64_t c = v.FirstFree();
    v.SetRecord(50, {0,
                     0,
                     {FileNameAttr(5, u"selfish.txt"),
                      List({ListEntry(0x20, 50), ListEntry(0x30, 50), ListEntry(0x80, 50, 0),
                            ListEntry(0x80, 50, 0), ListEntry(0x80, 51, 2), ListEntry(0x80, 50, 4)}),
                      Data({{2, int64_t(c)}}, 6 * 512, 0, 1)}});
    // The second piece, in an extension record of this file.
    v.SetRecord(51, {0, 50, {Data({{2, int64_t(c + 10)}}, 0, 2, 3)}});
    const std::string text = Text("selfish", 2048);
    v.PutClusters(c, TestText("selfish", 1024));
    v.PutClusters(c + 10, std::vector<uint8_t>(text.begin() + 1024, text.end()));
    NtfsScan& s = Scan(v);
    ASSERT_EQ(s.hits.size(), 1u);
    EXPECT_EQ(s.hits[0].u64FileSize, 6u * 512);
    std::vector<__RUNLIST__> runs;
    EXPECT_EQ(s.RunList(s.hits[0].u64RecordSector, runs), 0);
    EXPECT_EQ(runs.size(), 2u);
    // The list names a third piece (from VCN 4) in the base record, which
    // holds none: two pieces are all there is.
    EXPECT_EQ(s.Copy(s.hits[0], dir.File("selfish.txt"), STATUS_READ_FAULT), text);
}

// The recovered file has the times of its record, and only the bytes the
// record holds: a node that claims more (its record changed since the
// scan) is kept incomplete, not padded; so is a file whose runs end before
// its size. A record that is gone gives one failed report and no file.
TEST_P(NtfsCorner, CopiesKeepWhatTheRecordStillDescribes)
{
    MiniNtfs v;
    const uint64_t c = v.FirstFree(), t = (1623758400 + 11644473600ull) * 10000000; // 100 ns since 1601
    v.SetRecord(
        60, {0, 0, {FileNameAttr(5, u"small.txt", 1, 300, t), ResidentAttr(0x80, TestText("small", 300))}});
    v.SetRecord(61, {0, 0, {FileNameAttr(5, u"empty.jpg", 1, 0, t), ResidentAttr(0x80, {})}});
    v.SetRecord(
        62, {0, 0, {FileNameAttr(5, u"short.bin", 1, 5000, t), Data({{4, int64_t(c)}}, 5000, 0, 3, 2048)}});
    v.PutClusters(c, TestText("short", 2048));
    NtfsScan& s = Scan(v);
    std::map<std::string, _FILE_NODE_> files = s.ByPath();
    ASSERT_EQ(Paths(files), (std::vector<std::string>{"empty.jpg", "short.bin", "small.txt"}));
    EXPECT_EQ(files["empty.jpg"].bDataHealth, 1u);
    // Where the deep scan looks for a carved copy of the file.
    std::vector<__RUNLIST__> runs;
    ASSERT_EQ(s.RunList(files["short.bin"].u64RecordSector, runs), 0);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].i64ClusterOffset, int64_t(c));
    // Not read back: that sets its access time.
    unsigned int st = ~0u;
    Recover(s.engine, files["small.txt"], dir.File("small.txt"), st);
    struct stat info = {};
    stat(dir.File("small.txt").c_str(), &info);
    EXPECT_EQ(std::make_tuple(st, info.st_size, info.st_atime),
              std::make_tuple(0u, off_t(300), time_t(1623758400 + 3)));
    _FILE_NODE_ grown = files["small.txt"];
    grown.u64FileSize = 5000;
    EXPECT_EQ(s.Copy(grown, dir.File("grown.txt"), STATUS_READ_FAULT), Text("small", 300));
    EXPECT_EQ(s.Copy(files["short.bin"], dir.File("short.bin"), STATUS_READ_FAULT), Text("short", 2048));
    _FILE_NODE_ gone = files["small.txt"];
    gone.uClusterNO = 100000;
    gone.u64RecordSector = 1000;
    s.Copy(gone, dir.File("gone.txt"), STATUS_NTFS_FAILED);
    EXPECT_FALSE(PathExists(dir.File("gone.txt")));
}

INSTANTIATE_TEST_SUITE_P(Engines, NtfsCorner, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "Deep" : "Fast"; });

// ---- The fast engine alone --------------------------------------------------

// The MFT in three runs, the middle one beyond the end of the device: the
// records there cannot be read, those before and after are.
TEST(NtfsFast, AnUnreadableMftPieceDoesNotEndTheScan)
{
    MiniNtfs v(8192, 192);
    v.SetRecord(0, Mft(u"$MFT", {{128, 16}, {128, 6000 - 16}, {128, 300 - 6000}}, 512));
    v.SetRecord(20, TextFile(5, u"early.txt", "early", 100));
    // Records 128 and 150, in the third run.
    v.PutClusters(300, BuildRecord(128, TextFile(5, u"first of run three.txt", "late", 100), 1024));
    v.PutClusters(344, BuildRecord(150, TextFile(5, u"late.txt", "late", 100), 1024));
    TempDir dir("ntfs-short");
    std::vector<uint8_t> bytes = v.Bytes();
    bytes.resize(4096 * 512); // the device ends inside the MFT's second run
    ASSERT_TRUE(WriteImageFile(dir.File("short.img"), bytes));
    NtfsScan s(false, dir.File("short.img"), 0, 8192);
    ASSERT_NE(s.fast, nullptr);
    EXPECT_EQ(s.status, 0u);
    EXPECT_EQ(std::count(s.percents.begin(), s.percents.end(), 100), 1);
    EXPECT_TRUE(!s.percents.empty() && s.percents.back() == 100);
    EXPECT_EQ(s.fast->GetFileRecordIndexSectorOffset(128), 300u);
    EXPECT_EQ(Paths(s.ByPath()),
              (std::vector<std::string>{"early.txt", "first of run three.txt", "late.txt"}));
}

TEST(NtfsFast, FreeRunsFollowTheBitmap)
{
    TempDir dir("ntfs-bitmap");
    auto scan = [&](const MiniNtfs& v)
    {
        EXPECT_TRUE(v.Write(dir.File("volume.img")));
        std::unique_ptr<NtfsScan> s(new NtfsScan(false, dir.File("volume.img")));
        EXPECT_EQ(s->fast->BuildBitMapInfo(), 0u);
        return s;
    };
    MiniNtfs v;
    const uint64_t first = v.FirstFree();
    v.MarkUsed(500, 10);
    v.MarkUsed(1000, 1048);
    std::unique_ptr<NtfsScan> s = scan(v);
    const unsigned long long cases[][3] = {
        // from, the free run's start and count
        {0, first, 500 - first}, // inside the metadata: on to the first free cluster
        {300, 300, 200},         // inside a free stretch: from there
        {505, 510, 490},         // inside a used stretch: on to the next free one
        {1500, 1500, 0},         // past the last free cluster: nothing, the sector stays
        {999999, 2048, 0},       // past the volume
    };
    for (const auto& c : cases)
    {
        unsigned long long start = c[0], count = 7;
        s->fast->GetUnUsedSectorCount(start, count);
        EXPECT_EQ(std::make_pair(start, count), std::make_pair(c[1], c[2])) << c[0];
    }

    // A bitmap that claims more than one bit per cluster is read no further.
    MiniNtfs big;
    big.SetRecord(6, {IN_USE, 0, {FileNameAttr(5, u"$Bitmap"), Data({{2, 300}}, 1 << 20)}});
    big.PutClusters(300, std::vector<uint8_t>(1024, 0xFF));
    EXPECT_EQ(scan(big)->fast->GetBitmapBytes(), 2048u / 8);

    // An empty one maps nothing: no free run is claimed.
    MiniNtfs empty;
    empty.SetRecord(6, {IN_USE, 0, {FileNameAttr(5, u"$Bitmap"), ResidentAttr(0x80, {})}});
    unsigned long long start = 0, count = 7;
    scan(empty)->fast->GetUnUsedSectorCount(start, count);
    EXPECT_EQ(count, 0u);
}

// Sector sizes the fast engine reads; larger ones would need records it
// does not know (and a fix-up past its buffer).
TEST(NtfsFast, FactoryTakesSectorSizesUpTo4096)
{
    TempDir dir("ntfs-factory");
    for (uint16_t bps : {0, 512, 1024, 2048, 4096, 1536, 8192})
    {
        NtfsBootParams p;
        p.bytesPerSector = bps;
        p.sectorsPerCluster = 1;
        ASSERT_TRUE(SectorImage().Put(0, MakeNtfsBootSector(p)).Write(dir.File("boot.img"), 128));
        ImageEngine engine(dir.File("boot.img"), 0, 128);
        const bool supported = bps == 0 || bps == 512 || bps == 1024 || bps == 2048 || bps == 4096;
        EXPECT_EQ(dynamic_cast<CFastNtfsRecovery*>(engine.get()) != nullptr, supported) << bps;
    }
}

// ---- The deep engine alone --------------------------------------------------

// A file of n bytes in two clusters at cluster (clusterBytes each).
TestRecord ClusterFile(uint32_t parent, const std::u16string& name, uint64_t cluster, uint64_t n,
                       uint64_t clusterBytes)
{
    return {0, 0, {FileNameAttr(parent, name), Data({{2, int64_t(cluster)}}, n, 0, 1, 2 * clusterBytes)}};
}

// Records put at any sector of a device, which the deep engine scans.
class Device
{
  public:
    void Record(uint64_t sector, uint32_t number, const TestRecord& r)
    {
        img.Put(sector, BuildRecord(number, r, 1024));
    }
    void Put(uint64_t sector, const std::vector<uint8_t>& bytes) { img.Put(sector, bytes); }
    std::unique_ptr<NtfsScan> Scan(uint64_t sectors = 8192)
    {
        const std::string path = dir.File("device.img");
        EXPECT_TRUE(img.Write(path, sectors));
        return std::unique_ptr<NtfsScan>(new NtfsScan(true, path));
    }
    TempDir dir{"deep-ntfs"};
    SectorImage img;
};

// An MFT in two pieces on a volume at sector 64 with 1 KiB clusters: the
// file in the second piece can only be placed through the runs of record 0,
// which is learned when it is named "$MFT" in any case.
TEST(NtfsDeep, PlacesTheRecordsOfAnMftInPieces)
{
    const std::pair<std::u16string, bool> cases[] = {// record 0's name, learned
                                                     {u"$MFT", true},
                                                     {u"$mft", true},
                                                     {u"$Mft", true},
                                                     {u"MFT", false},
                                                     {u"$MFTMirr", false}};
    for (const auto& c : cases)
    {
        const bool learned = c.second;
        SCOPED_TRACE(std::string(c.first.begin(), c.first.end()));
        Device d;
        d.Record(84, 0, Mft(c.first, {{24, 10}, {16, 190}}, 1024));
        d.Record(116, 16, Folder(5, u"Docs"));
        d.Record(476, 30, ClusterFile(16, u"inside.txt", 300, 1500, 1024));
        d.Put(664, TestText("inside", 2048));
        std::unique_ptr<NtfsScan> s = d.Scan(2048);
        std::map<std::string, _FILE_NODE_> files = s->ByPath();
        const std::string at = learned ? "Docs/inside.txt @64" : "LostFolder16/inside.txt @0";
        ASSERT_EQ(Where(files), std::vector<std::string>{at + " /1024"});
        EXPECT_EQ(s->deep->GetMftLayoutCount(), learned ? 1u : 0u);
        if (!learned)
            continue;
        EXPECT_EQ(s->Copy(files.begin()->second, d.dir.File("inside.txt"), 0), Text("inside", 1500));
    }
}

// An MFT whose runs go on in a record its attribute list names: its own
// record cannot tell the cluster size (its allocated size counts all the
// pieces), the pieces joined do: 1 KiB, not the 4 KiB a 4 MiB device
// would be given.
TEST(NtfsDeep, AnMftInPiecesNamedByItsAttributeList)
{
    Device d;
    d.Record(84, 0,
             {IN_USE,
              0,
              {List({ListEntry(0x30, 0), ListEntry(0x80, 0, 0), ListEntry(0x80, 15, 24)}),
               FileNameAttr(5, u"$MFT"), Data({{24, 10}}, 40 * 1024, 0, 23, 40 * 1024)}});
    d.Record(114, 15, {IN_USE, 0, {Data({{16, 200}}, 0, 24, 39)}});
    d.Record(116, 16, Folder(5, u"Docs"));
    d.Record(476, 30, ClusterFile(16, u"inside.txt", 300, 1500, 1024));
    std::unique_ptr<NtfsScan> s = d.Scan();
    EXPECT_EQ(Where(s->ByPath()), std::vector<std::string>{"Docs/inside.txt @64 /1024"});
}

// A record met before the "$MFT" record of its volume is taken to lie in a
// contiguous MFT on a volume at the scanned area's start; those after it
// are placed by its runs. A parent whose place holds another record is gone.
TEST(NtfsDeep, ARecordFoundBeforeAnyMft)
{
    Device d;
    // The second piece (records 24-39) lies before the first (0-23).
    d.Record(464, 0, Mft(u"$MFT", {{24, 200}, {16, -140}}, 1024));
    d.Record(496, 16, Folder(5, u"Docs"));
    d.Record(504, 20, TextFile(16, u"late.txt", "late", 300));
    d.Record(196, 30, TextFile(16, u"early.txt", "early", 300));
    // Where a contiguous MFT would have record 16 for the early record.
    d.Record(196 - 2 * (30 - 16), 16, Folder(5, u"Here"));
    d.Record(46, 23, TextFile(24, u"e.txt", "e", 30));
    d.Record(48, 99, Folder(5, u"NotRecord24")); // at record 24's place, another record
    std::unique_ptr<NtfsScan> s = d.Scan(2048);
    EXPECT_EQ(Where(s->ByPath()),
              (std::vector<std::string>{"Docs/late.txt @64 /1024", "Here/early.txt @0 /4096",
                                        "LostFolder24/e.txt @0 /4096"}));
}

// Two volumes whose MFT pieces alternate on the device: each record is
// placed by its own MFT, with its volume's start and cluster size, and the
// two folders numbered 16 stay two folders.
TEST(NtfsDeep, RecordsOfTwoVolumesInterleaved)
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
    std::unique_ptr<NtfsScan> s = d.Scan();
    EXPECT_EQ(s->deep->GetMftLayoutCount(), 2u);
    std::map<std::string, _FILE_NODE_> files = s->ByPath();
    ASSERT_EQ(Where(files),
              (std::vector<std::string>{"AlphaDocs/a.txt @128 /512", "BetaDocs/b.txt @256 /2048"}));
    EXPECT_EQ(s->Copy(files["AlphaDocs/a.txt"], d.dir.File("a.txt"), 0), Text("alpha", 1000));
    EXPECT_EQ(s->Copy(files["BetaDocs/b.txt"], d.dir.File("b.txt"), 0), Text("beta", 3000));
    std::vector<_FILE_NODE_> root;
    ASSERT_EQ(s->engine->GetChildrenFileNode(nullptr, 0, root), 0u);
    ASSERT_EQ(root.size(), 2u);
    EXPECT_NE(root[0].uClusterNO, root[1].uClusterNO);
}

// The cluster size a record's data states (allocated bytes over its
// clusters) counts only as a power of two from 1 to 128 sectors; else the
// size for the device's size is taken (4 KiB for 4 MiB).
TEST(NtfsDeep, ClusterSizeFromTheRecordOnlyWhenAPowerOfTwo)
{
    // (bytes allocated for 4 clusters, the cluster size taken)
    const std::pair<uint64_t, uint32_t> cases[] = {
        {4 * 512, 512},   {4 * 1024, 1024},   {4 * 65536, 65536},     {4 * 1536, 4096},
        {4 * 3072, 4096}, {4 * 131072, 4096}, {4 * 1024 + 512, 4096}, {0, 4096}};
    for (const auto& c : cases)
    {
        Device d;
        d.Record(80, 40, {0, 0, {FileNameAttr(5, u"data.bin"), Data({{4, 100}}, 1000, 0, 3, c.first)}});
        std::unique_ptr<NtfsScan> s = d.Scan();
        ASSERT_EQ(s->hits.size(), 1u) << c.first;
        EXPECT_EQ(s->hits[0].uClusterSize, c.second) << c.first;
    }
}
} // namespace

// The fast NTFS engine on volumes built record by record, for what no
// formatter writes: records that lie about their length, attribute lists
// that point at themselves or at records another file has taken, folder
// chains that loop, an MFT that cannot be read whole, and recoveries that
// must not take another file's data.
#include "core/Portability.h"
#include "core/Status.h"
#include "engines/CFileRecoveryFactory.h"
#include "engines/ntfs/CFastNtfsRecovery.h"
#include "tests/fat/FatTestUtil.h"
#include "tests/ntfs/NtfsTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>

using namespace tessaroo;
using namespace tessaroo::test;

namespace
{
constexpr uint16_t IN_USE = 1, DIR = 2;

class Scanned
{
  public:
    // Scans a volume; sectorCount 0 means the image's size.
    explicit Scanned(const MiniNtfs& v, uint64_t sectorCount = 0) : dir("ntfs-corner")
    {
        image = dir.File("volume.img");
        EXPECT_TRUE(v.Write(image));
        engine.reset(new ImageEngine(image, 0, sectorCount ? sectorCount : ImageSectors(image)));
        ntfs = dynamic_cast<CFastNtfsRecovery*>(engine->get());
        EXPECT_NE(ntfs, nullptr);
        if (!ntfs)
            return;
        scanStatus = ntfs->ScanDevice(nullptr);
        std::wstring key = AllKindsKey();
        ntfs->SearchFileNode(&key[0], hits);
    }
    std::map<std::string, _FILE_NODE_> ByPath()
    {
        std::map<std::string, _FILE_NODE_> out;
        for (__SEARCH_FILE_INFO__& h : hits)
            out[NodeFullPath(ntfs, h)] = h;
        return out;
    }
    // Recovers node into the temporary folder; the reports it sent.
    ReportLog Recover(_FILE_NODE_ node, const std::string& name, unsigned int& status)
    {
        ReportLog log;
        ntfs->InitCallBack(nullptr, &CollectReport, &log, 100);
        std::wstring target = Utf8ToWide(dir.File(name).c_str());
        status = ntfs->SaveFileData(&node, &target[0], 0);
        return log;
    }
    TempDir dir;
    std::string image;
    std::unique_ptr<ImageEngine> engine;
    CFastNtfsRecovery* ntfs = nullptr;
    unsigned int scanStatus = ~0u;
    std::vector<__SEARCH_FILE_INFO__> hits;
};

std::string ReadText(const std::string& path)
{
    std::vector<uint8_t> b;
    ReadWholeFile(path, b);
    return std::string(b.begin(), b.end());
}
} // namespace

// Folders in use, deleted folders, records reused by a file and records
// that are gone: every deleted file is listed under the folder a user
// would expect, with its long name.
TEST(NtfsCorner, FilesAreListedUnderTheirFoldersOrLostFolders)
{
    MiniNtfs v;
    const uint64_t c = v.FirstFree();
    v.SetRecord(16, {IN_USE | DIR, 0, {FileNameAttr(5, u"Folder")}});
    v.SetRecord(17, {0,
                     0,
                     {FileNameAttr(16, u"LONGFI~1.TXT", 2), FileNameAttr(16, u"Long file name.txt", 1),
                      ResidentAttr(0x80, TestText("a", 300))}});
    v.SetRecord(18, {DIR, 0, {FileNameAttr(5, u"Old.jpg")}});
    v.SetRecord(
        19, {0, 0, {FileNameAttr(18, u"x.bin"), NonResidentAttr(0x80, EncodeRuns({{2, int64_t(c)}}), 700)}});
    v.PutClusters(c, TestText("x", 1024));
    v.SetRecord(20, {0, 0, {FileNameAttr(21, u"a.txt"), ResidentAttr(0x80, TestText("b", 10))}});
    v.SetRecord(21, {IN_USE, 0, {FileNameAttr(5, u"notafolder.txt"), ResidentAttr(0x80, {1})}});
    v.SetRecord(22, {0, 0, {FileNameAttr(40, u"b.txt"), ResidentAttr(0x80, TestText("c", 10))}});
    // The volume's own files are never listed, deleted or not.
    v.SetRecord(3, {0, 0, {FileNameAttr(5, u"$Volume"), ResidentAttr(0x80, {1})}});
    v.SetRecord(11, {0, 0, {FileNameAttr(5, u"$Extend.txt"), ResidentAttr(0x80, {1})}});
    Scanned s(v);
    ASSERT_EQ(s.scanStatus, 0u);
    std::map<std::string, _FILE_NODE_> files = s.ByPath();
    std::vector<std::string> paths;
    for (const auto& f : files)
        paths.push_back(f.first);
    EXPECT_EQ(paths, (std::vector<std::string>{"Folder/Long file name.txt", "LostFolder21/a.txt",
                                               "LostFolder40/b.txt", "Old.jpg/x.bin"}));
    EXPECT_EQ(files["Old.jpg/x.bin"].u64FileSize, 700u);
    EXPECT_EQ(files["Old.jpg/x.bin"].u64RecordSector, s.ntfs->GetFileRecordIndexSectorOffset(19));

    std::vector<_FILE_NODE_> root;
    EXPECT_EQ(s.ntfs->GetChildrenFileNode(nullptr, 1, root), 87u);
    EXPECT_TRUE(root.empty());
    ASSERT_EQ(s.ntfs->GetChildrenFileNode(nullptr, 0, root), 0u);
    std::vector<std::string> names;
    for (const _FILE_NODE_& n : root)
    {
        EXPECT_EQ(n.bIsDir, 1u);
        names.push_back(NodeName(n));
    }
    // A folder named like a picture is still shown: folders carry no data to judge.
    EXPECT_EQ(names, (std::vector<std::string>{"Folder", "LostFolder21", "LostFolder40", "Old.jpg"}));
    unsigned int count = 0;
    EXPECT_EQ(s.ntfs->GetChildrenFileCount(nullptr, 0, count), 0u);
    EXPECT_EQ(count, 4u);
}

TEST(NtfsCorner, FolderChainsThatLoopEnd)
{
    MiniNtfs v;
    v.SetRecord(30, {DIR, 0, {FileNameAttr(31, u"A")}});
    v.SetRecord(31, {DIR, 0, {FileNameAttr(30, u"B")}});
    v.SetRecord(32, {0, 0, {FileNameAttr(30, u"inside.txt"), ResidentAttr(0x80, TestText("d", 50))}});
    v.SetRecord(33, {DIR, 0, {FileNameAttr(33, u"Self")}});
    v.SetRecord(34, {0, 0, {FileNameAttr(33, u"mine.txt"), ResidentAttr(0x80, TestText("e", 50))}});
    Scanned s(v);
    ASSERT_EQ(s.scanStatus, 0u);
    EXPECT_EQ(s.hits.size(), 2u);
    std::vector<unsigned int> ancestors = s.ntfs->GetAncestors();
    std::sort(ancestors.begin(), ancestors.end());
    EXPECT_EQ(ancestors, (std::vector<unsigned int>{30, 31, 33}));
}

// What decides a file's data is its own record and the records that name
// it as their base: never the bytes that follow its record, never a record
// another file took.
TEST(NtfsCorner, AFileNeverGetsAnotherFilesData)
{
    MiniNtfs v;
    const uint64_t c = v.FirstFree();
    // No data attribute at all; the next record holds one.
    v.SetRecord(40, {0, 0, {FileNameAttr(5, u"nodata.txt", 1, 5000)}});
    v.SetRecord(
        41,
        {0, 0, {FileNameAttr(5, u"other.txt"), NonResidentAttr(0x80, EncodeRuns({{4, int64_t(c)}}), 2048)}});
    v.PutClusters(c, TestText("other", 2048));
    // A data attribute past the bytes in use: stale, not this file's.
    TestRecord stale{
        0,
        0,
        {FileNameAttr(5, u"stale.txt", 1, 2048), NonResidentAttr(0x80, EncodeRuns({{4, int64_t(c)}}), 2048)}};
    stale.bytesInUse = uint32_t(0x38 + stale.attrs[0].size() + 8);
    v.SetRecord(42, stale);
    // An attribute list whose second piece lies in a record now in use by
    // another file (it names no base), holding that file's clusters.
    const uint64_t mine = c + 8, theirs = c + 16;
    std::vector<uint8_t> list;
    for (const auto& e : {ListEntry(0x30, 43), ListEntry(0x80, 43, 0), ListEntry(0x80, 44, 2)})
        list.insert(list.end(), e.begin(), e.end());
    v.SetRecord(43, {0,
                     0,
                     {FileNameAttr(5, u"listed.txt"), ResidentAttr(0x20, list),
                      NonResidentAttr(0x80, EncodeRuns({{2, int64_t(mine)}}), 4 * 512, 0, 1)}});
    v.SetRecord(44, {IN_USE, 0, {NonResidentAttr(0x80, EncodeRuns({{2, int64_t(theirs)}}), 0, 2, 3)}});
    v.PutClusters(mine, TestText("mine", 1024));
    v.PutClusters(theirs, TestText("theirs", 1024));
    Scanned s(v);
    std::map<std::string, _FILE_NODE_> files = s.ByPath();
    ASSERT_EQ(files.size(), 4u);

    unsigned int st = 0;
    ReportLog log = s.Recover(files["nodata.txt"], "nodata.txt", st);
    EXPECT_EQ(int(st), STATUS_NTFS_NO_DATA);
    ASSERT_EQ(log.Finals(), 1);
    EXPECT_EQ(log.reports.back().status, STATUS_NTFS_NO_DATA);
    log = s.Recover(files["stale.txt"], "stale.txt", st);
    EXPECT_EQ(int(st), STATUS_NTFS_NO_DATA);
    EXPECT_EQ(log.Finals(), 1);
    EXPECT_EQ(ListFolder(s.dir.Path()), (std::vector<std::string>{"volume.img"}));

    // Incomplete, kept: the first piece only.
    log = s.Recover(files["listed.txt"], "listed.txt", st);
    EXPECT_EQ(st, STATUS_READ_FAULT);
    const std::vector<uint8_t> first = TestText("mine", 1024);
    EXPECT_EQ(ReadText(s.dir.File("listed.txt")), std::string(first.begin(), first.end()));
}

// A list that names the base record again and again, and itself, ends; its
// pieces are joined while each starts where the last ended.
TEST(NtfsCorner, AttributeListPointingToItself)
{
    MiniNtfs v;
    const uint64_t c = v.FirstFree();
    std::vector<uint8_t> list;
    for (const auto& e : {ListEntry(0x20, 50), ListEntry(0x30, 50), ListEntry(0x80, 50, 0),
                          ListEntry(0x80, 50, 0), ListEntry(0x80, 51, 2), ListEntry(0x80, 50, 4)})
        list.insert(list.end(), e.begin(), e.end());
    v.SetRecord(50, {0,
                     0,
                     {FileNameAttr(5, u"selfish.txt"), ResidentAttr(0x20, list),
                      NonResidentAttr(0x80, EncodeRuns({{2, int64_t(c)}}), 6 * 512, 0, 1)}});
    // The second piece, in an extension record of this file.
    v.SetRecord(51, {0, 50, {NonResidentAttr(0x80, EncodeRuns({{2, int64_t(c + 10)}}), 0, 2, 3)}});
    const std::vector<uint8_t> text = TestText("selfish", 6 * 512);
    v.PutClusters(c, std::vector<uint8_t>(text.begin(), text.begin() + 1024));
    v.PutClusters(c + 10, std::vector<uint8_t>(text.begin() + 1024, text.begin() + 2048));
    Scanned s(v);
    ASSERT_EQ(s.hits.size(), 1u);
    EXPECT_EQ(s.hits[0].u64FileSize, 6u * 512);
    std::vector<__RUNLIST__> runs;
    EXPECT_EQ(s.ntfs->GetRunListInfo(s.hits[0].u64RecordSector, 0x80, runs), 0);
    EXPECT_EQ(runs.size(), 2u);
    unsigned int st = 0;
    s.Recover(s.hits[0], "selfish.txt", st);
    // The list names a third piece (from VCN 4) in the base record, which
    // holds none: two pieces are all there is.
    EXPECT_EQ(st, STATUS_READ_FAULT);
    EXPECT_EQ(ReadText(s.dir.File("selfish.txt")), std::string(text.begin(), text.begin() + 2048));
}

// The MFT in three runs, the middle one beyond the end of the device: the
// records there cannot be read, those before and after are.
TEST(NtfsCorner, AnUnreadableMftPieceDoesNotEndTheScan)
{
    MiniNtfs v(512, 1, 8192, 16, 192);
    v.SetMftRuns({{128, 16}, {128, 6000 - 16}, {128, 300 - 6000}}, 192 * 1024);
    v.SetRecord(20, {0, 0, {FileNameAttr(5, u"early.txt"), ResidentAttr(0x80, TestText("early", 100))}});
    v.SetRecord(
        128, {0, 0, {FileNameAttr(5, u"first of run three.txt"), ResidentAttr(0x80, TestText("late", 100))}});
    v.SetRecord(150, {0, 0, {FileNameAttr(5, u"late.txt"), ResidentAttr(0x80, TestText("late", 100))}});
    TempDir dir("ntfs-short");
    std::vector<uint8_t> bytes = v.Bytes();
    bytes.resize(4096 * 512); // the device ends inside the MFT's second run
    ASSERT_TRUE(WriteImageFile(dir.File("short.img"), bytes));
    ImageEngine engine(dir.File("short.img"), 0, 8192);
    CFastNtfsRecovery* ntfs = dynamic_cast<CFastNtfsRecovery*>(engine.get());
    ASSERT_NE(ntfs, nullptr);
    std::vector<int> percents;
    struct Log
    {
        static int Scan(void* ctx, int percent, int, int, unsigned long long, unsigned long long,
                        unsigned long long, wchar_t*)
        {
            static_cast<std::vector<int>*>(ctx)->push_back(percent);
            return 0;
        }
    };
    ntfs->InitCallBack(&Log::Scan, nullptr, &percents, 100);
    EXPECT_EQ(ntfs->ScanDevice(nullptr), 0u);
    ASSERT_FALSE(percents.empty());
    EXPECT_EQ(percents.back(), 100);
    EXPECT_EQ(std::count(percents.begin(), percents.end(), 100), 1);
    EXPECT_EQ(ntfs->GetFileRecordIndexSectorOffset(128), 300u);
    std::wstring key = AllKindsKey();
    std::vector<__SEARCH_FILE_INFO__> hits;
    ntfs->SearchFileNode(&key[0], hits);
    std::vector<std::string> names;
    for (const _FILE_NODE_& h : hits)
        names.push_back(NodeName(h));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"early.txt", "first of run three.txt", "late.txt"}));
}

// The recovered file has the times of its record, and only the bytes the
// record holds: a node that claims more (its record changed since the
// scan) is kept incomplete, not padded.
TEST(NtfsCorner, ResidentCopiesTakeTheRecordsBytesAndTimes)
{
    MiniNtfs v;
    const uint64_t t = NtfsTimeFromUnix(1623758400);
    v.SetRecord(
        60, {0, 0, {FileNameAttr(5, u"small.txt", 1, 300, t), ResidentAttr(0x80, TestText("small", 300))}});
    v.SetRecord(61, {0, 0, {FileNameAttr(5, u"empty.jpg", 1, 0, t), ResidentAttr(0x80, {})}});
    Scanned s(v);
    std::map<std::string, _FILE_NODE_> files = s.ByPath();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files["empty.jpg"].bDataHealth, 1u);
    unsigned int st = 0;
    ReportLog log = s.Recover(files["small.txt"], "small.txt", st);
    EXPECT_EQ(st, 0u);
    EXPECT_EQ(log.Finals(), 1);
    struct stat info;
    ASSERT_EQ(stat(s.dir.File("small.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 300);
    EXPECT_EQ(info.st_atime, 1623758400 + 3);

    _FILE_NODE_ grown = files["small.txt"];
    grown.u64FileSize = 5000;
    log = s.Recover(grown, "grown.txt", st);
    EXPECT_EQ(st, STATUS_READ_FAULT);
    ASSERT_EQ(log.Finals(), 1);
    EXPECT_EQ(log.reports.back().status, int(STATUS_READ_FAULT));
    EXPECT_EQ(ReadText(log.reports.back().target), ReadText(s.dir.File("small.txt")));

    // A record that is gone: one failed report, no file left.
    _FILE_NODE_ gone = files["small.txt"];
    gone.uClusterNO = 100000;
    gone.u64RecordSector = 1000;
    log = s.Recover(gone, "gone.txt", st);
    EXPECT_EQ(int(st), STATUS_NTFS_FAILED);
    ASSERT_EQ(log.Finals(), 1);
    EXPECT_EQ(log.reports.back().status, STATUS_NTFS_FAILED);
    struct stat none;
    EXPECT_NE(stat(s.dir.File("gone.txt").c_str(), &none), 0);
}

TEST(NtfsCorner, FreeRunsFollowTheBitmap)
{
    MiniNtfs v;
    const uint64_t first = v.FirstFree();
    v.MarkUsed(500, 10);
    v.MarkUsed(1000, 1048);
    Scanned s(v);
    ASSERT_EQ(s.ntfs->BuildBitMapInfo(), 0u);
    const struct
    {
        unsigned long long from, start, count;
    } cases[] = {
        {0, first, 500 - first}, // inside the metadata: on to the first free cluster
        {300, 300, 200},         // inside a free stretch: from there
        {505, 510, 490},         // inside a used stretch: on to the next free one
        {1500, 1500, 0},         // past the last free cluster: nothing, the sector stays
        {999999, 2048, 0},       // past the volume
    };
    for (const auto& c : cases)
    {
        unsigned long long start = c.from, count = 7;
        s.ntfs->GetUnUsedSectorCount(start, count);
        EXPECT_EQ(start, c.start) << c.from;
        EXPECT_EQ(count, c.count) << c.from;
    }

    // A bitmap that claims more than one bit per cluster is read no further.
    MiniNtfs big;
    big.SetRecord(
        6,
        {IN_USE, 0, {FileNameAttr(5, u"$Bitmap"), NonResidentAttr(0x80, EncodeRuns({{2, 300}}), 1 << 20)}});
    big.PutClusters(300, std::vector<uint8_t>(1024, 0xFF));
    Scanned b(big);
    ASSERT_EQ(b.ntfs->BuildBitMapInfo(), 0u);
    EXPECT_EQ(b.ntfs->GetBitmapBytes(), 2048u / 8);

    // An empty one maps nothing: no free run is claimed.
    MiniNtfs empty;
    empty.SetRecord(6, {IN_USE, 0, {FileNameAttr(5, u"$Bitmap"), ResidentAttr(0x80, {})}});
    Scanned e(empty);
    ASSERT_EQ(e.ntfs->BuildBitMapInfo(), 0u);
    unsigned long long start = 0, count = 7;
    e.ntfs->GetUnUsedSectorCount(start, count);
    EXPECT_EQ(count, 0u);
}

// Sector sizes the fast engine reads; larger ones would need records it
// does not know (and a fix-up past its buffer).
TEST(NtfsCorner, FactoryTakesSectorSizesUpTo4096)
{
    TempDir dir("ntfs-factory");
    for (uint16_t bps : {0, 512, 1024, 2048, 4096, 1536, 8192})
    {
        NtfsBootParams p;
        p.bytesPerSector = bps;
        p.sectorsPerCluster = 1;
        std::vector<uint8_t> img(64 * 1024, 0);
        const std::vector<uint8_t> boot = MakeNtfsBootSector(p);
        std::copy(boot.begin(), boot.end(), img.begin());
        ASSERT_TRUE(WriteImageFile(dir.File("boot.img"), img));
        ImageEngine engine(dir.File("boot.img"), 0, img.size() / 512);
        const bool supported = bps == 0 || bps == 512 || bps == 1024 || bps == 2048 || bps == 4096;
        EXPECT_EQ(engine.get() != nullptr, supported) << bps;
        if (engine.get())
        {
            EXPECT_NE(dynamic_cast<CFastNtfsRecovery*>(engine.get()), nullptr);
        }
    }
}

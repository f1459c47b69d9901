// Precise corners of the deep FAT engine on hand-built sectors (a sparse
// disk image holding only the folder sectors and file data a case needs),
// offered in the order each case names: layouts from two folder starts, a
// long name cut at a sector's end, folders whose own entry is gone, data
// read over consecutive clusters, positions beyond 32 bits, the memory bound.
#include "core/Recognisers.h"
#include "core/Portability.h"
#include "core/Status.h"
#include "tests/fat/DeepFatTestUtil.h"
#include "tests/fat/FatTestUtil.h"

#include <gtest/gtest.h>

#include <map>

using namespace tessaroo;
using namespace tessaroo::test;

namespace
{
typedef CProfessionalFatRecovery Engine;

// A folder's first sector: its dot pair, then entries; any other sector.
std::vector<uint8_t> FolderStart(uint32_t self, uint32_t parent, const std::vector<uint8_t>& entries = {})
{
    return DirectoryBuilder().Add(MakeDotPair(self, parent)).Add(entries).Build();
}

std::vector<uint8_t> Sector(const std::vector<uint8_t>& entries)
{
    return DirectoryBuilder().Add(entries).Build();
}

// Short entries that fill a sector up to where a case's entries begin.
std::vector<uint8_t> Fillers(int count)
{
    std::vector<uint8_t> out;
    for (int i = 0; i < count; ++i)
        out = Concat({out, ShortEntry("FILL" + std::to_string(1000 + i) + ".TXT", 0, 0)});
    return out;
}

// A case's description as a test name.
template <typename C> std::string CaseName(const ::testing::TestParamInfo<C>& i)
{
    std::string n = i.param.what;
    for (char& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return n;
}

class DeepFatCorner : public ::testing::Test
{
  protected:
    void Put(uint64_t sector, const std::vector<uint8_t>& bytes) { image.Put(sector, bytes); }

    // Writes the disk (total sectors from sector 0) and starts a scan of
    // [start, start + count).
    void Start(uint64_t total, uint64_t start = 0, uint64_t count = 0)
    {
        path = dir.File("disk.img");
        ASSERT_TRUE(image.Write(path, total));
        disks.reset(new ScopedEnv("TESSAROO_DISKS", path));
        PrepareScanLog();
        engine.reset(new Engine());
        ASSERT_EQ(engine->Init(0, (long long)start, (long long)(count ? count : total - start), L'C'), 0u);
        ASSERT_EQ(engine->ClearProfessionalVec(nullptr), 0u);
        ASSERT_EQ(engine->InitVirtualDbrInfo(), 0u);
    }

    // Offers a sector of the disk as the sweep does.
    void Offer(uint64_t sector)
    {
        std::vector<uint8_t> bytes = ReadFileRange(path, sector * 512, 512);
        ASSERT_EQ(bytes.size(), 512u);
        if (IsFatFileRecord(bytes.data()))
            engine->ParseFatFileRecord(bytes.data(), sector);
        else
        {
            ASSERT_TRUE(IsFatFDTRecord(bytes.data(), 512))
                << "sector " << sector << " is no directory sector";
            engine->ParseFDTFileRecord(bytes.data(), sector);
        }
    }

    // Every file listed, by its path.
    std::map<std::string, _FILE_NODE_> Finish()
    {
        EXPECT_EQ(engine->DealProfessionalRecordVec(), 0u);
        std::vector<__SEARCH_FILE_INFO__> hits;
        std::wstring key = AllKindsKey();
        engine->SearchFileNode(&key[0], hits);
        std::map<std::string, _FILE_NODE_> out;
        for (auto& h : hits)
            out[NodePath(engine.get(), h)] = h;
        return out;
    }

    std::string Keys(const std::map<std::string, _FILE_NODE_>& m)
    {
        std::string s;
        for (const auto& e : m)
            s += e.first + "\n";
        return s;
    }

    TempDir dir{"deepfat-corner"};
    SectorImage image;
    std::string path;
    std::unique_ptr<ScopedEnv> disks;
    std::unique_ptr<Engine> engine;
};

struct LayoutCase
{
    const char* what;
    uint32_t c1;
    uint64_t s1;
    uint32_t c2;
    uint64_t s2;
    int64_t spc;  // 0: no layout
    int64_t base; // first sector of cluster 2
};

class DeepFatLayout : public DeepFatCorner, public ::testing::WithParamInterface<LayoutCase>
{
};

TEST_P(DeepFatLayout, TwoFolderStartsGiveALayoutOnlyForARealClusterSize)
{
    const LayoutCase& c = GetParam();
    Put(c.s1, FolderStart(c.c1, 0, ShortEntry("ONE.TXT", 0, 0)));
    Put(c.s2, FolderStart(c.c2, 0, ShortEntry("TWO.TXT", 0, 0)));
    Start(4096);
    Offer(c.s1);
    Offer(c.s2);
    const std::map<std::string, _FILE_NODE_> files = Finish();
    const auto& layouts = engine->GetVirtualDbrVec();
    if (c.spc == 0)
    {
        EXPECT_TRUE(layouts.empty()) << c.what;
        EXPECT_TRUE(files.empty()) << c.what;
        EXPECT_EQ(engine->GetDropCounts().unplacedAtEnd, 2u) << c.what;
        return;
    }
    ASSERT_EQ(layouts.size(), 1u) << c.what;
    EXPECT_EQ(layouts[0].spc, c.spc) << c.what;
    EXPECT_EQ(layouts[0].Base(), c.base) << c.what;
    ASSERT_EQ(files.size(), 2u) << c.what << "\n" << Keys(files);
    const _FILE_NODE_& one = files.at("LostFolder" + std::to_string(c.c1) + "/one.txt");
    EXPECT_EQ(one.uClusterSize, uint32_t(c.spc * 512));
    EXPECT_EQ(int64_t(one.u64DataStartSector), c.base);
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, DeepFatLayout,
    ::testing::Values(LayoutCase{"8 sectors per cluster", 10, 1000, 20, 1080, 8, 936},
                      LayoutCase{"offered in the other order", 20, 1080, 10, 1000, 8, 936},
                      LayoutCase{"2 sectors per cluster", 10, 1000, 30, 1040, 2, 984},
                      LayoutCase{"3 sectors per cluster", 10, 1000, 20, 1030, 0, 0},
                      LayoutCase{"256 sectors per cluster", 10, 1000, 11, 1256, 0, 0},
                      LayoutCase{"data area before the device", 10, 1000, 12, 1256, 0, 0},
                      LayoutCase{"higher cluster lower on the disk", 20, 1000, 10, 1080, 0, 0}),
    CaseName<LayoutCase>);

// The layout of the cases below: clusters of 8 sectors, cluster 2 at 936;
// folder 10 starts at 1000, folder 20 at 1080, cluster 30 at 1160.
constexpr uint64_t BASE = 936;
constexpr uint64_t SPC = 8;
uint64_t At(uint32_t cluster)
{
    return BASE + (cluster - 2) * SPC;
}

struct CutCase
{
    const char* what;
    int partsBefore;             // long-name parts at the end of folder 10's last sector
    bool otherFile;              // the sector after holds another file's entry instead of the rest
    bool middleSector;           // 16 more parts fill a sector of their own between them
    std::vector<uint64_t> order; // sectors offered; 0 stands for the sector(s) of the rest
    const char* listedAs;        // null: "LostFolder10/" and the long name
    uint64_t cut = At(10) + 7;   // the sector that ends with the cut run
};

class DeepFatCutName : public DeepFatCorner, public ::testing::WithParamInterface<CutCase>
{
};

TEST_P(DeepFatCutName, ALongNameCutAtASectorsEndIsJoinedWithItsRest)
{
    const CutCase& c = GetParam();
    std::string longName = "A rather long file name that is cut in two.txt";
    if (c.middleSector)
        longName = std::string(248, 'n') + ".txt"; // 20 parts
    const std::vector<uint8_t> run = MakeNamedEntry(std::u16string(longName.begin(), longName.end()),
                                                    DirEntryParams{"ARATHE~1.TXT", 0x20, 40, 700});
    ASSERT_GE(run.size() / 32 - 1, size_t(c.partsBefore));
    std::vector<uint8_t> head(run.begin(), run.begin() + c.partsBefore * 32);
    std::vector<uint8_t> rest(run.begin() + c.partsBefore * 32, run.end());
    if (c.otherFile)
        rest = ShortEntry("OTHER.TXT", 41, 10);
    Put(At(10), FolderStart(10, 0));
    Put(c.cut, Sector(Concat({Fillers(16 - c.partsBefore), head})));
    Put(At(20), FolderStart(20, 0));
    std::vector<uint64_t> restSectors = {At(30)};
    if (c.middleSector)
    {
        Put(At(30), Sector(std::vector<uint8_t>(rest.begin(), rest.begin() + 16 * 32)));
        Put(At(30) + 1, Sector(std::vector<uint8_t>(rest.begin() + 16 * 32, rest.end())));
        restSectors.push_back(At(30) + 1);
    }
    else
        Put(At(30), Sector(rest));
    Start(4096);
    for (uint64_t s : c.order)
    {
        if (s != 0)
            Offer(s);
        else
            for (uint64_t r : restSectors)
                Offer(r);
    }
    const std::map<std::string, _FILE_NODE_> files = Finish();
    const std::string expected = c.listedAs ? c.listedAs : "LostFolder10/" + longName;
    EXPECT_EQ(files.count(expected), 1u) << c.what << ": listed\n" << Keys(files);
    EXPECT_EQ(files.size(), 16u - c.partsBefore + 1) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Orders, DeepFatCutName,
    ::testing::Values(
        CutCase{"rest in a later cluster", 2, false, false, {At(10), At(10) + 7, At(20), 0}, nullptr},
        CutCase{"rest offered first", 2, false, false, {At(10), At(20), 0, At(10) + 7}, nullptr},
        CutCase{"only the short entry left", 4, false, false, {At(10), At(10) + 7, At(20), 0}, nullptr},
        CutCase{"a name of 20 parts over three sectors",
                1,
                false,
                true,
                {At(10), At(10) + 7, At(20), 0},
                nullptr},
        CutCase{"another file after the cut",
                2,
                true,
                false,
                {At(10), At(10) + 7, At(20), 0},
                "LostFolder30/other.txt"},
        // Cut inside a cluster: its rest was in the next sector, now gone.
        CutCase{"the rest elsewhere than after a cut inside a cluster",
                4,
                false,
                false,
                {At(10), At(10) + 3, At(20), 0},
                "LostFolder30/arathe~1.txt",
                At(10) + 3}),
    CaseName<CutCase>);

// Folders whose own entry is gone are lost folders in their parents:
// folder 10 (nothing names it) holds SUB (folder 20) and A.TXT; folder 40's
// dot pair names folder 50, which is nowhere on the disk. A cluster further
// along a folder (30, no dot pair) belongs where its subfolders say they
// hang: SUB2 (folder 60), whose entry lies in it, names folder 10.
TEST_F(DeepFatCorner, LostFoldersAndClustersFurtherAlongAFolderFindTheirParents)
{
    Put(At(10), FolderStart(10, 0, Concat({ShortEntry("SUB", 20, 0, 0x10), ShortEntry("A.TXT", 70, 10)})));
    Put(At(20), FolderStart(20, 10, ShortEntry("B.TXT", 71, 10)));
    Put(At(30), Sector(Concat({ShortEntry("C.TXT", 72, 10), ShortEntry("SUB2", 60, 0, 0x10)})));
    Put(At(40), FolderStart(40, 50, ShortEntry("D.TXT", 73, 10, 0x20, true)));
    Put(At(60), FolderStart(60, 10, ShortEntry("E.TXT", 74, 10)));
    Start(4096);
    for (uint64_t s : {At(10), At(20), At(30), At(40), At(60)})
        Offer(s);
    EXPECT_EQ(Keys(Finish()), "LostFolder10/a.txt\nLostFolder10/c.txt\nLostFolder10/sub/b.txt\n"
                              "LostFolder10/sub2/e.txt\nLostFolder50/LostFolder40/!.txt\n");
}

struct CopyCase
{
    const char* what;
    uint32_t cluster;
    uint32_t size;
    unsigned int status; // of the copy
    uint64_t bytes;      // kept in the target
};

class DeepFatCopy : public DeepFatCorner, public ::testing::WithParamInterface<CopyCase>
{
};

TEST_P(DeepFatCopy, DataIsReadOverConsecutiveClustersFromTheFirst)
{
    const CopyCase& c = GetParam();
    // Clusters 5 to 7 hold a pattern; the disk ends after cluster 9.
    std::vector<uint8_t> data(3 * SPC * 512);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 7 + i / 4096);
    Put(At(5), data);
    Put(At(10), FolderStart(10, 0, ShortEntry("DATA.BIN", c.cluster, c.size)));
    Put(At(20), FolderStart(20, 0));
    Start(At(10) + 200);
    Offer(At(10));
    Offer(At(20));
    std::map<std::string, _FILE_NODE_> files = Finish();
    ASSERT_EQ(files.count("LostFolder10/data.bin"), 1u) << Keys(files);
    ReportLog log;
    engine->InitCallBack(nullptr, &CollectReport, &log, 100);
    std::wstring target = Utf8ToWide(dir.File("out").c_str());
    EXPECT_EQ(engine->SaveFileData(&files["LostFolder10/data.bin"], &target[0], 0), c.status) << c.what;
    ASSERT_EQ(log.Finals(), 1) << c.what;
    EXPECT_EQ(log.reports.back().status, int(c.status)) << c.what;
    std::vector<uint8_t> got;
    ASSERT_TRUE(ReadWholeFile(dir.File("out"), got)) << c.what;
    ASSERT_EQ(got.size(), c.bytes) << c.what;
    if (c.cluster == 5)
    {
        EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin())) << c.what;
    }
}

INSTANTIATE_TEST_SUITE_P(Files, DeepFatCopy,
                         ::testing::Values(CopyCase{"three clusters, the last in part", 5, 10000, 0, 10000},
                                           CopyCase{"one byte", 5, 1, 0, 1},
                                           // Clusters 0 and 1 hold no file's data.
                                           CopyCase{"cluster 0", 0, 700, STATUS_READ_FAULT, 0},
                                           // The device ends 200 sectors after folder 10.
                                           CopyCase{"beyond the device", 30, 1 << 20, STATUS_READ_FAULT,
                                                    (At(10) + 200 - At(30)) * 512}),
                         [](const ::testing::TestParamInfo<CopyCase>& i) { return std::to_string(i.index); });

TEST_F(DeepFatCorner, PositionsBeyondThirtyTwoBitsStayExact)
{
    // A volume that starts past sector 2^32 (a disk over 2 TiB).
    const uint64_t start = (uint64_t(1) << 32) + 64;
    std::vector<uint8_t> data(SPC * 512, 0x3C);
    Put(start + At(5), data);
    Put(start + At(10), FolderStart(10, 0, ShortEntry("FAR.BIN", 5, 3000)));
    Put(start + At(20), FolderStart(20, 0));
    Start(start + 4096, start, 4096);
    Offer(start + At(10));
    Offer(start + At(20));
    std::map<std::string, _FILE_NODE_> files = Finish();
    ASSERT_EQ(files.count("LostFolder10/far.bin"), 1u) << Keys(files);
    const _FILE_NODE_& far = files["LostFolder10/far.bin"];
    EXPECT_EQ(far.u64PartitionStartSector, start);
    EXPECT_EQ(far.u64DataStartSector, BASE);
    EXPECT_EQ(far.u64RecordSector, start + At(10));
    std::wstring target = Utf8ToWide(dir.File("far").c_str());
    EXPECT_EQ(engine->SaveFileData(&files["LostFolder10/far.bin"], &target[0], 0), 0u);
    std::vector<uint8_t> got;
    ASSERT_TRUE(ReadWholeFile(dir.File("far"), got));
    EXPECT_EQ(got, std::vector<uint8_t>(3000, 0x3C));
}

TEST_F(DeepFatCorner, ParkedSectorsStopAtTheirBoundAndTheRestIsCounted)
{
    Start(16);
    const std::vector<uint8_t> sector = Sector(ShortEntry("PARKED.TXT", 0, 0));
    std::vector<uint8_t> bytes = sector;
    for (uint64_t s = 0; s < Engine::MAX_PARKED_SECTORS + 3; ++s)
        engine->ParseFDTFileRecord(bytes.data(), 1000000 + s);
    EXPECT_EQ(engine->GetParkedSectorCount(), Engine::MAX_PARKED_SECTORS);
    EXPECT_EQ(engine->GetDropCounts().parkedSectors, 3u);
    EXPECT_TRUE(Finish().empty()); // no layout ever placed them
    EXPECT_EQ(engine->GetParkedSectorCount(), 0u);
}
} // namespace

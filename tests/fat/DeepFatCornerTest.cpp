// Precise corners of the deep FAT engine on hand-built sectors (a sparse
// disk image holding only the folder sectors and file data a case needs),
// offered in the order each case names: layouts from two folder starts, a
// long name cut at a sector's end, folders whose own entry is gone, data
// read over consecutive clusters (positions beyond 32 bits too), the
// memory bound.
#include "core/Status.h"
#include "tests/fat/FatTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
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

class DeepFatCorner : public ::testing::Test
{
  protected:
    void Put(uint64_t sector, const std::vector<uint8_t>& bytes) { image.Put(sector, bytes); }

    // Writes the disk (total sectors from sector 0) and starts a scan of
    // [start, start + count); the next case puts its sectors anew.
    void Start(uint64_t total, uint64_t start = 0, uint64_t count = 0)
    {
        scan.reset();
        ASSERT_TRUE(image.Write(path, total));
        image = SectorImage();
        scan.reset(new DeepFatScan(path, start, count ? count : total - start));
        engine = &scan->Engine();
        ASSERT_TRUE(scan->Begin());
    }

    // Offers a sector of the disk as the sweep does.
    void Offer(uint64_t sector)
    {
        std::vector<uint8_t> bytes = ReadFileRange(path, sector * 512, 1024);
        bytes.resize(1024);
        ASSERT_TRUE(scan->Offer(bytes.data(), &bytes[512], sector)) << "sector " << sector;
    }

    // Every file listed, by its path.
    std::map<std::string, _FILE_NODE_> Finish()
    {
        scan->End();
        return ByPath(engine);
    }

    TempDir dir{"deepfat-corner"};
    const std::string path = dir.File("disk.img");
    SectorImage image;
    std::unique_ptr<DeepFatScan> scan;
    Engine* engine = nullptr;
};

// Two folder starts give a layout only for a real cluster size.
TEST_F(DeepFatCorner, TwoFolderStartsGiveALayoutOnlyForARealClusterSize)
{
    const struct
    {
        const char* what;
        uint32_t c1;
        uint64_t s1;
        uint32_t c2;
        uint64_t s2;
        int64_t spc;  // 0: no layout
        int64_t base; // first sector of cluster 2
    } cases[] = {
        {"8 sectors per cluster", 10, 1000, 20, 1080, 8, 936},
        {"offered in the other order", 20, 1080, 10, 1000, 8, 936},
        {"2 sectors per cluster", 10, 1000, 30, 1040, 2, 984},
        {"3 sectors per cluster", 10, 1000, 20, 1030, 0, 0},
        {"256 sectors per cluster", 10, 1000, 11, 1256, 0, 0},
        {"data area before the device", 10, 1000, 12, 1256, 0, 0},
        {"higher cluster lower on the disk", 20, 1000, 10, 1080, 0, 0},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        Put(c.s1, FolderStart(c.c1, 0, ShortEntry("ONE.TXT", 0, 0)));
        Put(c.s2, FolderStart(c.c2, 0, ShortEntry("TWO.TXT", 0, 0)));
        Start(4096);
        Offer(c.s1);
        Offer(c.s2);
        const std::map<std::string, _FILE_NODE_> files = Finish();
        // The layouts as "spc base", the files as "path cluster-bytes data-start".
        const auto line = [](const std::string& head, int64_t a, int64_t b)
        { return head + " " + std::to_string(a) + " " + std::to_string(b); };
        std::vector<std::string> got, want;
        for (const auto& l : engine->GetVirtualDbrVec())
            got.push_back(line("layout", l.spc, l.Base()));
        for (const auto& f : files)
            got.push_back(line(f.first, f.second.uClusterSize, int64_t(f.second.u64DataStartSector)));
        if (c.spc)
            want = {line("layout", c.spc, c.base),
                    line("LostFolder" + std::to_string(c.c1) + "/one.txt", c.spc * 512, c.base),
                    line("LostFolder" + std::to_string(c.c2) + "/two.txt", c.spc * 512, c.base)};
        std::sort(want.begin() + (want.empty() ? 0 : 1), want.end());
        EXPECT_EQ(got, want);
        EXPECT_EQ(engine->GetDropCounts().unplacedAtEnd, c.spc ? 0u : 2u);
    }
}

// The layout of the cases below: clusters of 8 sectors, cluster 2 at 936;
// folder 10 starts at 1000, folder 20 at 1080, cluster 30 at 1160.
constexpr uint64_t BASE = 936;
constexpr uint64_t SPC = 8;
uint64_t At(uint32_t cluster)
{
    return BASE + (cluster - 2) * SPC;
}

// A long name cut at a sector's end is joined with its rest.
TEST_F(DeepFatCorner, ALongNameCutAtASectorsEndIsJoinedWithItsRest)
{
    // The sectors offered: folder 10's first, the one that ends with the
    // cut run, folder 20's first, the sector(s) of the rest in cluster 30.
    constexpr int F10 = 0, CUT = 1, F20 = 2, REST = 3;
    const struct
    {
        const char* what;
        int partsBefore;        // long-name parts at the end of the cut sector
        bool otherFile;         // the sector after holds another file's entry instead of the rest
        bool middleSector;      // 16 more parts fill a sector of their own between them
        std::vector<int> order; // as offered
        const char* listedAs;   // null: "LostFolder10/" and the long name
        uint64_t cut;           // the cut sector in cluster 10
    } cases[] = {
        {"rest in a later cluster", 2, false, false, {F10, CUT, F20, REST}, nullptr, 7},
        {"rest offered first", 2, false, false, {F10, F20, REST, CUT}, nullptr, 7},
        {"only the short entry left", 4, false, false, {F10, CUT, F20, REST}, nullptr, 7},
        {"a name of 20 parts over three sectors", 1, false, true, {F10, CUT, F20, REST}, nullptr, 7},
        {"another file after the cut", 2, true, false, {F10, CUT, F20, REST}, "LostFolder30/other.txt", 7},
        // Cut inside a cluster: its rest was in the next sector, now gone.
        {"cut inside a cluster", 4, false, false, {F10, CUT, F20, REST}, "LostFolder30/arathe~1.txt", 3},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        const std::string longName = c.middleSector ? std::string(248, 'n') + ".txt" // 20 parts
                                                    : "A rather long file name that is cut in two.txt";
        const std::vector<uint8_t> run = MakeNamedEntry(std::u16string(longName.begin(), longName.end()),
                                                        DirEntryParams{"ARATHE~1.TXT", 0x20, 40, 700});
        ASSERT_GE(run.size() / 32 - 1, size_t(c.partsBefore));
        std::vector<uint8_t> head(run.begin(), run.begin() + c.partsBefore * 32);
        std::vector<uint8_t> rest(run.begin() + c.partsBefore * 32, run.end());
        if (c.otherFile)
            rest = ShortEntry("OTHER.TXT", 41, 10);
        Put(At(10), FolderStart(10, 0));
        Put(At(10) + c.cut, Sector(Concat({Fillers(16 - c.partsBefore), head})));
        Put(At(20), FolderStart(20, 0));
        const size_t restSectors = (rest.size() + 511) / 512;
        for (size_t k = 0; k < restSectors; ++k)
            Put(At(30) + k,
                Sector(std::vector<uint8_t>(rest.begin() + long(k * 512),
                                            rest.begin() + long(std::min(k * 512 + 512, rest.size())))));
        Start(4096);
        for (int o : c.order)
            for (size_t k = 0; k < (o == REST ? restSectors : 1); ++k)
                Offer(o == REST ? At(30) + k : o == F10 ? At(10) : o == F20 ? At(20) : At(10) + c.cut);
        const std::map<std::string, _FILE_NODE_> files = Finish();
        const std::string expected = c.listedAs ? c.listedAs : "LostFolder10/" + longName;
        EXPECT_EQ(files.count(expected), 1u) << "listed\n" << ::testing::PrintToString(Paths(files));
        EXPECT_EQ(files.size(), 16u - c.partsBefore + 1);
    }
}

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
    EXPECT_EQ(Paths(Finish()),
              (std::vector<std::string>{"LostFolder10/a.txt", "LostFolder10/c.txt", "LostFolder10/sub/b.txt",
                                        "LostFolder10/sub2/e.txt", "LostFolder50/LostFolder40/!.txt"}));
}

// Data is read over consecutive clusters from the first, and positions
// stay exact in a volume that starts past sector 2^32 (a disk over 2 TiB).
TEST_F(DeepFatCorner, DataIsReadOverConsecutiveClustersFromTheFirst)
{
    constexpr uint64_t FAR = (uint64_t(1) << 32) + 64;
    const struct
    {
        const char* what;
        uint64_t start; // of the volume
        uint32_t cluster;
        uint32_t size;
        unsigned int status; // of the copy
        uint64_t bytes;      // kept in the target
    } cases[] = {
        {"three clusters, the last in part", 0, 5, 10000, 0, 10000},
        {"one byte", 0, 5, 1, 0, 1},
        {"beyond 32 bits", FAR, 5, 10000, 0, 10000},
        // Clusters 0 and 1 hold no file's data.
        {"cluster 0", 0, 0, 700, STATUS_READ_FAULT, 0},
        // The device ends 200 sectors after folder 10.
        {"beyond the device", 0, 30, 1 << 20, STATUS_READ_FAULT, (At(10) + 200 - At(30)) * 512},
    };
    // Clusters 5 to 7 hold a pattern; the disk ends after cluster 9.
    std::vector<uint8_t> data(3 * SPC * 512);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 7 + i / 4096);
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        Put(c.start + At(5), data);
        Put(c.start + At(10), FolderStart(10, 0, ShortEntry("DATA.BIN", c.cluster, c.size)));
        Put(c.start + At(20), FolderStart(20, 0));
        Start(c.start + At(10) + 200, c.start);
        Offer(c.start + At(10));
        Offer(c.start + At(20));
        std::map<std::string, _FILE_NODE_> files = Finish();
        ASSERT_EQ(files.count("LostFolder10/data.bin"), 1u) << ::testing::PrintToString(Paths(files));
        _FILE_NODE_& node = files["LostFolder10/data.bin"];
        EXPECT_EQ(node.u64PartitionStartSector, c.start);
        EXPECT_EQ(node.u64DataStartSector, BASE);
        EXPECT_EQ(node.u64RecordSector, c.start + At(10));
        const std::string got = Copy(engine, node, dir.File(c.what), int(c.status));
        ASSERT_EQ(got.size(), c.bytes);
        EXPECT_TRUE(c.cluster != 5 || got == std::string(data.begin(), data.begin() + long(got.size())));
    }
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

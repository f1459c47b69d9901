// Damaged and hostile volumes: real images from mkfs.fat and mtools with a
// few bytes changed where a precise corner is needed (names that try to
// climb out of the destination, a live file in a deleted folder, a chain
// that loops), hand-built boot sectors, tables and folder trees.
#include "core/ByteReader.h"
#include "core/CDiskReader.h"
#include "core/Platform.h"
#include "core/Portability.h"
#include "core/Status.h"
#include "engines/fat/CFastFatRecovery.h"
#include "engines/fat/CFatChainWalker.h"
#include "engines/fat/FatLayout.h"
#include "tests/fat/FatTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace tessaroo;
using namespace tessaroo::test;

namespace
{
// A chain walker over image (as disk 0) with the geometry of its boot sector.
struct Walker
{
    explicit Walker(const std::string& image) : disks("TESSAROO_DISKS", image)
    {
        const std::vector<uint8_t> boot = ReadFileRange(image, 0, 512);
        EXPECT_TRUE(DeriveFatGeometry(boot.data(), boot.size(), g));
        EXPECT_EQ(reader.Init(0, ImageSectors(image)), 0u);
        EXPECT_EQ(w.Init(&reader, g, 0, ImageSectors(image)), 0u);
    }
    // The file chain from first, steps clusters on.
    std::vector<uint32_t> FileChain(uint32_t first, size_t steps)
    {
        CClusterRunSet met;
        std::vector<uint32_t> chain = {first};
        for (uint32_t next = 0; chain.size() <= steps; chain.push_back(next))
            EXPECT_EQ(w.NextFileCluster(chain.back(), met, next), 0u);
        return chain;
    }
    ScopedEnv disks;
    FatGeometry g;
    CDiskReader reader;
    CFatChainWalker w;
};

// A copy of the FAT16 volume of tools/make_fat_images.sh with its deleted
// folder TRASH changed: the photo's long name becomes a climb out of the
// destination, the inner folder's long name "..", and the deleted mark of
// A.TXT is undone, as some systems delete a folder by its own entry alone.
// The live file is listed under the deleted folder, and a folder copy of
// TRASH takes it and stays inside its destination.
TEST(FatCorner, AFolderCopyOfADeletedFolderStaysInItsDestinationAndTakesItsLiveFiles)
{
    ASSERT_FALSE(SharedFatImages().empty());
    Manifest m;
    ASSERT_TRUE(LoadManifest(SharedFatImages() + "/fat16.manifest", m));
    std::vector<uint8_t> b;
    ASSERT_TRUE(ReadWholeFile(SharedFatImages() + "/fat16.img", b));
    for (const auto& change : {std::make_pair("photo", u"../../x.jpg"), std::make_pair("Inner", u"..")})
    {
        std::vector<uint8_t> utf16;
        for (const char* c = change.first; *c; ++c)
            utf16.insert(utf16.end(), {uint8_t(*c), 0});
        auto at = std::search(b.begin(), b.end(), utf16.begin(), utf16.end());
        ASSERT_NE(at, b.end());
        const std::vector<uint8_t> run = MakeLongNameEntries(change.second, 0, true);
        std::copy(run.begin(), run.end(), at - 1);
    }
    const ManifestEntry* a = m.Find("/TRASH/A.TXT");
    ASSERT_NE(a, nullptr);
    std::array<uint8_t, 11> name = ShortName11(a->shortName);
    name[0] = 0xE5;
    const auto entry = b.begin() + long(a->entrySector * 512);
    auto at = std::search(entry, entry + 512, name.begin(), name.end());
    ASSERT_NE(at, entry + 512);
    *at = 'A';
    TempDir dir("fat-corner");
    const std::string img = dir.File("changed.img");
    ASSERT_TRUE(WriteImageFile(img, b));
    ImageEngine engine(img);
    IFileRecoveryParse* e = engine.get();
    ASSERT_NE(e, nullptr);
    engine.Scan();
    EXPECT_EQ(ByPath(e).count("!rash/a.txt"), 1u);

    _FILE_NODE_ trash;
    ASSERT_TRUE(RootFolder(e, "!rash", trash));
    EXPECT_EQ(trash.bIsDeleted, 1u);
    const std::string dest = dir.File("dest"), deep = dest + "/a/b";
    ASSERT_TRUE(MakeDirs(deep, 0755));
    std::wstring wdeep = Utf8ToWide(deep.c_str());
    int rootSeparators = 0;
    GetPathDirIndex(wdeep.c_str(), rootSeparators);
    unsigned st = ~0u;
    EXPECT_EQ(Recover(e, trash, deep + "/trash", st, 0, rootSeparators).Finals(), 3);
    std::set<std::string> expected, found;
    for (const char* p : {"", "/a", "/a/b", "/a/b/trash", "/a/b/trash/a.txt", "/a/b/trash/__",
                          "/a/b/trash/__/.._.._x.jpg", "/a/b/trash/__/!eep.txt"})
        expected.insert(dest + p);
    for (const auto& f : std::filesystem::recursive_directory_iterator(dir.Path()))
        if (f.path() != img)
            found.insert(f.path().string());
    EXPECT_EQ(found, expected);
    EXPECT_EQ(Sha256OfFile(deep + "/trash/a.txt"), a->sha256);
    EXPECT_EQ(Sha256OfFile(deep + "/trash/__/.._.._x.jpg"),
              m.Find("/TRASH/Inner Folder/photo two.jpg")->sha256);
}

TEST(FatChainWalker, FileChainsEndOnLoopsAndContinueInFreeClusters)
{
    // A FAT16 volume whose table is written here: 6 -> 7 -> 6 loops, 9 is
    // free, 10 is used, 11 free.
    ASSERT_TRUE(HaveTool("mkfs.fat"));
    TempDir dir("fat-chain");
    const std::string img = dir.File("chain.img");
    ASSERT_TRUE(RunSucceeds("mkfs.fat -C -F 16 -s 1 -i 5EED1002 " + ShellQuote(img) + " 16384 >/dev/null"));
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ReadWholeFile(img, bytes));
    uint8_t* fat = &bytes[(bytes[14] | bytes[15] << 8) * 512]; // after the reserved sectors
    for (const auto& link : {std::make_pair(6, 7), {7, 6}, {8, 0xFFFF}, {10, 0xFFFF}})
        PutU16(fat + link.first * 2, uint16_t(link.second));
    ASSERT_TRUE(WriteImageFile(img, bytes));
    Walker walker(img);
    // 6 -> 7 (linked), 7 -> 6 would repeat: the next free cluster after 7
    // that the file has not met is 9 (8 is in use), then 11, 12, 13.
    EXPECT_EQ(walker.FileChain(6, 5), (std::vector<uint32_t>{6, 7, 9, 11, 12, 13}));
    // A folder chain ends where it would come back.
    CClusterRunSet folder;
    uint32_t next = 0;
    bool linked = false;
    ASSERT_EQ(walker.w.NextFolderCluster(6, folder, next, linked), 0u);
    EXPECT_EQ(next, 7u);
    EXPECT_TRUE(linked);
    ASSERT_EQ(walker.w.NextFolderCluster(7, folder, next, linked), 0u);
    EXPECT_EQ(next, 0u);
    // At the volume's end a file's data ends.
    CClusterRunSet tail;
    ASSERT_EQ(walker.w.NextFreeCluster(walker.g.clusterCount + 1, &tail, next), 0u);
    EXPECT_EQ(next, 0u);
}

// Hand-built boot sectors on an image of 32768 sectors. One the engine
// cannot walk makes an unreadable volume: Init and the scan say so (87),
// never "nothing deleted". One whose stated volume does not fit the image:
// the bitmap covers the clusters within it only, none when the data area
// lies beyond it, and the scan still ends (a volume of 2^32 stated sectors
// on a small image took a 32 MiB map and minutes of table lookups that all
// failed).
TEST(FatGeometry, BootSectorsThatDoNotFitTheRangeTheVolumeWasOpenedOn)
{
    constexpr uint64_t IMAGE = 32768;
    constexpr unsigned BAD = STATUS_INVALID_PARAMETER;
    constexpr FatFormat F16 = FatFormat::Fat16, F32 = FatFormat::Fat32;
    typedef FatBootParams P;
    const struct
    {
        const char* what;
        FatFormat kind;
        void (*change)(P&);
        unsigned init;   // of Init and the scan
        size_t mapBytes; // 0: no data area within the range
    } cases[] = {
        {"no bytes per sector", F16, [](P& p) { p.bytesPerSector = 0; }, BAD, 0},
        {"odd sector size", F16, [](P& p) { p.bytesPerSector = 1000; }, BAD, 0},
        {"no sectors per cluster", F16, [](P& p) { p.sectorsPerCluster = 0; }, BAD, 0},
        {"3 sectors per cluster", F16, [](P& p) { p.sectorsPerCluster = 3; }, BAD, 0},
        {"no FAT", F16, [](P& p) { p.numFats = 0; }, BAD, 0},
        {"empty FAT", F16, [](P& p) { p.sectorsPerFat = 0; }, BAD, 0},
        // Clusters 0 and 1 are reserved: a root folder there names no cluster.
        {"root cluster 0", F32, [](P& p) { p.rootCluster = 0; }, BAD, 0},
        {"root cluster 1", F32, [](P& p) { p.rootCluster = 1; }, BAD, 0},
        {"root cluster beyond the volume", F32, [](P& p) { p.rootCluster = 0x0FFFFFF0; }, BAD, 0},
        // Data from sector 32 + 2 * 1016: the clusters within the image.
        {"table within the image", F32, [](P& p) { p.totalSectors = 0xFFFFFFFF; }, 0,
         (IMAGE - 32 - 2 * 1016 + 7) / 8},
        // The two tables alone reach far beyond the image.
        {"data area beyond the image", F32,
         [](P& p) { p.totalSectors = 0xFFFFFFFF, p.sectorsPerFat = 0x78000000; }, 0, 0},
        // Fewer sectors than the reserved ones, the tables and the root.
        {"total below the data start", F16, [](P& p) { p.totalSectors = 40; }, 0, 0},
    };
    TempDir dir("fat-boot");
    PrepareScanLog();
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        FatBootParams p = DefaultFatParams(c.kind);
        c.change(p);
        const std::string img = dir.File(std::string(c.what) + ".img");
        ASSERT_TRUE(SectorImage().Put(0, MakeFatBootSector(p)).Write(img, IMAGE));
        ScopedEnv disks("TESSAROO_DISKS", img);
        CFastFatRecovery engine;
        EXPECT_EQ(engine.Init(0, 0, IMAGE, L'C'), c.init);
        if (p.totalSectors < 1000)
        {
            EXPECT_EQ(engine.GetGeometry().clusterCount, 0u) << "no wrap below the data start";
        }
        EXPECT_EQ(engine.BuildBitMapInfo(), c.mapBytes ? 0u : BAD);
        ASSERT_EQ(engine.GetBitMap().size(), c.mapBytes);
        unsigned long long start = 0, count = 7;
        engine.GetUnUsedSectorCount(start, count);
        EXPECT_LE(start + count, c.init ? 0 : IMAGE);
        EXPECT_EQ(engine.ScanDevice(nullptr), c.init);
        EXPECT_EQ(engine.GetLostFileCount(), 0u);
    }
}

// A FAT16 volume of one-sector clusters whose root names folder cluster 2;
// each of the n clusters from 2 starts a folder (dot pair) that names the
// next cluster as its subfolder and holds one deleted file GONE<cluster>.TXT.
// Chained, the table links the clusters into one chain whose end links back
// to its start, as a damaged table runs folders into one another and into
// themselves, and live files fill each cluster so that no free entry ends a
// folder; else each folder is one cluster and its ".." names the folder
// above.
std::string FolderLadder(const TempDir& dir, uint32_t n, bool chained, FatBootParams& p)
{
    p = DefaultFatParams(FatFormat::Fat16);
    p.sectorsPerCluster = 1;
    const uint64_t fatSector = p.reservedSectors;
    const uint64_t rootSector = fatSector + uint64_t(p.numFats) * p.sectorsPerFat;
    const uint64_t dataSector = rootSector + p.rootEntries * 32u / 512u;
    SectorImage si;
    si.Put(0, MakeFatBootSector(p));
    std::vector<uint8_t> fat(512, chained ? 0 : 0xFF);
    PutU32(&fat[0], 0xFFFFFFF8);
    for (uint32_t c = 2; c < n + 2; ++c)
    {
        const bool last = c + 1 == n + 2;
        if (chained)
            PutU16(&fat[c * 2], uint16_t(last ? 2 : c + 1));
        DirectoryBuilder d;
        d.Add(MakeDotPair(c, chained || c == 2 ? 0 : c - 1));
        if (!last)
            d.Add(ShortEntry("SUB" + std::to_string(c + 1), c + 1, 0, 0x10));
        d.Add(ShortEntry("GONE" + std::to_string(c) + ".TXT", 500, 100, 0x20, true));
        for (int k = 0; chained && k < 12; ++k)
            d.Add(ShortEntry("LIVE" + std::to_string(k) + ".TXT", 0, 0));
        si.Put(dataSector + (c - 2), d.Build());
    }
    si.Put(fatSector, fat);
    si.Put(rootSector, DirectoryBuilder().Add(ShortEntry("SUB2", 2, 0, 0x10)).Build());
    const std::string img = dir.File("ladder.img");
    return si.Write(img, p.totalSectors) ? img : std::string();
}

// Cross-linked folders: each cluster of the looping chain also starts the
// subfolder the one before names. The chain is walked whole and ends where
// it comes back, and every cluster is read once, so each file is listed
// once; walking each subfolder to the chain's end listed them n(n+1)/2
// times and took quadratic time in the chain's length.
TEST(FatCrossLinks, AFolderClusterThatTwoFoldersClaimIsReadOnce)
{
    constexpr uint32_t N = 12;
    TempDir dir("fat-crosslink");
    FatBootParams p;
    const std::string img = FolderLadder(dir, N, true, p);
    ImageEngine e(img);
    std::multiset<std::string> names;
    for (const auto& h : e.Scan())
        names.insert(NodeNameUtf8(h));
    ASSERT_EQ(names.size(), size_t(N));
    for (uint32_t c = 2; c < N + 2; ++c)
        EXPECT_EQ(names.count("!one" + std::to_string(c) + ".txt"), 1u) << "cluster " << c;
}

// Bytes this process has read through system calls so far.
uint64_t BytesReadSoFar()
{
    std::vector<uint8_t> io;
    if (!ReadWholeFile("/proc/self/io", io))
        return 0;
    const std::string text(io.begin(), io.end());
    const size_t at = text.find("rchar: ");
    return at == std::string::npos ? 0 : std::stoull(text.substr(at + 7));
}

// 100 nested folders: the level of every folder is found by reading ".."
// entries up to the root. Each entry is read once for the whole scan;
// reading them again for every folder read 5,050 sectors here, and grew
// with the square of the depth.
TEST(FatDeepTree, EachDotDotEntryIsReadOnceForTheWholeScan)
{
    constexpr uint32_t DEPTH = 100;
    TempDir dir("fat-deep");
    FatBootParams p;
    const std::string img = FolderLadder(dir, DEPTH, false, p);
    ImageEngine e(img);
    ASSERT_NE(e.get(), nullptr);
    const uint64_t before = BytesReadSoFar();
    ASSERT_EQ(e->ScanDevice(nullptr), 0u);
    // Per folder: its cluster, its ".." sector, its file's first sector.
    EXPECT_LT(BytesReadSoFar() - before, uint64_t(DEPTH) * 8 * 512);
    // Every file is listed, and the deepest under its folder at its depth.
    EXPECT_EQ(ListAll(e.get()).size(), size_t(DEPTH));
    _FILE_NODE_ folder = {};
    folder.bIsDir = 1;
    folder.uClusterNO = DEPTH + 1;
    std::vector<_FILE_NODE_> children;
    ASSERT_EQ(e->GetChildrenFileNode(&folder, DEPTH, children), 0u);
    ASSERT_EQ(children.size(), 1u);
    EXPECT_EQ(NodeNameUtf8(children[0]), "!one" + std::to_string(DEPTH + 1) + ".txt");
}

// A FAT32 table of 20 MiB, beyond the walker's 16 MiB window, and a file
// chain that hops between its start and its far end 32 times. Each hop read
// the whole window again (over 500 MiB here; hours for a large file); a
// chain step outside the window now reads the one sector holding its entry.
TEST(FatChainWalker, AChainHoppingAcrossALargeTableReadsOneSectorPerHop)
{
    constexpr uint32_t HIGH = 4194400; // entry at byte 16,777,600 of the table
    constexpr uint32_t HOPS = 32;
    FatBootParams p = DefaultFatParams(FatFormat::Fat32);
    p.sectorsPerFat = 40960;
    p.totalSectors = p.reservedSectors + 2 * p.sectorsPerFat + HIGH + 200;
    std::vector<uint8_t> low(512, 0), high(512, 0);
    std::vector<uint32_t> chain;
    for (uint32_t i = 0; i < HOPS; ++i)
        chain.insert(chain.end(), {3 + i, HIGH + i});
    for (size_t i = 0; i < chain.size(); ++i)
        PutU32(&(chain[i] < HIGH ? low : high)[(chain[i] % 128) * 4],
               i + 1 < chain.size() ? chain[i + 1] : 0x0FFFFFFF);
    SectorImage si;
    si.Put(0, MakeFatBootSector(p));
    si.Put(p.reservedSectors, low);
    si.Put(p.reservedSectors + HIGH / 128, high);
    TempDir dir("fat-hops");
    const std::string img = dir.File("hops.img");
    ASSERT_TRUE(si.Write(img, p.totalSectors));
    Walker walker(img);
    const uint64_t before = BytesReadSoFar();
    EXPECT_EQ(walker.FileChain(chain[0], chain.size() - 1), chain);
    EXPECT_LT(BytesReadSoFar() - before, uint64_t(1) << 20);
}
} // namespace

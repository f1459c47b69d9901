// Damaged and hostile volumes: real images from mkfs.fat and mtools with a
// few bytes changed where a precise corner is needed (a folder chain that
// loops, a file larger than the volume, names that try to climb out of the
// destination), hand-built boot sectors, and the 12-bit FAT decoding.
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

#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tessaroo;
using namespace tessaroo::test;

namespace
{
bool PatchImage(const std::string& path, uint64_t offset, const std::vector<uint8_t>& bytes)
{
    int fd = open(path.c_str(), O_WRONLY);
    if (fd < 0)
        return false;
    bool ok = pwrite(fd, bytes.data(), bytes.size(), off_t(offset)) == ssize_t(bytes.size());
    close(fd);
    return ok;
}

// Offset of the first occurrence of pattern in the file, or -1.
long long FindInImage(const std::string& path, const std::vector<uint8_t>& pattern)
{
    std::vector<uint8_t> img;
    if (!ReadWholeFile(path, img))
        return -1;
    auto it = std::search(img.begin(), img.end(), pattern.begin(), pattern.end());
    return it == img.end() ? -1 : (long long)(it - img.begin());
}

// Byte offset in the image of a manifest item's deleted short entry.
uint64_t DeletedEntryAt(const std::string& img, const ManifestEntry& e)
{
    const std::vector<uint8_t> sector = ReadFileRange(img, e.entrySector * 512, 512);
    std::array<uint8_t, 11> name = ShortName11(e.shortName);
    name[0] = 0xE5;
    for (size_t off = 0; off + 32 <= sector.size(); off += 32)
        if (std::equal(name.begin(), name.end(), sector.begin() + long(off)))
            return e.entrySector * 512 + off;
    ADD_FAILURE() << e.path << " has no deleted entry in sector " << e.entrySector;
    return 0;
}

std::vector<uint8_t> Utf16(const std::string& ascii)
{
    std::vector<uint8_t> out;
    for (char c : ascii)
    {
        out.push_back(uint8_t(c));
        out.push_back(0);
    }
    return out;
}

std::vector<uint8_t> Le16(uint16_t v)
{
    return {uint8_t(v), uint8_t(v >> 8)};
}
std::vector<uint8_t> Le32(uint32_t v)
{
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

class FatCorner : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_FALSE(SharedFatImages().empty());
        ASSERT_TRUE(HaveTool("mkfs.fat") && HaveTool("mcopy"));
    }
    std::unique_ptr<ImageEngine> Scan(const std::string& image, std::vector<__SEARCH_FILE_INFO__>& hits)
    {
        std::unique_ptr<ImageEngine> e(new ImageEngine(image, 0, ImageSectors(image)));
        EXPECT_NE(e->get(), nullptr);
        if (!e->get())
            return e;
        EXPECT_EQ((*e)->ScanDevice(nullptr), 0u);
        std::wstring key = AllKindsKey();
        (*e)->SearchFileNode(&key[0], hits);
        return e;
    }
    TempDir dir{"fat-corner"};
};

TEST_F(FatCorner, FileLargerThanTheVolumeIsReportedIncompleteOnceAndKeepsWhatWasRead)
{
    const std::string img = CopyImage(SharedFatImages() + "/fat12.img", dir.Path(), "big.img");
    Manifest m;
    ASSERT_TRUE(LoadManifest(SharedFatImages() + "/fat12.manifest", m));
    const ManifestEntry* del = m.Find("/DELROOT.TXT");
    ASSERT_NE(del, nullptr);
    ASSERT_TRUE(PatchImage(img, DeletedEntryAt(img, *del) + 28, Le32(100u << 20)));

    std::vector<__SEARCH_FILE_INFO__> hits;
    auto e = Scan(img, hits);
    __SEARCH_FILE_INFO__* h = nullptr;
    for (auto& x : hits)
        if (NodeNameUtf8(x) == "!elroot.txt")
            h = &x;
    ASSERT_NE(h, nullptr);
    ReportLog log;
    (*e)->InitCallBack(nullptr, &CollectReport, &log, 100);
    std::wstring target = Utf8ToWide(dir.File("out.txt").c_str());
    EXPECT_EQ((*e)->SaveFileData(h, &target[0], 0), STATUS_READ_FAULT);
    ASSERT_EQ(log.Finals(), 1);
    EXPECT_EQ(log.reports.back().status, int(STATUS_READ_FAULT));
    std::vector<uint8_t> got;
    ASSERT_TRUE(ReadWholeFile(dir.File("out.txt"), got));
    // What was read is kept: the file's own data first, then the free
    // clusters after it up to the end of the volume, never the root again.
    ASSERT_GT(got.size(), del->size);
    EXPECT_LT(got.size(), uint64_t(2) << 20);
    std::vector<uint8_t> head(got.begin(), got.begin() + long(del->size));
    const uint64_t dataStart = m.Fact("data_start_sector");
    const uint64_t cs = m.Fact("sectors_per_cluster") * 512;
    std::vector<uint8_t> first =
        ReadFileRange(img, dataStart * 512 + (del->firstCluster - 2) * cs, size_t(del->size));
    EXPECT_EQ(head, first);

    // The preview follows the same rule.
    std::vector<unsigned char> buf(PREVIEW_BUFFER_SIZE);
    int len = PREVIEW_BUFFER_SIZE;
    wchar_t imagePath[256] = {0};
    EXPECT_EQ((*e)->PreView(h, imagePath, buf.data(), len, nullptr, nullptr), 0u);
    EXPECT_EQ(len, PREVIEW_BUFFER_SIZE);
}

TEST_F(FatCorner, HostileNamesNeverLeadAFolderCopyOutOfItsDestination)
{
    const std::string img = CopyImage(SharedFatImages() + "/fat16.img", dir.Path(), "hostile.img");
    // In the deleted folder TRASH: the photo's long name becomes a climb out
    // of the destination, the inner folder's long name "..".
    long long photo = FindInImage(img, Utf16("photo"));
    ASSERT_GT(photo, 0);
    ASSERT_TRUE(PatchImage(img, uint64_t(photo - 1), MakeLongNameEntries(u"../../x.jpg", 0, true)));
    long long inner = FindInImage(img, Utf16("Inner"));
    ASSERT_GT(inner, 0);
    ASSERT_TRUE(PatchImage(img, uint64_t(inner - 1), MakeLongNameEntries(u"..", 0, true)));

    std::vector<__SEARCH_FILE_INFO__> hits;
    auto e = Scan(img, hits);
    std::vector<_FILE_NODE_> root;
    ASSERT_EQ((*e)->GetChildrenFileNode(nullptr, 0, root), 0u);
    _FILE_NODE_* trash = nullptr;
    for (auto& n : root)
        if (n.bIsDir && NodeNameUtf8(n) == "!rash")
            trash = &n;
    ASSERT_NE(trash, nullptr);
    EXPECT_EQ(trash->bIsDeleted, 1u);
    const std::string dest = dir.File("dest");
    const std::string deep = dest + "/a/b";
    ASSERT_TRUE(MakeDirs(deep, 0755));
    std::wstring wdeep = Utf8ToWide(deep.c_str());
    int rootSeparators = 0;
    GetPathDirIndex(wdeep.c_str(), rootSeparators);
    std::wstring target = wdeep + L"/trash";
    ReportLog log;
    (*e)->InitCallBack(nullptr, &CollectReport, &log, 100);
    (*e)->SaveFileData(trash, &target[0], rootSeparators);
    EXPECT_EQ(log.Finals(), 3);
    const std::set<std::string> expected = {dest,
                                            dest + "/a",
                                            deep,
                                            deep + "/trash",
                                            deep + "/trash/!.txt",
                                            deep + "/trash/__",
                                            deep + "/trash/__/.._.._x.jpg",
                                            deep + "/trash/__/!eep.txt"};
    std::set<std::string> found;
    for (const auto& f : std::filesystem::recursive_directory_iterator(dir.Path()))
        if (f.path() != img)
            found.insert(f.path().string());
    EXPECT_EQ(found, expected);
    Manifest m;
    ASSERT_TRUE(LoadManifest(SharedFatImages() + "/fat16.manifest", m));
    EXPECT_EQ(Sha256OfFile(deep + "/trash/__/.._.._x.jpg"),
              m.Find("/TRASH/Inner Folder/photo two.jpg")->sha256);
}

TEST_F(FatCorner, FileChainsEndOnLoopsAndContinueInFreeClusters)
{
    // A FAT16 volume whose table is written here: 6 -> 7 -> 6 loops, 9 is
    // free, 10 is used, 11 free.
    const std::string img = dir.File("chain.img");
    ASSERT_TRUE(RunSucceeds("mkfs.fat -C -F 16 -s 1 -i 5EED1002 " + ShellQuote(img) + " 16384 >/dev/null"));
    std::vector<uint8_t> boot = ReadFileRange(img, 0, 512);
    FatGeometry g;
    ASSERT_TRUE(DeriveFatGeometry(boot.data(), boot.size(), g));
    const uint64_t fatOff = g.reservedSectors * 512;
    ASSERT_TRUE(PatchImage(img, fatOff + 6 * 2, Le16(7)));
    ASSERT_TRUE(PatchImage(img, fatOff + 7 * 2, Le16(6)));
    ASSERT_TRUE(PatchImage(img, fatOff + 8 * 2, Le16(0xFFFF)));
    ASSERT_TRUE(PatchImage(img, fatOff + 10 * 2, Le16(0xFFFF)));
    ScopedEnv disks("TESSAROO_DISKS", img);
    CDiskReader reader;
    ASSERT_EQ(reader.Init(0, ImageSectors(img)), 0u);
    CFatChainWalker w;
    ASSERT_EQ(w.Init(&reader, g, 0, ImageSectors(img)), 0u);
    CClusterRunSet met;
    std::vector<uint32_t> chain = {6};
    for (int i = 0; i < 5; ++i)
    {
        uint32_t next = 0;
        ASSERT_EQ(w.NextFileCluster(chain.back(), met, next), 0u);
        chain.push_back(next);
    }
    // 6 -> 7 (linked), 7 -> 6 would repeat: the next free cluster after 7
    // that the file has not met is 9 (8 is in use), then 11, 12, 13.
    EXPECT_EQ(chain, (std::vector<uint32_t>{6, 7, 9, 11, 12, 13}));
    // A folder chain ends where it would come back.
    CClusterRunSet folder;
    uint32_t next = 0;
    bool linked = false;
    ASSERT_EQ(w.NextFolderCluster(6, folder, next, linked), 0u);
    EXPECT_EQ(next, 7u);
    EXPECT_TRUE(linked);
    ASSERT_EQ(w.NextFolderCluster(7, folder, next, linked), 0u);
    EXPECT_EQ(next, 0u);
    // At the volume's end a file's data ends.
    CClusterRunSet tail;
    ASSERT_EQ(w.NextFreeCluster(g.clusterCount + 1, &tail, next), 0u);
    EXPECT_EQ(next, 0u);
}

TEST_F(FatCorner, AFileLeftLiveInsideADeletedFolderIsListedUnderIt)
{
    // Some systems delete a folder by its own entry alone: its files keep
    // their entries. Undo the deleted mark of TRASH/A.TXT to make one.
    const std::string img = CopyImage(SharedFatImages() + "/fat16.img", dir.Path(), "live.img");
    Manifest m;
    ASSERT_TRUE(LoadManifest(SharedFatImages() + "/fat16.manifest", m));
    const ManifestEntry* a = m.Find("/TRASH/A.TXT");
    ASSERT_NE(a, nullptr);
    ASSERT_TRUE(PatchImage(img, DeletedEntryAt(img, *a), {'A'}));
    std::vector<__SEARCH_FILE_INFO__> hits;
    auto e = Scan(img, hits);
    __SEARCH_FILE_INFO__* h = nullptr;
    for (auto& x : hits)
        if (NodePath(e->get(), x) == "!rash/a.txt")
            h = &x;
    ASSERT_NE(h, nullptr);
    ReportLog log;
    (*e)->InitCallBack(nullptr, &CollectReport, &log, 100);
    std::wstring target = Utf8ToWide(dir.File("a.txt").c_str());
    EXPECT_EQ((*e)->SaveFileData(h, &target[0], 0), 0u);
    EXPECT_EQ(Sha256OfFile(dir.File("a.txt")), a->sha256);
}

struct BadBoot
{
    const char* what;
    FatFormat kind;
    void (*change)(FatBootParams&);
};

class FatHostileBoot : public ::testing::TestWithParam<BadBoot>
{
};

// A boot sector the engine cannot walk makes an unreadable volume: Init and
// the scan say so (87), never "nothing deleted".
TEST_P(FatHostileBoot, UnusableGeometryIsAnUnreadableVolume)
{
    FatBootParams p = DefaultFatParams(GetParam().kind);
    GetParam().change(p);
    std::vector<uint8_t> boot = MakeFatBootSector(p);
    TempDir dir("fat-boot");
    const std::string img = dir.File("boot.img");
    SectorImage si;
    si.Put(0, boot);
    ASSERT_TRUE(si.Write(img, 32768));
    PrepareScanLog();
    ScopedEnv disks("TESSAROO_DISKS", img);
    CFastFatRecovery engine;
    EXPECT_EQ(engine.Init(0, 0, 32768, L'C'), STATUS_INVALID_PARAMETER) << GetParam().what;
    EXPECT_EQ(engine.ScanDevice(nullptr), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(engine.GetLostFileCount(), 0u);
    EXPECT_EQ(engine.BuildBitMapInfo(), STATUS_INVALID_PARAMETER);
    unsigned long long start = 0, count = 7;
    engine.GetUnUsedSectorCount(start, count);
    EXPECT_EQ(count, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Boots, FatHostileBoot,
    ::testing::Values(
        BadBoot{"no bytes per sector", FatFormat::Fat16, [](FatBootParams& p) { p.bytesPerSector = 0; }},
        BadBoot{"odd sector size", FatFormat::Fat16, [](FatBootParams& p) { p.bytesPerSector = 1000; }},
        BadBoot{"no sectors per cluster", FatFormat::Fat16,
                [](FatBootParams& p) { p.sectorsPerCluster = 0; }},
        BadBoot{"3 sectors per cluster", FatFormat::Fat16, [](FatBootParams& p) { p.sectorsPerCluster = 3; }},
        BadBoot{"no FAT", FatFormat::Fat16, [](FatBootParams& p) { p.numFats = 0; }},
        BadBoot{"empty FAT", FatFormat::Fat16, [](FatBootParams& p) { p.sectorsPerFat = 0; }},
        // Clusters 0 and 1 are reserved: a root folder there names no cluster.
        BadBoot{"root cluster 0", FatFormat::Fat32, [](FatBootParams& p) { p.rootCluster = 0; }},
        BadBoot{"root cluster 1", FatFormat::Fat32, [](FatBootParams& p) { p.rootCluster = 1; }},
        BadBoot{"root cluster beyond the volume", FatFormat::Fat32,
                [](FatBootParams& p) { p.rootCluster = 0x0FFFFFF0; }}));

// A boot sector whose stated volume does not fit the range it is opened on:
// the bitmap covers the clusters within the range only, none when the data
// area lies beyond it, and the scan still ends. A volume of 2^32 stated
// sectors on a 2 MiB image took a 32 MiB map and minutes of table lookups
// that all failed.
TEST(FatGeometry, BitmapCoversOnlyTheRangeTheVolumeWasOpenedOn)
{
    constexpr uint64_t IMAGE_SECTORS = 4096;
    TempDir dir("fat-stated");
    PrepareScanLog();
    const struct
    {
        const char* what;
        FatFormat kind;
        uint32_t totalSectors, sectorsPerFat;
        size_t mapBytes; // 0: no data area within the range
    } cases[] = {
        // Data from sector 32 + 2 * 1016: 2032 clusters within the image.
        {"table within the image", FatFormat::Fat32, 0xFFFFFFFF, 1016,
         (IMAGE_SECTORS - 32 - 2 * 1016 + 7) / 8},
        // The two tables alone reach far beyond the image.
        {"data area beyond the image", FatFormat::Fat32, 0xFFFFFFFF, 0x78000000, 0},
        // Fewer sectors than the reserved ones, the tables and the root.
        {"total below the data start", FatFormat::Fat16, 40, 32, 0},
    };
    for (const auto& c : cases)
    {
        FatBootParams p = DefaultFatParams(c.kind);
        p.totalSectors = c.totalSectors;
        p.sectorsPerFat = c.sectorsPerFat;
        const std::string img = dir.File(std::string(c.what) + ".img");
        SectorImage si;
        si.Put(0, MakeFatBootSector(p));
        ASSERT_TRUE(si.Write(img, IMAGE_SECTORS));
        ScopedEnv disks("TESSAROO_DISKS", img);
        CFastFatRecovery engine;
        ASSERT_EQ(engine.Init(0, 0, IMAGE_SECTORS, L'C'), 0u) << c.what;
        if (c.totalSectors < IMAGE_SECTORS)
        {
            EXPECT_EQ(engine.GetGeometry().clusterCount, 0u) << "no wrap below the data start";
        }
        EXPECT_EQ(engine.BuildBitMapInfo(), c.mapBytes ? 0u : STATUS_INVALID_PARAMETER) << c.what;
        ASSERT_EQ(engine.GetBitMap().size(), c.mapBytes) << c.what;
        unsigned long long start = 0, count = 0;
        engine.GetUnUsedSectorCount(start, count);
        EXPECT_LE(start + count, IMAGE_SECTORS) << c.what;
        EXPECT_EQ(engine.ScanDevice(nullptr), 0u) << c.what;
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
    ImageEngine e(img, 0, p.totalSectors);
    ASSERT_NE(e.get(), nullptr);
    ASSERT_EQ(e->ScanDevice(nullptr), 0u);
    std::vector<__SEARCH_FILE_INFO__> hits;
    std::wstring key = AllKindsKey();
    e->SearchFileNode(&key[0], hits);
    std::multiset<std::string> names;
    for (const auto& h : hits)
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
    ImageEngine e(img, 0, p.totalSectors);
    ASSERT_NE(e.get(), nullptr);
    const uint64_t before = BytesReadSoFar();
    ASSERT_EQ(e->ScanDevice(nullptr), 0u);
    // Per folder: its cluster, its ".." sector, its file's first sector.
    EXPECT_LT(BytesReadSoFar() - before, uint64_t(DEPTH) * 8 * 512);
    // Every file is listed, and the deepest under its folder at its depth.
    std::vector<__SEARCH_FILE_INFO__> hits;
    std::wstring key = AllKindsKey();
    e->SearchFileNode(&key[0], hits);
    EXPECT_EQ(hits.size(), size_t(DEPTH));
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
    auto set = [&](uint32_t c, uint32_t v)
    {
        std::vector<uint8_t>& s = c < HIGH ? low : high;
        const size_t at = (c % 128) * 4;
        for (int k = 0; k < 4; ++k)
            s[at + k] = uint8_t(v >> (8 * k));
    };
    std::vector<uint32_t> chain;
    for (uint32_t i = 0; i < HOPS; ++i)
        chain.insert(chain.end(), {3 + i, HIGH + i});
    for (size_t i = 0; i + 1 < chain.size(); ++i)
        set(chain[i], chain[i + 1]);
    set(chain.back(), 0x0FFFFFFF);
    SectorImage si;
    si.Put(0, MakeFatBootSector(p));
    si.Put(p.reservedSectors, low);
    si.Put(p.reservedSectors + HIGH / 128, high);
    TempDir dir("fat-hops");
    const std::string img = dir.File("hops.img");
    ASSERT_TRUE(si.Write(img, p.totalSectors));
    std::vector<uint8_t> boot = MakeFatBootSector(p);
    FatGeometry g;
    ASSERT_TRUE(DeriveFatGeometry(boot.data(), boot.size(), g));
    ScopedEnv disks("TESSAROO_DISKS", img);
    CDiskReader reader;
    ASSERT_EQ(reader.Init(0, p.totalSectors), 0u);
    CFatChainWalker w;
    ASSERT_EQ(w.Init(&reader, g, 0, p.totalSectors), 0u);

    const uint64_t before = BytesReadSoFar();
    CClusterRunSet met;
    std::vector<uint32_t> walked = {chain[0]};
    for (size_t i = 1; i < chain.size(); ++i)
    {
        uint32_t next = 0;
        ASSERT_EQ(w.NextFileCluster(walked.back(), met, next), 0u);
        walked.push_back(next);
    }
    EXPECT_LT(BytesReadSoFar() - before, uint64_t(1) << 20);
    EXPECT_EQ(walked, chain);
}
} // namespace

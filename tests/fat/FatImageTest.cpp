// The fast and the deep FAT engine on real volumes made by mkfs.fat and
// mtools (tools/make_fat_images.sh and the bundled sample card for the
// fast engine; tools/make_deep_fat_images.sh, whose volumes were
// quick-formatted, lost their boot sector or partition table or a folder's
// own entry, for the deep one, fed the sectors as the deep-scan sweep feeds
// them): what is listed is exactly what the script left findable, under
// its folders, and what is copied out (and previewed) is byte for byte what
// was written wherever the data is still there.
#include "core/Platform.h"
#include "core/Portability.h"
#include "core/Status.h"
#include "engines/fat/CFastFatRecovery.h"
#include "store/FileTypeLists.h"
#include "tests/fat/DeepFatTestUtil.h"
#include "tests/fat/FatTestUtil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <sys/stat.h>

using namespace tessaroo;
using namespace tessaroo::test;

namespace
{
const std::string& DeepImages()
{
    return SharedScriptImages("make_deep_fat_images.sh");
}

std::string ImagePath(const std::string& name)
{
    if (name == "sample")
        return SharedSampleImage();
    const std::string& dir = SharedFatImages();
    return dir.empty() ? std::string() : dir + "/" + name + ".img";
}

std::string ManifestPath(const std::string& name)
{
    if (name == "sample")
        return SampleManifestPath();
    return SharedFatImages() + "/" + name + ".manifest";
}

bool IsPictureName(const std::string& name)
{
    size_t dot = name.rfind('.');
    if (dot == std::string::npos)
        return false;
    std::string ext = name.substr(dot);
    for (char& c : ext)
        c = char(tolower((unsigned char)c));
    return strstr(PICTURE_TYPE_LIST, ext.c_str()) != nullptr;
}

// True when e lies in a folder that was deleted.
bool InDeletedFolder(const Manifest& m, const ManifestEntry& e)
{
    for (size_t slash = e.path.find('/', 1); slash != std::string::npos; slash = e.path.find('/', slash + 1))
    {
        const ManifestEntry* d = m.Find(e.path.substr(0, slash));
        if (d && d->IsDeleted())
            return true;
    }
    return false;
}

struct ImageCase
{
    const char* name;                 // NAME.img; "sample" for the bundled card
    bool deep;                        // the deep engine over tools/make_deep_fat_images.sh
    std::vector<const char*> volumes; // deep: the image's manifests
};

class FatImage : public ::testing::TestWithParam<ImageCase>
{
  protected:
    void SetUp() override
    {
        const ImageCase& c = GetParam();
        std::string error;
        if (!c.deep)
        {
            image = ImagePath(c.name);
            manifests.resize(1);
            ASSERT_TRUE(LoadManifest(ManifestPath(c.name), manifests[0], &error)) << error;
        }
        for (const char* v : c.volumes)
        {
            image = DeepImages() + "/" + c.name + ".img";
            manifests.emplace_back();
            ASSERT_TRUE(LoadManifest(DeepImages() + "/" + v + ".manifest", manifests.back(), &error))
                << error;
        }
        ASSERT_FALSE(image.empty()) << "the test images could not be made";
        // A disk of several volumes is swept whole.
        const Manifest& m = manifests[0];
        start = manifests.size() > 1 ? 0 : m.Fact("partition_start_sector");
        const uint64_t count = manifests.size() > 1 ? ImageSectors(image) : m.Fact("total_sectors");
        if (c.deep)
        {
            deepScan.reset(new DeepFatScan(image, start, count));
            ASSERT_TRUE(deepScan->Run());
            engine = &deepScan->Engine();
            hits = deepScan->Files();
            return;
        }
        fastEngine.reset(new ImageEngine(image, start, count));
        engine = fastEngine->get();
        ASSERT_NE(engine, nullptr) << "the factory gave no engine for " << image;
        ASSERT_EQ(engine->ScanDevice(nullptr), 0u);
        std::wstring key = AllKindsKey();
        engine->SearchFileNode(&key[0], hits);
    }

    // The files the listing must hold. Deep: every file whose entry the
    // script left. Fast: every file deleted or inside a deleted folder,
    // except pictures whose data was overwritten (hidden as damaged).
    bool Expected(const Manifest& m, const ManifestEntry& e) const
    {
        if (GetParam().deep)
            return !e.isDir && IsKeptItem(e);
        return !e.isDir && (e.IsDeleted() || InDeletedFolder(m, e)) &&
               !(e.state == "overwritten" && IsPictureName(e.Name()));
    }
    // Whose data is all still there: a partial file lost a cluster to a
    // later file, an overwritten one its start; a fragmented one comes back
    // whole though its chain steps over clusters a live file took.
    bool Intact(const ManifestEntry& e) const
    {
        return GetParam().deep ? IsIntactItem(e) : e.state != "overwritten" && e.state != "partial";
    }
    // The volume whose data area a node's layout names (deep; the fast
    // engine reads one volume).
    bool InVolume(const Manifest& m, const _FILE_NODE_& f) const
    {
        return !GetParam().deep || m.Fact("partition_start_sector") + m.Fact("data_start_sector") ==
                                       f.u64PartitionStartSector + f.u64DataStartSector;
    }
    // The manifest item (and its volume) a listed node names.
    const ManifestEntry* ItemOf(_FILE_NODE_& f, const Manifest** volume)
    {
        const std::string path = NodePath(engine, f);
        for (const Manifest& m : manifests)
            for (const ManifestEntry& e : m.entries)
                if (Expected(m, e) && InVolume(m, f) && CandidatePaths(m, e, GetParam().deep).count(path))
                {
                    *volume = &m;
                    return &e;
                }
        return nullptr;
    }

    std::string image;
    std::vector<Manifest> manifests;
    uint64_t start = 0;
    std::unique_ptr<ImageEngine> fastEngine;
    std::unique_ptr<DeepFatScan> deepScan;
    IFileRecoveryParse* engine = nullptr;
    std::vector<__SEARCH_FILE_INFO__> hits;
};

TEST_P(FatImage, ListsExactlyTheFilesLeftFindableInTheirFolders)
{
    std::map<const ManifestEntry*, int> found;
    std::string unknown;
    for (__SEARCH_FILE_INFO__& h : hits)
    {
        EXPECT_EQ(h.uEngineType, uint32_t(GetParam().deep ? ENGINE_TYPE_DEEP_FAT : ENGINE_TYPE_FAST_FAT));
        EXPECT_EQ(h.bIsDir, 0u);
        const Manifest* m = nullptr;
        if (const ManifestEntry* e = ItemOf(h, &m))
            ++found[e];
        else
            unknown += NodePath(engine, h) + "\n";
    }
    EXPECT_EQ(unknown, "") << "listed, but not left findable by the script";
    for (const Manifest& m : manifests)
        for (const ManifestEntry& e : m.entries)
            if (Expected(m, e))
            {
                EXPECT_EQ(found[&e], 1) << e.path << " (" << e.state << ")";
            }
}

// Each node carries its item's first cluster, size and entry sector, and the
// layout of its volume.
TEST_P(FatImage, NodesCarryTheirEntryAndTheLayoutOfTheirVolume)
{
    for (__SEARCH_FILE_INFO__& f : hits)
    {
        const Manifest* m = nullptr;
        const ManifestEntry* e = ItemOf(f, &m);
        ASSERT_NE(e, nullptr) << NodePath(engine, f);
        EXPECT_EQ(f.uClusterNO, e->firstCluster) << e->path;
        EXPECT_EQ(f.u64FileSize, e->size) << e->path;
        EXPECT_EQ(f.uClusterSize, m->Fact("sectors_per_cluster") * 512) << e->path;
        EXPECT_EQ(f.u64RecordSector, e->entrySector) << e->path;
        EXPECT_TRUE(InVolume(*m, f)) << e->path;
        if (!GetParam().deep)
        {
            EXPECT_EQ(f.u64PartitionStartSector, start) << e->path;
        }
    }
}

TEST_P(FatImage, RecoversAndPreviewsIntactFilesByteForByte)
{
    TempDir out("fat-recover");
    int checked = 0, fragmented = 0;
    for (__SEARCH_FILE_INFO__& h : hits)
    {
        const Manifest* m = nullptr;
        const ManifestEntry* e = ItemOf(h, &m);
        ASSERT_NE(e, nullptr) << NodePath(engine, h);
        if (!Intact(*e))
            continue;
        ReportLog log;
        engine->InitCallBack(nullptr, &CollectReport, &log, 100);
        const std::string target = out.File("f" + std::to_string(checked++));
        std::wstring wtarget = Utf8ToWide(target.c_str());
        EXPECT_EQ(engine->SaveFileData(&h, &wtarget[0], 0), 0u) << e->path;
        EXPECT_EQ(Sha256OfFile(target), e->sha256) << e->path << " (" << e->state << ")";
        ASSERT_EQ(log.Finals(), 1) << e->path;
        EXPECT_EQ(log.reports.back().status, 0);
        EXPECT_EQ(log.reports.back().target, target);
        ExpectPreviewOf(engine, h, target);
        fragmented += e->state == "fragmented";
    }
    EXPECT_GT(checked, 0);
    if (std::string(GetParam().name) == "fat16")
    {
        EXPECT_GT(fragmented, 0) << "the split file was not among those recovered";
    }
}

TEST_P(FatImage, FolderTreeHoldsEveryListedFileAtItsLevel)
{
    unsigned int count = 0;
    ASSERT_EQ(engine->GetChildrenFileCount(nullptr, 0, count), 0u);
    EXPECT_EQ(FilesInTree(engine), hits.size());
    // Hidden damaged pictures are counted but not listed as children.
    EXPECT_GE(count, hits.size());
    if (GetParam().deep)
    {
        EXPECT_EQ(count, hits.size());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Images, FatImage,
    ::testing::Values(ImageCase{"fat12", false, {}}, ImageCase{"floppy", false, {}},
                      ImageCase{"fat16", false, {}}, ImageCase{"fat32", false, {}},
                      ImageCase{"mbr", false, {}}, ImageCase{"card", false, {}},
                      ImageCase{"sample", false, {}}, ImageCase{"fat16qf", true, {"fat16qf"}},
                      ImageCase{"fat32qf", true, {"fat32qf"}}, ImageCase{"noboot", true, {"noboot"}},
                      ImageCase{"lostdir", true, {"lostdir"}}, ImageCase{"mbr", true, {"mbra", "mbrb"}}),
    [](const ::testing::TestParamInfo<ImageCase>& i)
    { return std::string(i.param.deep ? "deep_" : "") + i.param.name; });

// The rest works on one image each, for the cases the table above does not reach.
class FastFatVolume : public ::testing::Test
{
  protected:
    void Open(const std::string& name)
    {
        image = ImagePath(name);
        ASSERT_FALSE(image.empty());
        std::string error;
        ASSERT_TRUE(LoadManifest(ManifestPath(name), manifest, &error)) << error;
        engine.reset(
            new ImageEngine(image, manifest.Fact("partition_start_sector"), manifest.Fact("total_sectors")));
        ASSERT_NE(engine->get(), nullptr);
        fat = dynamic_cast<CFastFatRecovery*>(engine->get());
        ASSERT_NE(fat, nullptr);
    }
    void Scan()
    {
        ASSERT_EQ((*engine)->ScanDevice(nullptr), 0u);
        std::wstring key = AllKindsKey();
        hits.clear();
        (*engine)->SearchFileNode(&key[0], hits);
    }
    __SEARCH_FILE_INFO__* Hit(const std::string& path)
    {
        for (auto& h : hits)
            if (NodePath(engine->get(), h) == path)
                return &h;
        return nullptr;
    }
    std::string image;
    Manifest manifest;
    std::unique_ptr<ImageEngine> engine;
    CFastFatRecovery* fat = nullptr;
    std::vector<__SEARCH_FILE_INFO__> hits;
};

// Every report carries the scale given (the deep scan passes its own) and
// the last is completion; a non-zero answer to the first report is the
// scan's result and ends the reports, not the walk.
TEST_F(FastFatVolume, ScanReportsAndAStopAnswerOfTheFirstReportEndsTheScan)
{
    Open("fat16");
    struct Seen
    {
        std::vector<std::pair<int, int>> reports; // percent, scale
        int answer = 0;
    } seen;
    auto cb = [](void* ctx, int percent, int scale, int, unsigned long long, unsigned long long,
                 unsigned long long, wchar_t*) -> int
    {
        static_cast<Seen*>(ctx)->reports.push_back({percent, scale});
        return static_cast<Seen*>(ctx)->answer;
    };
    (*engine)->InitCallBack(cb, nullptr, &seen, 9);
    ASSERT_EQ((*engine)->ScanDevice(nullptr), 0u);
    ASSERT_FALSE(seen.reports.empty());
    for (const auto& r : seen.reports)
        EXPECT_EQ(r.second, 9);
    EXPECT_EQ(seen.reports.back().first, 100);
    seen = Seen{{}, 7};
    EXPECT_EQ((*engine)->ScanDevice(nullptr), 7u);
    EXPECT_EQ(seen.reports.size(), 1u);
    EXPECT_GT((*engine)->GetLostFileCount(), 0u);
}

TEST_F(FastFatVolume, RepeatedScansOfOneEngineGiveTheSameListing)
{
    Open("fat32");
    Scan();
    const size_t first = hits.size();
    ASSERT_GT(first, 0u);
    Scan();
    EXPECT_EQ(hits.size(), first);
    EXPECT_NE(Hit("!artial.bin"), nullptr);
}

TEST_F(FastFatVolume, StopDuringAFileLeavesNothingBehindWithOneFinalReport)
{
    Open("fat12");
    Scan();
    __SEARCH_FILE_INFO__* big = Hit("!igfile.bin");
    ASSERT_NE(big, nullptr);
    TempDir out("fat-stop");
    ReportLog log;
    log.answer = STATUS_CANCEL;
    log.answerAtReport = 2;
    (*engine)->InitCallBack(nullptr, &CollectReport, &log, 100);
    std::wstring target = Utf8ToWide(out.File("big").c_str());
    EXPECT_EQ(int((*engine)->SaveFileData(big, &target[0], 0)), STATUS_CANCEL);
    EXPECT_TRUE(ListFolder(out.Path()).empty()); // neither the cut file nor its temporary
    ASSERT_EQ(log.Finals(), 1);
    EXPECT_EQ(log.reports.back().status, STATUS_CANCEL);
}

TEST_F(FastFatVolume, ExistingTargetsAndLinksAreNeverOverwrittenOrFollowedButGetAFreeName)
{
    Open("fat16");
    Scan();
    __SEARCH_FILE_INFO__* h = Hit("!elroot.txt");
    ASSERT_NE(h, nullptr);
    TempDir out("fat-excl");
    ASSERT_TRUE(WriteImageFile(out.File("victim"), {'k', 'e', 'e', 'p'}));
    ASSERT_EQ(symlink(out.File("victim").c_str(), out.File("link").c_str()), 0);
    for (const char* name : {"victim", "link"})
    {
        ReportLog log;
        (*engine)->InitCallBack(nullptr, &CollectReport, &log, 100);
        std::wstring target = Utf8ToWide(out.File(name).c_str());
        EXPECT_EQ((*engine)->SaveFileData(h, &target[0], 0), 0u) << name;
        ASSERT_EQ(log.Finals(), 1) << name;
        EXPECT_EQ(log.reports.back().status, 0);
        EXPECT_EQ(log.reports.back().target, out.File(name) + "(1)");
        EXPECT_EQ(Sha256OfFile(out.File(name) + "(1)"), manifest.Find("/DELROOT.TXT")->sha256);
    }
    std::vector<uint8_t> kept;
    ASSERT_TRUE(ReadWholeFile(out.File("victim"), kept));
    EXPECT_EQ(kept.size(), 4u);
    struct stat st;
    ASSERT_EQ(lstat(out.File("link").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

// What the image table does not check of a preview: the picture is the
// scan log's "tmp.jpg", readable by its owner only, with progress to
// completion; a smaller buffer cuts the first bytes.
TEST_F(FastFatVolume, PreviewWritesPicturesToTheScanLogAndGivesOtherFilesTheirFirstBytes)
{
    Open("fat16");
    Scan();
    __SEARCH_FILE_INFO__* photo = Hit("Holiday photo.jpg");
    __SEARCH_FILE_INFO__* text = Hit("Long name in root.txt");
    ASSERT_NE(photo, nullptr);
    ASSERT_NE(text, nullptr);
    std::vector<unsigned char> buf(PREVIEW_BUFFER_SIZE);
    wchar_t imagePath[256] = {0};
    int len = PREVIEW_BUFFER_SIZE;
    std::vector<int> progress;
    auto cb = [](void* ctx, int percent, int) -> int
    {
        static_cast<std::vector<int>*>(ctx)->push_back(percent);
        return 0;
    };
    EXPECT_EQ((*engine)->PreView(photo, imagePath, buf.data(), len, cb, &progress), 0u);
    EXPECT_EQ(WideToUtf8(imagePath), GetScanLogRoot() + "tmp.jpg");
    struct stat st;
    ASSERT_EQ(stat(GetScanLogRoot().append("tmp.jpg").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 100);
    imagePath[0] = 0;
    len = 100;
    EXPECT_EQ((*engine)->PreView(text, imagePath, buf.data(), len, nullptr, nullptr), 0u);
    EXPECT_EQ(len, 100);
}

TEST_F(FastFatVolume, BitmapMatchesTheTableAndFreeRunsCoverOnlyFreeClusters)
{
    Open("fat16");
    ASSERT_EQ((*engine)->BuildBitMapInfo(), 0u);
    const FatGeometry& g = fat->GetGeometry();
    const std::vector<uint8_t>& map = fat->GetBitMap();
    ASSERT_EQ(map.size(), (g.clusterCount + 7) / 8);
    // Clusters 2.. of the image's own FAT (16-bit entries after the reserved sectors).
    std::vector<uint8_t> table = ReadFileRange(image, g.reservedSectors * 512, size_t(g.sectorsPerFat * 512));
    uint64_t freeClusters = 0;
    for (uint32_t i = 0; i < g.clusterCount; ++i)
    {
        const uint32_t c = i + 2;
        const bool used = (table[c * 2] | (table[c * 2 + 1] << 8)) != 0;
        ASSERT_EQ(bool((map[i / 8] >> (i % 8)) & 1), used) << "cluster " << c;
        freeClusters += !used;
    }
    unsigned long long start = 0, count = 0, total = 0;
    for (int runs = 0; runs < 100000; ++runs)
    {
        ASSERT_EQ((*engine)->GetUnUsedSectorCount(start, count), 1u);
        if (count == 0)
            break;
        ASSERT_GE(start, g.firstDataSector);
        for (unsigned long long s = start; s < start + count; s += g.sectorsPerCluster)
        {
            const uint32_t c = uint32_t((s - g.firstDataSector) / g.sectorsPerCluster + 2);
            ASSERT_EQ(table[c * 2] | (table[c * 2 + 1] << 8), 0) << "run covers used cluster " << c;
        }
        total += count;
        start += count;
    }
    EXPECT_EQ(total, freeClusters * g.sectorsPerCluster);
}
// The deep engine on one image: folder copies.
class DeepFatVolume : public ::testing::Test
{
  protected:
    void Scan(const std::string& name)
    {
        ASSERT_FALSE(DeepImages().empty());
        std::string error;
        ASSERT_TRUE(LoadManifest(DeepImages() + "/" + name + ".manifest", manifest, &error)) << error;
        scan.reset(); // its disk setting goes before the next one's
        scan.reset(new DeepFatScan(DeepImages() + "/" + name + ".img",
                                   manifest.Fact("partition_start_sector"), manifest.Fact("total_sectors")));
        ASSERT_TRUE(scan->Run());
    }
    Manifest manifest;
    std::unique_ptr<DeepFatScan> scan;
};

// A folder copy of a lost folder (its own entry gone: "LostFolder" and its
// first cluster) and of a deleted tree gives back the files below it.
TEST_F(DeepFatVolume, FolderCopyGivesBackTheFilesBelow)
{
    const struct
    {
        const char *image, *folder;                             // folder: a path of the manifest
        const char* listedAs;                                   // null: "LostFolder" and its first cluster
        std::vector<std::pair<const char*, const char*>> files; // as copied, as in the manifest
    } cases[] = {
        {"lostdir",
         "/ALBUM",
         nullptr,
         {{"!ic_0001.jpg", "/ALBUM/PIC_0001.JPG"},
          {"Summer evening.jpg", "/ALBUM/Summer evening.jpg"},
          {"!otes.txt", "/ALBUM/NOTES.TXT"}}},
        {"noboot",
         "/TRASH",
         "!rash",
         {{"!.txt", "/TRASH/A.TXT"}, {"Inner Folder/photo two.jpg", "/TRASH/Inner Folder/photo two.jpg"}}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.image);
        Scan(c.image);
        const ManifestEntry* folder = manifest.Find(c.folder);
        ASSERT_NE(folder, nullptr);
        std::vector<_FILE_NODE_> root;
        scan->Engine().GetChildrenFileNode(nullptr, 0, root);
        _FILE_NODE_* node = nullptr;
        for (auto& n : root)
            if (n.bIsDir &&
                NodeNameUtf8(n) ==
                    (c.listedAs ? c.listedAs : "LostFolder" + std::to_string(folder->firstCluster)))
                node = &n;
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(node->bIsDeleted, 1u);
        TempDir out("deepfat-folder");
        ReportLog log;
        scan->Engine().InitCallBack(nullptr, &CollectReport, &log, 100);
        std::wstring target = Utf8ToWide(out.File("f").c_str());
        EXPECT_EQ(scan->Engine().SaveFileData(node, &target[0], 0), 0u);
        for (const auto& f : c.files)
            EXPECT_EQ(Sha256OfFile(out.File("f/") + f.first), manifest.Find(f.second)->sha256) << f.first;
        EXPECT_EQ(log.Finals(), int(c.files.size()));
    }
}

} // namespace

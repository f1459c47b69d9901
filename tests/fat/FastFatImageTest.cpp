// The fast FAT engine on real volumes made by mkfs.fat and mtools
// (tools/make_fat_images.sh, and the bundled sample card): what it lists is
// exactly what the script deleted, in the right folders, and what it copies
// out is byte for byte what was written wherever the data is still there.
#include "core/Platform.h"
#include "core/Portability.h"
#include "core/Status.h"
#include "engines/fat/CFastFatRecovery.h"
#include "store/FileTypeLists.h"
#include "tests/fat/FatTestUtil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <sys/stat.h>

using namespace tessaroo;
using namespace tessaroo::test;

namespace
{
struct ImageCase
{
    const char* name; // NAME.img / NAME.manifest in the shared folder; "sample" for the bundled card
};

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

class FastFatImage : public ::testing::TestWithParam<ImageCase>
{
  protected:
    void SetUp() override
    {
        image = ImagePath(GetParam().name);
        ASSERT_FALSE(image.empty()) << "the test images could not be made";
        std::string error;
        ASSERT_TRUE(LoadManifest(ManifestPath(GetParam().name), manifest, &error)) << error;
        start = manifest.Fact("partition_start_sector");
        count = manifest.Fact("total_sectors");
        engine.reset(new ImageEngine(image, start, count));
        ASSERT_NE(engine->get(), nullptr) << "the factory gave no engine for " << image;
        ASSERT_EQ((*engine)->ScanDevice(nullptr), 0u);
        std::wstring key = AllKindsKey();
        (*engine)->SearchFileNode(&key[0], hits);
    }

    // The manifest items the listing must hold: every file deleted or inside
    // a deleted folder, except pictures whose data was overwritten (hidden
    // as damaged).
    std::vector<ManifestEntry> ExpectedFiles() const
    {
        std::vector<ManifestEntry> out;
        for (const ManifestEntry& e : manifest.entries)
        {
            if (e.isDir || !(e.IsDeleted() || InDeletedFolder(manifest, e)))
                continue;
            if (e.state == "overwritten" && IsPictureName(e.Name()))
                continue;
            out.push_back(e);
        }
        return out;
    }

    std::string image;
    Manifest manifest;
    uint64_t start = 0, count = 0;
    std::unique_ptr<ImageEngine> engine;
    std::vector<__SEARCH_FILE_INFO__> hits;
};

TEST_P(FastFatImage, ListsExactlyTheDeletedFilesInTheirFolders)
{
    std::map<std::string, int> listed;
    for (__SEARCH_FILE_INFO__& h : hits)
    {
        EXPECT_EQ(h.uEngineType, 1u);
        EXPECT_EQ(h.bIsDir, 0u);
        EXPECT_EQ(h.u64PartitionStartSector, start);
        listed[NodePath(engine->get(), h)]++;
    }
    size_t matched = 0;
    for (const ManifestEntry& e : ExpectedFiles())
    {
        const std::set<std::string> names = CandidatePaths(manifest, e);
        int found = 0;
        for (const std::string& n : names)
            found += listed.count(n) ? listed[n] : 0;
        EXPECT_EQ(found, 1) << e.path << " listed " << found << " times";
        matched += size_t(found);
    }
    std::string all;
    for (const auto& l : listed)
        all += l.first + "\n";
    EXPECT_EQ(matched, hits.size()) << "listing holds files the script did not delete:\n" << all;
}

TEST_P(FastFatImage, RecoversIntactFilesByteForByte)
{
    TempDir out("fat-recover");
    int checked = 0, fragmented = 0;
    for (__SEARCH_FILE_INFO__& h : hits)
    {
        const std::string path = NodePath(engine->get(), h);
        const ManifestEntry* entry = nullptr;
        for (const ManifestEntry& e : manifest.entries)
            if (!e.isDir && CandidatePaths(manifest, e).count(path))
                entry = &e;
        ASSERT_NE(entry, nullptr) << path;
        // A partial file lost a cluster to a later file; an overwritten one its
        // start. Where the data is all still there it comes back whole, also
        // when the chain steps over clusters a live file took (fragmented).
        if (entry->state == "overwritten" || entry->state == "partial")
            continue;
        ReportLog log;
        (*engine)->InitCallBack(nullptr, &CollectReport, &log, 100);
        const std::string target = out.File("f" + std::to_string(checked));
        std::wstring wtarget = Utf8ToWide(target.c_str());
        EXPECT_EQ((*engine)->SaveFileData(&h, &wtarget[0], 0), 0u) << path;
        EXPECT_EQ(Sha256OfFile(target), entry->sha256) << path << " (" << entry->state << ")";
        ASSERT_EQ(log.Finals(), 1) << path;
        EXPECT_EQ(log.reports.back().status, 0);
        EXPECT_EQ(log.reports.back().target, target);
        ExpectPreviewOf(engine->get(), h, target);
        ++checked;
        fragmented += entry->state == "fragmented";
    }
    EXPECT_GT(checked, 0);
    if (std::string(GetParam().name) == "fat16")
    {
        EXPECT_GT(fragmented, 0) << "the split file was not among those recovered";
    }
}

TEST_P(FastFatImage, DeletedFolderNodesSitOnThePathToTheirFiles)
{
    unsigned int total = 0;
    (*engine)->GetChildrenFileCount(nullptr, 0, total);
    const size_t files = FilesInTree(engine->get());
    // Hidden damaged pictures are counted but not listed as children.
    EXPECT_GE(total, files);
    EXPECT_EQ(files, hits.size());
}

INSTANTIATE_TEST_SUITE_P(Images, FastFatImage,
                         ::testing::Values(ImageCase{"fat12"}, ImageCase{"floppy"}, ImageCase{"fat16"},
                                           ImageCase{"fat32"}, ImageCase{"mbr"}, ImageCase{"card"},
                                           ImageCase{"sample"}),
                         [](const ::testing::TestParamInfo<ImageCase>& i)
                         { return std::string(i.param.name); });

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
} // namespace

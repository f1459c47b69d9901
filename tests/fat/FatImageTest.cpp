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
#include "store/FileTypeLists.h"
#include "tests/fat/FatTestUtil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <tuple>
#include <sys/stat.h>

using namespace tessaroo;
using namespace tessaroo::test;

namespace
{
const std::string& DeepImages()
{
    return SharedScriptImages("make_deep_fat_images.sh");
}

// NAME.img and NAME.manifest of tools/make_fat_images.sh; "sample": the bundled card.
std::string FastImage(const std::string& name, bool manifest = false)
{
    if (name == "sample")
        return manifest ? SampleManifestPath() : SharedSampleImage();
    const std::string& dir = SharedFatImages();
    return dir.empty() ? std::string() : dir + "/" + name + (manifest ? ".manifest" : ".img");
}

// The manifest's folders above e, from the root down (null: not listed).
std::vector<const ManifestEntry*> FoldersAbove(const Manifest& m, const ManifestEntry& e)
{
    std::vector<const ManifestEntry*> out;
    for (size_t slash = e.path.find('/', 1); slash != std::string::npos; slash = e.path.find('/', slash + 1))
        out.push_back(m.Find(e.path.substr(0, slash)));
    return out;
}

// A state of tools/make_deep_fat_images.sh holds the word ("deleted-",
// "-kept-", "-intact").
bool Has(const ManifestEntry& e, const char* word)
{
    return e.state.find(word) != std::string::npos;
}

// A name 8.3 cannot hold is listed as written; one it can hold in other
// case depends on the writer (a long name, or the case flags); one written
// as its 8.3 name is listed in lower case, '!' for the deleted mark, a
// folder's without its extension.
std::set<std::string> CandidateNames(const ManifestEntry& e, bool deleted)
{
    std::string upper = e.Name(),
                s = e.shortName.substr(0, e.isDir ? e.shortName.find('.') : std::string::npos);
    for (char& c : upper)
        c = char(toupper(static_cast<unsigned char>(c)));
    if (upper != e.shortName)
        return {e.Name()};
    for (char& c : s)
        c = char(tolower(static_cast<unsigned char>(c)));
    if (deleted && !s.empty())
        s[0] = '!';
    if (e.Name() == e.shortName)
        return {s};
    return {e.Name(), s};
}

// The paths "DOCS/SUB/name" (no leading '/') the engine may list a manifest
// item under: each folder and the item by one of its names. Deep: a folder
// whose own entry the script did not keep is "LostFolder<cluster>".
std::set<std::string> CandidatePaths(const Manifest& m, const ManifestEntry& e, bool deep)
{
    const auto names = [deep](const ManifestEntry& x) -> std::set<std::string>
    {
        if (deep && !Has(x, "-kept-"))
            return {"LostFolder" + std::to_string(x.firstCluster)};
        return CandidateNames(x, deep ? Has(x, "deleted-") : x.IsDeleted());
    };
    std::set<std::string> paths = {""};
    for (const ManifestEntry* dir : FoldersAbove(m, e))
    {
        std::set<std::string> next;
        for (const std::string& p : paths)
            for (const std::string& n : dir ? names(*dir) : std::set<std::string>{})
                next.insert(p + n + "/");
        paths.swap(next);
    }
    std::set<std::string> out;
    for (const std::string& p : paths)
        for (const std::string& n : names(e))
            out.insert(p + n);
    return out;
}

size_t FilesInTree(IFileRecoveryParse* engine)
{
    std::vector<std::pair<_FILE_NODE_, unsigned>> folders = {{_FILE_NODE_(), 0}};
    size_t files = 0;
    for (size_t i = 0; i < folders.size() && i < 1000; ++i)
    {
        std::vector<_FILE_NODE_> kids;
        _FILE_NODE_* dir = i ? &folders[i].first : nullptr;
        EXPECT_EQ(engine->GetChildrenFileNode(dir, folders[i].second, kids), 0u);
        EXPECT_TRUE(!dir || !kids.empty()) << "folder node without children: " << NodeNameUtf8(*dir);
        for (const _FILE_NODE_& k : kids)
            k.bIsDir ? folders.push_back({k, folders[i].second + 1}) : void(++files);
    }
    return files;
}

struct ImageCase
{
    const char* name;                 // NAME.img; "sample" for the bundled card
    bool deep;                        // the deep engine over tools/make_deep_fat_images.sh
    std::vector<const char*> volumes; // deep: the image's manifests
};

class FatImage : public ::testing::TestWithParam<ImageCase>
{
};

// Exactly what the script left findable is listed, once, under its folders
// and in the folder tree at its level; each node carries its item's first
// cluster, size and entry sector, and the layout of its volume; each file
// whose data is all still there is copied out (one final report) and
// previewed byte for byte.
TEST_P(FatImage, ListsWhatWasLeftFindableAndRecoversItByteForByte)
{
    const ImageCase& c = GetParam();
    const std::string image = c.deep ? DeepImages() + "/" + c.name + ".img" : FastImage(c.name);
    ASSERT_FALSE(c.deep ? DeepImages().empty() : image.empty()) << "the test images could not be made";
    std::vector<Manifest> manifests(c.deep ? c.volumes.size() : 1);
    for (size_t i = 0; i < manifests.size(); ++i)
        ASSERT_TRUE(
            LoadManifest(c.deep ? DeepImages() + "/" + c.volumes[i] + ".manifest" : FastImage(c.name, true),
                         manifests[i]));
    // A disk of several volumes is swept whole.
    const uint64_t start = manifests.size() > 1 ? 0 : manifests[0].Fact("partition_start_sector");
    const uint64_t count = manifests.size() > 1 ? ImageSectors(image) : manifests[0].Fact("total_sectors");
    std::unique_ptr<DeepFatScan> deep(c.deep ? new DeepFatScan(image, start, count) : nullptr);
    std::unique_ptr<ImageEngine> fast(c.deep ? nullptr : new ImageEngine(image, start, count));
    IFileRecoveryParse* engine = c.deep ? &deep->Engine() : fast->get();
    ASSERT_NE(engine, nullptr) << "the factory gave no engine for " << image;
    ASSERT_TRUE(c.deep ? deep->Run() : engine->ScanDevice(nullptr) == 0u);
    Hits hits = ListAll(engine);

    // The files the listing must hold. Deep: every file whose entry the
    // script left. Fast: every file deleted or inside a deleted folder,
    // except pictures whose data was overwritten (hidden as damaged).
    const auto expected = [&](const Manifest& m, const ManifestEntry& e)
    {
        if (c.deep)
            return !e.isDir && Has(e, "-kept-");
        const auto above = FoldersAbove(m, e);
        return !e.isDir &&
               (e.IsDeleted() || std::any_of(above.begin(), above.end(),
                                             [](const ManifestEntry* d) { return d && d->IsDeleted(); })) &&
               !(e.state == "overwritten" && IsPictureName(e.Name()));
    };
    TempDir out("fat-recover");
    std::map<const ManifestEntry*, int> found;
    std::string unknown;
    int recovered = 0, fragmented = 0;
    for (__SEARCH_FILE_INFO__& h : hits)
    {
        EXPECT_EQ(h.uEngineType, uint32_t(c.deep ? ENGINE_TYPE_DEEP_FAT : ENGINE_TYPE_FAST_FAT));
        EXPECT_EQ(h.bIsDir, 0u);
        // The item of the volume whose data area the node's layout names (the
        // fast engine reads one volume).
        const std::string path = NodePath(engine, h);
        const Manifest* m = nullptr;
        const ManifestEntry* e = nullptr;
        for (const Manifest& v : manifests)
            for (const ManifestEntry& x : v.entries)
                if (!e && expected(v, x) && CandidatePaths(v, x, c.deep).count(path) &&
                    (!c.deep || v.Fact("partition_start_sector") + v.Fact("data_start_sector") ==
                                    h.u64PartitionStartSector + h.u64DataStartSector))
                    m = &v, e = &x;
        if (!e)
        {
            unknown += path + "\n";
            continue;
        }
        ++found[e];
        EXPECT_EQ(std::make_tuple(uint64_t(h.uClusterNO), h.u64FileSize, uint64_t(h.uClusterSize),
                                  h.u64RecordSector),
                  std::make_tuple(uint64_t(e->firstCluster), e->size, m->Fact("sectors_per_cluster") * 512,
                                  e->entrySector))
            << e->path;
        EXPECT_TRUE(c.deep || h.u64PartitionStartSector == start) << e->path;
        // Whose data is all still there: a partial file lost a cluster to a
        // later file, an overwritten one its start; a fragmented one comes
        // back whole though its chain steps over clusters a live file took.
        if (c.deep ? !Has(*e, "-intact") : e->state == "overwritten" || e->state == "partial")
            continue;
        const std::string target = out.File("f" + std::to_string(recovered++));
        Copy(engine, h, target, 0);
        EXPECT_EQ(Sha256OfFile(target), e->sha256) << e->path << " (" << e->state << ")";
        ExpectPreviewOf(engine, h, target);
        fragmented += e->state == "fragmented";
    }
    EXPECT_EQ(unknown, "") << "listed, but not left findable by the script";
    for (const Manifest& v : manifests)
        for (const ManifestEntry& x : v.entries)
            if (expected(v, x))
            {
                EXPECT_EQ(found[&x], 1) << x.path << " (" << x.state << ")";
            }
    EXPECT_GT(recovered, 0);
    EXPECT_TRUE(std::string(c.name) != "fat16" || fragmented > 0)
        << "the split file was not among those recovered";
    unsigned int children = 0;
    ASSERT_EQ(engine->GetChildrenFileCount(nullptr, 0, children), 0u);
    EXPECT_EQ(FilesInTree(engine), hits.size());
    // Hidden damaged pictures are counted but not listed as children.
    EXPECT_TRUE(c.deep ? children == hits.size() : children >= hits.size()) << children;
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

// What the image table does not reach, on the FAT16 volume. Every scan
// report carries the scale given (the deep scan passes its own) and the last
// is completion; a non-zero answer to the first report is the scan's result
// and ends the reports, not the walk; a scan again lists what the first
// listed, once. A picture's preview is the scan log's "tmp.jpg", readable by
// its owner only, with progress to completion; a smaller buffer cuts a text.
TEST(FastFatVolume, ScanReportsAndPreviews)
{
    ImageEngine engine(FastImage("fat16"));
    IFileRecoveryParse* e = engine.get();
    ASSERT_NE(e, nullptr);
    Hits hits = engine.Scan();
    ASSERT_GT(hits.size(), 0u);
    std::vector<std::pair<int, int>> seen; // percent, scale
    auto cb = [](void* ctx, int percent, int scale, int, unsigned long long, unsigned long long,
                 unsigned long long, wchar_t*)
    {
        return static_cast<std::vector<std::pair<int, int>>*>(ctx)->push_back({percent, scale}),
               scale == 8 ? 7 : 0;
    };
    e->InitCallBack(cb, nullptr, &seen, 9);
    ASSERT_EQ(e->ScanDevice(nullptr), 0u);
    ASSERT_FALSE(seen.empty());
    for (const auto& r : seen)
        EXPECT_EQ(r.second, 9);
    EXPECT_EQ(seen.back().first, 100);
    seen.clear();
    e->InitCallBack(cb, nullptr, &seen, 8); // answered 7
    EXPECT_EQ(e->ScanDevice(nullptr), 7u);
    EXPECT_EQ(seen.size(), 1u);
    EXPECT_EQ(ListAll(e).size(), hits.size());

    std::map<std::string, _FILE_NODE_> files = ByPath(e);
    _FILE_NODE_ &photo = files["Holiday photo.jpg"], &text = files["Long name in root.txt"];
    ASSERT_TRUE(photo.u64FileSize && text.u64FileSize);
    std::vector<unsigned char> buf(PREVIEW_BUFFER_SIZE);
    wchar_t imagePath[256] = {0};
    int len = PREVIEW_BUFFER_SIZE;
    std::vector<int> progress;
    auto pcb = [](void* ctx, int percent, int)
    { return static_cast<std::vector<int>*>(ctx)->push_back(percent), 0; };
    EXPECT_EQ(e->PreView(&photo, imagePath, buf.data(), len, pcb, &progress), 0u);
    EXPECT_EQ(WideToUtf8(imagePath), GetScanLogRoot() + "tmp.jpg");
    struct stat st;
    ASSERT_EQ(stat(GetScanLogRoot().append("tmp.jpg").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 100);
    len = 100;
    EXPECT_EQ(e->PreView(&text, imagePath, buf.data(), len, nullptr, nullptr), 0u);
    EXPECT_EQ(len, 100);
}

// A folder copy of a lost folder (its own entry gone: "LostFolder" and its
// first cluster) and of a deleted tree gives back the files below it.
TEST(DeepFatVolume, FolderCopyGivesBackTheFilesBelow)
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
        Manifest manifest;
        ASSERT_TRUE(LoadManifest(DeepImages() + "/" + c.image + ".manifest", manifest));
        DeepFatScan scan(DeepImages() + "/" + c.image + ".img", manifest.Fact("partition_start_sector"),
                         manifest.Fact("total_sectors"));
        ASSERT_TRUE(scan.Run());
        const ManifestEntry* folder = manifest.Find(c.folder);
        ASSERT_NE(folder, nullptr);
        _FILE_NODE_ node;
        ASSERT_TRUE(RootFolder(&scan.Engine(),
                               c.listedAs ? c.listedAs : "LostFolder" + std::to_string(folder->firstCluster),
                               node));
        EXPECT_EQ(node.bIsDeleted, 1u);
        TempDir out("deepfat-folder");
        unsigned st = ~0u;
        EXPECT_EQ(Recover(&scan.Engine(), node, out.File("f"), st).Finals(), int(c.files.size()));
        EXPECT_EQ(st, 0u);
        for (const auto& f : c.files)
            EXPECT_EQ(Sha256OfFile(out.File("f/") + f.first), manifest.Find(f.second)->sha256) << f.first;
    }
}

} // namespace

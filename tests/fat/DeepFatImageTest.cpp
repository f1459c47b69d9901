// The deep FAT engine on lost volumes made by mkfs.fat and mtools
// (tools/make_deep_fat_images.sh), fed the sectors in order as the deep-scan
// sweep feeds them: quick-formatted volumes, a volume without its boot
// sector, a disk without its partition table, a folder whose own entry was
// taken by another file. What is listed is what the script left findable,
// under the folders it left, and what is copied out is byte for byte what
// was written wherever the data is still there.
#include "core/Platform.h"
#include "core/Portability.h"
#include "core/Status.h"
#include "store/CScanResultFileManager.h"
#include "tests/fat/DeepFatTestUtil.h"
#include "tests/fat/FatTestUtil.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>

using namespace tessaroo;
using namespace tessaroo::test;

namespace
{
struct DeepImage
{
    const char* name;                 // NAME.img in the shared folder
    std::vector<const char*> volumes; // its manifests
    bool wholeDisk;                   // swept from sector 0 to the end, else the one volume
};

const std::string& Images()
{
    return SharedScriptImages("make_deep_fat_images.sh");
}

class DeepFatImage : public ::testing::TestWithParam<DeepImage>
{
  protected:
    void SetUp() override
    {
        ASSERT_FALSE(Images().empty()) << "the deep FAT images could not be made";
        image = Images() + "/" + GetParam().name + ".img";
        for (const char* v : GetParam().volumes)
        {
            Manifest m;
            std::string error;
            ASSERT_TRUE(LoadManifest(Images() + "/" + v + ".manifest", m, &error)) << error;
            manifests.push_back(m);
        }
        const uint64_t start = GetParam().wholeDisk ? 0 : manifests[0].Fact("partition_start_sector");
        const uint64_t count =
            GetParam().wholeDisk ? ImageSectors(image) : manifests[0].Fact("total_sectors");
        scan.reset(new DeepFatScan(image, start, count));
        ASSERT_TRUE(scan->Run());
        files = scan->Files();
        for (__SEARCH_FILE_INFO__& f : files)
            listed[{f.u64PartitionStartSector + f.u64DataStartSector, scan->PathOf(f)}].push_back(&f);
    }

    // Where a volume's data area begins: the node's layout tells its volume.
    static uint64_t DataArea(const Manifest& m)
    {
        return m.Fact("partition_start_sector") + m.Fact("data_start_sector");
    }

    // The manifest item (and its volume) a listed node names.
    const ManifestEntry* ItemOf(__SEARCH_FILE_INFO__& f, const Manifest** volume) const
    {
        const std::string path = scan->PathOf(f);
        for (const Manifest& m : manifests)
            for (const ManifestEntry& e : m.entries)
                if (!e.isDir && DataArea(m) == f.u64PartitionStartSector + f.u64DataStartSector &&
                    DeepCandidatePaths(m, e).count(path))
                {
                    *volume = &m;
                    return &e;
                }
        return nullptr;
    }

    std::string image;
    std::vector<Manifest> manifests;
    std::unique_ptr<DeepFatScan> scan;
    std::vector<__SEARCH_FILE_INFO__> files;
    // By the data area of the node's layout and its path.
    std::map<std::pair<uint64_t, std::string>, std::vector<__SEARCH_FILE_INFO__*>> listed;
};

TEST_P(DeepFatImage, ListsEveryFileWhoseEntryIsLeftUnderItsFoldersAndNothingElse)
{
    size_t expected = 0, named = 0;
    for (const Manifest& m : manifests)
        for (const ManifestEntry& e : m.entries)
        {
            if (e.isDir || !IsKeptItem(e))
                continue;
            ++expected;
            int found = 0;
            for (const std::string& p : DeepCandidatePaths(m, e))
            {
                auto it = listed.find({DataArea(m), p});
                found += it == listed.end() ? 0 : int(it->second.size());
            }
            EXPECT_EQ(found, 1) << e.path << " (" << e.state << ") listed " << found << " times";
            named += found == 1;
        }
    std::string all;
    for (const auto& l : listed)
        all += std::to_string(l.first.first) + ": " + l.first.second + "\n";
    EXPECT_EQ(files.size(), expected) << "listed:\n" << all;
    printf("deep %s: %zu files listed, %zu of %zu findable files under their names and folders\n",
           GetParam().name, files.size(), named, expected);
}

TEST_P(DeepFatImage, NodesCarryTheLayoutOfTheirVolume)
{
    for (__SEARCH_FILE_INFO__& f : files)
    {
        const Manifest* m = nullptr;
        const ManifestEntry* e = ItemOf(f, &m);
        ASSERT_NE(e, nullptr) << scan->PathOf(f);
        EXPECT_EQ(f.uEngineType, uint32_t(ENGINE_TYPE_DEEP_FAT));
        EXPECT_EQ(f.uClusterNO, e->firstCluster) << e->path;
        EXPECT_EQ(f.u64FileSize, e->size) << e->path;
        EXPECT_EQ(f.uClusterSize, m->Fact("sectors_per_cluster") * 512) << e->path;
        EXPECT_EQ(f.u64PartitionStartSector + f.u64DataStartSector,
                  m->Fact("partition_start_sector") + m->Fact("data_start_sector"))
            << e->path;
        EXPECT_EQ(f.u64RecordSector, e->entrySector) << e->path;
    }
}

TEST_P(DeepFatImage, RecoversIntactFilesByteForByte)
{
    TempDir out("deepfat-recover");
    size_t checked = 0, intact = 0;
    for (__SEARCH_FILE_INFO__& f : files)
    {
        const Manifest* m = nullptr;
        const ManifestEntry* e = ItemOf(f, &m);
        ASSERT_NE(e, nullptr);
        if (!IsIntactItem(*e))
            continue;
        ReportLog log;
        scan->Engine().InitCallBack(nullptr, &CollectReport, &log, 100);
        const std::string target = out.File("f" + std::to_string(intact++));
        std::wstring wtarget = Utf8ToWide(target.c_str());
        EXPECT_EQ(scan->Engine().SaveFileData(&f, &wtarget[0], 0), 0u) << e->path;
        EXPECT_EQ(Sha256OfFile(target), e->sha256) << e->path;
        ASSERT_EQ(log.Finals(), 1) << e->path;
        EXPECT_EQ(log.reports.back().status, 0);
        EXPECT_EQ(log.reports.back().target, target);
        checked += Sha256OfFile(target) == e->sha256;
    }
    EXPECT_GT(checked, 0u);
    printf("deep %s: %zu of %zu listed files with intact data recovered byte for byte\n", GetParam().name,
           checked, intact);
}

TEST_P(DeepFatImage, FolderTreeHoldsEveryListedFileAtItsLevel)
{
    std::vector<_FILE_NODE_> root;
    ASSERT_EQ(scan->Engine().GetChildrenFileNode(nullptr, 0, root), 0u);
    std::vector<std::pair<_FILE_NODE_, unsigned>> queue;
    size_t found = 0;
    for (auto& n : root)
        n.bIsDir ? queue.push_back({n, 1}) : void(++found);
    for (size_t i = 0; i < queue.size() && i < 1000; ++i)
    {
        std::vector<_FILE_NODE_> kids;
        ASSERT_EQ(scan->Engine().GetChildrenFileNode(&queue[i].first, queue[i].second, kids), 0u);
        EXPECT_FALSE(kids.empty()) << "empty folder node " << NodeNameUtf8(queue[i].first);
        for (auto& k : kids)
            k.bIsDir ? queue.push_back({k, queue[i].second + 1}) : void(++found);
    }
    unsigned int count = 0;
    ASSERT_EQ(scan->Engine().GetChildrenFileCount(nullptr, 0, count), 0u);
    EXPECT_EQ(found, files.size());
    EXPECT_EQ(count, files.size());
}

INSTANTIATE_TEST_SUITE_P(
    Images, DeepFatImage,
    ::testing::Values(DeepImage{"fat16qf", {"fat16qf"}, false}, DeepImage{"fat32qf", {"fat32qf"}, false},
                      DeepImage{"noboot", {"noboot"}, false}, DeepImage{"lostdir", {"lostdir"}, false},
                      DeepImage{"mbr", {"mbra", "mbrb"}, true}),
    [](const ::testing::TestParamInfo<DeepImage>& i) { return std::string(i.param.name); });

// One image each, for what the table does not reach.
class DeepFatVolume : public ::testing::Test
{
  protected:
    void Scan(const std::string& name, bool wholeDisk = false)
    {
        ASSERT_FALSE(Images().empty());
        image = Images() + "/" + name + ".img";
        std::string error;
        ASSERT_TRUE(
            LoadManifest(Images() + "/" + (name == "mbr" ? "mbra" : name) + ".manifest", manifest, &error))
            << error;
        const uint64_t start = wholeDisk ? 0 : manifest.Fact("partition_start_sector");
        scan.reset(); // its disk setting goes before the next one's
        scan.reset(
            new DeepFatScan(image, start, wholeDisk ? ImageSectors(image) : manifest.Fact("total_sectors")));
        ASSERT_TRUE(scan->Run());
    }
    _FILE_NODE_* RootFolder(std::vector<_FILE_NODE_>& root, const std::string& name)
    {
        root.clear();
        scan->Engine().GetChildrenFileNode(nullptr, 0, root);
        for (auto& n : root)
            if (n.bIsDir && NodeNameUtf8(n) == name)
                return &n;
        return nullptr;
    }
    std::string image;
    Manifest manifest;
    std::unique_ptr<DeepFatScan> scan;
};

TEST_F(DeepFatVolume, LayoutsComeFromTheBootSectorOrFromFolderStarts)
{
    struct Case
    {
        const char* image;
        bool real;
        std::vector<const char*> volumes;
    };
    for (const Case& c : {Case{"fat16qf", true, {"fat16qf"}}, Case{"noboot", false, {"noboot"}},
                          Case{"mbr", false, {"mbra", "mbrb"}}})
    {
        Scan(c.image, std::string(c.image) == "mbr");
        const auto& layouts = scan->Engine().GetVirtualDbrVec();
        ASSERT_EQ(layouts.size(), c.volumes.size()) << c.image;
        EXPECT_EQ(layouts[0].real, c.real) << c.image;
        for (size_t i = 0; i < c.volumes.size(); ++i)
        {
            Manifest m;
            ASSERT_TRUE(LoadManifest(Images() + "/" + c.volumes[i] + ".manifest", m));
            EXPECT_EQ(uint64_t(layouts[i].spc), m.Fact("sectors_per_cluster")) << c.image << " " << i;
            EXPECT_EQ(uint64_t(layouts[i].Base()),
                      m.Fact("partition_start_sector") + m.Fact("data_start_sector"))
                << c.image << " " << i;
        }
    }
}

TEST_F(DeepFatVolume, FolderCopyOfALostFolderGivesBackItsFiles)
{
    Scan("lostdir");
    const ManifestEntry* album = manifest.Find("/ALBUM");
    ASSERT_NE(album, nullptr);
    ASSERT_FALSE(IsKeptItem(*album)) << "the script left the folder's entry";
    std::vector<_FILE_NODE_> root;
    _FILE_NODE_* lost = RootFolder(root, "LostFolder" + std::to_string(album->firstCluster));
    ASSERT_NE(lost, nullptr);
    TempDir out("deepfat-folder");
    ReportLog log;
    scan->Engine().InitCallBack(nullptr, &CollectReport, &log, 100);
    std::wstring target = Utf8ToWide(out.File("album").c_str());
    EXPECT_EQ(scan->Engine().SaveFileData(lost, &target[0], 0), 0u);
    EXPECT_EQ(Sha256OfFile(out.File("album/!ic_0001.jpg")), manifest.Find("/ALBUM/PIC_0001.JPG")->sha256);
    EXPECT_EQ(Sha256OfFile(out.File("album/Summer evening.jpg")),
              manifest.Find("/ALBUM/Summer evening.jpg")->sha256);
    EXPECT_EQ(Sha256OfFile(out.File("album/!otes.txt")), manifest.Find("/ALBUM/NOTES.TXT")->sha256);
    EXPECT_EQ(log.Finals(), 3);
}

TEST_F(DeepFatVolume, FolderCopyOfANamedTreeRebuildsItsSubfolders)
{
    Scan("noboot");
    std::vector<_FILE_NODE_> root;
    _FILE_NODE_* trash = RootFolder(root, "!rash");
    ASSERT_NE(trash, nullptr);
    EXPECT_EQ(trash->bIsDeleted, 1u);
    TempDir out("deepfat-tree");
    ReportLog log;
    scan->Engine().InitCallBack(nullptr, &CollectReport, &log, 100);
    std::wstring target = Utf8ToWide(out.File("t").c_str());
    EXPECT_EQ(scan->Engine().SaveFileData(trash, &target[0], 0), 0u);
    EXPECT_EQ(Sha256OfFile(out.File("t/!.txt")), manifest.Find("/TRASH/A.TXT")->sha256);
    EXPECT_EQ(Sha256OfFile(out.File("t/Inner Folder/photo two.jpg")),
              manifest.Find("/TRASH/Inner Folder/photo two.jpg")->sha256);
    EXPECT_EQ(log.Finals(), 2);
}

TEST_F(DeepFatVolume, PreviewWritesPicturesToTheScanLogAndGivesOtherFilesTheirFirstBytes)
{
    Scan("fat16qf");
    std::vector<__SEARCH_FILE_INFO__> files = scan->Files();
    __SEARCH_FILE_INFO__ *photo = nullptr, *text = nullptr;
    for (auto& f : files)
    {
        if (NodeNameUtf8(f) == "Holiday at the sea.jpg")
            photo = &f;
        if (NodeNameUtf8(f) == "Meeting notes.txt")
            text = &f;
    }
    ASSERT_NE(photo, nullptr);
    ASSERT_NE(text, nullptr);
    std::vector<unsigned char> buf(PREVIEW_BUFFER_SIZE);
    wchar_t imagePath[256] = {0};
    int len = PREVIEW_BUFFER_SIZE;
    EXPECT_EQ(scan->Engine().PreView(photo, imagePath, buf.data(), len, nullptr, nullptr), 0u);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(WideToUtf8(imagePath), GetScanLogRoot() + "tmp.jpg");
    EXPECT_EQ(Sha256OfFile(WideToUtf8(imagePath)),
              manifest.Find("/DCIM/100PHOTO/Holiday at the sea.jpg")->sha256);
    imagePath[0] = 0;
    len = 100;
    EXPECT_EQ(scan->Engine().PreView(text, imagePath, buf.data(), len, nullptr, nullptr), 0u);
    EXPECT_EQ(imagePath[0], 0);
    ASSERT_EQ(len, 100);
    const ManifestEntry* notes = manifest.Find("/DOCS/Meeting notes.txt");
    const uint64_t at = (manifest.Fact("data_start_sector") +
                         (notes->firstCluster - 2) * manifest.Fact("sectors_per_cluster")) *
                        512;
    EXPECT_EQ(std::vector<unsigned char>(buf.begin(), buf.begin() + 100), ReadFileRange(image, at, 100));
}

} // namespace

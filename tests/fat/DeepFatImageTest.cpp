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
                    CandidatePaths(m, e, true).count(path))
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
            for (const std::string& p : CandidatePaths(m, e, true))
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
        ExpectPreviewOf(&scan->Engine(), f, target);
        checked += Sha256OfFile(target) == e->sha256;
    }
    EXPECT_GT(checked, 0u);
    printf("deep %s: %zu of %zu listed files with intact data recovered byte for byte\n", GetParam().name,
           checked, intact);
}

TEST_P(DeepFatImage, FolderTreeHoldsEveryListedFileAtItsLevel)
{
    unsigned int count = 0;
    ASSERT_EQ(scan->Engine().GetChildrenFileCount(nullptr, 0, count), 0u);
    EXPECT_EQ(FilesInTree(&scan->Engine()), files.size());
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
    void Scan(const std::string& name)
    {
        ASSERT_FALSE(Images().empty());
        std::string error;
        ASSERT_TRUE(LoadManifest(Images() + "/" + name + ".manifest", manifest, &error)) << error;
        scan.reset(); // its disk setting goes before the next one's
        scan.reset(new DeepFatScan(Images() + "/" + name + ".img", manifest.Fact("partition_start_sector"),
                                   manifest.Fact("total_sectors")));
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

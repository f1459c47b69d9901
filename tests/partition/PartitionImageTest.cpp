// Tables written by real tools (sfdisk, parted, mkfs.fat, mkntfs) and read
// back; every listing is compared with the tool's own.
#include "PartitionTestUtil.h"

#include <algorithm>
#include <fstream>
#include <sstream>

using namespace ptest;

namespace
{
class PartitionImages : public ::testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        // No assertion here: a failure in suite set-up would only skip the cases.
        s_dir = new TempDir();
        const char* tools = getenv("TESSAROO_TOOLS_DIR");
        if (!tools || !*tools || s_dir->Path().empty())
            return;
        const std::string cmd =
            std::string("'") + tools + "/make_partition_images.sh' '" + s_dir->Path() + "'";
        s_status = std::system(cmd.c_str());
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
    }
    void SetUp() override
    {
        ASSERT_NE(getenv("TESSAROO_TOOLS_DIR"), nullptr) << "TESSAROO_TOOLS_DIR is not set";
        ASSERT_EQ(s_status, 0) << "make_partition_images.sh failed";
    }

    static std::string Img(const std::string& name) { return s_dir->File(name + ".img"); }

    // What the tool that wrote the table lists for it.
    static std::vector<Extent> ToolListing(const std::string& name)
    {
        std::ifstream in(s_dir->File(name + ".expect"));
        std::vector<Extent> v;
        uint64_t start = 0, end = 0;
        while (in >> start >> end)
            v.push_back({start, end});
        return v;
    }
    static DiskMap Disks(const std::vector<std::string>& names)
    {
        std::vector<std::string> paths;
        for (const std::string& n : names)
            paths.push_back(Img(n));
        return Enumerate(paths, s_dir->Path());
    }

    static TempDir* s_dir;
    static int s_status;
};
TempDir* PartitionImages::s_dir = nullptr;
int PartitionImages::s_status = -1;

std::vector<Extent> Sorted(std::vector<Extent> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

// Each image alone lists exactly the partitions its tool lists.
TEST_F(PartitionImages, EveryImageMatchesItsTool)
{
    for (const char* name : {"mbr", "mbr2", "gpt", "fat", "ntfs"})
    {
        SCOPED_TRACE(name);
        const std::vector<Extent> tool = ToolListing(name);
        ASSERT_FALSE(tool.empty());
        DiskMap disks = Disks({name});
        ASSERT_EQ(disks.size(), 1u);
        EXPECT_EQ(Sorted(Extents(disks[0])), Sorted(tool));
    }
}

TEST_F(PartitionImages, MbrWithThreeLogicalsInTableOrder)
{
    DiskMap disks = Disks({"mbr"});
    ASSERT_EQ(disks.count(0), 1u);
    // The extended partition is the last used slot, so depth-first order is
    // the tool's order: two primaries, then the logicals at absolute sectors.
    EXPECT_EQ(Extents(disks[0]), ToolListing("mbr"));
    EXPECT_EQ(Names(disks[0]), (std::vector<std::string>{"Partition 1", "Partition 2", "Partition 3",
                                                         "Partition 4", "Partition 5"}));
    for (const _PARTITION_ITEM_& item : disks[0])
    {
        EXPECT_EQ(item.nDiskIndex, 0);
        EXPECT_EQ(std::string(item.szDiskName), Img("mbr").substr(0, 15));
    }
}

TEST_F(PartitionImages, SecondDiskContinuesLabels)
{
    DiskMap disks = Disks({"mbr", "mbr2"});
    ASSERT_EQ(disks.size(), 2u);
    EXPECT_EQ(disks[0].size(), 5u);
    // mbr2 holds its extended partition in slot 1 and a primary in slot 2:
    // the logicals come first, where the extended entry stands.
    EXPECT_EQ(Extents(disks[1]), (std::vector<Extent>{{4096, 12287}, {14336, 22527}, {45056, 53247}}));
    EXPECT_EQ(Names(disks[1]), (std::vector<std::string>{"Partition 6", "Partition 7", "Partition 8"}));
    EXPECT_EQ(disks[1][0].nDiskIndex, 1);
}

TEST_F(PartitionImages, GptNamesComeFromTheEntries)
{
    DiskMap disks = Disks({"gpt"});
    ASSERT_EQ(disks.count(0), 1u);
    EXPECT_EQ(Extents(disks[0]), ToolListing("gpt"));
    EXPECT_EQ(Names(disks[0]), (std::vector<std::string>{"Data One",
                                                         "Donn\xC3\xA9"
                                                         "es",
                                                         "", "Last"}));
}

TEST_F(PartitionImages, ApmFromPartedListsEveryMapEntry)
{
    DiskMap disks = Disks({"apm"});
    ASSERT_EQ(disks.count(0), 1u);
    const std::vector<_PARTITION_ITEM_>& items = disks[0];
    const std::vector<Extent> tool = ToolListing("apm");
    ASSERT_EQ(tool.size(), 3u);
    // parted lists the map's own entry and the two partitions; the map also
    // describes the free stretches (before the first partition and after the
    // last), which are listed too.
    ASSERT_EQ(items.size(), 5u);
    const std::vector<Extent> listed = Extents(items);
    EXPECT_EQ(std::vector<Extent>(listed.begin(), listed.begin() + 3), tool);
    EXPECT_EQ(Name(items[1]), "first");
    EXPECT_EQ(Name(items[2]), "second");
    const uint64_t lastSector = 32 * 1024 * 1024 / 512 - 1;
    EXPECT_EQ(listed[4], (Extent{tool[2].end + 1, lastSector}));
}

TEST_F(PartitionImages, WholeDiskVolumesWithoutTable)
{
    DiskMap disks = Disks({"mbr", "fat", "gpt", "ntfs"});
    ASSERT_EQ(disks.size(), 4u);
    EXPECT_EQ(Extents(disks[1]), ToolListing("fat"));
    EXPECT_EQ(Extents(disks[3]), ToolListing("ntfs"));
    EXPECT_EQ(Names(disks[1]), (std::vector<std::string>{"Partition 6"}));
    EXPECT_EQ(Names(disks[3]), (std::vector<std::string>{"Partition 7"}));
}

// All images at once: labels run across MBR and whole-disk volumes only.
TEST_F(PartitionImages, AllDisksTogether)
{
    DiskMap disks = Disks({"gpt", "mbr", "apm", "mbr2", "ntfs"});
    ASSERT_EQ(disks.size(), 5u);
    EXPECT_EQ(Name(disks[1].front()), "Partition 1");
    EXPECT_EQ(Name(disks[3].front()), "Partition 6");
    EXPECT_EQ(Name(disks[4].front()), "Partition 9");
    for (const auto& disk : disks)
        for (const _PARTITION_ITEM_& item : disk.second)
            EXPECT_EQ(item.nDiskIndex, disk.first);
}
} // namespace

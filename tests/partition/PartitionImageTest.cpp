// Tables written by real tools (sfdisk, parted, mkfs.fat, mkntfs) and read
// back; every listing is compared with the tool's own.
#include "PartitionTestUtil.h"
#include "tests/support/RunTool.h"

#include <algorithm>
#include <fstream>

using namespace ptest;

namespace
{
class PartitionImages : public ::testing::Test
{
  protected:
    // Made once for the suite; a failure there is reported by every case.
    static void SetUpTestSuite()
    {
        s_dir = new TempDir("partition");
        s_made = new ::testing::AssertionResult(
            tessaroo::test::RunToolScript("make_partition_images.sh", {s_dir->Path()}));
    }
    static void TearDownTestSuite()
    {
        delete s_made;
        delete s_dir;
    }
    void SetUp() override { ASSERT_TRUE(*s_made); }

    static std::string Img(const std::string& name) { return s_dir->File(name + ".img"); }

    // What the tool that wrote the table lists for it.
    static Extents ToolListing(const std::string& name)
    {
        std::ifstream in(s_dir->File(name + ".expect"));
        Extents v;
        uint64_t start = 0, end = 0;
        while (in >> start >> end)
            v.push_back({start, end});
        EXPECT_FALSE(v.empty()) << name;
        return v;
    }
    static DiskMap Disks(const std::vector<std::string>& names)
    {
        std::vector<std::string> paths;
        for (const std::string& n : names)
            paths.push_back(Img(n));
        return Enumerate(paths);
    }

    static TempDir* s_dir;
    static ::testing::AssertionResult* s_made;
};
TempDir* PartitionImages::s_dir = nullptr;
::testing::AssertionResult* PartitionImages::s_made = nullptr;

TEST_F(PartitionImages, MbrWithThreeLogicalsInTableOrder)
{
    DiskMap disks = Disks({"mbr"});
    // The extended partition is the last used slot, so depth-first order is
    // the tool's order: two primaries, then the logicals at absolute sectors.
    EXPECT_EQ(ExtentsOf(disks[0]), ToolListing("mbr"));
    EXPECT_EQ(NamesOf(disks[0]),
              (Names{"Partition 1", "Partition 2", "Partition 3", "Partition 4", "Partition 5"}));
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
    // the logicals come first, where the extended entry stands, and the
    // whole listing is in sector order.
    Extents tool = ToolListing("mbr2");
    std::sort(tool.begin(), tool.end());
    EXPECT_EQ(ExtentsOf(disks[1]), tool);
    EXPECT_EQ(NamesOf(disks[1]), (Names{"Partition 6", "Partition 7", "Partition 8"}));
    EXPECT_EQ(disks[1][0].nDiskIndex, 1);
}

TEST_F(PartitionImages, GptNamesComeFromTheEntries)
{
    DiskMap disks = Disks({"gpt"});
    EXPECT_EQ(ExtentsOf(disks[0]), ToolListing("gpt"));
    EXPECT_EQ(NamesOf(disks[0]), (Names{"Data One",
                                        "Donn\xC3\xA9"
                                        "es",
                                        "", "Last"}));
}

TEST_F(PartitionImages, ApmFromPartedListsEveryMapEntry)
{
    DiskMap disks = Disks({"apm"});
    const Extents tool = ToolListing("apm");
    ASSERT_EQ(tool.size(), 3u);
    // parted lists the map's own entry and the two partitions; the map also
    // describes the free stretches (before the first partition and after the
    // last), which are listed too.
    const Extents listed = ExtentsOf(disks[0]);
    ASSERT_EQ(listed.size(), 5u);
    EXPECT_EQ(Extents(listed.begin(), listed.begin() + 3), tool);
    EXPECT_EQ(NamesOf(disks[0])[1], "first");
    EXPECT_EQ(NamesOf(disks[0])[2], "second");
    EXPECT_EQ(listed[4], (Extent{tool[2].end + 1, 32 * 1024 * 1024 / 512 - 1}));
}

TEST_F(PartitionImages, WholeDiskVolumesWithoutTable)
{
    DiskMap disks = Disks({"mbr", "fat", "gpt", "ntfs"});
    ASSERT_EQ(disks.size(), 4u);
    EXPECT_EQ(ExtentsOf(disks[1]), ToolListing("fat"));
    EXPECT_EQ(ExtentsOf(disks[3]), ToolListing("ntfs"));
    EXPECT_EQ(NamesOf(disks[1]), (Names{"Partition 6"}));
    EXPECT_EQ(NamesOf(disks[3]), (Names{"Partition 7"}));
}

// All images at once: labels run across MBR and whole-disk volumes only.
TEST_F(PartitionImages, AllDisksTogether)
{
    DiskMap disks = Disks({"gpt", "mbr", "apm", "mbr2", "ntfs"});
    ASSERT_EQ(disks.size(), 5u);
    EXPECT_EQ(NamesOf(disks[1]).front(), "Partition 1");
    EXPECT_EQ(NamesOf(disks[3]).front(), "Partition 6");
    EXPECT_EQ(NamesOf(disks[4]).front(), "Partition 9");
    for (const auto& disk : disks)
        for (const _PARTITION_ITEM_& item : disk.second)
            EXPECT_EQ(item.nDiskIndex, disk.first);
}
} // namespace

// Tables written by real tools (sfdisk, parted, mkfs.fat, mkntfs), all
// mapped at once as disks 0-5 and read back: every listing is compared with
// the tool's own, and labels run on across MBR and whole-disk volumes only.
#include "PartitionTestUtil.h"
#include "tests/support/RunTool.h"

#include <algorithm>
#include <fstream>

using namespace ptest;

namespace
{
TEST(PartitionImages, EveryDiskAsItsToolListsIt)
{
    TempDir dir("partition");
    ASSERT_TRUE(tessaroo::test::RunToolScript("make_partition_images.sh", {dir.Path()}));
    const struct
    {
        const char* image;
        Names names;
    } disks[] = {
        {"gpt",
         {"Data One",
          "Donn\xC3\xA9"
          "es",
          "", "Last"}},
        // The extended partition is the last used slot: depth-first order is
        // the tool's order, the logicals at absolute sectors.
        {"mbr", {"Partition 1", "Partition 2", "Partition 3", "Partition 4", "Partition 5"}},
        // parted lists the map's own entry and the two partitions; the map
        // also describes the free stretches before and after them.
        {"apm", {"Apple", "first", "second", "Extra", "Extra"}},
        // The extended partition in slot 1, a primary in slot 2: the
        // logicals come where the extended entry stands, in sector order.
        {"mbr2", {"Partition 6", "Partition 7", "Partition 8"}},
        {"fat", {"Partition 9"}},
        {"ntfs", {"Partition 10"}},
    };
    std::vector<std::string> paths;
    for (const auto& d : disks)
        paths.push_back(dir.File(std::string(d.image) + ".img"));
    DiskMap listed = Enumerate(paths);
    ASSERT_EQ(listed.size(), 6u);
    for (int i = 0; i < 6; ++i)
    {
        SCOPED_TRACE(disks[i].image);
        std::ifstream in(dir.File(std::string(disks[i].image) + ".expect"));
        Extents tool;
        for (uint64_t start, end; in >> start >> end;)
            tool.push_back({start, end});
        ASSERT_FALSE(tool.empty());
        Extents got = ExtentsOf(listed[i]);
        if (std::string(disks[i].image) == "apm")
        {
            ASSERT_EQ(got.size(), 5u);
            EXPECT_EQ(got[4], (Extent{tool[2].second + 1, 32 * 1024 * 1024 / 512 - 1}));
            got.resize(3);
        }
        std::sort(tool.begin(), tool.end());
        EXPECT_EQ(got, tool);
        EXPECT_EQ(NamesOf(listed[i]), disks[i].names);
        for (const _PARTITION_ITEM_& item : listed[i])
        {
            EXPECT_EQ(item.nDiskIndex, i);
            EXPECT_EQ(std::string(item.szDiskName), paths[size_t(i)].substr(0, 15));
        }
    }
}
} // namespace

// Hand-built tables for the corners real tools do not write: damaged chains,
// oversized maps, empty slots, tables that point off the device.
#include "PartitionTestUtil.h"

#include <fcntl.h>
#include <unistd.h>

using namespace ptest;

namespace
{
struct SectorSpec
{
    uint64_t sector;
    std::vector<MbrEntrySpec> entries;
};

struct MbrCase
{
    const char* name;
    uint64_t imageBytes;
    std::vector<SectorSpec> sectors;
    std::vector<Extent> expected; // in listing order; labels run 1, 2, 3 ...
};

void PrintTo(const MbrCase& c, std::ostream* os)
{
    *os << c.name;
}

class MbrChainTest : public ::testing::TestWithParam<MbrCase>
{
  protected:
    TempDir m_dir;
};

TEST_P(MbrChainTest, ListsWhatTheChainHolds)
{
    const MbrCase& c = GetParam();
    Image img(m_dir.File("disk.img"), c.imageBytes);
    for (const SectorSpec& s : c.sectors)
        img.WriteSector(s.sector, MbrSector(s.entries));

    DiskMap disks = Enumerate({img.Path()}, m_dir.Path());
    if (c.expected.empty())
    {
        EXPECT_TRUE(disks.empty());
        return;
    }
    ASSERT_EQ(disks.size(), 1u);
    ASSERT_EQ(disks.count(0), 1u);
    EXPECT_EQ(Extents(disks[0]), c.expected);
    std::vector<std::string> labels;
    for (size_t i = 0; i < c.expected.size(); ++i)
        labels.push_back("Partition " + std::to_string(i + 1));
    EXPECT_EQ(Names(disks[0]), labels);
}

const uint64_t MiB = 1024 * 1024;

INSTANTIATE_TEST_SUITE_P(
    Corners, MbrChainTest,
    ::testing::Values(
        // The table ends at an empty slot, even when later slots are used.
        MbrCase{"FirstEntryEmpty", MiB, {{0, {{0, 0, 0}, {0x83, 100, 50}}}}, {}},
        // An entry of no sectors would end before it starts: skipped, the
        // rest still read.
        MbrCase{"ZeroCountSkipped", MiB, {{0, {{0x83, 100, 0}, {0x83, 200, 50}}}}, {{200, 249}}},
        // Type 0 with an extent is listed, as it stands.
        MbrCase{"TypeZeroWithExtent", MiB, {{0, {{0x00, 100, 50}}}}, {{100, 149}}},
        // Logical partitions are listed where the extended entry stands,
        // before the primaries that follow it.
        MbrCase{"DepthFirstWhereEntryStands",
                MiB,
                {{0, {{0x83, 100, 10}, {0x0F, 1000, 500}, {0x83, 200, 10}}},
                 {1000, {{0x83, 10, 5}, {0x05, 100, 50}}},
                 {1100, {{0x83, 10, 5}}}},
                {{100, 109}, {1010, 1014}, {1110, 1114}, {200, 209}}},
        // An EBR whose link points at itself.
        MbrCase{"EbrLinksToItself",
                MiB,
                {{0, {{0x83, 100, 10}, {0x05, 1000, 500}}}, {1000, {{0x83, 1, 10}, {0x05, 0, 500}}}},
                {{100, 109}, {1001, 1010}}},
        // The third EBR links back to the second.
        MbrCase{"EbrLoopsBack",
                MiB,
                {{0, {{0x05, 1000, 500}}},
                 {1000, {{0x83, 1, 10}, {0x05, 100, 50}}},
                 {1100, {{0x83, 1, 10}, {0x05, 200, 50}}},
                 {1200, {{0x83, 1, 10}, {0x05, 100, 50}}}},
                {{1001, 1010}, {1101, 1110}, {1201, 1210}}},
        // A link back to the MBR itself.
        MbrCase{"EbrLinksToMbr",
                MiB,
                {{0, {{0x83, 100, 10}, {0x05, 1000, 500}}},
                 {1000, {{0x83, 1, 10}, {0x05, 0xFFFFFFFFu - 999, 50}}}},
                {{100, 109}, {1001, 1010}}},
        // A link off the device ends that chain; the other entries stand.
        MbrCase{"LinkBeyondDevice",
                MiB,
                {{0, {{0x83, 100, 10}, {0x05, 100000, 50}, {0x83, 300, 10}}}},
                {{100, 109}, {300, 309}}},
        // A partition off the device is listed as the table says.
        MbrCase{
            "PartitionBeyondDevice", MiB, {{0, {{0x07, 4000000000u, 100}}}}, {{4000000000u, 4000000099u}}},
        // Each extended entry of the MBR is absolute and starts its own
        // chain: the second chain is not offset by the first one's base.
        MbrCase{"TwoExtendedInMbr",
                2 * MiB,
                {{0, {{0x05, 1000, 500}, {0x05, 3000, 500}}},
                 {1000, {{0x83, 10, 50}, {0x05, 100, 50}}},
                 {1100, {{0x83, 10, 20}}},
                 {3000, {{0x83, 10, 50}, {0x05, 200, 50}}},
                 {3200, {{0x83, 10, 20}}}},
                {{1010, 1059}, {1110, 1129}, {3010, 3059}, {3210, 3229}}},
        // A device shorter than the 4096 bytes probed still has its table read.
        MbrCase{"DeviceShorterThanProbe", 1024, {{0, {{0x83, 1, 1}}}}, {{1, 1}}},
        // An EBR in the very last sector of the device is still read.
        MbrCase{"EbrInLastSector",
                2048 * 512,
                {{0, {{0x05, 2000, 48}}}, {2047, {{0x83, 1, 1}}}, {2000, {{0x83, 1, 10}, {0x05, 47, 1}}}},
                {{2001, 2010}, {2048, 2048}}}),
    [](const ::testing::TestParamInfo<MbrCase>& p) { return std::string(p.param.name); });

TEST(MbrChain, LongChainStopsAfterLinkBound)
{
    TempDir dir;
    Image img(dir.File("chain.img"), 8 * MiB);
    const uint32_t first = 1000;
    const int links = 200;
    img.WriteSector(0, MbrSector({{0x05, first, 10 * links}}));
    for (int k = 0; k < links; ++k)
    {
        std::vector<MbrEntrySpec> e = {{0x83, 1, 5}};
        if (k + 1 < links)
            e.push_back({0x05, uint32_t(10 * (k + 1)), 10});
        img.WriteSector(first + 10 * k, MbrSector(e));
    }
    DiskMap disks = Enumerate({img.Path()}, dir.Path());
    ASSERT_EQ(disks.count(0), 1u);
    const std::vector<_PARTITION_ITEM_>& items = disks[0];
    // The MBR's link and the next 127 each reach one EBR with one logical.
    ASSERT_EQ(items.size(), size_t(CPartitionManager::MAX_EBR_LINKS));
    EXPECT_EQ(items.front().u64StartSector, first + 1u);
    EXPECT_EQ(items.back().u64StartSector, first + 10u * (CPartitionManager::MAX_EBR_LINKS - 1) + 1);
    EXPECT_EQ(Name(items.back()), "Partition 128");
}

TEST(MbrChain, NoSignatureNoTable)
{
    TempDir dir;
    Image img(dir.File("nosig.img"), MiB);
    img.WriteSector(0, MbrSector({{0x83, 100, 10}}, false));
    EXPECT_TRUE(Enumerate({img.Path()}, dir.Path()).empty());
}

TEST(MbrChain, DirectCallNamesFromItsManager)
{
    TempDir dir;
    Image img(dir.File("direct.img"), MiB);
    img.WriteSector(0, MbrSector({{0x83, 100, 10}, {0x05, 1000, 100}}));
    img.WriteSector(1000, MbrSector({{0x83, 1, 10}}));
    int fd = open(img.Path().c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    CPartitionManager mgr;
    std::vector<_PARTITION_ITEM_> first, second;
    mgr.GetMBRPartition(fd, 0, first, 7, "/dev/disk7");
    mgr.GetMBRPartition(fd, 0, second, 7, "/dev/disk7");
    close(fd);
    EXPECT_EQ(Extents(first), (std::vector<Extent>{{100, 109}, {1001, 1010}}));
    EXPECT_EQ(Extents(second), Extents(first));
    // The counter belongs to the manager and runs on until the next enumeration.
    EXPECT_EQ(Names(first), (std::vector<std::string>{"Partition 1", "Partition 2"}));
    EXPECT_EQ(Names(second), (std::vector<std::string>{"Partition 3", "Partition 4"}));
    EXPECT_EQ(first[1].nDiskIndex, 7);
    EXPECT_STREQ(first[1].szDiskName, "/dev/disk7");
}

// ---- GPT -------------------------------------------------------------------

struct GptEntrySpec
{
    uint64_t first;
    uint64_t last;
    std::u16string name;
};

Image MakeGpt(const std::string& path, const std::vector<GptEntrySpec>& entries)
{
    const uint64_t bytes = 64 * MiB;
    Image img(path, bytes);
    img.WriteSector(0, MbrSector({{0xEE, 1, uint32_t(bytes / 512 - 1)}}));
    std::vector<uint8_t> header(512, 0);
    std::memcpy(header.data(), "EFI PART", 8);
    img.WriteSector(1, header);
    std::vector<uint8_t> array(entries.size() * 128, 0);
    for (size_t i = 0; i < entries.size(); ++i)
    {
        uint8_t* e = &array[i * 128];
        e[0] = 0xA2; // a non-zero type GUID
        tessaroo::PutU64(e + 32, entries[i].first);
        tessaroo::PutU64(e + 40, entries[i].last);
        for (size_t k = 0; k < entries[i].name.size() && k < 36; ++k)
            tessaroo::PutU16(e + 56 + 2 * k, entries[i].name[k]);
    }
    if (!array.empty())
        img.Write(1024, array.data(), array.size());
    return img;
}

TEST(Gpt, OnlyTheEntriesOfTheFirst4096BytesAreRead)
{
    TempDir dir;
    std::vector<GptEntrySpec> entries;
    for (uint64_t i = 0; i < 30; ++i)
        entries.push_back({2048 + i * 100, 2048 + i * 100 + 99, u"p" + std::u16string(1, char16_t('A' + i))});
    Image img = MakeGpt(dir.File("gpt30.img"), entries);
    DiskMap disks = Enumerate({img.Path()}, dir.Path());
    ASSERT_EQ(disks.count(0), 1u);
    const std::vector<_PARTITION_ITEM_>& items = disks[0];
    ASSERT_EQ(items.size(), 24u);
    for (size_t i = 0; i < items.size(); ++i)
    {
        EXPECT_EQ(items[i].u64StartSector, 2048 + i * 100);
        EXPECT_EQ(items[i].u64EndSector, 2048 + i * 100 + 99);
    }
    EXPECT_EQ(Name(items[23]), "pX");
}

TEST(Gpt, BackwardEntrySkippedAndUnusedEntryEndsTheArray)
{
    TempDir dir;
    Image img = MakeGpt(dir.File("gpt.img"), {{2048, 4095, u"one"},
                                              {9000, 8999, u"backward"},
                                              {5000, 5999, u"three"},
                                              {0, 0, u""},
                                              {7000, 7999, u"after the end"}});
    DiskMap disks = Enumerate({img.Path()}, dir.Path());
    ASSERT_EQ(disks.count(0), 1u);
    EXPECT_EQ(Extents(disks[0]), (std::vector<Extent>{{2048, 4095}, {5000, 5999}}));
    EXPECT_EQ(Names(disks[0]), (std::vector<std::string>{"one", "three"}));
}

TEST(Gpt, NameFillingTheFieldKeepsAll36Units)
{
    TempDir dir;
    std::u16string longName(36, u'n');
    longName[35] = u'Z';
    Image img = MakeGpt(dir.File("gpt.img"), {{2048, 4095, longName}});
    DiskMap disks = Enumerate({img.Path()}, dir.Path());
    ASSERT_EQ(disks[0].size(), 1u);
    EXPECT_EQ(PartitionNameLength(disks[0][0]), 36u);
    EXPECT_EQ(Name(disks[0][0]), std::string(35, 'n') + "Z");
}

// The protective MBR in front of a GPT (one entry of type 0xEE) is not listed,
// and GPT partitions take no "Partition N" labels from the MBR disks after.
TEST(Gpt, ProtectiveMbrIgnoredAndNoLabelsConsumed)
{
    TempDir dir;
    Image gpt = MakeGpt(dir.File("gpt.img"), {{2048, 4095, u"data"}});
    Image mbr(dir.File("mbr.img"), MiB);
    mbr.WriteSector(0, MbrSector({{0x83, 100, 10}}));
    DiskMap disks = Enumerate({gpt.Path(), mbr.Path()}, dir.Path());
    ASSERT_EQ(disks.size(), 2u);
    EXPECT_EQ(Extents(disks[0]), (std::vector<Extent>{{2048, 4095}}));
    EXPECT_EQ(Names(disks[1]), (std::vector<std::string>{"Partition 1"}));
}

// ---- Apple partition map ---------------------------------------------------

struct ApmEntrySpec
{
    uint32_t physStart;
    uint32_t dataStart;
    uint32_t dataCount;
    const char* name;
};

void PutBE32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

// Writes "ER" at block 0 and the entries from block 1; mapCount is what every
// entry claims the map holds.
void WriteApm(const Image& img, uint32_t mapCount, const std::vector<ApmEntrySpec>& entries,
              bool mbrSignature = false)
{
    std::vector<uint8_t> ddr(512, 0);
    ddr[0] = 'E';
    ddr[1] = 'R';
    ddr[2] = 0x02; // 512-byte blocks
    if (mbrSignature)
    {
        // An MBR entry too: the disk must still be read as APM.
        ddr = MbrSector({{0x83, 100, 10}});
        ddr[0] = 'E';
        ddr[1] = 'R';
    }
    img.WriteSector(0, ddr);
    for (size_t i = 0; i < entries.size(); ++i)
    {
        std::vector<uint8_t> e(512, 0);
        e[0] = 'P';
        e[1] = 'M';
        PutBE32(&e[4], mapCount);
        PutBE32(&e[8], entries[i].physStart);
        PutBE32(&e[12], entries[i].dataCount);
        std::memcpy(&e[16], entries[i].name, std::min<size_t>(32, strlen(entries[i].name)));
        PutBE32(&e[80], entries[i].dataStart);
        PutBE32(&e[84], entries[i].dataCount);
        img.WriteSector(1 + i, e);
    }
}

TEST(Apm, EntryCountAbove128YieldsNothing)
{
    TempDir dir;
    Image img(dir.File("apm.img"), 4 * MiB);
    WriteApm(img, 200, {{1, 0, 63, "map"}, {64, 0, 100, "data"}}, true);
    EXPECT_TRUE(Enumerate({img.Path()}, dir.Path()).empty());
}

TEST(Apm, EntryCountOf128IsRead)
{
    TempDir dir;
    Image img(dir.File("apm.img"), 4 * MiB);
    std::vector<ApmEntrySpec> entries;
    for (uint32_t i = 0; i < 128; ++i)
        entries.push_back({200 + 10 * i, 0, 10, "part"});
    WriteApm(img, 128, entries);
    DiskMap disks = Enumerate({img.Path()}, dir.Path());
    ASSERT_EQ(disks[0].size(), 128u);
    EXPECT_EQ(disks[0].back().u64StartSector, 200u + 10 * 127);
    EXPECT_EQ(disks[0].back().u64EndSector, 200u + 10 * 127 + 9);
}

TEST(Apm, ReadAsApmDespiteMbrSignature)
{
    TempDir dir;
    Image img(dir.File("apm.img"), 4 * MiB);
    WriteApm(img, 4,
             {{1, 0, 63, "Apple"}, {64, 16, 100, "Data"}, {300, 0, 0, "Empty"}, {400, 0, 50, "Extra"}}, true);
    DiskMap disks = Enumerate({img.Path()}, dir.Path());
    ASSERT_EQ(disks.count(0), 1u);
    // Data start counts from the partition's first block; an entry of no
    // data blocks is left out.
    EXPECT_EQ(Extents(disks[0]), (std::vector<Extent>{{1, 63}, {80, 179}, {400, 449}}));
    EXPECT_EQ(Names(disks[0]), (std::vector<std::string>{"Apple", "Data", "Extra"}));
}

TEST(Apm, MapRunningOffTheDeviceKeepsWhatArrived)
{
    TempDir dir;
    Image img(dir.File("apm.img"), 3 * 512);
    WriteApm(img, 6, {{1, 0, 63, "map"}, {64, 0, 100, "data"}});
    DiskMap disks = Enumerate({img.Path()}, dir.Path());
    EXPECT_EQ(Extents(disks[0]), (std::vector<Extent>{{1, 63}, {64, 163}}));
}

// ---- Whole-disk volumes ------------------------------------------------------

// A FAT boot sector whose boot messages run over bytes 446-509, as the
// messages of common FAT32 boot code do: read as an MBR those bytes would be
// four garbage partitions.
TEST(WholeDisk, FatBootSectorIsOnePartitionNotAnMbr)
{
    TempDir dir;
    Image img(dir.File("card.img"), 8 * MiB);
    std::vector<uint8_t> s(512, 0);
    const uint8_t jump[3] = {0xEB, 0x58, 0x90};
    std::memcpy(&s[0], jump, 3);
    std::memcpy(&s[3], "MSDOS5.0", 8);
    tessaroo::PutU16(&s[11], 512);
    s[13] = 8;                       // sectors per cluster
    tessaroo::PutU16(&s[14], 32);    // reserved
    s[16] = 2;                       // FATs
    tessaroo::PutU32(&s[32], 16384); // total sectors
    tessaroo::PutU32(&s[36], 16);    // sectors per FAT
    std::memcpy(&s[82], "FAT32   ", 8);
    const char msg[] =
        "\r\nRemove disks or other media.\xff\r\nDisk error\xff\r\nPress any key to restart\r\n";
    std::memcpy(&s[0x1AC], msg, sizeof(msg) - 1);
    s[510] = 0x55;
    s[511] = 0xAA;
    img.WriteSector(0, s);
    ASSERT_NE(s[446 + 4], 0); // the bytes do look like a used entry

    Image mbr(dir.File("mbr.img"), MiB);
    mbr.WriteSector(0, MbrSector({{0x83, 100, 10}}));
    DiskMap disks = Enumerate({mbr.Path(), img.Path()}, dir.Path());
    ASSERT_EQ(disks.count(1), 1u);
    EXPECT_EQ(Extents(disks[1]), (std::vector<Extent>{{0, 8 * MiB / 512 - 1}}));
    // The whole-disk volume takes its label from the same counter.
    EXPECT_EQ(Names(disks[1]), (std::vector<std::string>{"Partition 2"}));
}

// ---- Enumeration -------------------------------------------------------------

TEST(Enumeration, KeysAreDiskNumbersAcrossGaps)
{
    TempDir dir;
    Image a(dir.File("a.img"), MiB);
    a.WriteSector(0, MbrSector({{0x83, 100, 10}, {0x83, 200, 10}}));
    Image blank(dir.File("blank.img"), MiB);
    Image b(dir.File("b.img"), MiB);
    b.WriteSector(0, MbrSector({{0x0C, 300, 10}}));
    // Disk 1 does not exist, disk 2 is an empty entry, disk 3 has no table.
    DiskMap disks = Enumerate({a.Path(), dir.File("missing.img"), "", blank.Path(), b.Path()}, dir.Path());
    ASSERT_EQ(disks.size(), 2u);
    ASSERT_EQ(disks.count(0), 1u);
    ASSERT_EQ(disks.count(4), 1u);
    EXPECT_EQ(Names(disks[4]), (std::vector<std::string>{"Partition 3"}));
    EXPECT_EQ(disks[4][0].nDiskIndex, 4);
    EXPECT_EQ(disks[0][1].nDiskIndex, 0);
    // The device path is only shown, so a long one is cut to the field.
    EXPECT_EQ(std::string(disks[4][0].szDiskName), b.Path().substr(0, 15));
    EXPECT_EQ(disks[4][0].szDiskName[15], '\0');
}

TEST(Enumeration, EveryEnumerationStartsLabelsAtOne)
{
    TempDir dir;
    Image a(dir.File("a.img"), MiB);
    a.WriteSector(0, MbrSector({{0x83, 100, 10}, {0x83, 200, 10}}));
    DiskEnv env({a.Path()}, dir.Path());
    CPartitionManager mgr;
    DiskMap first, second;
    mgr.GetPartitionItems(first);
    second[9].push_back(first[0][0]); // stale content is cleared
    mgr.GetPartitionItems(second);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(Names(first[0]), (std::vector<std::string>{"Partition 1", "Partition 2"}));
    EXPECT_EQ(Names(second[0]), Names(first[0]));
}

TEST(Enumeration, DeviceShorterThanOneSectorIsSkipped)
{
    TempDir dir;
    Image tiny(dir.File("tiny.img"), 300);
    std::vector<uint8_t> junk(300, 0x55);
    tiny.Write(0, junk.data(), junk.size());
    EXPECT_TRUE(Enumerate({tiny.Path()}, dir.Path()).empty());
}

// ---- Signatures and names ------------------------------------------------------

TEST(Signatures, ReadOnlyInsideTheGivenLength)
{
    std::vector<char> mbr(512, 0);
    mbr[510] = 0x55;
    mbr[511] = char(0xAA);
    EXPECT_TRUE(CPartitionManager::IsMBR(mbr.data(), 512));
    EXPECT_FALSE(CPartitionManager::IsMBR(mbr.data(), 511));
    EXPECT_TRUE(CPartitionManager::IsEFI("EFI PART", 8));
    EXPECT_FALSE(CPartitionManager::IsEFI("EFI PART", 7));
    EXPECT_FALSE(CPartitionManager::IsEFI("EFI PARt", 8));
    EXPECT_TRUE(CPartitionManager::IsAPM("ER", 2));
    EXPECT_FALSE(CPartitionManager::IsAPM("ER", 1));
    EXPECT_FALSE(CPartitionManager::IsAPM("PM", 2));
}

TEST(PartitionName, Utf16ToUtf8)
{
    _PARTITION_ITEM_ item;
    std::memset(&item, 0, sizeof(item));
    const char16_t name[] = {u'D', 0x00E9, 0x20AC, 0xD83D, 0xDE00, 0xDC00, u'x', 0};
    std::memcpy(item.wszPartitionName, name, sizeof(name));
    // A surrogate pair joins; a lone low surrogate becomes U+FFFD.
    EXPECT_EQ(PartitionNameToUtf8(item), "D\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBDx");
    item.u64StartSector = 10;
    item.u64EndSector = 19;
    EXPECT_EQ(PartitionSectorCount(item), 10u);
    item.u64EndSector = 9;
    EXPECT_EQ(PartitionSectorCount(item), 0u);
}
} // namespace

namespace
{
// Random tables, with extended entries and map counts made likely, must
// always end and never list a partition that ends before it starts.
TEST(Hostile, RandomTablesEndAndStayOrdered)
{
    TempDir dir;
    uint32_t seed = 12345;
    auto next = [&seed]()
    {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    for (int round = 0; round < 60; ++round)
    {
        Image img(dir.File("r.img"), 256 * 1024);
        std::vector<uint8_t> bytes(256 * 1024);
        for (uint8_t& b : bytes)
            b = uint8_t(next());
        for (size_t s = 0; s < bytes.size(); s += 512)
        {
            for (size_t k = 0; k < 4; ++k)
            {
                uint8_t* e = &bytes[s + 446 + 16 * k];
                if (next() % 2)
                    e[4] = (next() % 2) ? 0x05 : 0x0F;
                tessaroo::PutU32(e + 8, next() % 512); // links land inside the image
            }
            bytes[s + 510] = 0x55;
            bytes[s + 511] = 0xAA;
        }
        switch (round % 3)
        {
        case 0:
            break;
        case 1:
            std::memcpy(&bytes[0], "ER", 2);
            bytes[516] = bytes[517] = bytes[518] = 0;
            bytes[519] = uint8_t(next() % 140);
            break;
        case 2:
            std::memcpy(&bytes[512], "EFI PART", 8);
            break;
        }
        img.Write(0, bytes.data(), bytes.size());
        DiskMap disks = Enumerate({img.Path()}, dir.Path());
        for (const auto& disk : disks)
            for (const _PARTITION_ITEM_& item : disk.second)
            {
                EXPECT_LE(item.u64StartSector, item.u64EndSector);
                EXPECT_EQ(item.nDiskIndex, 0);
            }
        if (round % 3 == 0)
        {
            // Every sector links on, so the chain is cut by the link bound.
            ASSERT_EQ(disks.count(0), 1u);
            EXPECT_LE(disks[0].size(), size_t(4 * (CPartitionManager::MAX_EBR_LINKS + 1)));
        }
    }
}
} // namespace

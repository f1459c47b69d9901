// Hand-built tables for the corners real tools do not write: damaged chains,
// oversized maps, empty slots, tables that point off the device.
#include "PartitionTestUtil.h"

#include <cstring>

using namespace ptest;

namespace
{
const uint64_t MiB = 1024 * 1024;

TEST(MbrChain, ListsWhatTheChainHolds)
{
    const struct
    {
        const char* name;
        uint64_t imageSectors;
        std::vector<std::pair<uint64_t, std::vector<MbrEntrySpec>>> sectors;
        Extents expected; // in listing order; labels run 1, 2, 3 ...
    } cases[] = {
        // The table ends at an empty slot, even when later slots are used.
        {"FirstEntryEmpty", 2048, {{0, {{0, 0, 0}, {0x83, 100, 50}}}}, {}},
        // An entry of no sectors would end before it starts: skipped, the rest still read.
        {"ZeroCountSkipped", 2048, {{0, {{0x83, 100, 0}, {0x83, 200, 50}}}}, {{200, 249}}},
        // Type 0 with an extent is listed, as it stands.
        {"TypeZeroWithExtent", 2048, {{0, {{0x00, 100, 50}}}}, {{100, 149}}},
        {"EbrLinksToItself",
         2048,
         {{0, {{0x83, 100, 10}, {0x05, 1000, 500}}}, {1000, {{0x83, 1, 10}, {0x05, 0, 500}}}},
         {{100, 109}, {1001, 1010}}},
        // The third EBR links back to the second.
        {"EbrLoopsBack",
         2048,
         {{0, {{0x05, 1000, 500}}},
          {1000, {{0x83, 1, 10}, {0x05, 100, 50}}},
          {1100, {{0x83, 1, 10}, {0x05, 200, 50}}},
          {1200, {{0x83, 1, 10}, {0x05, 100, 50}}}},
         {{1001, 1010}, {1101, 1110}, {1201, 1210}}},
        // A link that wraps round to the MBR itself.
        {"EbrLinksToMbr",
         2048,
         {{0, {{0x83, 100, 10}, {0x05, 1000, 500}}}, {1000, {{0x83, 1, 10}, {0x05, 0xFFFFFFFFu - 999, 50}}}},
         {{100, 109}, {1001, 1010}}},
        // A link off the device ends that chain; the other entries stand.
        {"LinkBeyondDevice",
         2048,
         {{0, {{0x83, 100, 10}, {0x05, 100000, 50}, {0x83, 300, 10}}}},
         {{100, 109}, {300, 309}}},
        // Each extended entry of the MBR is absolute and starts its own
        // chain: the second chain is not offset by the first one's base.
        {"TwoExtendedInMbr",
         4096,
         {{0, {{0x05, 1000, 500}, {0x05, 3000, 500}}},
          {1000, {{0x83, 10, 50}, {0x05, 100, 50}}},
          {1100, {{0x83, 10, 20}}},
          {3000, {{0x83, 10, 50}, {0x05, 200, 50}}},
          {3200, {{0x83, 10, 20}}}},
         {{1010, 1059}, {1110, 1129}, {3010, 3059}, {3210, 3229}}},
        // A device shorter than the 4096 bytes probed still has its table read.
        {"DeviceShorterThanProbe", 2, {{0, {{0x83, 1, 1}}}}, {{1, 1}}},
        // An EBR in the very last sector of the device is still read: its
        // link leads back to an EBR that lists one more logical.
        {"EbrInLastSector",
         2048,
         {{0, {{0x05, 2000, 48}}},
          {2000, {{0x83, 1, 10}, {0x05, 47, 1}}},
          {2047, {{0x05, 20, 10}}},
          {2020, {{0x83, 1, 5}}}},
         {{2001, 2010}, {2021, 2025}}},
        // Found by fuzzing: entries taken as the table says sent scans after
        // sectors the device does not have. What starts past the last sector
        // is left out, taking no label; what runs past it is cut there.
        {"EntriesOffTheDevice",
         2048,
         {{0, {{0x07, 4000000000u, 100}, {0x83, 100, 10}, {0x05, 1000, 1048}, {0x0C, 0xFFFFFF00u, 0x1000}}},
          {1000, {{0x83, 1000, 100}, {0x05, 500, 10}}},
          {1500, {{0x83, 548, 10}}}},
         {{100, 109}, {2000, 2047}}},
    };
    TempDir dir("partition");
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        SectorImage img;
        for (const auto& s : c.sectors)
            img.Put(s.first, MbrSector(s.second));
        ASSERT_TRUE(img.Write(dir.File("disk.img"), c.imageSectors));
        DiskMap disks = Enumerate({dir.File("disk.img")});
        EXPECT_EQ(disks.size(), c.expected.empty() ? 0u : 1u);
        EXPECT_EQ(ExtentsOf(disks[0]), c.expected);
        Names labels;
        for (size_t i = 0; i < c.expected.size(); ++i)
            labels.push_back("Partition " + std::to_string(i + 1));
        EXPECT_EQ(NamesOf(disks[0]), labels);
    }
    // Without the signature there is no table.
    ASSERT_TRUE(SectorImage().Put(0, MbrSector({{0x83, 100, 10}}, false)).Write(dir.File("disk.img"), 2048));
    EXPECT_TRUE(Enumerate({dir.File("disk.img")}).empty());
}

TEST(MbrChain, LongChainStopsAfterLinkBound)
{
    TempDir dir("partition");
    SectorImage img;
    img.Put(0, MbrSector({{0x05, 1000, 2000}}));
    // 200 EBRs of one logical each; the MBR's link and the next 127 are followed.
    Extents expected;
    for (uint32_t k = 0; k < 200; ++k)
    {
        img.Put(1000 + 10 * k, MbrSector({{0x83, 1, 5}, {uint8_t(k < 199 ? 0x05 : 0), 10 * (k + 1), 10}}));
        if (k < CPartitionManager::MAX_EBR_LINKS)
            expected.push_back({1001 + 10 * k, 1005 + 10 * k});
    }
    ASSERT_TRUE(img.Write(dir.File("chain.img"), 16384));
    DiskMap disks = Enumerate({dir.File("chain.img")});
    EXPECT_EQ(ExtentsOf(disks[0]), expected);
    EXPECT_EQ(NamesOf(disks[0]).back(), "Partition 128");
}

// ---- GPT -------------------------------------------------------------------

struct GptEntrySpec
{
    uint64_t first;
    uint64_t last;
    std::u16string name;
};

// A 64 MiB disk: protective MBR, "EFI PART" header, entries from sector 2.
std::string MakeGpt(const TempDir& dir, const std::vector<GptEntrySpec>& entries)
{
    const uint64_t sectors = 64 * MiB / 512;
    std::vector<uint8_t> header(512, 0), array(entries.size() * 128, 0);
    std::memcpy(header.data(), "EFI PART", 8);
    for (size_t i = 0; i < entries.size(); ++i)
    {
        uint8_t* e = &array[i * 128];
        e[0] = 0xA2; // a non-zero type GUID
        tessaroo::PutU64(e + 32, entries[i].first);
        tessaroo::PutU64(e + 40, entries[i].last);
        for (size_t k = 0; k < entries[i].name.size() && k < 36; ++k)
            tessaroo::PutU16(e + 56 + 2 * k, entries[i].name[k]);
    }
    const std::string path = dir.File("gpt.img");
    EXPECT_TRUE(SectorImage()
                    .Put(0, MbrSector({{0xEE, 1, uint32_t(sectors - 1)}}))
                    .Put(1, header)
                    .Put(2, array)
                    .Write(path, sectors));
    return path;
}

TEST(Gpt, EntriesOfTheFirst4096BytesUpToTheFirstUnused)
{
    TempDir dir("partition");
    std::vector<GptEntrySpec> thirty;
    Extents first24;
    for (uint64_t i = 0; i < 30; ++i)
    {
        thirty.push_back({2048 + i * 100, 2147 + i * 100, u"p"});
        if (i < 24)
            first24.push_back({2048 + i * 100, 2147 + i * 100});
    }
    EXPECT_EQ(ExtentsOf(Enumerate({MakeGpt(dir, thirty)})[0]), first24);

    // A backward entry is skipped; an unused one ends the array; a name
    // filling its field keeps all 36 units.
    DiskMap disks = Enumerate({MakeGpt(dir, {{2048, 4095, std::u16string(35, u'n') + u"Z"},
                                             {9000, 8999, u"backward"},
                                             {5000, 5999, u"three"},
                                             {0, 0, u""},
                                             {7000, 7999, u"after the end"}})});
    EXPECT_EQ(ExtentsOf(disks[0]), (Extents{{2048, 4095}, {5000, 5999}}));
    EXPECT_EQ(NamesOf(disks[0]), (Names{std::string(35, 'n') + "Z", "three"}));
}

// ---- Apple partition map ---------------------------------------------------

struct ApmEntrySpec
{
    uint32_t physStart;
    uint32_t dataStart;
    uint32_t dataCount;
    const char* name;
};

// "ER" at block 0 (with an MBR entry and signature too when asked: the disk
// must still be read as APM) and the entries from block 1; mapCount is what
// every entry claims the map holds.
std::string MakeApm(const TempDir& dir, uint64_t sectors, uint32_t mapCount,
                    const std::vector<ApmEntrySpec>& entries, bool mbrSignature = false)
{
    std::vector<uint8_t> ddr = mbrSignature ? MbrSector({{0x83, 100, 10}}) : std::vector<uint8_t>(512, 0);
    std::memcpy(&ddr[0], "ER", 2);
    ddr[2] = mbrSignature ? 0 : 0x02; // 512-byte blocks
    auto PutBE32 = [](uint8_t* p, uint32_t v) { tessaroo::PutU32(p, __builtin_bswap32(v)); };
    SectorImage img;
    img.Put(0, ddr);
    for (size_t i = 0; i < entries.size(); ++i)
    {
        std::vector<uint8_t> e(512, 0);
        std::memcpy(&e[0], "PM", 2);
        PutBE32(&e[4], mapCount);
        PutBE32(&e[8], entries[i].physStart);
        PutBE32(&e[12], entries[i].dataCount);
        std::memcpy(&e[16], entries[i].name, std::min<size_t>(32, strlen(entries[i].name)));
        PutBE32(&e[80], entries[i].dataStart);
        PutBE32(&e[84], entries[i].dataCount);
        img.Put(1 + i, e);
    }
    const std::string path = dir.File("apm.img");
    EXPECT_TRUE(img.Write(path, sectors));
    return path;
}

TEST(Apm, MapEntriesUpTo128AndOnTheDevice)
{
    TempDir dir("partition");
    std::vector<ApmEntrySpec> many;
    for (uint32_t i = 0; i < 128; ++i)
        many.push_back({200 + 10 * i, 0, 10, "part"});
    const struct
    {
        uint64_t sectors;
        uint32_t mapCount;
        std::vector<ApmEntrySpec> entries;
        bool mbrSignature; // the disk must still be read as APM
        size_t count;      // of partitions listed; the last is compared
        Extents extents;
    } cases[] = {
        {8192, 128, many, false, 128, {{200 + 10 * 127, 200 + 10 * 127 + 9}}},
        {8192, 200, {{1, 0, 63, "map"}, {64, 0, 100, "data"}}, true, 0, {}},
        // Data start counts from the partition's first block; an entry of
        // no data blocks is left out.
        {8192,
         4,
         {{1, 0, 63, "Apple"}, {64, 16, 100, "Data"}, {300, 0, 0, "Empty"}, {400, 0, 50, "Extra"}},
         true,
         3,
         {{1, 63}, {80, 179}, {400, 449}}},
        // A map running off the device keeps what arrived.
        {3, 6, {{1, 0, 1, "map"}, {2, 0, 1, "data"}}, false, 2, {{1, 1}, {2, 2}}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.count);
        DiskMap disks = Enumerate({MakeApm(dir, c.sectors, c.mapCount, c.entries, c.mbrSignature)});
        ASSERT_EQ(disks[0].size(), c.count);
        const Extents got = ExtentsOf(disks[0]);
        EXPECT_EQ(Extents(got.end() - long(c.extents.size()), got.end()), c.extents);
    }
}

// ---- Enumeration ----------------------------------------------------------------

// Disk numbers are the keys, across gaps; every enumeration starts the
// labels at 1 and clears what the map held.
TEST(Enumeration, KeysAreDiskNumbersAcrossGaps)
{
    TempDir dir("partition");
    ASSERT_TRUE(
        SectorImage().Put(0, MbrSector({{0x83, 100, 10}, {0x83, 200, 10}})).Write(dir.File("a.img"), 2048));
    ASSERT_TRUE(SectorImage().Write(dir.File("blank.img"), 2048));
    ASSERT_TRUE(SectorImage().Put(0, MbrSector({{0x0C, 300, 10}})).Write(dir.File("b.img"), 2048));
    // A device shorter than one sector is skipped.
    ASSERT_TRUE(tessaroo::test::WriteImageFile(dir.File("tiny.img"), std::vector<uint8_t>(300, 0x55)));
    // Disk 1 does not exist, disk 2 is an empty entry, disks 3 and 4 have no table.
    tessaroo::test::ScopedEnv env("TESSAROO_DISKS", dir.File("a.img") + ":" + dir.File("missing.img") +
                                                        "::" + dir.File("blank.img") + ":" +
                                                        dir.File("tiny.img") + ":" + dir.File("b.img"));
    CPartitionManager mgr;
    DiskMap first, disks;
    mgr.GetPartitionItems(first);
    disks[9].push_back(first[0][0]);
    mgr.GetPartitionItems(disks);
    ASSERT_EQ(disks.size(), 2u);
    EXPECT_EQ(NamesOf(disks[0]), (Names{"Partition 1", "Partition 2"}));
    EXPECT_EQ(disks[0][1].nDiskIndex, 0);
    EXPECT_EQ(NamesOf(disks[5]), (Names{"Partition 3"}));
    EXPECT_EQ(disks[5][0].nDiskIndex, 5);
}

// ---- Names ----------------------------------------------------------------

TEST(PartitionName, Utf16ToUtf8AndSectorCount)
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

// The recognisers on hand-built sectors: each case changes one or two
// fields of a consistent boot sector, entry or record to reach one rule.
// Buffers are exactly as long as the recogniser may read, so the sanitizer
// build catches any read past them.
#include "core/BootSector.h"
#include "core/ByteReader.h"
#include "core/Recognisers.h"
#include "tests/support/FatBuilder.h"
#include "tests/support/NtfsBuilder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

using namespace tessaroo;
using namespace tessaroo::test;

namespace
{
// A little-endian field of 1, 2, 4 or 8 bytes set in a buffer.
struct Patch
{
    size_t off;
    int width;
    uint64_t value;
};

void Apply(std::vector<uint8_t>& buf, const std::vector<Patch>& patches)
{
    for (const Patch& p : patches)
        for (int i = 0; i < p.width; ++i)
            buf.at(p.off + size_t(i)) = uint8_t(p.value >> (8 * i));
}

// A heap copy of exactly the bytes given, so a read past them is an error
// under the sanitizer.
std::unique_ptr<uint8_t[]> Exact(const std::vector<uint8_t>& v)
{
    std::unique_ptr<uint8_t[]> p(new uint8_t[v.size()]);
    memcpy(p.get(), v.data(), v.size());
    return p;
}

uint64_t Text8(const char* s)
{
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i)
        v |= uint64_t(uint8_t(s[i])) << (8 * i);
    return v;
}

template <typename Case> std::string CaseName(const ::testing::TestParamInfo<Case>& info)
{
    return info.param.name;
}

constexpr uint16_t Date(int y, int m, int d)
{
    return uint16_t((y - 1980) << 9 | m << 5 | d);
}
} // namespace

// --- boot sectors ------------------------------------------------------------

struct FatCase
{
    const char* name;
    FatFormat kind;
    std::vector<Patch> patches;
    bool expected;
};

class IsFatCases : public ::testing::TestWithParam<FatCase>
{
};

TEST_P(IsFatCases, Classify)
{
    std::vector<uint8_t> s = MakeFatBootSector(DefaultFatParams(GetParam().kind));
    Apply(s, GetParam().patches);
    EXPECT_EQ(IsFat(Exact(s).get()), GetParam().expected);
}

// The FAT32 default: 32 reserved sectors and two FATs of 1016 sectors, no
// root region, one sector per cluster: clusters = total - 2064.
constexpr uint64_t kFat32Overhead = 32 + 2 * 1016;
constexpr FatFormat F12 = FatFormat::Fat12, F16 = FatFormat::Fat16, F32 = FatFormat::Fat32;

INSTANTIATE_TEST_SUITE_P(
    Table, IsFatCases,
    ::testing::Values(
        FatCase{"Fat12", F12, {}, true}, FatCase{"Fat16", F16, {}, true}, FatCase{"Fat32", F32, {}, true},
        FatCase{"Fat32EightSectorsPerCluster", F32, {{13, 1, 8}}, true},
        FatCase{"Fat32SixtyFourSectorsPerCluster", F32, {{13, 1, 64}}, true},
        FatCase{"Fat32SectorsPerCluster128", F32, {{13, 1, 128}}, false},
        FatCase{"Fat16SectorsPerCluster128", F16, {{13, 1, 128}}, false},
        FatCase{"SectorsPerClusterThree", F16, {{13, 1, 3}}, false},
        FatCase{"SectorsPerClusterZero", F32, {{13, 1, 0}}, false},
        FatCase{"BytesPerSectorZero", F16, {{11, 2, 0}}, false},
        FatCase{"BytesPerSector768", F16, {{11, 2, 768}}, false},
        FatCase{"BytesPerSector4096", F32, {{11, 2, 4096}}, true},
        FatCase{"NoSignature", F32, {{511, 1, 0}}, false}, FatCase{"NoFats", F16, {{16, 1, 0}}, false},
        FatCase{"EncryptedVolumeName", F32, {{3, 8, Text8("-FVE-FS-")}}, false},
        // FAT32 form: the type text, the 32-bit total and the 32-bit FAT size are all needed.
        FatCase{"Fat32WithoutTypeText", F32, {{82, 8, Text8("FAT16   ")}}, false},
        FatCase{"Fat32WithoutTotal", F32, {{32, 4, 0}}, false},
        FatCase{"Fat32TotalOnlyIn16BitField", F32, {{32, 4, 0}, {19, 2, 60000}}, false},
        FatCase{"Fat32WithoutFatSize", F32, {{36, 4, 0}}, false},
        // FAT12/16 form: the 16-bit FAT size and either total.
        FatCase{"Fat16WithoutFatSize", F16, {{22, 2, 0}}, false},
        FatCase{"Fat16TotalIn32BitField", F16, {{19, 2, 0}, {32, 4, 32768}}, true},
        FatCase{"Fat16WithoutTotal", F16, {{19, 2, 0}}, false},
        // The cluster count decides only the upper limit.
        FatCase{"ClusterCountAtLimit", F32, {{32, 4, FAT_MAX_CLUSTERS + kFat32Overhead}}, true},
        FatCase{"ClusterCountOverLimit", F32, {{32, 4, FAT_MAX_CLUSTERS + 1 + kFat32Overhead}}, false},
        FatCase{"Fat32WithFewClusters", F32, {{32, 4, 4096}}, true},
        // A total below the reserved area and FATs wraps to a huge count.
        FatCase{"TotalBelowReservedArea", F32, {{32, 4, 10}}, false}),
    CaseName<FatCase>);

TEST(IsFat, EncryptedVolumeTail)
{
    // 'x' × 8, 0xFF × 19, 0x00 0x1F 0x2C at 480 mark an encrypted volume;
    // one byte off is an ordinary boot sector.
    std::vector<uint8_t> s = MakeFatBootSector(DefaultFatParams(F32));
    memset(&s[480], 0x78, 8);
    memset(&s[488], 0xFF, 19);
    s[507] = 0x00;
    s[508] = 0x1F;
    s[509] = 0x2C;
    EXPECT_FALSE(IsFat(Exact(s).get()));
    s[509] = 0x2D;
    EXPECT_TRUE(IsFat(Exact(s).get()));
}

struct NtfsCase
{
    const char* name;
    std::vector<Patch> patches;
    bool expected;
};

class IsNtfsCases : public ::testing::TestWithParam<NtfsCase>
{
};

TEST_P(IsNtfsCases, Classify)
{
    std::vector<uint8_t> s = MakeNtfsBootSector(NtfsBootParams());
    Apply(s, GetParam().patches);
    EXPECT_EQ(IsNtfs(Exact(s).get()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, IsNtfsCases,
    ::testing::Values(
        NtfsCase{"Valid", {}, true}, NtfsCase{"OemNameWithoutBlanks", {{3, 8, Text8("NTFS5.0 ")}}, false},
        NtfsCase{"ExfatName", {{3, 8, Text8("EXFAT   ")}}, false},
        NtfsCase{"BytesPerSectorZeroPasses", {{11, 2, 0}}, true},
        NtfsCase{"BytesPerSector4096", {{11, 2, 4096}}, true},
        NtfsCase{"BytesPerSector1000", {{11, 2, 1000}}, false},
        NtfsCase{"ReservedSectors", {{14, 2, 1}}, false},
        NtfsCase{"SectorsPerCluster64", {{13, 1, 64}}, true},
        NtfsCase{"SectorsPerCluster128", {{13, 1, 128}}, false},
        NtfsCase{"SectorsPerClusterZero", {{13, 1, 0}}, false},
        NtfsCase{"TotalSectorsZero", {{40, 8, 0}}, false},
        NtfsCase{"TotalSectorsOnlyHighByte", {{40, 8, uint64_t(1) << 56}}, true},
        NtfsCase{"NoSignature", {{510, 1, 0}}, false},
        NtfsCase{"MediaAndGeometryAreFree", {{21, 1, 0xF0}, {24, 2, 0x3F}, {36, 1, 0x80}}, true},
        // Every FAT field must be empty on NTFS.
        NtfsCase{"FatCount", {{16, 1, 1}}, false}, NtfsCase{"RootEntriesLow", {{17, 1, 1}}, false},
        NtfsCase{"RootEntriesHigh", {{18, 1, 1}}, false}, NtfsCase{"Total16Low", {{19, 1, 1}}, false},
        NtfsCase{"Total16High", {{20, 1, 1}}, false}, NtfsCase{"FatSize16Low", {{22, 1, 1}}, false},
        NtfsCase{"FatSize16High", {{23, 1, 1}}, false}, NtfsCase{"Total32Byte0", {{32, 1, 1}}, false},
        NtfsCase{"Total32Byte1", {{33, 1, 1}}, false}, NtfsCase{"Total32Byte2", {{34, 1, 1}}, false},
        NtfsCase{"Total32Byte3", {{35, 1, 1}}, false}),
    CaseName<NtfsCase>);

TEST(Recognisers, NtfsAndFatExcludeEachOther)
{
    // An NTFS boot sector has no FAT count, so no FAT form can hold; a FAT
    // boot sector has one, so the NTFS test fails even under the NTFS name.
    const std::vector<uint8_t> ntfs = MakeNtfsBootSector(NtfsBootParams());
    EXPECT_TRUE(IsNtfs(ntfs.data()));
    EXPECT_FALSE(IsFat(ntfs.data()));
    for (FatFormat k : {F12, F16, F32})
    {
        std::vector<uint8_t> fat = MakeFatBootSector(DefaultFatParams(k));
        Apply(fat, {{3, 8, Text8("NTFS    ")}});
        EXPECT_TRUE(IsFat(fat.data()));
        EXPECT_FALSE(IsNtfs(fat.data()));
    }
}

// An ext2 superblock at 1024: 1 KiB blocks, one group of 8192 blocks and
// 2048 inodes, first data block 1, first non-reserved inode 11.
struct ExtCase
{
    const char* name;
    std::vector<Patch> patches;
    bool expected;
};

class IsExtCases : public ::testing::TestWithParam<ExtCase>
{
};

TEST_P(IsExtCases, Classify)
{
    std::vector<uint8_t> b(2048, 0);
    Apply(b, {{1024, 4, 2048},
              {1028, 4, 8192},
              {1044, 4, 1},
              {1048, 4, 0},
              {1056, 4, 8192},
              {1064, 4, 2048},
              {1080, 2, 0xEF53},
              {1108, 4, 11}});
    Apply(b, GetParam().patches);
    EXPECT_EQ(IsExt(Exact(b).get()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, IsExtCases,
    ::testing::Values(
        ExtCase{"OneKiBBlocks", {}, true},
        ExtCase{"FourKiBBlocks", {{1048, 4, 2}, {1044, 4, 0}, {1028, 4, 32768}, {1056, 4, 32768}}, true},
        ExtCase{"FourKiBBlocksWithFirstDataBlockOne", {{1048, 4, 2}}, false},
        ExtCase{"OneKiBBlocksWithFirstDataBlockZero", {{1044, 4, 0}}, false},
        // The exponent is taken modulo 32: 32 reads as 1 KiB blocks.
        ExtCase{"BlockSizeExponentWraps", {{1048, 4, 32}}, true},
        ExtCase{"WrongMagic", {{1080, 2, 0xEF52}}, false}, ExtCase{"NoInodes", {{1024, 4, 0}}, false},
        ExtCase{"NoBlocks", {{1028, 4, 0}}, false}, ExtCase{"NoBlocksPerGroup", {{1056, 4, 0}}, false},
        ExtCase{"NoInodesPerGroup", {{1064, 4, 0}}, false}, ExtCase{"FirstInodeTwo", {{1108, 4, 2}}, false},
        ExtCase{"InodesNotAboveFirstInode", {{1024, 4, 11}, {1064, 4, 11}}, false},
        ExtCase{"GroupCountsDisagree", {{1024, 4, 4096}}, false},
        ExtCase{"TwoGroups", {{1024, 4, 4096}, {1028, 4, 16384}}, true}),
    CaseName<ExtCase>);

// --- records -----------------------------------------------------------------

struct RecordCase
{
    const char* name;
    uint32_t recordSize;
    bool fixedUp;
    std::vector<Patch> patches;
    int sizeGiven; // the recordSize argument
    bool expected;
};

class IsNtfsFileRecordCases : public ::testing::TestWithParam<RecordCase>
{
};

TEST_P(IsNtfsFileRecordCases, Classify)
{
    const RecordCase& c = GetParam();
    std::vector<uint8_t> rec = NtfsRecordBuilder(c.recordSize)
                                   .SetRecordNumber(64)
                                   .AddStandardInformation(NtfsTimeFromUnix(1623758400))
                                   .AddFileName(5 | (uint64_t(5) << 48), u"report.txt", 11)
                                   .AddResidentData({'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'})
                                   .SetUpdateSequenceNumber(0x0A0B)
                                   .Build(c.fixedUp);
    Apply(rec, c.patches);
    rec.resize(size_t(c.sizeGiven));
    EXPECT_EQ(IsNtfsFileRecord(Exact(rec).get(), c.sizeGiven), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, IsNtfsFileRecordCases,
    ::testing::Values(RecordCase{"AsOnDisk", 1024, true, {}, 1024, true},
                      RecordCase{"FourKiBRecord", 4096, true, {}, 4096, true},
                      // Once the fixups are undone the sector end holds data again.
                      RecordCase{"FixedUpInMemory", 1024, false, {}, 1024, false},
                      RecordCase{"BadMagic", 1024, true, {{0, 4, 0x44414142}}, 1024, false},
                      RecordCase{"BytesInUseAtSize", 1024, true, {{24, 4, 1024}}, 1024, true},
                      RecordCase{"BytesInUseOverSize", 1024, true, {{24, 4, 1025}}, 1024, false},
                      RecordCase{
                          "AllocatedSizeOtherThanRecordSize", 1024, true, {{28, 4, 4096}}, 1024, false},
                      RecordCase{"RecordSizeBelowOneSector", 1024, true, {{28, 4, 256}}, 256, false}),
    CaseName<RecordCase>);

struct DotPairCase
{
    const char* name;
    std::vector<Patch> patches;
    bool expected;
};

class IsFatFileRecordCases : public ::testing::TestWithParam<DotPairCase>
{
};

TEST_P(IsFatFileRecordCases, Classify)
{
    std::vector<uint8_t> s = MakeDotPair(7, 0);
    Apply(s, GetParam().patches);
    EXPECT_EQ(IsFatFileRecord(Exact(s).get()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, IsFatFileRecordCases,
    ::testing::Values(DotPairCase{"DotPair", {}, true},
                      DotPairCase{"DotPairWithOtherAttributes", {{11, 1, 0x12}, {43, 1, 0x30}}, true},
                      DotPairCase{"DotNotFolder", {{11, 1, 0x20}}, false},
                      DotPairCase{"DotDotNotFolder", {{43, 1, 0x20}}, false},
                      DotPairCase{"DotWithSize", {{28, 4, 1}}, false},
                      DotPairCase{"DotDotWithSize", {{60, 4, 1}}, false},
                      DotPairCase{"FirstNotDot", {{0, 1, 'A'}}, false},
                      DotPairCase{"SecondSingleDot", {{33, 1, ' '}}, false}),
    CaseName<DotPairCase>);

// --- IsFatEntyValid ----------------------------------------------------------

namespace
{
constexpr uint16_t D2021 = Date(2021, 6, 15);

DirEntryParams File(const char* name)
{
    DirEntryParams p;
    p.name = name;
    p.firstCluster = 5;
    p.size = 1000;
    return p;
}

std::vector<uint8_t> Entry(const DirEntryParams& p)
{
    const std::array<uint8_t, 32> e = MakeShortEntry(p);
    return std::vector<uint8_t>(e.begin(), e.end());
}

// A short entry "REPORT  TXT" of the given attribute, size, cluster and
// dates, or (attribute 0x0F) a long-name entry, then patched.
struct EntryCase
{
    const char* name;
    uint8_t attr;
    uint32_t size;
    uint32_t cluster;
    uint16_t date;
    bool deleted;
    std::vector<Patch> patches;
    int expected;
};
} // namespace

class IsFatEntyValidCases : public ::testing::TestWithParam<EntryCase>
{
};

TEST_P(IsFatEntyValidCases, BothForms)
{
    const EntryCase& c = GetParam();
    DirEntryParams p = File("REPORT.TXT");
    p.attr = c.attr;
    p.size = c.size;
    p.firstCluster = c.cluster;
    p.date = c.date;
    p.deleted = c.deleted;
    std::vector<uint8_t> e =
        c.attr == ATTR_LONG_NAME ? MakeLongNameEntries(u"name.txt", 0x33, c.deleted) : Entry(p);
    Apply(e, c.patches);
    ASSERT_EQ(e.size(), 32u);
    FAT32_Entry entry;
    memcpy(&entry, e.data(), sizeof(entry));
    EXPECT_EQ(IsFatEntyValid(&entry), c.expected);
    // The entry at the very end of its buffer: no look-ahead may happen.
    EXPECT_EQ(IsFatEntyValid(Exact(e).get(), 32), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, IsFatEntyValidCases,
    ::testing::Values(
        EntryCase{"LiveFile", 0x20, 1000, 5, D2021, false, {}, 1},
        EntryCase{"DeletedFileWithoutDates", 0x20, 1000, 5, 0, true, {}, 1},
        EntryCase{"LiveFileDated1980", 0x20, 1000, 5, Date(1980, 1, 1), false, {}, 0},
        // 1991-05-03 00:38:05 to 2080-01-23 10:24:45; a date counts from its midnight.
        EntryCase{"LiveFileDatedDayOfLowerBound", 0x20, 1000, 5, Date(1991, 5, 3), false, {}, 0},
        EntryCase{"LiveFileDatedDayAfterLowerBound", 0x20, 1000, 5, Date(1991, 5, 4), false, {}, 1},
        EntryCase{"LiveFileDatedDayOfUpperBound", 0x20, 1000, 5, Date(2080, 1, 23), false, {}, 1},
        EntryCase{"LiveFileDatedAfterUpperBound", 0x20, 1000, 5, Date(2080, 1, 24), false, {}, 0},
        EntryCase{"OnlyAccessDateOutOfRange", 0x20, 1000, 5, D2021, false, {{18, 2, Date(1985, 1, 1)}}, 0},
        EntryCase{"OnlyCreationDateOutOfRange", 0x20, 1000, 5, D2021, false, {{16, 2, Date(2100, 1, 1)}}, 0},
        EntryCase{"LiveFolderIgnoresDates", 0x10, 0, 5, 0, false, {}, 1},
        EntryCase{"FileWithoutArchiveBit", 0x00, 1000, 5, D2021, false, {}, 0},
        EntryCase{"HiddenSystemArchiveFile", 0x27, 1000, 5, D2021, false, {}, 1},
        EntryCase{"FolderWithoutArchiveBit", 0x10, 0, 5, D2021, false, {}, 1},
        EntryCase{"EmptyFileOwningACluster", 0x20, 0, 5, D2021, false, {}, 0},
        EntryCase{"EmptyFileWithoutCluster", 0x20, 0, 0, D2021, false, {}, 1},
        EntryCase{"EmptyFileOwningAHighClusterWord", 0x20, 0, 0x10000, D2021, false, {}, 0},
        EntryCase{"LiveFolderWithSize", 0x10, 1000, 5, D2021, false, {}, 0},
        EntryCase{"DeletedFolderWithSize", 0x10, 1000, 5, D2021, true, {}, 1},
        EntryCase{"ReadOnlyFolder", 0x11, 0, 5, D2021, false, {}, 0},
        EntryCase{"ReservedAttributeBit40", 0x60, 1000, 5, D2021, false, {}, 0},
        EntryCase{"ReservedAttributeBit80", 0xA0, 1000, 5, D2021, false, {}, 0},
        EntryCase{"VolumeLabel", 0x08, 0, 0, D2021, false, {}, 1},
        // A label holds whatever the user typed.
        EntryCase{"VolumeLabelInLowerCase", 0x08, 0, 0, D2021, false, {{1, 1, 'e'}}, 1},
        EntryCase{"VolumeLabelDated1980", 0x08, 0, 0, Date(1980, 1, 1), false, {}, 0},
        EntryCase{"VolumeLabelWithSize", 0x08, 1000, 0, D2021, false, {}, 0},
        EntryCase{"VolumeLabelWithCluster", 0x08, 0, 5, D2021, false, {}, 0},
        EntryCase{"LabelBitOnAFolder", 0x18, 0, 5, D2021, false, {}, 0},
        EntryCase{"LowerCaseLetterInName", 0x20, 1000, 5, D2021, false, {{3, 1, 'o'}}, 0},
        EntryCase{"QuestionMarkInName", 0x20, 1000, 5, D2021, false, {{3, 1, '?'}}, 0},
        EntryCase{"PointInName", 0x20, 1000, 5, D2021, false, {{3, 1, '.'}}, 0},
        EntryCase{"ControlByteInExtension", 0x20, 1000, 5, D2021, false, {{10, 1, 0x05}}, 0},
        EntryCase{"HighBytesInName", 0x20, 1000, 5, D2021, false, {{0, 1, 0xD5}, {1, 1, 0xD5}}, 1},
        EntryCase{"LongName", 0x0F, 0, 0, 0, false, {{0, 1, 0x41}}, 1},
        EntryCase{"LongNameSequence18", 0x0F, 0, 0, 0, false, {{0, 1, 0x52}}, 1},
        EntryCase{"LongNameSequence19", 0x0F, 0, 0, 0, false, {{0, 1, 0x53}}, 0},
        EntryCase{"LongNameSequence19WithoutLastMark", 0x0F, 0, 0, 0, false, {{0, 1, 0x13}}, 0},
        EntryCase{"DeletedLongName", 0x0F, 0, 0, 0, true, {}, 1},
        EntryCase{"LongNameWithCluster", 0x0F, 0, 0, 0, false, {{26, 2, 3}}, 0}),
    CaseName<EntryCase>);

TEST(IsFatEntyValid, DotPairNeedsTheNextEntry)
{
    const std::vector<uint8_t> pair = MakeDotPair(7, 0);
    EXPECT_EQ(IsFatEntyValid(Exact(pair).get(), 64), 1);
    // With only the "." entry readable the look-ahead must not happen, and
    // a lone dot entry fails the name rule.
    const std::vector<uint8_t> dot(pair.begin(), pair.begin() + 32);
    EXPECT_EQ(IsFatEntyValid(Exact(dot).get(), 32), 0);
    FAT32_Entry entry;
    memcpy(&entry, pair.data(), sizeof(entry));
    EXPECT_EQ(IsFatEntyValid(&entry), 0);
    EXPECT_EQ(IsFatEntyValid(pair.data(), 31), 0);
    EXPECT_EQ(IsFatEntyValid(static_cast<const unsigned char*>(nullptr), 64), 0);
}

// --- IsFatFDTRecord ----------------------------------------------------------

namespace
{
struct DirCase
{
    const char* name;
    std::function<std::vector<uint8_t>()> make;
    int expected;
};

DirEntryParams Named(const char* name, bool deleted = false)
{
    DirEntryParams p = File(name);
    p.deleted = deleted;
    return p;
}

std::vector<uint8_t> Sector(const std::vector<uint8_t>& entries)
{
    return DirectoryBuilder().Add(entries).Build(512);
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A full sector of 16 live entries.
std::vector<uint8_t> FullSector()
{
    std::vector<uint8_t> s;
    for (int i = 0; i < 16; ++i)
    {
        char name[16];
        snprintf(name, sizeof(name), "FILE%04d.TXT", i);
        std::vector<uint8_t> e = Entry(Named(name));
        s.insert(s.end(), e.begin(), e.end());
    }
    return s;
}
} // namespace

class IsFatFDTRecordCases : public ::testing::TestWithParam<DirCase>
{
};

TEST_P(IsFatFDTRecordCases, Classify)
{
    const std::vector<uint8_t> buf = GetParam().make();
    EXPECT_EQ(IsFatFDTRecord(Exact(buf).get(), int(buf.size())), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, IsFatFDTRecordCases,
    ::testing::Values(
        DirCase{"EntriesThenEndAndZeros",
                [] {
                    return Sector(Concat({Entry(Named("A.TXT")), Entry(Named("B.TXT", true))}));
                },
                1},
        DirCase{"FullSectorWithoutEnd", [] { return FullSector(); }, 1},
        DirCase{"TwoFullSectors",
                [] {
                    return Concat({FullSector(), FullSector()});
                },
                1},
        DirCase{"StartsWithEnd", [] { return std::vector<uint8_t>(512, 0); }, 0},
        DirCase{"NonZeroByteAfterEnd",
                []
                {
                    std::vector<uint8_t> s = Sector(Entry(Named("A.TXT")));
                    s[511] = 1;
                    return s;
                },
                0},
        DirCase{"InvalidEntry",
                []
                {
                    DirEntryParams p = Named("B.TXT");
                    p.attr = 0;
                    return Sector(Concat({Entry(Named("A.TXT")), Entry(p)}));
                },
                0},
        DirCase{"DotPairSector", [] { return Sector(MakeDotPair(5, 0)); }, 0},
        DirCase{"BlankInsideName",
                []
                {
                    std::vector<uint8_t> e = Entry(Named("AB.TXT"));
                    e[3] = 'C'; // "AB C    TXT"
                    return Sector(e);
                },
                0},
        DirCase{"BlankInsideExtension",
                []
                {
                    std::vector<uint8_t> e = Entry(Named("AB.T"));
                    e[10] = 'X'; // "T X"
                    return Sector(e);
                },
                0},
        DirCase{"DoubleByteName",
                []
                {
                    std::vector<uint8_t> e = Entry(Named("AB.TXT"));
                    const uint8_t gb[] = {0xD5, 0xD5, 0xC6, 0xAC, ' ', ' ', ' ', ' '}; // "照片" in GB2312
                    memcpy(&e[0], gb, 8);
                    return Sector(e);
                },
                1},
        DirCase{"LeadByteWithoutTrail",
                []
                {
                    std::vector<uint8_t> e = Entry(Named("AB.TXT"));
                    e[0] = 0xD5;
                    e[1] = 'A';
                    return Sector(e);
                },
                0},
        DirCase{"LeadByteAcrossNameAndExtension",
                []
                {
                    std::vector<uint8_t> e = Entry(Named("ABCDEFGH.TXT"));
                    e[7] = 0xD5;
                    e[8] = 0xD5;
                    return Sector(e);
                },
                1},
        // The deleted mark is not a lead byte: pairs are counted from byte 1.
        DirCase{"DeletedEntryMarkIsNoLeadByte", [] { return Sector(Entry(Named("REPORT.TXT", true))); }, 1},
        DirCase{"DeletedEntryWithDoubleByteName",
                []
                {
                    std::vector<uint8_t> e = Entry(Named("AB.TXT", true));
                    e[1] = 0xC6;
                    e[2] = 0xAC;
                    return Sector(e);
                },
                1},
        // Fill data that repeats every 16 bytes is not a directory.
        DirCase{"SixteenByteRepetition",
                []
                {
                    std::vector<uint8_t> e(32);
                    const uint8_t half[16] = {0xE5, 'A', 'A', 'A',  'A', 'A', 'A', 'A',
                                              'T',  'X', 'T', 0x20, 1,   0,   0,   0};
                    memcpy(&e[0], half, 16);
                    memcpy(&e[16], half, 16);
                    return Sector(e);
                },
                0},
        DirCase{"SixteenByteRepetitionBroken",
                []
                {
                    std::vector<uint8_t> e(32);
                    const uint8_t half[16] = {0xE5, 'A', 'A', 'A',  'A', 'A', 'A', 'A',
                                              'T',  'X', 'T', 0x20, 1,   0,   0,   0};
                    memcpy(&e[0], half, 16);
                    memcpy(&e[16], half, 16);
                    e[20] = 'B';
                    return Sector(e);
                },
                1},
        DirCase{"LongNameWithItsShortEntry",
                [] { return Sector(MakeNamedEntry(u"Quarterly report.txt", Named("QUARTE~1.TXT"))); }, 1},
        DirCase{"DeletedLongNameWithItsShortEntry",
                [] { return Sector(MakeNamedEntry(u"Quarterly report.txt", Named("QUARTE~1.TXT", true))); },
                1},
        DirCase{"LongNameWithWrongChecksum",
                []
                {
                    return Sector(Concat(
                        {MakeLongNameEntries(u"Quarterly report.txt", 0x12), Entry(Named("QUARTE~1.TXT"))}));
                },
                0},
        // A deleted short entry's first byte is gone, so its checksum cannot be checked.
        DirCase{"LongNameBeforeDeletedShortEntryWithOtherChecksum",
                []
                {
                    return Sector(Concat({MakeLongNameEntries(u"Quarterly report.txt", 0x12),
                                          Entry(Named("QUARTE~1.TXT", true))}));
                },
                1},
        DirCase{"LongNameChainWithMixedChecksums",
                []
                {
                    std::vector<uint8_t> e =
                        MakeNamedEntry(u"A much longer name of forty units.txt", Named("AMUCHL~1.TXT"));
                    e[13] ^= 1; // the first stored entry disagrees
                    return Sector(e);
                },
                0},
        // The look-ahead ends at the buffer's end: a chain cut by the sector
        // edge is accepted (the short entry is in the next sector).
        DirCase{"LongNameCutAtSectorEnd",
                []
                {
                    std::vector<uint8_t> s = FullSector();
                    const std::vector<uint8_t> lfn = MakeLongNameEntries(u"Cut at the edge.txt", 0x77);
                    std::copy(lfn.begin(), lfn.end(), s.end() - long(lfn.size()));
                    return s;
                },
                1},
        DirCase{"LongNameFollowedByInvalidEntry",
                []
                {
                    DirEntryParams p = Named("QUARTE~1.TXT");
                    p.attr = 0x00;
                    const std::array<uint8_t, 11> n = ShortName11(p.name);
                    return Sector(Concat(
                        {MakeLongNameEntries(u"Quarterly report.txt", LfnChecksum(n.data())), Entry(p)}));
                },
                0},
        DirCase{"SingleEntry", [] { return Entry(Named("A.TXT")); }, 1},
        DirCase{"OddLengthTail",
                []
                {
                    std::vector<uint8_t> e = Entry(Named("A.TXT"));
                    e.resize(40, 0);
                    return e;
                },
                1}),
    [](const ::testing::TestParamInfo<DirCase>& i) { return std::string(i.param.name); });

TEST(IsFatFDTRecord, RejectsLengthsBelowOneEntry)
{
    const std::vector<uint8_t> e = Entry(Named("A.TXT"));
    EXPECT_EQ(IsFatFDTRecord(Exact(e).get(), 31), 0);
    EXPECT_EQ(IsFatFDTRecord(e.data(), 0), 0);
    EXPECT_EQ(IsFatFDTRecord(e.data(), -32), 0);
    EXPECT_EQ(IsFatFDTRecord(nullptr, 512), 0);
}

// --- checksum, dates, NTFS cluster size --------------------------------------

TEST(GetShortNameCheckSum, AgreesWithTheFatDefinition)
{
    // Names of every byte value, high bytes and the deleted mark included.
    uint32_t seed = 12345;
    for (int n = 0; n < 2000; ++n)
    {
        uint8_t name[11];
        for (uint8_t& b : name)
        {
            seed = seed * 1103515245u + 12345u;
            b = uint8_t(seed >> 16);
        }
        ASSERT_EQ(GetShortNameCheckSum(reinterpret_cast<const char*>(name)), LfnChecksum(name)) << n;
    }
    EXPECT_EQ(GetShortNameCheckSum("README  TXT"), 0x73);
    EXPECT_EQ(GetShortNameCheckSum("LONGNA~1TXT"), 0xF4);
}

struct DateCase
{
    int year, month, day;
    uint64_t expected; // seconds since 1970 in UTC (the tests run with TZ=UTC)
};

class FatDateCases : public ::testing::TestWithParam<DateCase>
{
};

TEST_P(FatDateCases, EachTimeFunctionReadsItsOwnField)
{
    const DateCase& c = GetParam();
    const uint16_t date = FatDate(c.year, c.month, c.day);
    for (size_t field : {DE_CDATE, DE_ADATE, DE_WDATE})
    {
        std::vector<uint8_t> e = Entry(File("REPORT.TXT"));
        PutU16(&e[DE_CDATE], 0x1111);
        PutU16(&e[DE_ADATE], 0x2222);
        PutU16(&e[DE_WDATE], 0x3333);
        PutU16(&e[field], date);
        FAT32_Entry entry;
        memcpy(&entry, e.data(), sizeof(entry));
        _FILETIME t = {0xDEADBEEF, 0xDEADBEEF};
        if (field == DE_CDATE)
            Fat32GetFileCreateTime(&entry, &t);
        else if (field == DE_ADATE)
            Fat32GetFileLastAccessTime(&entry, &t);
        else
            Fat32GetFileLastChangeTime(&entry, &t);
        EXPECT_EQ(t.dwLowDateTime, uint32_t(c.expected)) << "field " << field;
        EXPECT_EQ(t.dwHighDateTime, uint32_t(c.expected >> 32)) << "field " << field;
    }
    EXPECT_EQ(FatDateToTime(date), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, FatDateCases,
                         ::testing::Values(DateCase{2021, 6, 15, 1623715200}, DateCase{1980, 1, 1, 315532800},
                                           DateCase{1991, 5, 3, 673228800}, DateCase{2080, 1, 23, 3473193600},
                                           // Past 2106 the value needs the high word.
                                           DateCase{2107, 12, 31, 4354732800},
                                           // mktime normalises: day 0 is the last day of the month before,
                                           // month 0 is December of the year before.
                                           DateCase{2021, 7, 0, 1625011200},
                                           DateCase{2021, 0, 15, 1607990400}));

struct NtfsSpcCase
{
    unsigned long long sectors;
    unsigned int bytesPerSector;
    unsigned int expected;
};

class NtfsDefaultClusterCases : public ::testing::TestWithParam<NtfsSpcCase>
{
};

TEST_P(NtfsDefaultClusterCases, BySize)
{
    EXPECT_EQ(GetDefaultNtfsSectorPerCluster(GetParam().sectors, GetParam().bytesPerSector),
              GetParam().expected);
}

constexpr unsigned long long MiB512 = 2048; // 512-byte sectors per MiB

INSTANTIATE_TEST_SUITE_P(
    Table, NtfsDefaultClusterCases,
    ::testing::Values(NtfsSpcCase{7 * MiB512, 512, 8}, NtfsSpcCase{7 * MiB512 + 1, 512, 1},
                      NtfsSpcCase{512 * MiB512, 512, 1}, NtfsSpcCase{512 * MiB512 + 1, 512, 2},
                      NtfsSpcCase{1024 * MiB512, 512, 2}, NtfsSpcCase{1024 * MiB512 + 1, 512, 4},
                      NtfsSpcCase{2048 * MiB512, 512, 4}, NtfsSpcCase{2048 * MiB512 + 1, 512, 8},
                      NtfsSpcCase{1ULL << 40, 512, 8},
                      // 4096-byte sectors scale every threshold by 8.
                      NtfsSpcCase{56 * 256, 4096, 8}, NtfsSpcCase{56 * 256 + 1, 4096, 1},
                      NtfsSpcCase{4096 * 256, 4096, 1}, NtfsSpcCase{4096 * 256 + 1, 4096, 2},
                      NtfsSpcCase{16384 * 256 + 1, 4096, 8}));

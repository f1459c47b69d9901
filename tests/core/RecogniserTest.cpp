// The recognisers on hand-built sectors: each case changes one field of a
// consistent boot sector, entry or record to reach one rule. Buffers are
// exactly as long as the recogniser may read, so the sanitizer build catches
// any read past them.
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
typedef std::function<void(std::vector<uint8_t>&)> Mutation;

struct SectorCase
{
    const char* name;
    Mutation mutate;
    bool expected;
};

std::string CaseName(const ::testing::TestParamInfo<SectorCase>& info)
{
    return info.param.name;
}

// A heap copy of exactly the bytes given, so a read past them is an error
// under the sanitizer.
std::unique_ptr<uint8_t[]> Exact(const std::vector<uint8_t>& v)
{
    std::unique_ptr<uint8_t[]> p(new uint8_t[v.size()]);
    memcpy(p.get(), v.data(), v.size());
    return p;
}

void SetText(std::vector<uint8_t>& s, size_t off, const char* text)
{
    memcpy(&s[off], text, strlen(text));
}
} // namespace

// --- IsFat -------------------------------------------------------------------

struct FatCase
{
    const char* name;
    FatFormat kind;
    Mutation mutate;
    bool expected;
};

class IsFatCases : public ::testing::TestWithParam<FatCase>
{
};

TEST_P(IsFatCases, Classify)
{
    std::vector<uint8_t> s = MakeFatBootSector(DefaultFatParams(GetParam().kind));
    if (GetParam().mutate)
        GetParam().mutate(s);
    EXPECT_EQ(IsFat(Exact(s).get()), GetParam().expected);
}

// The FAT32 default: 32 reserved sectors, two FATs of 1016 sectors, no root
// region; the cluster count is total - 2064 with one sector per cluster.
const uint32_t kFat32Overhead = 32 + 2 * 1016;

INSTANTIATE_TEST_SUITE_P(
    Table, IsFatCases,
    ::testing::Values(
        FatCase{"Fat12", FatFormat::Fat12, nullptr, true}, FatCase{"Fat16", FatFormat::Fat16, nullptr, true},
        FatCase{"Fat32", FatFormat::Fat32, nullptr, true},
        FatCase{"Fat32EightSectorsPerCluster", FatFormat::Fat32, [](std::vector<uint8_t>& s) { s[13] = 8; },
                true},
        FatCase{"Fat32SixtyFourSectorsPerCluster", FatFormat::Fat32,
                [](std::vector<uint8_t>& s) { s[13] = 64; }, true},
        FatCase{"Fat32SectorsPerCluster128", FatFormat::Fat32, [](std::vector<uint8_t>& s) { s[13] = 128; },
                false},
        FatCase{"Fat16SectorsPerCluster128", FatFormat::Fat16, [](std::vector<uint8_t>& s) { s[13] = 128; },
                false},
        FatCase{"SectorsPerClusterThree", FatFormat::Fat16, [](std::vector<uint8_t>& s) { s[13] = 3; },
                false},
        FatCase{"SectorsPerClusterZero", FatFormat::Fat32, [](std::vector<uint8_t>& s) { s[13] = 0; }, false},
        FatCase{"BytesPerSectorZero", FatFormat::Fat16, [](std::vector<uint8_t>& s) { PutU16(&s[11], 0); },
                false},
        FatCase{"BytesPerSector768", FatFormat::Fat16, [](std::vector<uint8_t>& s) { PutU16(&s[11], 768); },
                false},
        FatCase{"BytesPerSector4096", FatFormat::Fat32, [](std::vector<uint8_t>& s) { PutU16(&s[11], 4096); },
                true},
        FatCase{"NoSignature", FatFormat::Fat32, [](std::vector<uint8_t>& s) { s[511] = 0; }, false},
        FatCase{"NoFats", FatFormat::Fat16, [](std::vector<uint8_t>& s) { s[16] = 0; }, false},
        FatCase{"EncryptedVolumeName", FatFormat::Fat32,
                [](std::vector<uint8_t>& s) { SetText(s, 3, "-FVE-FS-"); }, false},
        FatCase{"EncryptedVolumeTail", FatFormat::Fat32,
                [](std::vector<uint8_t>& s)
                {
                    memset(&s[480], 0x78, 8);
                    memset(&s[488], 0xFF, 19);
                    s[507] = 0x00;
                    s[508] = 0x1F;
                    s[509] = 0x2C;
                },
                false},
        FatCase{"TailPatternOneByteOff", FatFormat::Fat32,
                [](std::vector<uint8_t>& s)
                {
                    memset(&s[480], 0x78, 8);
                    memset(&s[488], 0xFF, 19);
                    s[507] = 0x00;
                    s[508] = 0x1F;
                    s[509] = 0x2D;
                },
                true},
        // FAT32 form: the type text, the 32-bit total and the 32-bit FAT size are all needed.
        FatCase{"Fat32WithoutTypeText", FatFormat::Fat32,
                [](std::vector<uint8_t>& s) { SetText(s, 82, "FAT16   "); }, false},
        FatCase{"Fat32WithoutTotal", FatFormat::Fat32, [](std::vector<uint8_t>& s) { PutU32(&s[32], 0); },
                false},
        FatCase{"Fat32TotalOnlyIn16BitField", FatFormat::Fat32,
                [](std::vector<uint8_t>& s)
                {
                    PutU32(&s[32], 0);
                    PutU16(&s[19], 60000);
                },
                false},
        FatCase{"Fat32WithoutFatSize", FatFormat::Fat32, [](std::vector<uint8_t>& s) { PutU32(&s[36], 0); },
                false},
        // FAT12/16 form: the 16-bit FAT size and either total.
        FatCase{"Fat16WithoutFatSize", FatFormat::Fat16, [](std::vector<uint8_t>& s) { PutU16(&s[22], 0); },
                false},
        FatCase{"Fat16TotalIn32BitField", FatFormat::Fat16,
                [](std::vector<uint8_t>& s)
                {
                    PutU16(&s[19], 0);
                    PutU32(&s[32], 32768);
                },
                true},
        FatCase{"Fat16WithoutTotal", FatFormat::Fat16, [](std::vector<uint8_t>& s) { PutU16(&s[19], 0); },
                false},
        // The cluster count decides only the upper limit.
        FatCase{"ClusterCountAtLimit", FatFormat::Fat32,
                [](std::vector<uint8_t>& s) { PutU32(&s[32], FAT_MAX_CLUSTERS + kFat32Overhead); }, true},
        FatCase{"ClusterCountOverLimit", FatFormat::Fat32,
                [](std::vector<uint8_t>& s) { PutU32(&s[32], FAT_MAX_CLUSTERS + 1 + kFat32Overhead); },
                false},
        FatCase{"Fat32WithFewClusters", FatFormat::Fat32,
                [](std::vector<uint8_t>& s) { PutU32(&s[32], 4096); }, true},
        // A total smaller than the reserved area and FATs wraps to a huge count.
        FatCase{"TotalBelowReservedArea", FatFormat::Fat32,
                [](std::vector<uint8_t>& s) { PutU32(&s[32], 10); }, false}),
    [](const ::testing::TestParamInfo<FatCase>& i) { return std::string(i.param.name); });

// --- IsNtfs ------------------------------------------------------------------

class IsNtfsCases : public ::testing::TestWithParam<SectorCase>
{
};

TEST_P(IsNtfsCases, Classify)
{
    std::vector<uint8_t> s = MakeNtfsBootSector(NtfsBootParams());
    if (GetParam().mutate)
        GetParam().mutate(s);
    EXPECT_EQ(IsNtfs(Exact(s).get()), GetParam().expected);
}

std::vector<SectorCase> NtfsCases()
{
    std::vector<SectorCase> c = {
        {"Valid", nullptr, true},
        {"OemNameWithoutBlanks", [](std::vector<uint8_t>& s) { SetText(s, 3, "NTFS5.0 "); }, false},
        {"ExfatName", [](std::vector<uint8_t>& s) { SetText(s, 3, "EXFAT   "); }, false},
        {"BytesPerSectorZeroPasses", [](std::vector<uint8_t>& s) { PutU16(&s[11], 0); }, true},
        {"BytesPerSector4096", [](std::vector<uint8_t>& s) { PutU16(&s[11], 4096); }, true},
        {"BytesPerSector1000", [](std::vector<uint8_t>& s) { PutU16(&s[11], 1000); }, false},
        {"ReservedSectors", [](std::vector<uint8_t>& s) { PutU16(&s[14], 1); }, false},
        {"SectorsPerCluster64", [](std::vector<uint8_t>& s) { s[13] = 64; }, true},
        {"SectorsPerCluster128", [](std::vector<uint8_t>& s) { s[13] = 128; }, false},
        {"SectorsPerClusterZero", [](std::vector<uint8_t>& s) { s[13] = 0; }, false},
        {"TotalSectorsZero", [](std::vector<uint8_t>& s) { PutU64(&s[40], 0); }, false},
        {"TotalSectorsOnlyHighByte", [](std::vector<uint8_t>& s) { PutU64(&s[40], uint64_t(1) << 56); },
         true},
        {"NoSignature", [](std::vector<uint8_t>& s) { s[510] = 0; }, false},
        {"MediaAndGeometryAreFree",
         [](std::vector<uint8_t>& s)
         {
             s[21] = 0xF0;
             s[24] = 0x3F;
             s[36] = 0x80;
         },
         true},
    };
    // Every FAT field must be empty on NTFS.
    static const char* const names[] = {"Field16", "Field17", "Field18", "Field19", "Field20", "Field22",
                                        "Field23", "Field32", "Field33", "Field34", "Field35"};
    static const size_t offsets[] = {16, 17, 18, 19, 20, 22, 23, 32, 33, 34, 35};
    for (size_t i = 0; i < 11; ++i)
    {
        const size_t off = offsets[i];
        c.push_back({names[i], [off](std::vector<uint8_t>& s) { s[off] = 1; }, false});
    }
    return c;
}

INSTANTIATE_TEST_SUITE_P(Table, IsNtfsCases, ::testing::ValuesIn(NtfsCases()), CaseName);

TEST(Recognisers, NtfsAndFatExcludeEachOther)
{
    // An NTFS boot sector has no FAT count, so no FAT form can hold; a FAT
    // boot sector has one, so the NTFS test fails.
    const std::vector<uint8_t> ntfs = MakeNtfsBootSector(NtfsBootParams());
    EXPECT_TRUE(IsNtfs(ntfs.data()));
    EXPECT_FALSE(IsFat(ntfs.data()));
    for (FatFormat k : {FatFormat::Fat12, FatFormat::Fat16, FatFormat::Fat32})
    {
        std::vector<uint8_t> fat = MakeFatBootSector(DefaultFatParams(k));
        SetText(fat, 3, "NTFS    ");
        EXPECT_TRUE(IsFat(fat.data()));
        EXPECT_FALSE(IsNtfs(fat.data()));
    }
}

// --- IsExt -------------------------------------------------------------------

namespace
{
struct ExtGeometry
{
    uint32_t inodes = 2048, blocks = 8192, blocksPerGroup = 8192, inodesPerGroup = 2048, firstData = 1,
             logBlockSize = 0, firstIno = 11;
    uint16_t magic = 0xEF53;
};

std::vector<uint8_t> MakeExtStart(const ExtGeometry& g)
{
    std::vector<uint8_t> b(2048, 0);
    PutU32(&b[1024], g.inodes);
    PutU32(&b[1028], g.blocks);
    PutU32(&b[1044], g.firstData);
    PutU32(&b[1048], g.logBlockSize);
    PutU32(&b[1056], g.blocksPerGroup);
    PutU32(&b[1064], g.inodesPerGroup);
    PutU16(&b[1080], g.magic);
    PutU32(&b[1108], g.firstIno);
    return b;
}

struct ExtCase
{
    const char* name;
    std::function<void(ExtGeometry&)> change;
    bool expected;
};
} // namespace

class IsExtCases : public ::testing::TestWithParam<ExtCase>
{
};

TEST_P(IsExtCases, Classify)
{
    ExtGeometry g;
    if (GetParam().change)
        GetParam().change(g);
    EXPECT_EQ(IsExt(Exact(MakeExtStart(g)).get()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, IsExtCases,
    ::testing::Values(
        ExtCase{"OneKiBBlocks", nullptr, true},
        ExtCase{"FourKiBBlocks",
                [](ExtGeometry& g)
                {
                    g.logBlockSize = 2;
                    g.firstData = 0;
                    g.blocks = 32768;
                    g.blocksPerGroup = 32768;
                },
                true},
        ExtCase{"FourKiBBlocksWithFirstDataBlockOne", [](ExtGeometry& g) { g.logBlockSize = 2; }, false},
        ExtCase{"OneKiBBlocksWithFirstDataBlockZero", [](ExtGeometry& g) { g.firstData = 0; }, false},
        // The exponent is taken modulo 32: 32 reads as 1 KiB blocks.
        ExtCase{"BlockSizeExponentWraps", [](ExtGeometry& g) { g.logBlockSize = 32; }, true},
        ExtCase{"WrongMagic", [](ExtGeometry& g) { g.magic = 0xEF52; }, false},
        ExtCase{"NoInodes", [](ExtGeometry& g) { g.inodes = 0; }, false},
        ExtCase{"NoBlocks", [](ExtGeometry& g) { g.blocks = 0; }, false},
        ExtCase{"NoBlocksPerGroup", [](ExtGeometry& g) { g.blocksPerGroup = 0; }, false},
        ExtCase{"NoInodesPerGroup", [](ExtGeometry& g) { g.inodesPerGroup = 0; }, false},
        ExtCase{"FirstInodeTwo", [](ExtGeometry& g) { g.firstIno = 2; }, false},
        ExtCase{"InodesNotAboveFirstInode",
                [](ExtGeometry& g)
                {
                    g.inodes = 11;
                    g.inodesPerGroup = 11;
                },
                false},
        ExtCase{"GroupCountsDisagree", [](ExtGeometry& g) { g.inodes = 4096; }, false},
        ExtCase{"TwoGroups",
                [](ExtGeometry& g)
                {
                    g.inodes = 4096;
                    g.blocks = 16384;
                },
                true}),
    [](const ::testing::TestParamInfo<ExtCase>& i) { return std::string(i.param.name); });

// --- IsNtfsFileRecord --------------------------------------------------------

struct RecordCase
{
    const char* name;
    std::function<std::vector<uint8_t>()> make;
    int recordSize;
    bool expected;
};

class IsNtfsFileRecordCases : public ::testing::TestWithParam<RecordCase>
{
};

TEST_P(IsNtfsFileRecordCases, Classify)
{
    const std::vector<uint8_t> rec = GetParam().make();
    EXPECT_EQ(IsNtfsFileRecord(Exact(rec).get(), GetParam().recordSize), GetParam().expected);
}

namespace
{
std::vector<uint8_t> FileRecord(uint32_t size = 1024, bool fixedUp = true)
{
    return NtfsRecordBuilder(size)
        .SetRecordNumber(64)
        .AddStandardInformation(NtfsTimeFromUnix(1623758400))
        .AddFileName(5 | (uint64_t(5) << 48), u"report.txt", 11)
        .AddResidentData({'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'})
        .SetUpdateSequenceNumber(0x0A0B)
        .Build(fixedUp);
}

std::vector<uint8_t> Patched(std::vector<uint8_t> r, size_t off, uint32_t v)
{
    PutU32(&r[off], v);
    return r;
}
} // namespace

INSTANTIATE_TEST_SUITE_P(
    Table, IsNtfsFileRecordCases,
    ::testing::Values(
        RecordCase{"AsOnDisk", [] { return FileRecord(); }, 1024, true},
        RecordCase{"FourKiBRecord", [] { return FileRecord(4096); }, 4096, true},
        // After the fixups are undone, the sector end holds data again.
        RecordCase{"FixedUpInMemory", [] { return FileRecord(1024, false); }, 1024, false},
        RecordCase{"BadMagic",
                   []
                   {
                       std::vector<uint8_t> r = FileRecord();
                       memcpy(&r[0], "BAAD", 4);
                       return r;
                   },
                   1024, false},
        RecordCase{"BytesInUseAtSize", [] { return Patched(FileRecord(), 24, 1024); }, 1024, true},
        RecordCase{"BytesInUseOverSize", [] { return Patched(FileRecord(), 24, 1025); }, 1024, false},
        RecordCase{"AllocatedSizeOtherThanRecordSize", [] { return Patched(FileRecord(), 28, 4096); }, 1024,
                   false},
        RecordCase{"RecordSizeBelowOneSector",
                   []
                   {
                       const std::vector<uint8_t> r = FileRecord();
                       return std::vector<uint8_t>(r.begin(), r.begin() + 256);
                   },
                   256, false}),
    [](const ::testing::TestParamInfo<RecordCase>& i) { return std::string(i.param.name); });

// --- IsFatFileRecord ---------------------------------------------------------

class IsFatFileRecordCases : public ::testing::TestWithParam<SectorCase>
{
};

TEST_P(IsFatFileRecordCases, Classify)
{
    std::vector<uint8_t> s = MakeDotPair(7, 0);
    if (GetParam().mutate)
        GetParam().mutate(s);
    ASSERT_EQ(s.size(), 64u);
    EXPECT_EQ(IsFatFileRecord(Exact(s).get()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, IsFatFileRecordCases,
    ::testing::Values(SectorCase{"DotPair", nullptr, true},
                      SectorCase{"DotPairWithOtherAttributes",
                                 [](std::vector<uint8_t>& s)
                                 {
                                     s[11] = 0x12;
                                     s[43] = 0x30;
                                 },
                                 true},
                      SectorCase{"DotNotFolder", [](std::vector<uint8_t>& s) { s[11] = 0x20; }, false},
                      SectorCase{"DotDotNotFolder", [](std::vector<uint8_t>& s) { s[43] = 0x20; }, false},
                      SectorCase{"DotWithSize", [](std::vector<uint8_t>& s) { PutU32(&s[28], 1); }, false},
                      SectorCase{"DotDotWithSize", [](std::vector<uint8_t>& s) { PutU32(&s[60], 1); }, false},
                      SectorCase{"FirstNotDot", [](std::vector<uint8_t>& s) { s[0] = 'A'; }, false},
                      SectorCase{"SecondSingleDot", [](std::vector<uint8_t>& s) { s[33] = ' '; }, false}),
    CaseName);

// --- IsFatEntyValid ----------------------------------------------------------

namespace
{
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

std::vector<uint8_t> LongNameEntry(uint8_t seq, bool deleted = false)
{
    std::vector<uint8_t> e = MakeLongNameEntries(u"name.txt", 0x33, deleted);
    e[0] = deleted ? 0xE5 : seq;
    return e;
}

struct EntryCase
{
    const char* name;
    std::function<std::vector<uint8_t>()> make;
    int expected;
};
} // namespace

class IsFatEntyValidCases : public ::testing::TestWithParam<EntryCase>
{
};

TEST_P(IsFatEntyValidCases, BothForms)
{
    const std::vector<uint8_t> e = GetParam().make();
    ASSERT_EQ(e.size(), 32u);
    FAT32_Entry entry;
    memcpy(&entry, e.data(), sizeof(entry));
    EXPECT_EQ(IsFatEntyValid(&entry), GetParam().expected);
    // The entry at the very end of its buffer: no look-ahead may happen.
    EXPECT_EQ(IsFatEntyValid(Exact(e).get(), 32), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, IsFatEntyValidCases,
    ::testing::Values(EntryCase{"LiveFile", [] { return Entry(File("REPORT.TXT")); }, 1},
                      EntryCase{"DeletedFileWithoutDates",
                                []
                                {
                                    DirEntryParams p = File("REPORT.TXT");
                                    p.deleted = true;
                                    p.date = 0;
                                    return Entry(p);
                                },
                                1},
                      EntryCase{"LiveFileDated1980",
                                []
                                {
                                    DirEntryParams p = File("REPORT.TXT");
                                    p.date = FatDate(1980, 1, 1);
                                    return Entry(p);
                                },
                                0},
                      EntryCase{"LiveFileDatedDayBeforeLowerBound",
                                []
                                {
                                    DirEntryParams p = File("REPORT.TXT");
                                    p.date = FatDate(1991, 5, 3); // midnight is before 00:38:05
                                    return Entry(p);
                                },
                                0},
                      EntryCase{"LiveFileDatedDayAfterLowerBound",
                                []
                                {
                                    DirEntryParams p = File("REPORT.TXT");
                                    p.date = FatDate(1991, 5, 4);
                                    return Entry(p);
                                },
                                1},
                      EntryCase{"LiveFileDatedUpperBoundDay",
                                []
                                {
                                    DirEntryParams p = File("REPORT.TXT");
                                    p.date = FatDate(2080, 1, 23);
                                    return Entry(p);
                                },
                                1},
                      EntryCase{"LiveFileDatedAfterUpperBound",
                                []
                                {
                                    DirEntryParams p = File("REPORT.TXT");
                                    p.date = FatDate(2080, 1, 24);
                                    return Entry(p);
                                },
                                0},
                      EntryCase{"OnlyAccessDateOutOfRange",
                                []
                                {
                                    std::vector<uint8_t> e = Entry(File("REPORT.TXT"));
                                    PutU16(&e[18], 0);
                                    return e;
                                },
                                0},
                      EntryCase{"LiveFolderIgnoresDates",
                                []
                                {
                                    DirEntryParams p = File("PHOTOS");
                                    p.attr = 0x10;
                                    p.size = 0;
                                    p.date = 0;
                                    return Entry(p);
                                },
                                1},
                      EntryCase{"FileWithoutArchiveBit",
                                []
                                {
                                    DirEntryParams p = File("REPORT.TXT");
                                    p.attr = 0x00;
                                    return Entry(p);
                                },
                                0},
                      EntryCase{"HiddenSystemArchiveFile",
                                []
                                {
                                    DirEntryParams p = File("IO.SYS");
                                    p.attr = 0x27;
                                    return Entry(p);
                                },
                                1},
                      EntryCase{"FolderWithoutArchiveBit",
                                []
                                {
                                    DirEntryParams p = File("PHOTOS");
                                    p.attr = 0x10;
                                    p.size = 0;
                                    return Entry(p);
                                },
                                1},
                      EntryCase{"EmptyFileOwningACluster",
                                []
                                {
                                    DirEntryParams p = File("EMPTY.TXT");
                                    p.size = 0;
                                    return Entry(p);
                                },
                                0},
                      EntryCase{"EmptyFileWithoutCluster",
                                []
                                {
                                    DirEntryParams p = File("EMPTY.TXT");
                                    p.size = 0;
                                    p.firstCluster = 0;
                                    return Entry(p);
                                },
                                1},
                      EntryCase{"EmptyFileOwningAHighClusterWord",
                                []
                                {
                                    DirEntryParams p = File("EMPTY.TXT");
                                    p.size = 0;
                                    p.firstCluster = 0x10000;
                                    return Entry(p);
                                },
                                0},
                      EntryCase{"LiveFolderWithSize",
                                []
                                {
                                    DirEntryParams p = File("PHOTOS");
                                    p.attr = 0x10;
                                    return Entry(p);
                                },
                                0},
                      EntryCase{"DeletedFolderWithSize",
                                []
                                {
                                    DirEntryParams p = File("PHOTOS");
                                    p.attr = 0x10;
                                    p.deleted = true;
                                    return Entry(p);
                                },
                                1},
                      EntryCase{"ReadOnlyFolder",
                                []
                                {
                                    DirEntryParams p = File("PHOTOS");
                                    p.attr = 0x11;
                                    p.size = 0;
                                    return Entry(p);
                                },
                                0},
                      EntryCase{"ReservedAttributeBit40",
                                []
                                {
                                    DirEntryParams p = File("REPORT.TXT");
                                    p.attr = 0x60;
                                    return Entry(p);
                                },
                                0},
                      EntryCase{"ReservedAttributeBit80",
                                []
                                {
                                    DirEntryParams p = File("REPORT.TXT");
                                    p.attr = 0xA0;
                                    return Entry(p);
                                },
                                0},
                      EntryCase{"VolumeLabel",
                                []
                                {
                                    DirEntryParams p = File("CARD");
                                    p.attr = 0x08;
                                    p.size = 0;
                                    p.firstCluster = 0;
                                    return Entry(p);
                                },
                                1},
                      // A label's name may hold anything a user typed.
                      EntryCase{"VolumeLabelInLowerCase",
                                []
                                {
                                    DirEntryParams p = File("CARD");
                                    p.attr = 0x08;
                                    p.size = 0;
                                    p.firstCluster = 0;
                                    std::vector<uint8_t> e = Entry(p);
                                    memcpy(&e[0], "my card    ", 11);
                                    return e;
                                },
                                1},
                      EntryCase{"VolumeLabelWithSize",
                                []
                                {
                                    DirEntryParams p = File("CARD");
                                    p.attr = 0x08;
                                    p.firstCluster = 0;
                                    return Entry(p);
                                },
                                0},
                      EntryCase{"VolumeLabelWithCluster",
                                []
                                {
                                    DirEntryParams p = File("CARD");
                                    p.attr = 0x08;
                                    p.size = 0;
                                    return Entry(p);
                                },
                                0},
                      EntryCase{"LabelBitOnAFolder",
                                []
                                {
                                    DirEntryParams p = File("CARD");
                                    p.attr = 0x18;
                                    p.size = 0;
                                    return Entry(p);
                                },
                                0},

                      EntryCase{"LowerCaseLetterInName",
                                []
                                {
                                    std::vector<uint8_t> e = Entry(File("REPORT.TXT"));
                                    e[3] = 'o';
                                    return e;
                                },
                                0},
                      EntryCase{"QuestionMarkInName",
                                []
                                {
                                    std::vector<uint8_t> e = Entry(File("REPORT.TXT"));
                                    e[3] = '?';
                                    return e;
                                },
                                0},
                      EntryCase{"PointInName",
                                []
                                {
                                    std::vector<uint8_t> e = Entry(File("REPORT.TXT"));
                                    e[3] = '.';
                                    return e;
                                },
                                0},
                      EntryCase{"ControlByteInExtension",
                                []
                                {
                                    std::vector<uint8_t> e = Entry(File("REPORT.TXT"));
                                    e[10] = 0x05;
                                    return e;
                                },
                                0},
                      EntryCase{"HighBytesInName",
                                []
                                {
                                    std::vector<uint8_t> e = Entry(File("REPORT.TXT"));
                                    e[0] = 0xD5;
                                    e[1] = 0xD5;
                                    return e;
                                },
                                1},
                      // A lone "." entry fails the name rule; only the pair (with the next entry) passes.
                      EntryCase{"LoneDotEntry",
                                []
                                {
                                    const std::vector<uint8_t> pair = MakeDotPair(7, 0);
                                    return std::vector<uint8_t>(pair.begin(), pair.begin() + 32);
                                },
                                0},
                      EntryCase{"LongName", [] { return LongNameEntry(0x41); }, 1},
                      EntryCase{"LongNameSequence18", [] { return LongNameEntry(0x52); }, 1},
                      EntryCase{"LongNameSequence19", [] { return LongNameEntry(0x53); }, 0},
                      EntryCase{"LongNameSequence19WithoutLastMark", [] { return LongNameEntry(0x13); }, 0},
                      EntryCase{"DeletedLongName", [] { return LongNameEntry(0, true); }, 1},
                      EntryCase{"LongNameWithCluster",
                                []
                                {
                                    std::vector<uint8_t> e = LongNameEntry(0x41);
                                    PutU16(&e[26], 3);
                                    return e;
                                },
                                0}),
    [](const ::testing::TestParamInfo<EntryCase>& i) { return std::string(i.param.name); });

TEST(IsFatEntyValid, DotPairNeedsTheNextEntry)
{
    const std::vector<uint8_t> pair = MakeDotPair(7, 0);
    EXPECT_EQ(IsFatEntyValid(Exact(pair).get(), 64), 1);
    // With only the "." entry readable the look-ahead must not happen.
    EXPECT_EQ(IsFatEntyValid(Exact(std::vector<uint8_t>(pair.begin(), pair.begin() + 32)).get(), 32), 0);
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

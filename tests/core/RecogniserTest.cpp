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
#include <memory>

using namespace tessaroo;
using namespace tessaroo::test;

namespace
{
// A little-endian field of 1 to 8 bytes set in a buffer.
struct Patch
{
    size_t off;
    int width;
    uint64_t value;
};

std::vector<uint8_t> Patched(std::vector<uint8_t> buf, const std::vector<Patch>& patches)
{
    for (const Patch& p : patches)
        for (int i = 0; i < p.width; ++i)
            buf.at(p.off + size_t(i)) = uint8_t(p.value >> (8 * i));
    return buf;
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

// A patch table: its name, the patches to a consistent buffer, the answer.
struct Case
{
    const char* name;
    std::vector<Patch> patches;
    int expected;
};

// Each case's patched copy of base, exactly as long as base, through recognise.
template <typename F>
void Check(const std::vector<uint8_t>& base, const std::vector<Case>& cases, F recognise)
{
    for (const Case& c : cases)
        EXPECT_EQ(int(recognise(Exact(Patched(base, c.patches)).get())), c.expected) << c.name;
}

std::vector<uint8_t> Fat(FatFormat kind)
{
    return MakeFatBootSector(DefaultFatParams(kind));
}
} // namespace

// --- boot sectors ------------------------------------------------------------

TEST(IsFat, BootSectorFields)
{
    Check(Fat(FatFormat::Fat16),
          {{"Fat16", {}, 1},
           {"SectorsPerClusterThree", {{13, 1, 3}}, 0},
           {"BytesPerSectorZero", {{11, 2, 0}}, 0},
           {"BytesPerSector768", {{11, 2, 768}}, 0},
           {"NoFats", {{16, 1, 0}}, 0},
           // FAT12/16 form: the 16-bit FAT size and either total.
           {"WithoutFatSize", {{22, 2, 0}}, 0},
           {"TotalIn32BitField", {{19, 2, 0}, {32, 4, 32768}}, 1},
           {"WithoutTotal", {{19, 2, 0}}, 0}},
          IsFat);
    // The FAT32 default: 32 reserved sectors and two FATs of 1016 sectors, no
    // root region, one sector per cluster: clusters = total - 2064.
    constexpr uint64_t overhead = 32 + 2 * 1016;
    Check(Fat(FatFormat::Fat32),
          {{"Fat32", {}, 1},
           {"SectorsPerClusterZero", {{13, 1, 0}}, 0},
           {"NoSignature", {{511, 1, 0}}, 0},
           {"EncryptedVolumeName", {{3, 8, Text8("-FVE-FS-")}}, 0},
           // 'x' × 8, 0xFF × 19, 0x00 0x1F 0x2C at 480 mark an encrypted volume.
           {"EncryptedTail",
            {{480, 8, Text8("xxxxxxxx")}, {488, 8, ~0ULL}, {496, 8, ~0ULL}, {504, 6, 0x2C1F00FFFFFF}},
            0},
           // FAT32 form: the type text, the 32-bit total and the 32-bit FAT size are all needed.
           {"WithoutTypeText", {{82, 8, Text8("FAT16   ")}}, 0},
           {"WithoutTotal", {{32, 4, 0}}, 0},
           {"TotalOnlyIn16BitField", {{32, 4, 0}, {19, 2, 60000}}, 0},
           {"WithoutFatSize", {{36, 4, 0}}, 0},
           // The cluster count decides only the upper limit; a total
           // below the reserved area and FATs wraps to a huge count.
           {"ClusterCountOverLimit", {{32, 4, FAT_MAX_CLUSTERS + 1 + overhead}}, 0},
           {"FewClusters", {{32, 4, 4096}}, 1},
           {"TotalBelowReservedArea", {{32, 4, 10}}, 0}},
          IsFat);
}

TEST(IsNtfs, BootSectorFields)
{
    const std::vector<Case> cases = {
        {"Valid", {}, 1},
        {"OemNameWithoutBlanks", {{3, 8, Text8("NTFS5.0 ")}}, 0},
        {"BytesPerSectorZeroPasses", {{11, 2, 0}}, 1},
        {"BytesPerSector1000", {{11, 2, 1000}}, 0},
        {"ReservedSectors", {{14, 2, 1}}, 0},
        {"SectorsPerCluster64", {{13, 1, 64}}, 1},
        {"TotalSectorsZero", {{40, 8, 0}}, 0},
        {"TotalSectorsOnlyHighByte", {{40, 8, uint64_t(1) << 56}}, 1},
        {"NoSignature", {{510, 1, 0}}, 0},
        {"MediaAndGeometryAreFree", {{21, 1, 0xF0}, {24, 2, 0x3F}, {36, 1, 0x80}}, 1},
    };
    const std::vector<uint8_t> ntfs = MakeNtfsBootSector(NtfsBootParams());
    Check(ntfs, cases, IsNtfs);
    // Every byte of every FAT field must be empty on NTFS, so a FAT boot
    // sector (it has a FAT count) is never NTFS, whatever its name.
    for (size_t off : {16, 17, 18, 19, 20, 22, 23, 32, 33, 34, 35})
        EXPECT_FALSE(IsNtfs(Exact(Patched(ntfs, {{off, 1, 1}})).get())) << off;
}

TEST(IsExt, SuperblockFields)
{
    // An ext2 superblock at 1024: 1 KiB blocks, one group of 8192 blocks and
    // 2048 inodes, first data block 1, first non-reserved inode 11.
    const std::vector<Patch> superblock = {{1024, 4, 2048}, {1028, 4, 8192},   {1044, 4, 1}, {1056, 4, 8192},
                                           {1064, 4, 2048}, {1080, 2, 0xEF53}, {1108, 4, 11}};
    const std::vector<uint8_t> ext = Patched(std::vector<uint8_t>(2048, 0), superblock);
    Check(ext,
          {{"OneKiBBlocks", {}, 1},
           {"FourKiBBlocks", {{1048, 4, 2}, {1044, 4, 0}, {1028, 4, 32768}, {1056, 4, 32768}}, 1},
           {"FourKiBBlocksWithFirstDataBlockOne", {{1048, 4, 2}}, 0},
           {"OneKiBBlocksWithFirstDataBlockZero", {{1044, 4, 0}}, 0},
           // The exponent is taken modulo 32: 32 reads as 1 KiB blocks.
           {"BlockSizeExponentWraps", {{1048, 4, 32}}, 1},
           {"WrongMagic", {{1080, 2, 0xEF52}}, 0},
           // Zero counts would divide by zero or wrap.
           {"NoInodes", {{1024, 4, 0}}, 0},
           {"NoBlocks", {{1028, 4, 0}}, 0},
           {"NoBlocksPerGroup", {{1056, 4, 0}}, 0},
           {"NoInodesPerGroup", {{1064, 4, 0}}, 0},
           {"FirstInodeTwo", {{1108, 4, 2}}, 0},
           {"InodesNotAboveFirstInode", {{1024, 4, 11}, {1064, 4, 11}}, 0},
           {"GroupCountsDisagree", {{1024, 4, 4096}}, 0},
           {"TwoGroups", {{1024, 4, 4096}, {1028, 4, 16384}}, 1}},
          IsExt);
}

// --- records -----------------------------------------------------------------

TEST(IsNtfsFileRecord, HeaderAndFixups)
{
    const auto record = [](uint32_t size, bool fixedUp)
    { return NtfsRecordBuilder(size).SetRecordNumber(64).SetUpdateSequenceNumber(0x0A0B).Build(fixedUp); };
    const std::vector<uint8_t> disk = record(1024, true);
    const struct
    {
        const char* name;
        std::vector<uint8_t> rec; // as long as the record size given
        bool expected;
    } cases[] = {
        {"AsOnDisk", disk, true},
        {"FourKiBRecord", record(4096, true), true},
        // Once the fixups are undone the sector end holds data again.
        {"FixedUpInMemory", record(1024, false), false},
        {"BadMagic", Patched(disk, {{0, 4, 0x44414142}}), false},
        {"BytesInUseAtSize", Patched(disk, {{24, 4, 1024}}), true},
        {"BytesInUseOverSize", Patched(disk, {{24, 4, 1025}}), false},
        {"AllocatedSizeOtherThanRecordSize", Patched(disk, {{28, 4, 4096}}), false},
        {"RecordSizeBelowOneSector",
         Patched(std::vector<uint8_t>(disk.begin(), disk.begin() + 256), {{28, 4, 256}}), false},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IsNtfsFileRecord(Exact(c.rec).get(), int(c.rec.size())), c.expected);
    }
}

// A "." entry then a ".." entry: a folder's first directory sector.
TEST(IsFatFileRecord, DotPair)
{
    const std::vector<uint8_t> pair = MakeDotPair(7, 0);
    Check(pair,
          {{"DotPair", {}, 1},
           {"DotPairWithOtherAttributes", {{11, 1, 0x12}, {43, 1, 0x30}}, 1},
           {"DotNotFolder", {{11, 1, 0x20}}, 0},
           {"DotDotNotFolder", {{43, 1, 0x20}}, 0},
           {"DotWithSize", {{28, 4, 1}}, 0},
           {"DotDotWithSize", {{60, 4, 1}}, 0},
           {"FirstNotDot", {{0, 1, 'A'}}, 0},
           {"DotNotBlankPadded", {{1, 1, 'A'}}, 0},
           {"SecondSingleDot", {{33, 1, ' '}}, 0}},
          [](const uint8_t* b) { return IsFatFileRecord(b); });
    // The length-taking forms read nothing when fewer than 64 bytes are
    // given: a "." entry alone fails the name rule, as an entry; below one
    // entry nothing is read.
    FAT32_Entry entry;
    memcpy(&entry, pair.data(), sizeof(entry));
    const std::vector<uint8_t> dot(pair.begin(), pair.begin() + 32);
    EXPECT_EQ(
        (std::vector<int>{IsFatFileRecord(Exact(pair).get(), 64), IsFatFileRecord(Exact(pair).get(), 63),
                          IsFatEntyValid(Exact(pair).get(), 64), IsFatEntyValid(Exact(dot).get(), 32),
                          IsFatEntyValid(ShortEntry("A.TXT", 5, 1000).data(), 31), IsFatEntyValid(&entry)}),
        (std::vector<int>{1, 0, 1, 0, 0, 0}));
}

// --- directory entries -------------------------------------------------------

namespace
{
DirEntryParams File(const char* name, bool deleted = false)
{
    DirEntryParams p;
    p.name = name;
    p.firstCluster = 5;
    p.size = 1000;
    p.deleted = deleted;
    return p;
}

std::vector<uint8_t> Entry(const char* name, bool deleted = false)
{
    return ShortEntry(name, 5, 1000, 0x20, deleted);
}
} // namespace

TEST(IsFatEntyValid, BothForms)
{
    // A short entry "REPORT  TXT" of the given attribute, size, cluster and
    // dates, or (attribute 0x0F) a long-name entry, then patched.
    const uint16_t d2021 = FatDate(2021, 6, 15), d1980 = FatDate(1980, 1, 1);
    const struct
    {
        uint8_t attr;
        uint32_t size, cluster;
        uint16_t date;
        bool deleted;
        Case c;
    } cases[] = {
        {0x20, 1000, 5, d2021, false, {"LiveFile", {}, 1}},
        {0x20, 1000, 5, 0, true, {"DeletedFileWithoutDates", {}, 1}},
        // 1991-05-03 00:38:05 to 2080-01-23 10:24:45; a date counts from its midnight.
        {0x20, 1000, 5, FatDate(1991, 5, 3), false, {"LiveFileDatedDayOfLowerBound", {}, 0}},
        {0x20, 1000, 5, FatDate(2080, 1, 24), false, {"LiveFileDatedAfterUpperBound", {}, 0}},
        {0x20, 1000, 5, d2021, false, {"OnlyAccessDateOutOfRange", {{18, 2, FatDate(1985, 1, 1)}}, 0}},
        {0x20, 1000, 5, d2021, false, {"OnlyCreationDateOutOfRange", {{16, 2, FatDate(2100, 1, 1)}}, 0}},
        {0x10, 0, 5, 0, false, {"LiveFolderIgnoresDates", {}, 1}},
        // A file is any entry that is no folder, label or long-name part:
        // backup tools clear the archive bit, some cameras never set it.
        {0x00, 1000, 5, d2021, false, {"FileWithoutArchiveBit", {}, 1}},
        {0x27, 1000, 5, d2021, false, {"HiddenSystemArchiveFile", {}, 1}},
        {0x20, 0, 5, d2021, false, {"EmptyFileOwningACluster", {}, 0}},
        {0x20, 0, 0, d2021, false, {"EmptyFileWithoutCluster", {}, 1}},
        {0x20, 0, 0x10000, d2021, false, {"EmptyFileOwningAHighClusterWord", {}, 0}},
        {0x10, 1000, 5, d2021, false, {"LiveFolderWithSize", {}, 0}},
        {0x10, 1000, 5, d2021, true, {"DeletedFolderWithSize", {}, 1}},
        {0x11, 0, 5, d2021, false, {"ReadOnlyFolder", {}, 0}},
        {0x60, 1000, 5, d2021, false, {"ReservedAttributeBit40", {}, 0}},
        {0x08, 0, 0, d2021, false, {"VolumeLabel", {}, 1}},
        // A label holds whatever the user typed.
        {0x08, 0, 0, d2021, false, {"VolumeLabelInLowerCase", {{1, 1, 'e'}}, 1}},
        {0x08, 0, 0, d1980, false, {"VolumeLabelDated1980", {}, 0}},
        {0x08, 1000, 0, d2021, false, {"VolumeLabelWithSize", {}, 0}},
        {0x08, 0, 5, d2021, false, {"VolumeLabelWithCluster", {}, 0}},
        {0x18, 0, 5, d2021, false, {"LabelBitOnAFolder", {}, 0}},
        {0x20, 1000, 5, d2021, false, {"LowerCaseLetterInName", {{3, 1, 'o'}}, 0}},
        {0x20, 1000, 5, d2021, false, {"QuestionMarkInName", {{3, 1, '?'}}, 0}},
        {0x20, 1000, 5, d2021, false, {"ControlByteInExtension", {{10, 1, 0x05}}, 0}},
        {0x20, 1000, 5, d2021, false, {"HighBytesInName", {{0, 2, 0xD5D5}}, 1}},
        {0x0F, 0, 0, 0, false, {"LongName", {{0, 1, 0x41}}, 1}},
        // A name of 255 characters takes 20 parts.
        {0x0F, 0, 0, 0, false, {"LongNameSequence21", {{0, 1, 0x55}}, 0}},
        {0x0F, 0, 0, 0, true, {"DeletedLongName", {}, 1}},
        {0x0F, 0, 0, 0, false, {"LongNameWithCluster", {{26, 2, 3}}, 0}},
    };
    for (const auto& t : cases)
    {
        SCOPED_TRACE(t.c.name);
        const uint64_t d = t.date;
        const std::vector<uint8_t> e = Patched(
            t.attr == ATTR_LONG_NAME ? MakeLongNameEntries(u"name.txt", 0x33, t.deleted)
                                     : Patched(ShortEntry("REPORT.TXT", t.cluster, t.size, t.attr, t.deleted),
                                               {{DE_CDATE, 2, d}, {DE_ADATE, 2, d}, {DE_WDATE, 2, d}}),
            t.c.patches);
        ASSERT_EQ(e.size(), 32u);
        // The entry at the very end of its buffer: no look-ahead may happen.
        EXPECT_EQ(IsFatEntyValid(Exact(e).get(), 32), t.c.expected);
    }
}

TEST(IsFatFDTRecord, DirectorySectors)
{
    const auto sector = [](const std::vector<uint8_t>& entries)
    { return DirectoryBuilder().Add(entries).Build(512); };
    std::vector<uint8_t> full; // 16 live entries
    for (int i = 0; i < 16; ++i)
        full = Concat({full, Entry(("FILE" + std::to_string(1000 + i) + ".TXT").c_str())});
    const std::vector<uint8_t> half = {0xE5, 'A', 'A', 'A',  'A', 'A', 'A', 'A',
                                       'T',  'X', 'T', 0x20, 1,   0,   0,   0};
    const std::u16string quarterly = u"Quarterly report.txt", longest = std::u16string(251, u'n') + u".txt";
    const std::vector<uint8_t> reserved = Patched(Entry("QUARTE~1.TXT"), {{11, 1, 0x40}}); // invalid
    const uint8_t quarterlySum = LfnChecksum(ShortName11("QUARTE~1.TXT").data());
    const uint8_t fortySum = LfnChecksum(ShortName11("AMUCHL~1.TXT").data());
    const struct
    {
        const char* name;
        std::vector<uint8_t> buf;
        int expected;
    } cases[] = {
        {"EntriesThenEndAndZeros", sector(Concat({Entry("A.TXT"), Entry("B.TXT", true)})), 1},
        {"FullSectorWithoutEnd", full, 1},
        {"TwoFullSectors", Concat({full, full}), 1},
        {"StartsWithEnd", std::vector<uint8_t>(512, 0), 0},
        {"NonZeroByteAfterEnd", Patched(sector(Entry("A.TXT")), {{511, 1, 1}}), 0},
        {"InvalidEntry", sector(Concat({Entry("A.TXT"), reserved})), 0},
        {"DotPairSector", sector(MakeDotPair(5, 0)), 0},
        {"BlankInsideName", sector(Patched(Entry("AB.TXT"), {{3, 1, 'C'}})), 0},
        {"BlankInsideExtension", sector(Patched(Entry("AB.T"), {{10, 1, 'X'}})), 0},
        // "照片" in GB2312.
        {"DoubleByteName", sector(Patched(Entry("AB.TXT"), {{0, 8, Text8("\xD5\xD5\xC6\xAC    ")}})), 1},
        {"LeadByteWithoutTrail", sector(Patched(Entry("AB.TXT"), {{0, 2, 0x41D5}})), 0},
        {"LeadByteAcrossNameAndExtension", sector(Patched(Entry("ABCDEFGH.TXT"), {{7, 2, 0xD5D5}})), 1},
        // The deleted mark is not a lead byte: pairs are counted from byte 1.
        {"DeletedEntryMarkIsNoLeadByte", sector(Entry("REPORT.TXT", true)), 1},
        {"DeletedEntryWithDoubleByteName", sector(Patched(Entry("AB.TXT", true), {{1, 2, 0xACC6}})), 1},
        // Fill data that repeats every 16 bytes is not a directory.
        {"SixteenByteRepetition", sector(Concat({half, half})), 0},
        {"SixteenByteRepetitionBroken", sector(Patched(Concat({half, half}), {{20, 1, 'B'}})), 1},
        {"LongNameWithItsShortEntry", sector(MakeNamedEntry(quarterly, File("QUARTE~1.TXT"))), 1},
        {"DeletedLongNameWithItsShortEntry", sector(MakeNamedEntry(quarterly, File("QUARTE~1.TXT", true))),
         1},
        // 20 parts and the short entry: the look-ahead reaches the short entry.
        {"LongNameOfTwentyParts", sector(MakeNamedEntry(longest, File("NNNNNN~1.TXT"))), 1},
        {"LongNameOfTwentyPartsWithWrongChecksum",
         sector(Concat({MakeLongNameEntries(longest, 0x12), Entry("NNNNNN~1.TXT")})), 0},
        {"LongNameWithWrongChecksum",
         sector(Concat({MakeLongNameEntries(quarterly, 0x12), Entry("QUARTE~1.TXT")})), 0},
        // A deleted short entry's first byte is gone, so its checksum cannot be checked.
        {"LongNameBeforeDeletedShortEntryWithOtherChecksum",
         sector(Concat({MakeLongNameEntries(quarterly, 0x12), Entry("QUARTE~1.TXT", true)})), 1},
        // The first stored entry of the chain disagrees with the others.
        {"LongNameChainWithMixedChecksums",
         sector(Patched(MakeNamedEntry(u"A much longer name of forty units.txt", File("AMUCHL~1.TXT")),
                        {{13, 1, uint8_t(fortySum ^ 1)}})),
         0},
        // The look-ahead ends at the buffer's end: a chain cut by the sector
        // edge is accepted (the short entry is in the next sector).
        {"LongNameCutAtSectorEnd",
         Concat({std::vector<uint8_t>(full.begin(), full.end() - 64),
                 MakeLongNameEntries(u"Cut at the edge.txt", 0x77)}),
         1},
        {"LongNameFollowedByInvalidEntry",
         sector(Concat({MakeLongNameEntries(quarterly, quarterlySum), reserved})), 0},
        {"SingleEntry", Entry("A.TXT"), 1},
        {"OddLengthTail", Concat({Entry("A.TXT"), std::vector<uint8_t>(8, 0)}), 1},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IsFatFDTRecord(Exact(c.buf).get(), int(c.buf.size())), c.expected);
    }
    // Below one entry nothing is read; a negative length is no huge one.
    const std::vector<uint8_t> e = Entry("A.TXT");
    EXPECT_EQ(IsFatFDTRecord(Exact(e).get(), 31), 0);
    EXPECT_EQ(IsFatFDTRecord(e.data(), -32), 0);
}

// --- dates, NTFS cluster size -----------------------------------------------

TEST(FatDates, EachTimeFunctionReadsItsOwnField)
{
    // Seconds since 1970 in UTC (the tests run with TZ=UTC); past 2106 the
    // value needs the high word; mktime normalises month 0 to December of
    // the year before. Each case's date goes into its own field.
    const uint16_t dates[3] = {FatDate(2021, 6, 15), FatDate(2107, 12, 31), FatDate(2021, 0, 15)};
    const uint64_t expected[3] = {1623715200, 4354732800, 1607990400};
    const std::vector<uint8_t> e = Patched(
        Entry("REPORT.TXT"), {{DE_CDATE, 2, dates[0]}, {DE_ADATE, 2, dates[1]}, {DE_WDATE, 2, dates[2]}});
    FAT32_Entry entry;
    memcpy(&entry, e.data(), sizeof(entry));
    void (*const readers[3])(const FAT32_Entry*, _FILETIME*) = {
        Fat32GetFileCreateTime, Fat32GetFileLastAccessTime, Fat32GetFileLastChangeTime};
    for (int f = 0; f < 3; ++f)
    {
        EXPECT_EQ(FatDateToTime(dates[f]), expected[f]) << f;
        _FILETIME t = {0xDEADBEEF, 0xDEADBEEF};
        readers[f](&entry, &t);
        EXPECT_EQ(uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime, expected[f]) << f;
    }
}

TEST(GetDefaultNtfsSectorPerCluster, BySize)
{
    // Sectors, bytes per sector, the answer; 4096-byte sectors scale every
    // threshold by 8.
    constexpr unsigned long long MiB512 = 2048; // 512-byte sectors per MiB
    const unsigned long long cases[][3] = {{7 * MiB512 + 1, 512, 1},    {512 * MiB512 + 1, 512, 2},
                                           {1024 * MiB512 + 1, 512, 4}, {2048 * MiB512 + 1, 512, 8},
                                           {56 * 256 + 1, 4096, 1},     {4096 * 256 + 1, 4096, 2}};
    for (const auto& c : cases)
        EXPECT_EQ(GetDefaultNtfsSectorPerCluster(c[0], unsigned(c[1])), c[2])
            << c[0] << " sectors of " << c[1];
}

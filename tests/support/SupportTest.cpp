// Checks of the test-support builders against independent references: mtools and fsck.fat reading volumes the
// builders made (their long names prove the entry order and checksums), and
// a record written by mkntfs.
#include "tests/support/TestSupport.h"

#include "core/ByteReader.h"

#include <gtest/gtest.h>

using namespace tessaroo;
using namespace tessaroo::test;

// A FAT12 or FAT16 volume built from nothing but the builders: mtools must
// list the long names and fsck.fat must find nothing to mend.
class BuiltVolume : public ::testing::TestWithParam<FatFormat>
{
};

TEST_P(BuiltVolume, ReadsBackWithTheRealTools)
{
    ASSERT_TRUE(HaveTool("mdir") && HaveTool("fsck.fat")) << "needs mtools and dosfstools";
    TempDir dir("support");
    const FatBootParams p = DefaultFatParams(GetParam());
    const uint64_t fatStart = p.reservedSectors;
    const uint64_t rootStart = fatStart + uint64_t(p.numFats) * p.sectorsPerFat;
    const uint64_t dataStart = rootStart + p.rootEntries * 32u / 512u;

    // Entries 0 and 1 (media, end of chain), then cluster 2, the file's only one, ends its chain.
    const bool fat12 = GetParam() == FatFormat::Fat12;
    std::vector<uint8_t> fat(512, 0);
    fat[0] = p.media;
    std::fill(fat.begin() + 1, fat.begin() + (fat12 ? 4 : 6), 0xFF);
    if (fat12)
        fat[4] = 0x0F;
    DirEntryParams file;
    file.name = "LONGFI~1.TXT";
    file.firstCluster = 2;
    file.size = 5;
    DirEntryParams gone;
    gone.name = "GONE.TXT";
    gone.deleted = true;
    const std::vector<uint8_t> root = DirectoryBuilder()
                                          .Add(MakeNamedEntry(u"Long file name with spaces.txt", file))
                                          .Add(MakeShortEntry(gone))
                                          .Build();

    SectorImage img;
    img.Put(0, MakeFatBootSector(p));
    for (unsigned i = 0; i < p.numFats; ++i)
        img.Put(fatStart + i * p.sectorsPerFat, fat);
    img.Put(rootStart, root);
    img.Put(dataStart, {'h', 'e', 'l', 'l', 'o'});
    const std::string path = dir.File("built.img");
    ASSERT_TRUE(img.Write(path, p.totalSectors));

    CommandResult ls =
        RunCommand("MTOOLS_SKIP_CHECK=1 MTOOLSRC=/dev/null mdir -i " + ShellQuote(path) + " ::/");
    ASSERT_EQ(ls.exitCode, 0) << ls.output;
    EXPECT_NE(ls.output.find("Long file name with spaces.txt"), std::string::npos) << ls.output;
    EXPECT_EQ(ls.output.find("GONE"), std::string::npos) << ls.output;
    CommandResult cat = RunCommand("MTOOLS_SKIP_CHECK=1 MTOOLSRC=/dev/null mtype -i " + ShellQuote(path) +
                                   " '::/Long file name with spaces.txt'");
    EXPECT_EQ(cat.output, "hello");
    EXPECT_TRUE(RunSucceeds("fsck.fat -n " + ShellQuote(path)));
}

INSTANTIATE_TEST_SUITE_P(Kinds, BuiltVolume, ::testing::Values(FatFormat::Fat12, FatFormat::Fat16),
                         [](const ::testing::TestParamInfo<FatFormat>& i)
                         { return std::string(i.param == FatFormat::Fat12 ? "Fat12" : "Fat16"); });

TEST(NtfsBuilder, RecordHeaderMatchesMkntfs)
{
    ASSERT_TRUE(HaveTool("mkntfs")) << "needs ntfs-3g";
    TempDir dir("support");
    const std::string img = dir.File("ntfs.img");
    ASSERT_TRUE(
        RunSucceeds("truncate -s 16M " + ShellQuote(img) + " && mkntfs -F -f -Q -q " + ShellQuote(img)));
    const std::vector<uint8_t> boot = ReadFileRange(img, 0, 512);
    ASSERT_EQ(boot.size(), 512u);
    ByteReader b(boot.data(), boot.size());
    const uint64_t mft = b.U64(48) * b.U8(13) * b.U16(11);
    const std::vector<uint8_t> real = ReadFileRange(img, mft + 5 * 1024, 1024); // record 5: the root folder
    ASSERT_EQ(real.size(), 1024u);
    const std::vector<uint8_t> built = NtfsRecordBuilder()
                                           .SetRecordNumber(5)
                                           .SetFlags(NTFS_RECORD_IN_USE | NTFS_RECORD_IS_DIRECTORY)
                                           .Build();
    ByteReader r(real.data(), real.size()), m(built.data(), built.size());
    for (size_t off : {size_t(4), size_t(6), size_t(20), size_t(22), size_t(28), size_t(44)})
        EXPECT_EQ(m.U16(off), r.U16(off)) << "header field at " << off;
    // On disk the last two bytes of each sector hold the update sequence number.
    EXPECT_EQ(m.U16(510), m.U16(48));
    EXPECT_EQ(m.U16(1022), m.U16(48));
    EXPECT_EQ(r.U16(510), r.U16(48));
}

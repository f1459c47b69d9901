// The recognisers and the factory on volumes made by the real tools:
// mkfs.fat, mkntfs, mkfs.exfat, mke2fs, and the FAT images of
// tools/make_fat_images.sh, whose directory sectors, long-name chains and
// file data are judged sector by sector.
#include "core/BootSector.h"
#include "core/ByteReader.h"
#include "engines/ext/CFastExtRecovery.h"
#include "engines/CFileRecoveryFactory.h"
#include "core/Recognisers.h"
#include "engines/fat/CFastFatRecovery.h"
#include "tests/core/CoreTestUtil.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>

using namespace tessaroo;
using namespace tessaroo::test;
using coretest::DiskMapping;

namespace
{
struct VolumeCase
{
    const char* name;
    const char* tool;    // the program the command needs
    const char* command; // IMG stands for the image path
    VolumeKind kind;
};

std::string Expand(std::string cmd, const std::string& img)
{
    const std::string quoted = ShellQuote(img);
    for (size_t at; (at = cmd.find("IMG")) != std::string::npos;)
        cmd.replace(at, 3, quoted);
    return cmd;
}
} // namespace

class RealVolume : public ::testing::TestWithParam<VolumeCase>
{
};

TEST_P(RealVolume, IsRecognisedFromItsFirstSixteenKiB)
{
    const VolumeCase& c = GetParam();
    ASSERT_TRUE(HaveTool(c.tool)) << c.tool << " is missing (dosfstools, ntfs-3g, exfatprogs, e2fsprogs)";
    TempDir dir("volume");
    const std::string img = dir.File("volume.img");
    ASSERT_TRUE(RunSucceeds(Expand(c.command, img)));
    const std::vector<uint8_t> probe = ReadFileRange(img, 0, FACTORY_PROBE_SIZE);
    ASSERT_EQ(probe.size(), FACTORY_PROBE_SIZE);

    EXPECT_EQ(IsFat(probe.data()), c.kind == VolumeKind::Fat);
    EXPECT_EQ(IsNtfs(probe.data()), c.kind == VolumeKind::Ntfs);
    EXPECT_EQ(IsExt(probe.data()), c.kind == VolumeKind::Ext);
    EXPECT_EQ(int(ClassifyVolume(probe.data(), probe.size())), int(c.kind));

    // The factory reads the same bytes through the disk mapping.
    DiskMapping disks({img});
    std::unique_ptr<IFileRecoveryParse> fast(CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
        0, 0, 2048, L'C', RECOVERY_TYPE_FAST));
    // The NTFS engine is wired by its own work; whatever it is, it is no FAT or ext engine.
    EXPECT_EQ(dynamic_cast<CFastFatRecovery*>(fast.get()) != nullptr, c.kind == VolumeKind::Fat);
    EXPECT_EQ(dynamic_cast<CFastExtRecovery*>(fast.get()) != nullptr, c.kind == VolumeKind::Ext);
    if (c.kind == VolumeKind::None)
    {
        EXPECT_EQ(fast, nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tools, RealVolume,
    ::testing::Values(
        VolumeCase{"Fat12", "mkfs.fat", "mkfs.fat -C -F 12 -i 1 IMG 2048", VolumeKind::Fat},
        VolumeCase{"Floppy", "mkfs.fat", "mkfs.fat -C -i 1 IMG 1440", VolumeKind::Fat},
        VolumeCase{"Fat16", "mkfs.fat", "mkfs.fat -C -F 16 -s 4 -i 1 IMG 16384", VolumeKind::Fat},
        VolumeCase{"Fat16SixtyFourSectorsPerCluster", "mkfs.fat", "mkfs.fat -C -F 16 -s 64 -i 1 IMG 300000",
                   VolumeKind::Fat},
        VolumeCase{"Fat32", "mkfs.fat", "mkfs.fat -C -F 32 -i 1 IMG 40960", VolumeKind::Fat},
        VolumeCase{"Fat32FourKiBSectors", "mkfs.fat", "mkfs.fat -C -F 32 -S 4096 -i 1 IMG 300000",
                   VolumeKind::Fat},
        // 64 KiB clusters on 512-byte sectors (128 per cluster) are outside
        // the cluster sizes the recognisers take, for FAT and NTFS alike.
        VolumeCase{"Fat32SixtyFourKiBClusters", "mkfs.fat", "mkfs.fat -C -F 32 -s 128 -i 1 IMG 600000",
                   VolumeKind::None},
        VolumeCase{"Ntfs", "mkntfs", "truncate -s 16M IMG && mkntfs -F -f -Q -q IMG", VolumeKind::Ntfs},
        VolumeCase{"NtfsFourKiBSectors", "mkntfs", "truncate -s 64M IMG && mkntfs -F -f -Q -q -s 4096 IMG",
                   VolumeKind::Ntfs},
        VolumeCase{"NtfsSixtyFourKiBClusters", "mkntfs",
                   "truncate -s 64M IMG && mkntfs -F -f -Q -q -c 65536 IMG", VolumeKind::None},
        VolumeCase{"Exfat", "mkfs.exfat", "truncate -s 8M IMG && mkfs.exfat IMG >/dev/null",
                   VolumeKind::None},
        VolumeCase{"Ext2", "mke2fs", "truncate -s 4M IMG && mke2fs -q -F -t ext2 IMG", VolumeKind::Ext},
        VolumeCase{"Ext4FourKiBBlocks", "mke2fs", "truncate -s 64M IMG && mke2fs -q -F -t ext4 -b 4096 IMG",
                   VolumeKind::Ext}),
    [](const ::testing::TestParamInfo<VolumeCase>& i) { return std::string(i.param.name); });

TEST(RealVolume, NtfsFileRecordsOfMkntfs)
{
    ASSERT_TRUE(HaveTool("mkntfs")) << "needs ntfs-3g";
    TempDir dir("volume");
    const std::string img = dir.File("ntfs.img");
    ASSERT_TRUE(RunSucceeds(Expand("truncate -s 16M IMG && mkntfs -F -f -Q -q IMG", img)));
    const std::vector<uint8_t> boot = ReadFileRange(img, 0, 512);
    ASSERT_TRUE(IsNtfs(boot.data()));
    ByteReader b(boot.data(), boot.size());
    const uint64_t mft =
        b.U64(BS_NTFS_MFT_CLUSTER) * b.U8(BS_SECTORS_PER_CLUSTER) * b.U16(BS_BYTES_PER_SECTOR);
    // mkntfs writes the 27 system records (0 to 26); the next slot is empty.
    for (int i = 0; i < 27; ++i)
    {
        const std::vector<uint8_t> rec = ReadFileRange(img, mft + uint64_t(i) * 1024, 1024);
        ASSERT_EQ(rec.size(), 1024u);
        EXPECT_TRUE(IsNtfsFileRecord(rec.data(), 1024)) << "record " << i;
        // Read with the wrong record size, the allocated size disagrees.
        EXPECT_FALSE(IsNtfsFileRecord(rec.data(), 512)) << "record " << i;
    }
    // The test builder's header (record 5, the root folder) as mkntfs writes it.
    const std::vector<uint8_t> real = ReadFileRange(img, mft + 5 * 1024, 1024);
    const std::vector<uint8_t> built = NtfsRecordBuilder()
                                           .SetRecordNumber(5)
                                           .SetFlags(NTFS_RECORD_IN_USE | NTFS_RECORD_IS_DIRECTORY)
                                           .Build();
    for (size_t off : {4, 6, 20, 22, 28, 44})
        EXPECT_EQ(ByteReader(built.data(), 1024).U16(off), ByteReader(real.data(), 1024).U16(off)) << off;
    const std::vector<uint8_t> empty = ReadFileRange(img, mft + 27 * 1024, 1024);
    EXPECT_FALSE(IsNtfsFileRecord(empty.data(), 1024));
    EXPECT_FALSE(IsFatFDTRecord(empty.data(), 1024));
}

// --- the FAT images of tools/make_fat_images.sh -------------------------------

class ScriptImage : public ::testing::TestWithParam<const char*>
{
  protected:
    void SetUp() override
    {
        const std::string& dir = SharedFatImages();
        ASSERT_FALSE(dir.empty()) << "tools/make_fat_images.sh failed";
        m_image = dir + "/" + GetParam() + ".img";
        std::string err;
        ASSERT_TRUE(LoadManifest(dir + "/" + GetParam() + ".manifest", m_manifest, &err)) << err;
    }

    std::vector<uint8_t> Sector(uint64_t n) const { return ReadFileRange(m_image, n * 512, 512); }

    uint64_t ClusterSector(uint32_t cluster) const
    {
        return m_manifest.Fact("partition_start_sector") + m_manifest.Fact("data_start_sector") +
               uint64_t(cluster - 2) * m_manifest.Fact("sectors_per_cluster");
    }

    std::string m_image;
    Manifest m_manifest;
};

// Every sector that holds a directory entry of the manifest is a directory
// sector to the recognisers: the first sector of a subfolder by its dot
// pair, any other by its run of entries, deleted ones and long names
// included. mtools wrote them, so their long-name checksums are the oracle
// for GetShortNameCheckSum.
TEST_P(ScriptImage, DirectorySectorsAreRecognised)
{
    size_t lfnChains = 0;
    for (const ManifestEntry& e : m_manifest.entries)
    {
        SCOPED_TRACE(e.path);
        const std::vector<uint8_t> s = Sector(e.entrySector);
        ASSERT_EQ(s.size(), 512u);
        const bool dotPair = IsFatFileRecord(s.data());
        EXPECT_EQ(IsFatFDTRecord(s.data(), 512), dotPair ? 0 : 1);
        // Every entry is valid on its own, but "..", which passes only as
        // the second half of the pair.
        for (size_t off = dotPair ? 64 : 0; off < 512; off += 32)
        {
            EXPECT_TRUE(s[off] == 0 || IsFatEntyValid(&s[off], 512 - off) == 1) << "entry at " << off;
        }
        // The entry itself; a deleted one has lost its first byte, which
        // the manifest still knows.
        std::array<uint8_t, 11> name = ShortName11(e.shortName);
        const uint8_t first = name[0];
        if (e.IsDeleted())
            name[0] = DELETED_MARK;
        size_t at = 512;
        for (size_t off = 0; off < 512 && at == 512; off += 32)
            if (std::equal(name.begin(), name.end(), s.begin() + long(off)) &&
                s[off + DE_ATTR] != ATTR_LONG_NAME)
                at = off;
        ASSERT_LT(at, 512u) << e.shortName;
        if (at >= 32 && s[at - 32 + DE_ATTR] == ATTR_LONG_NAME)
        {
            name[0] = first;
            EXPECT_EQ(GetShortNameCheckSum(reinterpret_cast<const char*>(name.data())),
                      s[at - 32 + LFN_CHECKSUM]);
            ++lfnChains;
        }
    }
    EXPECT_GT(lfnChains, 0u);
}

// Live folders start with their dot pair; file contents (text, pictures,
// random data) are no directory and no record.
TEST_P(ScriptImage, FirstClustersAreWhatTheManifestSays)
{
    size_t files = 0;
    for (const ManifestEntry& e : m_manifest.entries)
    {
        if ((e.state != "live" && e.state != "intact") || (!e.isDir && e.size < 512))
            continue;
        SCOPED_TRACE(e.path);
        const std::vector<uint8_t> s = Sector(ClusterSector(e.firstCluster));
        EXPECT_EQ(IsFatFileRecord(s.data()), e.isDir);
        if (e.isDir)
        {
            EXPECT_EQ(IsFatEntyValid(s.data(), s.size()), 1);
        }
        else
        {
            EXPECT_EQ(IsFatFDTRecord(s.data(), 512), 0);
            EXPECT_FALSE(IsNtfsFileRecord(s.data(), 512));
            ++files;
        }
    }
    EXPECT_GT(files, 0u);
}

INSTANTIATE_TEST_SUITE_P(Images, ScriptImage, ::testing::Values("fat12", "floppy", "fat16", "fat32", "mbr"),
                         [](const ::testing::TestParamInfo<const char*>& i) { return std::string(i.param); });

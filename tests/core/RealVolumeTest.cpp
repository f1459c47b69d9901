// The recognisers and the factory on volumes made by the real tools:
// mkfs.fat, mkntfs, mkfs.exfat, mke2fs. (Directory sectors and file data of
// tool-made volumes are judged sector by sector by the deep FAT image tests,
// which sweep every sector through the recognisers.)
#include "core/BootSector.h"
#include "core/ByteReader.h"
#include "engines/ext/CFastExtRecovery.h"
#include "engines/CFileRecoveryFactory.h"
#include "core/Recognisers.h"
#include "engines/fat/CFastFatRecovery.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>

using namespace tessaroo;
using namespace tessaroo::test;

namespace
{
std::string Expand(std::string cmd, const std::string& img)
{
    const std::string quoted = ShellQuote(img);
    for (size_t at; (at = cmd.find("IMG")) != std::string::npos;)
        cmd.replace(at, 3, quoted);
    return cmd;
}
} // namespace

// Each volume is recognised from its first 16 KiB, and the factory, which
// reads the same bytes through the disk mapping, gives the matching engine.
TEST(RealVolume, IsRecognisedFromItsFirstSixteenKiB)
{
    const struct
    {
        const char* command; // IMG stands for the image path
        VolumeKind kind;
    } cases[] = {
        {"mkfs.fat -C -F 12 -i 1 IMG 2048", VolumeKind::Fat},
        {"mkfs.fat -C -i 1 IMG 1440", VolumeKind::Fat},
        {"mkfs.fat -C -F 16 -s 4 -i 1 IMG 16384", VolumeKind::Fat},
        {"mkfs.fat -C -F 16 -s 64 -i 1 IMG 300000", VolumeKind::Fat},
        {"mkfs.fat -C -F 32 -i 1 IMG 40960", VolumeKind::Fat},
        {"mkfs.fat -C -F 32 -S 4096 -i 1 IMG 300000", VolumeKind::Fat},
        // 64 KiB clusters on 512-byte sectors (128 per cluster) are outside
        // the cluster sizes the recognisers take, for FAT and NTFS alike.
        {"mkfs.fat -C -F 32 -s 128 -i 1 IMG 600000", VolumeKind::None},
        {"truncate -s 16M IMG && mkntfs -F -f -Q -q IMG", VolumeKind::Ntfs},
        {"truncate -s 64M IMG && mkntfs -F -f -Q -q -s 4096 IMG", VolumeKind::Ntfs},
        {"truncate -s 64M IMG && mkntfs -F -f -Q -q -c 65536 IMG", VolumeKind::None},
        {"truncate -s 8M IMG && mkfs.exfat IMG >/dev/null", VolumeKind::None},
        {"truncate -s 4M IMG && mke2fs -q -F -t ext2 IMG", VolumeKind::Ext},
        {"truncate -s 64M IMG && mke2fs -q -F -t ext4 -b 4096 IMG", VolumeKind::Ext},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.command); // a missing tool shows in the command's output
        TempDir dir("volume");
        const std::string img = dir.File("volume.img");
        ASSERT_TRUE(RunSucceeds(Expand(c.command, img)));
        const std::vector<uint8_t> probe = ReadFileRange(img, 0, FACTORY_PROBE_SIZE);
        ASSERT_EQ(probe.size(), FACTORY_PROBE_SIZE);
        EXPECT_EQ(IsFat(probe.data()), c.kind == VolumeKind::Fat);
        EXPECT_EQ(IsNtfs(probe.data()), c.kind == VolumeKind::Ntfs);
        EXPECT_EQ(IsExt(probe.data()), c.kind == VolumeKind::Ext);
        EXPECT_EQ(int(ClassifyVolume(probe.data(), probe.size())), int(c.kind));

        ScopedEnv disks("TESSAROO_DISKS", img);
        std::unique_ptr<IFileRecoveryParse> fast(
            CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(0, 0, 2048, L'C',
                                                                            RECOVERY_TYPE_FAST));
        // The NTFS engine is wired by its own work; whatever it is, it is no FAT or ext engine.
        EXPECT_EQ(dynamic_cast<CFastFatRecovery*>(fast.get()) != nullptr, c.kind == VolumeKind::Fat);
        EXPECT_EQ(dynamic_cast<CFastExtRecovery*>(fast.get()) != nullptr, c.kind == VolumeKind::Ext);
        EXPECT_EQ(fast == nullptr, c.kind == VolumeKind::None);
    }
}

TEST(RealVolume, NtfsFileRecordsOfMkntfs)
{
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

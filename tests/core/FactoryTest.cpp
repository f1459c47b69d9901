// The engine factory: classification of a volume's first 16 KiB (NTFS
// before FAT before ext before none), the engine each gives for a fast
// request and descriptors that are never leaked;
// and the ext placeholder engine, which opens its disk and nothing else.
#include "core/BootSector.h"
#include "core/ByteReader.h"
#include "engines/ext/CFastExtRecovery.h"
#include "engines/CFileRecoveryFactory.h"
#include "tests/support/TempDir.h"
#include "tests/support/FatBuilder.h"
#include "tests/support/ImageFile.h"
#include "tests/support/NtfsBuilder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <unistd.h>

using namespace tessaroo;
using namespace tessaroo::test;

namespace
{
// A volume start of len zero bytes with an ext2 superblock at 1024 (1 KiB
// blocks, one group) and whatever boot sector is given at 0.
std::vector<uint8_t> Volume(const std::vector<uint8_t>& boot, bool ext, size_t len = 16384)
{
    std::vector<uint8_t> v(len, 0);
    std::copy(boot.begin(), boot.end(), v.begin());
    if (ext)
    {
        // Inodes, blocks, first data block, blocks and inodes per group, first inode.
        const std::pair<size_t, uint32_t> fields[] = {{0, 2048},  {4, 8192},  {20, 1},
                                                      {32, 8192}, {40, 2048}, {84, 11}};
        for (const auto& f : fields)
            PutU32(&v[1024 + f.first], f.second);
        PutU16(&v[1024 + 56], 0xEF53);
    }
    return v;
}

IFileRecoveryParse* Fast(long long start = 0, long long count = 64, int disk = 0)
{
    return CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(disk, start, count, L'C',
                                                                           RECOVERY_TYPE_FAST);
}

} // namespace

TEST(ClassifyVolume, OrderOfTheRecognisers)
{
    const std::vector<uint8_t> fat = MakeFatBootSector(DefaultFatParams(FatFormat::Fat32));
    EXPECT_EQ(ClassifyVolume(Volume(MakeNtfsBootSector(NtfsBootParams()), true).data(), 16384),
              VolumeKind::Ntfs);
    EXPECT_EQ(ClassifyVolume(Volume(fat, true).data(), 16384), VolumeKind::Fat);
    EXPECT_EQ(ClassifyVolume(Volume({}, true).data(), 16384), VolumeKind::Ext);
    EXPECT_EQ(ClassifyVolume(Volume({}, false).data(), 16384), VolumeKind::None);
    // The ext test needs the superblock in the buffer; a boot sector alone does not.
    EXPECT_EQ(ClassifyVolume(Volume({}, true, 2048).data(), 2048), VolumeKind::Ext);
    EXPECT_EQ(ClassifyVolume(Volume({}, true, 2048).data(), 2047), VolumeKind::None);
    EXPECT_EQ(ClassifyVolume(fat.data(), 512), VolumeKind::Fat);
    EXPECT_EQ(ClassifyVolume(fat.data(), 511), VolumeKind::None);
}

// Each failure (no disk, a start before the disk, less than 16 KiB from
// the start sector on, a volume found unrecognised, a pipe that holds no
// sectors) gives null and leaves no open descriptor.
TEST(Factory, FailuresGiveNullAndLeaveNoDescriptor)
{
    TempDir dir("factory");
    ASSERT_TRUE(WriteImageFile(dir.File("disk.img"), std::vector<uint8_t>(16384 + 511, 0)));
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    ScopedEnv disks("TESSAROO_DISKS", dir.File("disk.img") + ":/proc/self/fd/" + std::to_string(p[0]));
    const size_t fds = OpenDescriptors();
    // Exactly 16 KiB from sector 0 is enough to be read and found unrecognised.
    const std::pair<long long, int> cases[] = {{0, 3}, {-1, 0}, {1, 0}, {1000, 0}, {0, 0}, {1, 1}};
    for (const auto& c : cases)
    {
        EXPECT_EQ(Fast(c.first, 64, c.second), nullptr) << c.first << " on " << c.second;
        EXPECT_EQ(OpenDescriptors(), fds) << c.first << " on " << c.second;
    }
    close(p[0]);
    close(p[1]);
}

TEST(FastExtRecovery, InitOpensTheDiskOrGivesTheError)
{
    TempDir dir("ext");
    ASSERT_TRUE(WriteImageFile(dir.File("ext.img"), std::vector<uint8_t>(4096, 0)));
    ScopedEnv disks("TESSAROO_DISKS", dir.File("ext.img"));
    const size_t fds = OpenDescriptors();
    {
        CFastExtRecovery e;
        EXPECT_EQ(e.Init(1, 0, 8, L'C'), unsigned(ENOENT));
        EXPECT_EQ(e.Init(0, 0, 8, L'C'), 0u);
        EXPECT_EQ(OpenDescriptors(), fds + 1);
        // A second Init does not leak the first descriptor.
        EXPECT_EQ(e.Init(0, 0, 8, L'C'), 0u);
        EXPECT_EQ(OpenDescriptors(), fds + 1);
    }
    EXPECT_EQ(OpenDescriptors(), fds) << "the destructor closes the disk";
}

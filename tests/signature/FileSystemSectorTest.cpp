// Which sectors count as file-system metadata: records of real FAT and NTFS
// volumes (mkfs.fat, mtools, mkntfs) and hand-built corners.
#include "tests/signature/SignatureTestEnv.h"

#include <cstring>
#include <random>

using namespace sigtest;

namespace
{
Bytes WithOem(const Bytes& sector, const char* oem)
{
    return With(sector, 3, Bytes(oem, oem + 8));
}

TEST_F(JudgeTest, FileSystemSectors)
{
    const Bytes fatBoot = Sample("fs_fat_boot.bin");
    const Bytes fatDir = Sample("fs_fat_dir.bin");
    const Bytes mftRecord = Sample("fs_ntfs_FILE.bin");
    ASSERT_EQ(fatBoot.size(), 512u);
    const Bytes ntfs16 = {'N', 0, 'T', 0, 'F', 0, 'S', 0};
    const Bytes restart = With(Bytes(512, 0x20), 0, {'R', 'S', 'T', 'R'});
    std::mt19937 rng(7);
    Bytes noise(512);
    for (uint8_t& b : noise)
        b = uint8_t(rng());
    Bytes noJump = WithOem(fatBoot, "MSWIN4.1");
    noJump[2] = 0x00;
    // A file's data in a directory-entry shape is left to the FAT test: a
    // sector that starts with a zero entry is not a directory.
    const Bytes dirTail = With(fatDir, 0, Bytes(32, 0));

    const struct
    {
        const char* szWhat;
        Bytes sector;
        bool expected;
    } cases[] = {
        {"root directory sector of a FAT16 volume with long names", fatDir, true},
        {"the same with a zero first entry", dirTail, false},
        {"FAT boot sector written by mkfs.fat (OEM name not listed)", fatBoot, false},
        {"FAT boot sector, OEM MSDOS5.0", WithOem(fatBoot, "MSDOS5.0"), true},
        {"FAT boot sector, OEM MSWIN4.1", WithOem(fatBoot, "MSWIN4.1"), true},
        {"boot sector, OEM EXFAT", WithOem(fatBoot, "EXFAT   "), true},
        {"boot sector, OEM exfat in lower case", WithOem(fatBoot, "exfat   "), false},
        {"boot sector without the 90 at byte 2", noJump, false},
        {"NTFS boot sector by mkntfs", Sample("fs_ntfs_boot.bin"), true},
        {"first MFT record by mkntfs", mftRecord, true},
        {"first index record by mkntfs", Sample("fs_ntfs_INDX.bin"), true},
        {"log restart page naming NTFS at an odd offset", With(restart, 301, ntfs16), true},
        {"log restart page, NTFS in its last 8 bytes", With(restart, 504, ntfs16), true},
        {"log restart page, NTFS cut by the sector end", With(restart, 505, Slice(ntfs16, 0, 7)), false},
        {"log restart page without NTFS", restart, false},
        {"$STA stream", With(Bytes(512, 0x20), 0, {'$', 0, 'S', 0, 'T', 0, 'A', 0}), true},
        {"$ST", With(Bytes(512, 0x20), 0, {'$', 0, 'S', 0, 'T', 0}), false},
        {"zero sector", Bytes(512, 0), false},
        {"random sector", noise, false},
        {"FILE in 31 bytes", Slice(mftRecord, 0, 31), false},
        {"FILE in 32 bytes", Slice(mftRecord, 0, 32), true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CFileTypeJudge::IsFileSystemSector(Exact(c.sector).get(), int(c.sector.size())), c.expected)
            << c.szWhat;
    EXPECT_FALSE(CFileTypeJudge::IsFileSystemSector(nullptr, 512));
}
} // namespace

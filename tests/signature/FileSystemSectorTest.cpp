// Which sectors count as file-system metadata: records of real FAT and NTFS
// volumes (mkfs.fat, mtools, mkntfs) and hand-built corners.
#include "tests/signature/SignatureTestEnv.h"

#include <algorithm>
#include <cstring>
#include <random>

using namespace sigtest;

namespace
{
Bytes WithOem(Bytes sector, const char* oem)
{
    memcpy(&sector[3], oem, 8);
    return sector;
}

Bytes Utf16At(size_t len, size_t off, const char* text)
{
    Bytes b(len, 0x20);
    for (size_t i = 0; text[i]; ++i)
    {
        b[off + 2 * i] = uint8_t(text[i]);
        b[off + 2 * i + 1] = 0;
    }
    return b;
}

struct FsCase
{
    const char* szWhat;
    Bytes sector;
    bool expected;
};

TEST_F(JudgeTest, FileSystemSectors)
{
    const Bytes fatBoot = Sample("fs_fat_boot.bin");
    const Bytes fatDir = Sample("fs_fat_dir.bin");
    const Bytes ntfsBoot = Sample("fs_ntfs_boot.bin");
    const Bytes mftRecord = Sample("fs_ntfs_FILE.bin");
    const Bytes indexRecord = Sample("fs_ntfs_INDX.bin");
    ASSERT_EQ(fatBoot.size(), 512u);
    Bytes restart = Utf16At(512, 0, "");
    memcpy(restart.data(), "RSTR", 4);
    Bytes restartNtfs = restart;
    // The client name of a log restart area, at an odd offset.
    for (size_t i = 0; i < 4; ++i)
    {
        restartNtfs[301 + 2 * i] = uint8_t("NTFS"[i]);
        restartNtfs[302 + 2 * i] = 0;
    }
    ASSERT_EQ(restart.size(), 512u);
    // "NTFS" in UTF-16 ending exactly at the sector's end, and one byte short of it.
    static const uint8_t ntfsUtf16[8] = {'N', 0, 'T', 0, 'F', 0, 'S', 0};
    Bytes restartAtEnd = restart;
    std::copy(ntfsUtf16, ntfsUtf16 + 8, restartAtEnd.begin() + 504);
    Bytes restartCut = restart;
    std::copy(ntfsUtf16, ntfsUtf16 + 7, restartCut.begin() + 505);
    std::mt19937 rng(7);
    Bytes noise(512);
    for (uint8_t& b : noise)
        b = uint8_t(rng());
    Bytes noJump = WithOem(fatBoot, "MSWIN4.1");
    noJump[2] = 0x00;

    const FsCase cases[] = {
        {"root directory sector of a FAT16 volume with long names", fatDir, true},
        {"FAT boot sector written by mkfs.fat (OEM name not listed)", fatBoot, false},
        {"FAT boot sector, OEM MSDOS5.0", WithOem(fatBoot, "MSDOS5.0"), true},
        {"FAT boot sector, OEM MSWIN4.0", WithOem(fatBoot, "MSWIN4.0"), true},
        {"FAT boot sector, OEM MSWIN4.1", WithOem(fatBoot, "MSWIN4.1"), true},
        {"boot sector, OEM EXFAT", WithOem(fatBoot, "EXFAT   "), true},
        {"boot sector, OEM exfat in lower case", WithOem(fatBoot, "exfat   "), false},
        {"boot sector without the 90 at byte 2", noJump, false},
        {"NTFS boot sector by mkntfs", ntfsBoot, true},
        {"first MFT record by mkntfs", mftRecord, true},
        {"first index record by mkntfs", indexRecord, true},
        {"log restart page naming NTFS", restartNtfs, true},
        {"log restart page, NTFS in its last 8 bytes", restartAtEnd, true},
        {"log restart page, NTFS cut by the sector end", restartCut, false},
        {"log restart page without NTFS", restart, false},
        {"$STA stream", Utf16At(512, 0, "$STA"), true},
        {"$ST", Utf16At(512, 0, "$ST"), false},
        {"zero sector", Bytes(512, 0), false},
        {"random sector", noise, false},
        {"FILE in 31 bytes", Bytes({'F', 'I', 'L', 'E', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                    0,   0,   0,   0,   0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
         false},
        {"FILE in 32 bytes", Slice(mftRecord, 0, 32), true},
    };
    for (const FsCase& c : cases)
    {
        std::unique_ptr<uint8_t[]> exact(new uint8_t[c.sector.size()]);
        memcpy(exact.get(), c.sector.data(), c.sector.size());
        EXPECT_EQ(CFileTypeJudge::IsFileSystemSector(exact.get(), int(c.sector.size())), c.expected)
            << c.szWhat;
    }
    EXPECT_FALSE(CFileTypeJudge::IsFileSystemSector(nullptr, 512));
    // A file's data in a directory-entry shape is left to the FAT test: a
    // sector that starts with a zero entry is not a directory.
    Bytes tailOnly = fatDir;
    memset(tailOnly.data(), 0, 32);
    EXPECT_FALSE(CFileTypeJudge::IsFileSystemSector(tailOnly.data(), 512));
}
} // namespace

// Lookups by extension in the format table, Office part names, zero
// sectors, file-system sectors, and one content lookup at a time. (The
// content lookup's first-byte shortcut answers as the table order does: on
// real heads in SampleRecognitionTest, on hostile and random sectors in
// fuzz_filetype.)
#include "tests/signature/SignatureTestEnv.h"

#include <thread>

using namespace sigtest;

namespace
{
// Extensions read off a disk: ASCII case folds, nothing else does, and the
// whole name must match.
TEST(ExtendNameTable, LookupByExtensionIgnoresCaseAndWantsTheWholeName)
{
    const std::pair<const char*, EXTEND_NAME_TYPE> cases[] = {
        {"JpEg", EXT_JPG},     {"XLSB", EXT_XLSX},     {"txt", EXT_UNKNOWN},
        {"", EXT_UNKNOWN},     {"jp", EXT_UNKNOWN},    {"jpgx", EXT_UNKNOWN},
        {".jpg", EXT_UNKNOWN}, {"DOCX ", EXT_UNKNOWN}, {"\xCE\xC4\xB5\xB5", EXT_UNKNOWN},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CFileTypeJudge::GetExtendNameType(c.first), c.second) << '"' << c.first << '"';
    EXPECT_EQ(CFileTypeJudge::GetExtendNameType(nullptr), EXT_UNKNOWN);
}

// A zip part name types the document only when it is long enough to hold
// the folder's name and the bar after it.
TEST(ExtendNameTable, OfficePartNames)
{
    const struct
    {
        const char* szName;
        unsigned nLen;
        EXTEND_NAME_TYPE expected;
    } cases[] = {
        {"word/document.xml", 17, EXT_DOCX},     {"WORD/", 5, EXT_DOCX}, {"word", 4, EXT_UNKNOWN},
        {"ppt/slides/slide1.xml", 21, EXT_PPTX}, {"PPT/", 4, EXT_PPTX},  {"ppt", 3, EXT_UNKNOWN},
        {"xl/workbook.xml", 15, EXT_XLSX},       {"Xl/", 3, EXT_XLSX},   {"xl", 2, EXT_UNKNOWN},
        {"docProps/app.xml", 16, EXT_UNKNOWN},   {"", 0, EXT_UNKNOWN},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CFileTypeJudge::ReturnFileType(c.szName, c.nLen), c.expected) << c.szName << " " << c.nLen;
    EXPECT_EQ(CFileTypeJudge::ReturnFileType(nullptr, 10), EXT_UNKNOWN);
}

// Zero sectors and no buffer are nothing, by either lookup.
TEST_F(JudgeTest, ZeroSectorsAndBuffers)
{
    const Bytes zero(4096, 0);
    for (int len : {0, 1, 16, 188, 512, 4096})
    {
        EXPECT_EQ(CFileTypeJudge::GetDataBufType(zero.data(), len), EXT_UNKNOWN) << len;
        EXPECT_EQ(CFileTypeJudge::GetDataBufTypeByTableOrder(zero.data(), len), EXT_UNKNOWN) << len;
    }
    EXPECT_EQ(CFileTypeJudge::GetDataBufType(nullptr, 512), EXT_UNKNOWN);
    EXPECT_EQ(CFileTypeJudge::GetDataBufTypeByTableOrder(nullptr, 512), EXT_UNKNOWN);
    EXPECT_EQ(CFileTypeJudge::IsZeroBuffer(zero.data(), 4096), 1);
    EXPECT_EQ(CFileTypeJudge::IsZeroBuffer(nullptr, 0), 1);
    EXPECT_EQ(CFileTypeJudge::IsZeroBuffer(nullptr, 4), 0);
    EXPECT_EQ(CFileTypeJudge::IsZeroBuffer(zero.data(), -1), 0);
    // A single set byte in the word-wise part and in the byte-wise tail.
    for (size_t at : {size_t(0), size_t(7), size_t(8), size_t(4088), size_t(4095), size_t(4100)})
    {
        Bytes b(4101, 0);
        b[at] = 0x01;
        EXPECT_EQ(CFileTypeJudge::IsSectorTailIsZeroBuffetr(b.data(), 4101), 0) << at;
        EXPECT_EQ(CFileTypeJudge::IsZeroBuffer(b.data(), int(at)), 1) << at;
    }
}

Bytes WithOem(const Bytes& sector, const char* oem)
{
    return With(sector, 3, Bytes(oem, oem + 8));
}

// Which sectors count as file-system metadata: records of real FAT and NTFS
// volumes (mkfs.fat, mtools, mkntfs) and hand-built corners; directory
// sectors are the FAT recognisers' own (core recogniser tests).
TEST_F(JudgeTest, FileSystemSectors)
{
    const Bytes fatBoot = Sample("fs_fat_boot.bin");
    const Bytes fatDir = Sample("fs_fat_dir.bin");
    const Bytes mftRecord = Sample("fs_ntfs_FILE.bin");
    ASSERT_EQ(fatBoot.size(), 512u);
    const Bytes ntfs16 = {'N', 0, 'T', 0, 'F', 0, 'S', 0};
    const Bytes restart = With(Bytes(512, 0x20), 0, {'R', 'S', 'T', 'R'});
    Bytes noJump = WithOem(fatBoot, "MSWIN4.1");
    noJump[2] = 0x00;

    const struct
    {
        const char* szWhat;
        Bytes sector;
        bool expected;
    } cases[] = {
        {"root directory sector of a FAT16 volume with long names", fatDir, true},
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
        {"FILE in 31 bytes", Slice(mftRecord, 0, 31), false},
        {"FILE in 32 bytes", Slice(mftRecord, 0, 32), true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CFileTypeJudge::IsFileSystemSector(Exact(c.sector).get(), int(c.sector.size())), c.expected)
            << c.szWhat;
    EXPECT_FALSE(CFileTypeJudge::IsFileSystemSector(nullptr, 512));
}

#ifndef NDEBUG
// The shared state allows one lookup at a time; debug builds stop a second
// thread that enters while another is inside.
TEST(JudgeDeathTest, SecondThreadInsideALookupAborts)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            CFileTypeJudge::CLookupScope scope;
            std::thread other(
                []
                {
                    const uint8_t sector[512] = {};
                    CFileTypeJudge::GetDataBufType(sector, 512);
                });
            other.join();
        },
        "two threads");
}

// A scope left behind would make the next thread's lookup abort.
TEST(JudgeDeathTest, NestedLookupsOnOneThreadAndSuccessiveThreadsAreFine)
{
    const uint8_t sector[512] = {};
    {
        CFileTypeJudge::CLookupScope outer;
        EXPECT_EQ(CFileTypeJudge::GetDataBufType(sector, 512), EXT_UNKNOWN);
    }
    for (int i = 0; i < 2; ++i)
        std::thread([&] { EXPECT_EQ(CFileTypeJudge::GetDataBufType(sector, 512), EXT_UNKNOWN); }).join();
}
#endif
} // namespace

// CDiskReader and the free ReadData over image files mapped as disks: the
// range checks that must refuse a read before any system call, short and
// failing devices, and descriptors that are read-only and not leaked.
#include "core/CDiskReader.h"
#include "core/Status.h"
#include "tests/core/CoreTestUtil.h"
#include "tests/support/ImageFile.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace tessaroo;
using namespace tessaroo::test;
using coretest::DiskMapping;
using coretest::LogCapture;

namespace
{
constexpr unsigned SENTINEL = 0xA5A5A5A5u;

// Sector n of the image starts with n (8 bytes) and continues with a
// pattern of n, so a sector read from the wrong place never matches.
std::vector<uint8_t> PatternImage(size_t sectors, size_t bytesPerSector = 512)
{
    std::vector<uint8_t> img(sectors * bytesPerSector);
    for (size_t s = 0; s < sectors; ++s)
        for (size_t i = 0; i < bytesPerSector; ++i)
            img[s * bytesPerSector + i] = i < 8 ? uint8_t(uint64_t(s) >> (8 * i)) : uint8_t(s * 7 + i);
    return img;
}

bool IsOpen(int fd)
{
    return fcntl(fd, F_GETFD) != -1 || errno != EBADF;
}
} // namespace

class DiskReaderTest : public ::testing::Test
{
  protected:
    static constexpr size_t kSectors = 400;

    void SetUp() override
    {
        m_image = PatternImage(kSectors);
        ASSERT_TRUE(WriteImageFile(m_dir.File("disk.img"), m_image));
        m_disks.reset(new DiskMapping({m_dir.File("disk.img")}));
    }

    bool SameAsImage(const std::vector<uint8_t>& buf, uint64_t byteOffset, size_t len) const
    {
        return byteOffset + len <= m_image.size() && memcmp(buf.data(), &m_image[byteOffset], len) == 0;
    }

    TempDir m_dir{"reader"};
    std::vector<uint8_t> m_image;
    std::unique_ptr<DiskMapping> m_disks;
};

TEST_F(DiskReaderTest, ReadsSectorsFromTheirOffset)
{
    CDiskReader r;
    ASSERT_EQ(r.Init(0, kSectors), 0u);
    std::vector<uint8_t> buf(3 * 512);
    unsigned n = SENTINEL;
    ASSERT_EQ(r.ReadData(buf.data(), 3, 10, 512, &n), 0u);
    EXPECT_EQ(n, 3u);
    EXPECT_TRUE(SameAsImage(buf, 10 * 512, buf.size()));
}

TEST_F(DiskReaderTest, ReadsMoreThanOnePieceOfSixtyFourKiB)
{
    CDiskReader r;
    ASSERT_EQ(r.Init(0, kSectors), 0u);
    std::vector<uint8_t> buf(300 * 512);
    unsigned n = 0;
    ASSERT_EQ(r.ReadData(buf.data(), 300, 50, 512, &n), 0u);
    EXPECT_EQ(n, 300u);
    EXPECT_TRUE(SameAsImage(buf, 50 * 512, buf.size()));
}

TEST_F(DiskReaderTest, SectorSizeScalesTheOffset)
{
    CDiskReader r;
    ASSERT_EQ(r.Init(0, kSectors / 8), 0u);
    std::vector<uint8_t> buf(2 * 4096);
    unsigned n = 0;
    ASSERT_EQ(r.ReadData(buf.data(), 2, 3, 4096, &n), 0u);
    EXPECT_EQ(n, 2u);
    EXPECT_TRUE(SameAsImage(buf, 3 * 4096, buf.size()));
}

// A read refused by the range check leaves the descriptor where it was and
// sectorsRead untouched: nothing reached the device.
struct RangeCase
{
    const char* name;
    long long start;
    int count;
    int bytesPerSector;
    unsigned long long endSector;
    unsigned expected;
};

class DiskReaderRange : public DiskReaderTest, public ::testing::WithParamInterface<RangeCase>
{
};

TEST_P(DiskReaderRange, Check)
{
    const RangeCase& c = GetParam();
    CDiskReader r;
    ASSERT_EQ(r.Init(0, c.endSector), 0u);
    ASSERT_EQ(lseek(r.GetHandle(), 777, SEEK_SET), 777);
    const size_t want = c.count > 0 && c.bytesPerSector > 0 && c.count <= 400
                            ? size_t(c.count) * size_t(c.bytesPerSector)
                            : 512;
    std::vector<uint8_t> buf(want);
    unsigned n = SENTINEL;
    EXPECT_EQ(r.ReadData(buf.data(), c.count, c.start, c.bytesPerSector, &n), c.expected);
    if (c.expected == STATUS_INVALID_PARAMETER)
    {
        EXPECT_EQ(n, SENTINEL);
        EXPECT_EQ(lseek(r.GetHandle(), 0, SEEK_CUR), 777);
    }
    else
    {
        EXPECT_EQ(n, unsigned(c.count));
        EXPECT_TRUE(SameAsImage(buf, uint64_t(c.start) * unsigned(c.bytesPerSector), buf.size()));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, DiskReaderRange,
    ::testing::Values(
        RangeCase{"LastSectorBeforeEnd", 99, 1, 512, 100, 0},
        RangeCase{"FirstSectorAtEnd", 100, 1, 512, 100, 87}, RangeCase{"RunEndingAtEnd", 97, 3, 512, 100, 0},
        RangeCase{"RunOneSectorOver", 98, 3, 512, 100, 87}, RangeCase{"WholeRange", 0, 100, 512, 100, 0},
        RangeCase{"OneMoreThanTheRange", 0, 101, 512, 100, 87},
        RangeCase{"StartFarBeyond", 1000000, 1, 512, 100, 87},
        RangeCase{"NegativeStart", -1, 1, 512, 100, 87}, RangeCase{"ZeroCount", 5, 0, 512, 100, 87},
        RangeCase{"NegativeCount", 5, -1, 512, 100, 87}, RangeCase{"ZeroSectorSize", 5, 1, 0, 100, 87},
        RangeCase{"NegativeSectorSize", 5, 1, -512, 100, 87},
        // start + count would wrap in 64 bits if it were computed that way.
        RangeCase{"CountLargerThanTheEnd", 0, INT_MAX, 512, 100, 87},
        RangeCase{"StartNearTheTopOfTheRange", LLONG_MAX, 1, 512, ULLONG_MAX, 87},
        // start × sector size would overflow a 64-bit file offset.
        RangeCase{"ByteOffsetOverflows", LLONG_MAX / 512 + 1, 1, 512, ULLONG_MAX, 87},
        RangeCase{"ByteOffsetOverflowsWithLargeSectors", LLONG_MAX / 4096 + 1, 1, 4096, ULLONG_MAX, 87},
        RangeCase{"NothingReadableBeforeInitialisedEnd", 0, 1, 512, 0, 87}),
    [](const ::testing::TestParamInfo<RangeCase>& i) { return std::string(i.param.name); });

TEST_F(DiskReaderTest, ShortDeviceCountsWholeSectorsOnly)
{
    // 10.5 sectors on disk, but a range that claims 20.
    const std::vector<uint8_t> half(m_image.begin(), m_image.begin() + 10 * 512 + 256);
    ASSERT_TRUE(WriteImageFile(m_dir.File("short.img"), half));
    DiskMapping disks({m_dir.File("short.img")});
    CDiskReader r;
    ASSERT_EQ(r.Init(0, 20), 0u);
    std::vector<uint8_t> buf(4 * 512);
    unsigned n = SENTINEL;
    LogCapture log;
    EXPECT_EQ(r.ReadData(buf.data(), 4, 8, 512, &n), STATUS_READ_FAULT);
    EXPECT_EQ(n, 2u);
    EXPECT_TRUE(SameAsImage(buf, 8 * 512, 2 * 512));
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0], "read 0\n");
}

TEST_F(DiskReaderTest, FailedReadGivesItsErrorNumberInTheLog)
{
    // A folder opens read-only but cannot be read (EISDIR).
    DiskMapping disks({m_dir.Path()});
    CDiskReader r;
    ASSERT_EQ(r.Init(0, 100), 0u);
    std::vector<uint8_t> buf(512);
    unsigned n = SENTINEL;
    LogCapture log;
    EXPECT_EQ(r.ReadData(buf.data(), 1, 0, 512, &n), STATUS_READ_FAULT);
    EXPECT_EQ(n, 0u);
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0], "read " + std::to_string(EISDIR) + "\n");
}

TEST_F(DiskReaderTest, FailedSeekReturnsItsErrorNumber)
{
    // A pipe cannot be positioned.
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    DiskMapping disks({"/proc/self/fd/" + std::to_string(p[0])});
    {
        CDiskReader r;
        ASSERT_EQ(r.Init(0, 100), 0u);
        std::vector<uint8_t> buf(512);
        unsigned n = SENTINEL;
        LogCapture log;
        EXPECT_EQ(r.ReadData(buf.data(), 1, 3, 512, &n), unsigned(ESPIPE));
        EXPECT_EQ(n, SENTINEL);
        ASSERT_EQ(log.Lines().size(), 1u);
        EXPECT_EQ(log.Lines()[0], "lseek failed 1536\n");
    }
    close(p[0]);
    close(p[1]);
}

TEST_F(DiskReaderTest, PathFormRefusesEveryRead)
{
    CDiskReader r;
    std::wstring path = L"/dev/null";
    EXPECT_EQ(r.Init(&path[0], 100), 0u);
    std::vector<uint8_t> buf(512);
    unsigned n = SENTINEL;
    EXPECT_EQ(r.ReadData(buf.data(), 1, 0, 512, &n), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(n, SENTINEL);
}

// Disabled until CDiskReader::Init(path) closes a descriptor a disk-form
// Init left open; today the reader goes on reading the old disk.
TEST_F(DiskReaderTest, PathFormAfterDiskFormRefusesReads)
{
    // The last Init decides: a reader re-initialised with a path must not
    // go on reading the disk it had open before.
    CDiskReader r;
    ASSERT_EQ(r.Init(0, kSectors), 0u);
    std::wstring path = L"/dev/null";
    EXPECT_EQ(r.Init(&path[0], 100), 0u);
    std::vector<uint8_t> buf(512);
    unsigned n = SENTINEL;
    EXPECT_EQ(r.ReadData(buf.data(), 1, 0, 512, &n), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(n, SENTINEL);
}

TEST_F(DiskReaderTest, UnreadyReaderRefusesReads)
{
    CDiskReader r;
    std::vector<uint8_t> buf(512);
    unsigned n = SENTINEL;
    EXPECT_EQ(r.ReadData(buf.data(), 1, 0, 512, &n), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(r.ReadData(nullptr, 1, 0, 512, &n), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(n, SENTINEL);
}

TEST_F(DiskReaderTest, UnmappedDiskGivesTheOpenError)
{
    CDiskReader r;
    EXPECT_EQ(r.Init(1, 100), unsigned(ENOENT));
    EXPECT_EQ(r.Init(-1, 100), unsigned(ENOENT));
    std::vector<uint8_t> buf(512);
    unsigned n = SENTINEL;
    EXPECT_EQ(r.ReadData(buf.data(), 1, 0, 512, &n), STATUS_INVALID_PARAMETER);
}

TEST_F(DiskReaderTest, OpensReadOnlyAndClosesItsDescriptors)
{
    int first, second;
    {
        CDiskReader r;
        ASSERT_EQ(r.Init(0, kSectors), 0u);
        first = r.GetHandle();
        EXPECT_EQ(fcntl(first, F_GETFL) & O_ACCMODE, O_RDONLY);
        // A second Init replaces the descriptor without leaking the first.
        ASSERT_EQ(r.Init(0, kSectors), 0u);
        second = r.GetHandle();
        EXPECT_EQ(fcntl(second, F_GETFL) & O_ACCMODE, O_RDONLY);
        EXPECT_EQ(r.GetEndSector(), kSectors);
        if (first != second)
        {
            EXPECT_FALSE(IsOpen(first));
        }
    }
    EXPECT_FALSE(IsOpen(second));
}

TEST_F(DiskReaderTest, ReadDataFromDescriptorCountsBytes)
{
    int fd = open(m_dir.File("disk.img").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(lseek(fd, off_t(m_image.size() - 1000), SEEK_SET), off_t(m_image.size() - 1000));
    std::vector<uint8_t> buf(70000);
    unsigned got = SENTINEL;
    EXPECT_EQ(ReadData(fd, buf.data(), 600, &got), 0u);
    EXPECT_EQ(got, 600u);
    EXPECT_TRUE(SameAsImage(buf, m_image.size() - 1000, 600));
    // Only 400 bytes remain.
    EXPECT_EQ(ReadData(fd, buf.data(), 70000, &got), STATUS_READ_FAULT);
    EXPECT_EQ(got, 400u);
    ASSERT_EQ(lseek(fd, 0, SEEK_SET), 0);
    EXPECT_EQ(ReadData(fd, buf.data(), 70000, &got), 0u);
    EXPECT_EQ(got, 70000u);
    EXPECT_TRUE(SameAsImage(buf, 0, 70000));
    close(fd);
    EXPECT_EQ(ReadData(fd, buf.data(), 10, &got), STATUS_READ_FAULT);
    EXPECT_EQ(got, 0u);
}

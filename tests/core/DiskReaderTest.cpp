// CDiskReader and the free ReadData over image files mapped as disks: the
// range checks that must refuse a read before any system call, short and
// failing devices, and descriptors that are read-only and not leaked.
#include "core/CDiskReader.h"
#include "core/Status.h"
#include "tests/support/TempDir.h"
#include "tests/support/ImageFile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

using namespace tessaroo;
using namespace tessaroo::test;

namespace
{
constexpr unsigned SENTINEL = 0xA5A5A5A5u;
constexpr size_t kSectors = 400;
} // namespace

class DiskReaderTest : public ::testing::Test
{
  protected:
    // Sector n of disk 0 starts with n (8 bytes) and continues with a
    // pattern of n, so a sector read from the wrong place never matches.
    void SetUp() override
    {
        m_image.resize(kSectors * 512);
        for (size_t i = 0; i < m_image.size(); ++i)
            m_image[i] =
                i % 512 < 8 ? uint8_t(uint64_t(i / 512) >> (8 * (i % 512))) : uint8_t(i / 512 * 7 + i % 512);
        ASSERT_TRUE(WriteImageFile(m_dir.File("disk.img"), m_image));
    }

    bool SameAsImage(const std::vector<uint8_t>& buf, uint64_t byteOffset, size_t len) const
    {
        return byteOffset + len <= m_image.size() && memcmp(buf.data(), &m_image[byteOffset], len) == 0;
    }

    TempDir m_dir{"reader"};
    std::vector<uint8_t> m_image;
    ScopedEnv m_disks{"TESSAROO_DISKS", m_dir.File("disk.img")};
};

// A read refused by the range check leaves the descriptor where it was and
// sectorsRead untouched: nothing reached the device. A read let through
// lands at start × sector size, however many 64 KiB pieces it takes.
TEST_F(DiskReaderTest, RangeChecksAndOffsets)
{
    const struct
    {
        const char* name;
        long long start;
        int count;
        int bytesPerSector;
        unsigned long long endSector;
        unsigned expected;
    } cases[] = {
        {"FirstSectorAtEnd", 100, 1, 512, 100, 87},
        {"RunEndingAtEnd", 97, 3, 512, 100, 0},
        {"RunOneSectorOver", 98, 3, 512, 100, 87},
        {"WholeRange", 0, 100, 512, 100, 0},
        {"SeveralPieces", 50, 300, 512, 400, 0},
        {"LargeSectors", 3, 2, 4096, 100, 0},
        {"OneMoreThanTheRange", 0, 101, 512, 100, 87},
        {"NegativeStart", -1, 1, 512, 100, 87},
        {"ZeroCount", 5, 0, 512, 100, 87},
        {"ZeroSectorSize", 5, 1, 0, 100, 87},
        // start + count would wrap in 64 bits if it were computed that way.
        {"CountLargerThanTheEnd", 0, INT_MAX, 512, 100, 87},
        {"StartNearTheTopOfTheRange", LLONG_MAX, 1, 512, ULLONG_MAX, 87},
        // start × sector size would overflow a 64-bit file offset.
        {"ByteOffsetOverflows", LLONG_MAX / 512 + 1, 1, 512, ULLONG_MAX, 87},
        {"ByteOffsetOverflowsWithLargeSectors", LLONG_MAX / 4096 + 1, 1, 4096, ULLONG_MAX, 87},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        CDiskReader r;
        ASSERT_EQ(r.Init(0, c.endSector), 0u);
        ASSERT_EQ(lseek(r.GetHandle(), 777, SEEK_SET), 777);
        // Room for the whole request, so a read let through wrongly fails the
        // checks below rather than overrunning.
        std::vector<uint8_t> buf(c.count > 0 && c.count <= 400 && c.bytesPerSector > 0
                                     ? size_t(c.count) * size_t(c.bytesPerSector)
                                     : 512);
        unsigned n = SENTINEL;
        EXPECT_EQ(r.ReadData(buf.data(), c.count, c.start, c.bytesPerSector, &n), c.expected);
        if (c.expected)
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
}

TEST_F(DiskReaderTest, ShortDeviceCountsWholeSectorsOnly)
{
    // 10.5 sectors on disk, but a range that claims 20.
    ASSERT_TRUE(WriteImageFile(m_dir.File("short.img"),
                               std::vector<uint8_t>(m_image.begin(), m_image.begin() + 10 * 512 + 256)));
    ScopedEnv disks("TESSAROO_DISKS", m_dir.File("short.img"));
    CDiskReader r;
    ASSERT_EQ(r.Init(0, 20), 0u);
    std::vector<uint8_t> buf(4 * 512);
    unsigned n = SENTINEL;
    EXPECT_EQ(r.ReadData(buf.data(), 4, 8, 512, &n), STATUS_READ_FAULT);
    EXPECT_EQ(n, 2u);
    EXPECT_TRUE(SameAsImage(buf, 8 * 512, 2 * 512));
}

TEST_F(DiskReaderTest, OnlyFilesAndBlockDevicesOpenAndNothingBlocks)
{
    // A FIFO with no writer would block a plain open for ever.
    ASSERT_EQ(mkfifo(m_dir.File("fifo").c_str(), 0600), 0);
    const std::pair<std::string, unsigned> cases[] = {
        {m_dir.File("fifo"), unsigned(ENOTBLK)},
        {"/dev/null", unsigned(ENOTBLK)},
        {m_dir.Path(), unsigned(EISDIR)},
        {m_dir.File("missing.img"), unsigned(ENOENT)},
    };
    for (const auto& c : cases)
    {
        ScopedEnv disks("TESSAROO_DISKS", c.first);
        CDiskReader r;
        EXPECT_EQ(r.Init(0, 100), c.second) << c.first;
    }
}

TEST_F(DiskReaderTest, UnreadyReadersRefuseReads)
{
    std::vector<uint8_t> buf(512);
    unsigned n = SENTINEL;
    CDiskReader unmapped;
    EXPECT_EQ(unmapped.Init(1, 100), unsigned(ENOENT));
    EXPECT_EQ(unmapped.ReadData(buf.data(), 1, 0, 512, &n), STATUS_INVALID_PARAMETER);
    // The last Init decides: a reader re-initialised with a path must not go
    // on reading the disk it had open before.
    CDiskReader path;
    ASSERT_EQ(path.Init(0, kSectors), 0u);
    std::wstring dev = L"/dev/null";
    EXPECT_EQ(path.Init(&dev[0], 100), 0u);
    EXPECT_EQ(path.ReadData(buf.data(), 1, 0, 512, &n), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(n, SENTINEL);
}

TEST_F(DiskReaderTest, OpensReadOnlyAndClosesItsDescriptors)
{
    const size_t fds = OpenDescriptors();
    {
        CDiskReader r;
        ASSERT_EQ(r.Init(0, kSectors), 0u);
        // A second Init replaces the descriptor without leaking the first.
        ASSERT_EQ(r.Init(0, kSectors), 0u);
        EXPECT_EQ(OpenDescriptors(), fds + 1);
        EXPECT_EQ(fcntl(r.GetHandle(), F_GETFL) & O_ACCMODE, O_RDONLY);
        EXPECT_NE(fcntl(r.GetHandle(), F_GETFD) & FD_CLOEXEC, 0);
    }
    EXPECT_EQ(OpenDescriptors(), fds);
}

// The free form counts bytes: a short read gives what arrived.
TEST_F(DiskReaderTest, ReadDataFromDescriptorCountsBytes)
{
    int fd = open(m_dir.File("disk.img").c_str(), O_RDONLY);
    ASSERT_EQ(lseek(fd, off_t(m_image.size() - 1000), SEEK_SET), off_t(m_image.size() - 1000));
    std::vector<uint8_t> buf(70000);
    unsigned got = SENTINEL;
    EXPECT_EQ(ReadData(fd, buf.data(), 70000, &got), STATUS_READ_FAULT);
    EXPECT_EQ(got, 1000u);
    EXPECT_TRUE(SameAsImage(buf, m_image.size() - 1000, 1000));
    close(fd);
    EXPECT_EQ(ReadData(fd, buf.data(), 10, &got), STATUS_READ_FAULT);
    EXPECT_EQ(got, 0u);
}

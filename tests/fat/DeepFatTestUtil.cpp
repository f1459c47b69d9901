#include "tests/fat/DeepFatTestUtil.h"

#include "core/BootSector.h"
#include "core/Portability.h"
#include "core/Recognisers.h"
#include "tests/fat/FatTestUtil.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace tessaroo
{
namespace test
{
namespace
{
constexpr size_t CHUNK = 65536;
constexpr size_t SECTOR = 512;
// The NTFS record size the sweep tests for 512-byte sectors.
constexpr size_t NTFS_RECORD = 1024;

bool ReadAt(int fd, uint8_t* buf, size_t len, uint64_t off, size_t& got)
{
    got = 0;
    while (got < len)
    {
        const ssize_t n = pread(fd, buf + got, len - got, off_t(off + got));
        if (n < 0)
            return false;
        if (n == 0)
            break;
        got += size_t(n);
    }
    return true;
}

// Reads [start, start + count) of the device file fd in 64 KiB chunks and
// offers each 512-byte sector in turn: an NTFS file record (1024 bytes, read
// on from the device at a chunk's end) is passed over; a sector that starts
// with a folder's dot pair goes to ParseFatFileRecord, any other sector of
// directory entries to ParseFDTFileRecord. False when the file cannot be read.
bool SweepDevice(CProfessionalFatRecovery& engine, int fd, uint64_t start, uint64_t count)
{
    std::vector<uint8_t> chunk(CHUNK);
    std::vector<uint8_t> record(8192);
    for (uint64_t pos = 0; pos < count;)
    {
        const uint64_t n = std::min<uint64_t>(CHUNK / SECTOR, count - pos);
        size_t got = 0;
        if (!ReadAt(fd, chunk.data(), size_t(n * SECTOR), (start + pos) * SECTOR, got))
            return false;
        const uint64_t whole = got / SECTOR;
        for (uint64_t i = 0; i < whole; ++i)
        {
            uint8_t* sector = chunk.data() + i * SECTOR;
            const uint64_t abs = start + pos + i;
            const uint8_t* rec = sector;
            if ((whole - i) * SECTOR < NTFS_RECORD)
            {
                size_t r = 0;
                std::fill(record.begin(), record.end(), 0);
                ReadAt(fd, record.data(), record.size(), abs * SECTOR, r);
                rec = record.data();
            }
            if (IsNtfsFileRecord(rec, int(NTFS_RECORD)))
                continue;
            if (IsFatFileRecord(sector))
                engine.ParseFatFileRecord(sector, abs);
            else if (IsFatFDTRecord(sector, int(SECTOR)))
                engine.ParseFDTFileRecord(sector, abs);
        }
        if (whole < n)
            break; // the device ended
        pos += n;
    }
    return true;
}

} // namespace

DeepFatScan::DeepFatScan(const std::string& image, uint64_t start, uint64_t count)
    : m_image(image), m_start(start), m_count(count), m_disks("TESSAROO_DISKS", image),
      m_engine(new CProfessionalFatRecovery())
{
    PrepareScanLog();
}

bool DeepFatScan::Run()
{
    EXPECT_EQ(m_engine->Init(0, (long long)m_start, (long long)m_count, L'C'), 0u);
    EXPECT_EQ(m_engine->ClearProfessionalVec(nullptr), 0u);
    EXPECT_EQ(m_engine->InitVirtualDbrInfo(), 0u);
    const int fd = open(m_image.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_GE(fd, 0) << m_image;
    if (fd < 0)
        return false;
    const bool swept = SweepDevice(*m_engine, fd, m_start, m_count);
    close(fd);
    EXPECT_TRUE(swept);
    EXPECT_EQ(m_engine->DealProfessionalRecordVec(), 0u);
    return swept && !::testing::Test::HasFailure();
}

std::vector<__SEARCH_FILE_INFO__> DeepFatScan::Files()
{
    std::vector<__SEARCH_FILE_INFO__> hits;
    std::wstring key = AllKindsKey();
    m_engine->SearchFileNode(&key[0], hits);
    return hits;
}

std::string DeepFatScan::PathOf(_FILE_NODE_& node)
{
    return NodePath(m_engine.get(), node);
}

} // namespace test
} // namespace tessaroo

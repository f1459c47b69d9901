#include "core/FileIo.h"
#include "core/CDiskReader.h"

#include "core/Log.h"
#include "core/Platform.h"
#include "core/Status.h"

#include <cerrno>
#include <cstdint>
#include <unistd.h>

using namespace tessaroo;

namespace
{
// Device reads are issued in pieces of at most 64 KiB, whatever the caller asks.
constexpr size_t READ_PIECE = 65536;
} // namespace

CDiskReader::CDiskReader() : m_hDevice(-1), m_u64EndSector(0) {}

CDiskReader::~CDiskReader()
{
    if (m_hDevice >= 0)
        close(m_hDevice);
    m_hDevice = -1;
}

unsigned int CDiskReader::Init(int diskIndex, unsigned long long endSector)
{
    int fd = OpenDiskReadOnly(diskIndex);
    if (fd < 0)
        return errno ? unsigned(errno) : STATUS_INVALID_PARAMETER;
    if (m_hDevice >= 0)
        close(m_hDevice);
    m_hDevice = fd;
    m_u64EndSector = endSector;
    return STATUS_SUCCESS;
}

unsigned int CDiskReader::Init(wchar_t*, unsigned long long endSector)
{
    // Path readers are never opened: every read through one is refused,
    // including after an earlier disk-form Init.
    if (m_hDevice >= 0)
        close(m_hDevice);
    m_hDevice = -1;
    m_u64EndSector = endSector;
    return STATUS_SUCCESS;
}

unsigned int CDiskReader::ReadData(unsigned char* buf, int sectorCount, long long startSector,
                                   int bytesPerSector, unsigned int* sectorsRead)
{
    if (!buf || m_hDevice < 0 || sectorCount <= 0 || bytesPerSector <= 0 || startSector < 0)
        return STATUS_INVALID_PARAMETER;
    const uint64_t start = uint64_t(startSector);
    const uint64_t count = uint64_t(sectorCount);
    if (count > m_u64EndSector || start > m_u64EndSector - count)
        return STATUS_INVALID_PARAMETER;
    const uint64_t bytes = count * uint64_t(bytesPerSector);
    // The byte offset must fit a signed 64-bit file offset.
    if (start > uint64_t(INT64_MAX) / uint64_t(bytesPerSector))
        return STATUS_INVALID_PARAMETER;
    const uint64_t offset = start * uint64_t(bytesPerSector);
    if (lseek(m_hDevice, off_t(offset), SEEK_SET) < 0)
    {
        int err = errno;
        CoreLog("lseek failed %lld\n", (long long)offset);
        return unsigned(err);
    }
    size_t got = 0;
    unsigned int st = ReadFull(m_hDevice, buf, size_t(bytes), got, READ_PIECE);
    if (st != STATUS_SUCCESS)
    {
        CoreLog("read %lld\n", (long long)(st == STATUS_READ_FAULT ? 0 : st));
        if (sectorsRead)
            *sectorsRead = unsigned(got / size_t(bytesPerSector));
        return STATUS_READ_FAULT;
    }
    if (sectorsRead)
        *sectorsRead = unsigned(sectorCount);
    return STATUS_SUCCESS;
}

unsigned int ReadData(int fd, unsigned char* buf, int len, unsigned int* got)
{
    if (len <= 0 || !buf)
    {
        if (got)
            *got = 0;
        return len == 0 ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
    }
    size_t n = 0;
    unsigned int st = tessaroo::ReadFull(fd, buf, size_t(len), n, READ_PIECE);
    if (got)
        *got = unsigned(n);
    return st == STATUS_SUCCESS ? STATUS_SUCCESS : STATUS_READ_FAULT;
}

#include "core/FileIo.h"

#include "core/Status.h"

#include <cerrno>
#include <unistd.h>

namespace tessaroo
{
unsigned int ErrnoOr(unsigned int fallback)
{
    return errno ? unsigned(errno) : fallback;
}

namespace
{
// at < 0 reads or writes at the current position.
template <typename Io> unsigned int Transfer(Io io, size_t len, size_t& done, size_t maxPiece, bool reading)
{
    done = 0;
    while (done < len)
    {
        size_t ask = len - done;
        if (maxPiece && ask > maxPiece)
            ask = maxPiece;
        ssize_t n = io(done, ask);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return ErrnoOr(EIO);
        if (n == 0)
            return reading ? STATUS_READ_FAULT : unsigned(ENOSPC);
        done += size_t(n);
    }
    return STATUS_SUCCESS;
}
} // namespace

unsigned int ReadFull(int fd, void* buf, size_t len, size_t& got, size_t maxPiece)
{
    auto* p = static_cast<uint8_t*>(buf);
    return Transfer([&](size_t at, size_t n) { return read(fd, p + at, n); }, len, got, maxPiece, true);
}

unsigned int ReadFullAt(int fd, void* buf, size_t len, uint64_t off, size_t& got)
{
    auto* p = static_cast<uint8_t*>(buf);
    return Transfer([&](size_t at, size_t n) { return pread(fd, p + at, n, off_t(off + at)); }, len, got, 0,
                    true);
}

unsigned int WriteFull(int fd, const void* buf, size_t len)
{
    const auto* p = static_cast<const uint8_t*>(buf);
    size_t done = 0;
    return Transfer([&](size_t at, size_t n) { return write(fd, p + at, n); }, len, done, 0, false);
}

unsigned int WriteFullAt(int fd, const void* buf, size_t len, uint64_t off)
{
    const auto* p = static_cast<const uint8_t*>(buf);
    size_t done = 0;
    return Transfer([&](size_t at, size_t n) { return pwrite(fd, p + at, n, off_t(off + at)); }, len, done, 0,
                    false);
}
} // namespace tessaroo

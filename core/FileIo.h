// Whole reads and writes over a descriptor: short transfers are continued,
// EINTR is retried, and the result is a status code. Every component that
// moves file bytes goes through these.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessaroo
{
// errno of the call that just failed, or fallback when errno is 0.
unsigned int ErrnoOr(unsigned int fallback);

// Reads len bytes from the current position, at most maxPiece bytes per
// system call (0: no limit). Returns 0 with got == len, 30 when the file
// ended first, else the error number; got counts the bytes that arrived.
unsigned int ReadFull(int fd, void* buf, size_t len, size_t& got, size_t maxPiece = 0);
// The same at byte offset off, without moving the file position.
unsigned int ReadFullAt(int fd, void* buf, size_t len, uint64_t off, size_t& got);
// Writes all len bytes at the current position; 0, the error number, or
// ENOSPC when the device accepts nothing.
unsigned int WriteFull(int fd, const void* buf, size_t len);
// The same at byte offset off.
unsigned int WriteFullAt(int fd, const void* buf, size_t len, uint64_t off);
} // namespace tessaroo

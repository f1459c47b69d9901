// What the fuzz targets share: disk 0 as a memory file that the disk
// reader reopens through /proc, a scratch tree for what a run writes, and
// the checks made after each input. The log is silenced on first use.
#pragma once

#include "tests/support/TempDir.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace fuzz
{
// Prints "<target>: what" and aborts.
[[noreturn]] void Fail(const char* what);

// Disk 0 (TESSAROO_DISKS names it): the input, then zeros up to bytes.
const std::string& DiskPath();
void FillDisk(const uint8_t* data, size_t size, uint64_t bytes = 0);
// The disk is still bytes long, holds the input, and nothing lies past it.
void CheckDiskUnchanged(const uint8_t* data, size_t size, uint64_t bytes);

// A heap block of exactly n bytes holding the first of data's size bytes,
// zero-padded: a parser handed it faults on any read past n.
inline std::unique_ptr<uint8_t[]> ExactCopy(const uint8_t* data, size_t size, size_t n)
{
    std::unique_ptr<uint8_t[]> p(new uint8_t[n ? n : 1]());
    memcpy(p.get(), data, size < n ? size : n);
    return p;
}

// root/outer/inner holds support (TESSAROO_SUPPORT_DIR) and out, a
// destination: two levels above it, a name that climbs out of the
// destination still lands where the check looks. Removed at exit.
struct Scratch
{
    std::string root, inner, support, out;
};
const Scratch& GetScratch();
// Everything written is a plain file or folder below support or out; then
// both are emptied, so the next input starts clean.
void CheckAndClean();

bool Below(const std::string& path, const std::string& dir);
// Removes everything below dir (dir stays).
void RemoveBelow(const std::string& dir);
} // namespace fuzz

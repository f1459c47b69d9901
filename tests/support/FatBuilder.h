// In-memory FAT structures for tests that need a precise corner: boot
// sectors with chosen geometry, short and long-name directory entries, the
// dot pair of a subdirectory. Everything is built byte by byte at the
// on-disk offsets, independently of the core's decoders, so a test compares
// the core against the layout itself rather than against its own code.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tessaroo
{
namespace test
{
enum class FatFormat
{
    Fat12,
    Fat16,
    Fat32,
};

// Boot-sector parameters. DefaultFatParams gives a consistent volume of each
// kind; tests change one field to reach a corner.
struct FatBootParams
{
    FatFormat kind = FatFormat::Fat16;
    uint16_t bytesPerSector = 512;
    uint8_t sectorsPerCluster = 4;
    uint16_t reservedSectors = 1;
    uint8_t numFats = 2;
    uint16_t rootEntries = 512;    // 0 on FAT32
    uint32_t totalSectors = 32768; // in the field at 19 when FAT12/16 and below 65536, else at 32
    uint32_t sectorsPerFat = 32;   // 16-bit field on FAT12/16, 32-bit field on FAT32
    uint32_t rootCluster = 2;      // FAT32
    uint8_t media = 0xF8;
};

// A consistent geometry for each kind: FAT12 2 MiB / 1 KiB clusters, FAT16
// 16 MiB / 2 KiB clusters, FAT32 64 MiB / 512-byte clusters.
FatBootParams DefaultFatParams(FatFormat kind);

// The 512-byte boot sector (bytesPerSector may be larger; only the first
// 512 bytes are built, as the recognisers read), with the 0x55AA signature.
std::vector<uint8_t> MakeFatBootSector(const FatBootParams& p);

// A FAT date word.
uint16_t FatDate(int year, int month, int day);

// "README.TXT" -> "README  TXT" (upper-cased, blank-padded, 11 bytes). Names
// already 11 bytes long without a point (or starting with one, the dot
// entries) are taken as they stand.
std::array<uint8_t, 11> ShortName11(const std::string& name);

// The FAT long-name checksum, written out here so that tests of the core's
// GetShortNameCheckSum have an independent reference.
uint8_t LfnChecksum(const uint8_t* name11);

struct DirEntryParams
{
    std::string name = "FILE.TXT"; // through ShortName11
    uint8_t attr = 0x20;           // archive
    uint32_t firstCluster = 0;     // high word written at 20 (FAT32 form), low word at 26
    uint32_t size = 0;
    uint16_t date = FatDate(2021, 6, 15); // creation, access and write date
    uint16_t time = 12 << 11;             // 12:00:00
    bool deleted = false;                 // byte 0 becomes 0xE5
};

// One 32-byte short entry.
std::array<uint8_t, 32> MakeShortEntry(const DirEntryParams& p);
// The same as bytes, for a file or (attr 0x10) folder of that first cluster and size.
std::vector<uint8_t> ShortEntry(const std::string& name, uint32_t cluster, uint32_t size, uint8_t attr = 0x20,
                                bool deleted = false);
// Runs of entries (or any bytes) one after the other.
std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts);

// The long-name entries for longName (UTF-16 units; NUL then 0xFFFF padding
// after the last unit, as FAT drivers write them), in on-disk order: the
// entry with sequence 0x40|n first, sequence 1 last. checksum goes at 13;
// deleted marks byte 0 of each with 0xE5.
std::vector<uint8_t> MakeLongNameEntries(const std::u16string& longName, uint8_t checksum,
                                         bool deleted = false);

// Long-name entries followed by their short entry, with the right checksum.
std::vector<uint8_t> MakeNamedEntry(const std::u16string& longName, const DirEntryParams& shortEntry);

// The "." and ".." pair that starts every subdirectory (64 bytes).
std::vector<uint8_t> MakeDotPair(uint32_t selfCluster, uint32_t parentCluster);

// Appends entries to a directory buffer and pads it with zero bytes to a
// multiple of sectorSize, one sector at least (the rest of a directory
// cluster after its end).
class DirectoryBuilder
{
  public:
    DirectoryBuilder& Add(const std::vector<uint8_t>& entries);
    std::vector<uint8_t> Build(size_t sectorSize = 512) const;

  private:
    std::vector<uint8_t> m_bytes;
};
} // namespace test
} // namespace tessaroo

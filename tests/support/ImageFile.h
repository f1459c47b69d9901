// Image files for tests: whole files written and read back, and sparse disk
// images assembled sector by sector (a boot sector here, a directory cluster
// there, zeros elsewhere without using disk space).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessaroo
{
namespace test
{
// Writes bytes to path (created 0644, truncated). False on any failure.
bool WriteImageFile(const std::string& path, const std::vector<uint8_t>& bytes);

// Reads a whole file. False when it cannot be read.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes);

// Reads count bytes at byte offset off. Short at the end of the file.
std::vector<uint8_t> ReadFileRange(const std::string& path, uint64_t off, size_t count);

// A sparse disk image: Put places bytes at a sector; Write makes the file
// with the given total size (holes read as zeros).
class SectorImage
{
  public:
    explicit SectorImage(uint32_t bytesPerSector = 512) : m_bytesPerSector(bytesPerSector) {}
    SectorImage& Put(uint64_t sector, const std::vector<uint8_t>& bytes);
    bool Write(const std::string& path, uint64_t totalSectors) const;

  private:
    struct Piece
    {
        uint64_t offset;
        std::vector<uint8_t> bytes;
    };
    uint32_t m_bytesPerSector;
    std::vector<Piece> m_pieces;
};
} // namespace test
} // namespace tessaroo

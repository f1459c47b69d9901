#include "tests/support/ImageFile.h"

#include "core/FileIo.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace tessaroo
{
namespace test
{
bool WriteImageFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    return SectorImage().Put(0, bytes).Write(path, 0);
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes)
{
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    // A folder opens too, and reads as empty.
    return in && !std::filesystem::is_directory(path);
}

std::vector<uint8_t> ReadFileRange(const std::string& path, uint64_t off, size_t count)
{
    std::vector<uint8_t> out(count);
    std::ifstream in(path, std::ios::binary);
    in.seekg(std::streamoff(off));
    in.read(reinterpret_cast<char*>(out.data()), std::streamsize(count));
    out.resize(size_t(in.gcount()));
    return out;
}

SectorImage& SectorImage::Put(uint64_t sector, const std::vector<uint8_t>& bytes)
{
    m_pieces.push_back({sector * m_bytesPerSector, bytes});
    return *this;
}

bool SectorImage::Write(const std::string& path, uint64_t totalSectors) const
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    bool ok = ftruncate(fd, off_t(totalSectors * m_bytesPerSector)) == 0;
    for (const Piece& p : m_pieces)
        ok = ok && WriteFullAt(fd, p.bytes.data(), p.bytes.size(), p.offset) == 0;
    return close(fd) == 0 && ok;
}
} // namespace test
} // namespace tessaroo

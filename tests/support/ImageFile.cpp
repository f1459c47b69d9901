#include "tests/support/ImageFile.h"

#include <fcntl.h>
#include <fstream>
#include <unistd.h>

namespace tessaroo
{
namespace test
{
namespace
{
bool WriteAt(int fd, const uint8_t* p, size_t n, uint64_t off)
{
    while (n)
    {
        ssize_t w = pwrite(fd, p, n, off_t(off));
        if (w <= 0)
            return false;
        p += w;
        n -= size_t(w);
        off += uint64_t(w);
    }
    return true;
}
} // namespace

bool WriteImageFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    bool ok = WriteAt(fd, bytes.data(), bytes.size(), 0);
    return close(fd) == 0 && ok;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bytes.clear();
    uint8_t buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof(buf))) > 0)
        bytes.insert(bytes.end(), buf, buf + n);
    close(fd);
    return n == 0;
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
        ok = ok && WriteAt(fd, p.bytes.data(), p.bytes.size(), p.offset);
    return close(fd) == 0 && ok;
}
} // namespace test
} // namespace tessaroo

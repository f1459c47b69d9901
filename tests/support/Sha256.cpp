#include "tests/support/Sha256.h"

#include "tests/support/ImageFile.h"

#include <openssl/evp.h>

#include <filesystem>

namespace tessaroo
{
namespace test
{
std::string Sha256Hex(const std::vector<uint8_t>& data)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (EVP_Digest(data.data(), data.size(), digest, &n, EVP_sha256(), nullptr) != 1)
        return std::string();
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < n; ++i)
    {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 15];
    }
    return out;
}

std::multiset<std::string> ChecksumsBelow(const std::string& folder)
{
    std::multiset<std::string> sums;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        if (it->is_regular_file() && !it->is_symlink())
            sums.insert(Sha256OfFile(it->path().string()));
    return sums;
}

std::string Sha256OfFile(const std::string& path)
{
    std::vector<uint8_t> bytes;
    return ReadWholeFile(path, bytes) ? Sha256Hex(bytes) : std::string();
}
} // namespace test
} // namespace tessaroo

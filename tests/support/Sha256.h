// SHA-256, for comparing recovered data with the checksums the image
// scripts record in their manifests.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace tessaroo
{
namespace test
{
// Lower-case hex digest.
std::string Sha256Hex(const std::vector<uint8_t>& data);
// Of a whole file; "" when it cannot be read.
std::string Sha256OfFile(const std::string& path);
// Of every file below a folder (recovered files compared with a manifest).
std::multiset<std::string> ChecksumsBelow(const std::string& folder);
} // namespace test
} // namespace tessaroo

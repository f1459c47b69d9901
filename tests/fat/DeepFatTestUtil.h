// The deep-scan sweep as the coordinator runs it, for the deep FAT engine
// alone, and what the deep FAT tests share: a scan of an image file and the
// names the engine gives the items of a manifest of
// tools/make_deep_fat_images.sh.
#pragma once

#include "engines/fat/CProfessionalFatRecovery.h"
#include "tests/support/TestSupport.h"

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace tessaroo
{
namespace test
{
// A whole deep FAT scan of an image file (as disk 0) for the sectors
// [start, start + count): Init, a new store, the volume's own layout, the
// sweep, the end-of-sweep pass.
class DeepFatScan
{
  public:
    DeepFatScan(const std::string& image, uint64_t start, uint64_t count);
    // ::testing assertions inside; false when any step failed.
    bool Run();
    CProfessionalFatRecovery& Engine() { return *m_engine; }
    // Every file listed, of every kind.
    std::vector<__SEARCH_FILE_INFO__> Files();
    // The node's folder path and name, "a/b/name" (UTF-8).
    std::string PathOf(_FILE_NODE_& node);

  private:
    std::string m_image;
    uint64_t m_start, m_count;
    ScopedEnv m_disks;
    std::unique_ptr<CProfessionalFatRecovery> m_engine;
};

// A manifest item of tools/make_deep_fat_images.sh: its state words.
bool IsDeletedItem(const ManifestEntry& e);
bool IsKeptItem(const ManifestEntry& e);
bool IsIntactItem(const ManifestEntry& e);

// The path the deep engine lists a kept item under: every folder above it
// by its name, or "LostFolder<cluster>" where the folder's own entry is
// lost; then the item's name. A name is the long name an item was made
// with, else its 8.3 name in lower case ('!' for a deleted entry's first
// byte, folders without their extension).
std::set<std::string> DeepCandidatePaths(const Manifest& m, const ManifestEntry& e);
} // namespace test
} // namespace tessaroo

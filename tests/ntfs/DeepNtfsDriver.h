// The deep NTFS engine driven as the deep sweep drives it: every sector of
// an image that starts a file record offered in ascending order, then the
// folder pass; and the images of tools/make_deep_ntfs_images.sh.
#pragma once

#include "engines/ntfs/CProfessionalNtfsRecovery.h"
#include "tests/fat/FatTestUtil.h"
#include "tests/ntfs/NtfsTestUtil.h"

#include <map>
#include <string>
#include <vector>

namespace tessaroo
{
namespace test
{
// The folder of the made images, or "" with the reason in why.
std::string DeepNtfsImages(std::string& why);

class DeepNtfsScan
{
  public:
    // image as disk 0, the area start..start + count (count 0: to the
    // image's end) scanned by the deep engine alone.
    explicit DeepNtfsScan(const std::string& image, uint64_t start = 0, uint64_t count = 0);
    // Every file found, by the path the engine shows.
    std::map<std::string, _FILE_NODE_> ByPath();
    // Recovers node into target; the reports sent.
    ReportLog Recover(_FILE_NODE_ node, const std::string& target, unsigned int& status);

    ScopedEnv disks;
    CProfessionalNtfsRecovery engine;
    unsigned int initStatus = ~0u;
    std::vector<__SEARCH_FILE_INFO__> hits;
};
} // namespace test
} // namespace tessaroo

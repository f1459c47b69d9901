// The deep-scan sweep as the coordinator runs it, for the deep FAT engine
// alone: a whole scan of an image file.
#pragma once

#include "engines/fat/CProfessionalFatRecovery.h"
#include "tests/support/TestSupport.h"

#include <cstdint>
#include <memory>
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
} // namespace test
} // namespace tessaroo

// Helpers shared by the core tests: the log captured through the core's
// sink, and disk numbers mapped to image files for one scope.
#pragma once

#include "core/Log.h"
#include "tests/support/TempDir.h"

#include <string>
#include <vector>

namespace coretest
{
// Collects every message the core logs while it lives.
class LogCapture
{
  public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    const std::vector<std::string>& Lines() const;
};

// TESSAROO_DISKS set to the ':'-joined paths for the scope. Scopes must
// nest: each restores what the one before it set.
class DiskMapping
{
  public:
    explicit DiskMapping(const std::vector<std::string>& paths);

  private:
    tessaroo::test::ScopedEnv m_env;
};
} // namespace coretest

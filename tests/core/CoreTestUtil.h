// Shared by the core tests: the log captured through the core's sink.
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
} // namespace coretest

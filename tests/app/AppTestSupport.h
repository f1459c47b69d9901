// Small helpers of the application tests beside the shared test support
// (temporary folders, environment): the offscreen application object, a
// working-directory guard and waiting for a file.
#pragma once

#include "tests/support/TempDir.h"

#include <string>

class QApplication;

namespace apptest
{
using tessaroo::test::PathExists;
using tessaroo::test::ReadFileText;
using tessaroo::test::ScopedEnv;
using tessaroo::test::TempDir;
using tessaroo::test::WriteFileText;

// The one application object of the test process, on the offscreen platform.
QApplication* App();

// Changes into a folder; changes back when destroyed.
class ScopedCwd
{
  public:
    explicit ScopedCwd(const std::string& dir);
    ~ScopedCwd();
    ScopedCwd(const ScopedCwd&) = delete;
    ScopedCwd& operator=(const ScopedCwd&) = delete;

  private:
    std::string m_strOld;
};

// Polls for a file for up to about 20 seconds; true when it appeared.
bool WaitForFile(const std::string& path);
} // namespace apptest

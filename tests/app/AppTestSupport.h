// Small helpers of the application tests beside the shared test support
// (temporary folders, environment): the offscreen application object, a
// working-directory guard, text files and waiting for one.
#pragma once

#include "tests/support/TempDir.h"

#include <string>

class QApplication;

namespace apptest
{
using tessaroo::test::ScopedEnv;
using tessaroo::test::TempDir;

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

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& data, unsigned int mode = 0644);
bool Exists(const std::string& path); // without following a final link
// A system tool by name on PATH or in the system folders; "" when absent.
std::string FindTool(const std::string& name);
// Polls for a file for up to about 20 seconds; true when it appeared.
bool WaitForFile(const std::string& path);
} // namespace apptest

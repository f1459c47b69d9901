// Small helpers of the application tests: the offscreen application object,
// temporary folders, environment and working-directory guards.
#pragma once

#include <string>

class QApplication;

namespace apptest
{
// The one application object of the test process, on the offscreen platform.
QApplication* App();

// A fresh folder under the system's temporary folder, removed with its contents.
class TempDir
{
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return m_strPath; }
    std::string operator/(const std::string& name) const { return m_strPath + "/" + name; }

  private:
    std::string m_strPath;
};

// Sets (or with a null value unsets) a variable; restores it when destroyed.
class ScopedEnv
{
  public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string m_strName;
    std::string m_strOld;
    bool m_bHadOld;
};

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

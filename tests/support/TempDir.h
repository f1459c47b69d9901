// A temporary folder for one test, removed with everything in it when the
// object goes; and a scoped environment variable (TESSAROO_SUPPORT_DIR,
// TESSAROO_DISKS, TZ) restored to its earlier value at the end of the scope.
#pragma once

#include <string>
#include <vector>

namespace tessaroo
{
namespace test
{
class TempDir
{
  public:
    // Under $TMPDIR (else /tmp), named tessaroo-<tag>-XXXXXX.
    explicit TempDir(const std::string& tag = "test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Empty when the folder could not be made.
    const std::string& Path() const { return m_path; }
    // Path() + "/" + name.
    std::string File(const std::string& name) const { return m_path + "/" + name; }

  private:
    std::string m_path;
};

class ScopedEnv
{
  public:
    // Sets name to value for the scope.
    ScopedEnv(const char* name, const std::string& value);
    // Unsets name for the scope.
    explicit ScopedEnv(const char* name);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string m_name;
    std::string m_old;
    bool m_hadOld = false;
};

// Removes a file tree (files, folders, links; never follows a link).
bool RemoveTree(const std::string& path);
// A whole file as text, "" when it cannot be read; text written to a file
// (created with mode, truncated); whether a path is there, a final link
// not followed.
std::string ReadFileText(const std::string& path);
bool WriteFileText(const std::string& path, const std::string& text, unsigned mode = 0644);
bool PathExists(const std::string& path);
// The descriptors this process holds open.
size_t OpenDescriptors();
// The names in a folder (hidden ones too, not "." and ".."), sorted.
std::vector<std::string> ListFolder(const std::string& path);
} // namespace test
} // namespace tessaroo

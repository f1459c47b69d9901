#include "tests/support/TempDir.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace tessaroo
{
namespace test
{
TempDir::TempDir(const std::string& tag)
{
    const char* base = getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/tessaroo-" + tag + "-XXXXXX";
    if (mkdtemp(&tmpl[0]))
        m_path = tmpl;
}

TempDir::~TempDir()
{
    if (!m_path.empty())
        RemoveTree(m_path);
}

std::vector<std::string> ListFolder(const std::string& path)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool RemoveTree(const std::string& path)
{
    std::error_code ec;
    if (std::filesystem::is_directory(std::filesystem::symlink_status(path, ec)))
    {
        // Tests make folders without the search bit on purpose; give it back
        // so the contents can be removed.
        chmod(path.c_str(), 0700);
        for (const std::string& name : ListFolder(path))
            RemoveTree(path + "/" + name);
    }
    return std::filesystem::remove(path, ec);
}

std::string ReadFileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFileText(const std::string& path, const std::string& text, unsigned mode)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    return chmod(path.c_str(), mode) == 0;
}

bool PathExists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

size_t OpenDescriptors()
{
    return ListFolder("/proc/self/fd").size();
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : ScopedEnv(name)
{
    setenv(name, value.c_str(), 1);
}

ScopedEnv::ScopedEnv(const char* name)
    : m_name(name), m_old(getenv(name) ? getenv(name) : ""), m_hadOld(getenv(name) != nullptr)
{
    unsetenv(name);
}

ScopedEnv::~ScopedEnv()
{
    if (m_hadOld)
        setenv(m_name.c_str(), m_old.c_str(), 1);
    else
        unsetenv(m_name.c_str());
}
} // namespace test
} // namespace tessaroo

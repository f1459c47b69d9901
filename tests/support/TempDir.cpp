#include "tests/support/TempDir.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tessaroo
{
namespace test
{
TempDir::TempDir(const std::string& tag)
{
    const char* base = getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/tessaroo-" + tag + "-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    if (mkdtemp(buf.data()))
        m_path = buf.data();
}

TempDir::~TempDir()
{
    if (!m_path.empty())
        RemoveTree(m_path);
}

std::vector<std::string> ListFolder(const std::string& path)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(path.c_str()))
    {
        while (dirent* e = readdir(d))
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool RemoveTree(const std::string& path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return false;
    if (S_ISDIR(st.st_mode))
    {
        // Tests make folders without the search bit on purpose; give it back
        // so the contents can be removed.
        chmod(path.c_str(), 0700);
        if (DIR* d = opendir(path.c_str()))
        {
            while (dirent* e = readdir(d))
            {
                if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0)
                    continue;
                RemoveTree(path + "/" + e->d_name);
            }
            closedir(d);
        }
        return rmdir(path.c_str()) == 0;
    }
    return unlink(path.c_str()) == 0;
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

ScopedEnv::ScopedEnv(const char* name) : m_name(name)
{
    if (const char* old = getenv(name))
    {
        m_old = old;
        m_hadOld = true;
    }
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

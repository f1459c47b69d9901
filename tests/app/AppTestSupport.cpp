#include "AppTestSupport.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace apptest
{
namespace
{
// Every test of this folder runs without a desktop and away from real
// disks and the real application-support folder, whatever the caller's
// environment says: the disk list points at nothing until a test maps images.
class AppEnvironment : public ::testing::Environment
{
  public:
    void SetUp() override
    {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        m_pSupport = new TempDir;
        setenv("TESSAROO_SUPPORT_DIR", m_pSupport->Path().c_str(), 1);
        setenv("TESSAROO_DISKS", (m_pSupport->Path() + "/no-disk").c_str(), 1);
    }
    void TearDown() override
    {
        delete m_pSupport;
        m_pSupport = nullptr;
    }

  private:
    TempDir* m_pSupport = nullptr;
};

const ::testing::Environment* const g_environment = ::testing::AddGlobalTestEnvironment(new AppEnvironment);
} // namespace

QApplication* App()
{
    static int argc = 1;
    static char name[] = "tessaroo_app_test";
    static char* argv[] = {name, nullptr};
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QApplication* app = new QApplication(argc, argv);
    return app;
}

TempDir::TempDir()
{
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tessaroo-app-XXXXXX";
    if (!mkdtemp(pattern.data()))
        ADD_FAILURE() << "mkdtemp failed";
    m_strPath = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(m_strPath, ec);
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : m_strName(name), m_bHadOld(false)
{
    if (const char* old = getenv(name))
    {
        m_strOld = old;
        m_bHadOld = true;
    }
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

ScopedEnv::~ScopedEnv()
{
    if (m_bHadOld)
        setenv(m_strName.c_str(), m_strOld.c_str(), 1);
    else
        unsetenv(m_strName.c_str());
}

ScopedCwd::ScopedCwd(const std::string& dir)
{
    m_strOld = std::filesystem::current_path().string();
    if (chdir(dir.c_str()) != 0)
        ADD_FAILURE() << "chdir " << dir;
}

ScopedCwd::~ScopedCwd()
{
    if (chdir(m_strOld.c_str()) != 0)
        ADD_FAILURE() << "chdir back to " << m_strOld;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const std::string& path, const std::string& data, unsigned int mode)
{
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << data;
    }
    chmod(path.c_str(), mode);
}

bool Exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::string FindTool(const std::string& name)
{
    std::string dirs = getenv("PATH") ? getenv("PATH") : "";
    dirs += ":/usr/sbin:/sbin:/usr/bin:/bin";
    std::stringstream list(dirs);
    std::string dir;
    while (std::getline(list, dir, ':'))
    {
        if (dir.empty())
            continue;
        const std::string candidate = dir + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::string();
}

bool WaitForFile(const std::string& path)
{
    for (int i = 0; i < 400; ++i)
    {
        if (Exists(path))
            return true;
        usleep(50 * 1000);
    }
    return Exists(path);
}
} // namespace apptest

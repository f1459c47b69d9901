#include "AppTestSupport.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
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
    void SetUp() override
    {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("TESSAROO_SUPPORT_DIR", m_support.Path().c_str(), 1);
        setenv("TESSAROO_DISKS", m_support.File("no-disk").c_str(), 1);
    }
    TempDir m_support{"app-support"};
};

const ::testing::Environment* const g_environment = ::testing::AddGlobalTestEnvironment(new AppEnvironment);
} // namespace

QApplication* App()
{
    static int argc = 1;
    static char name[] = "tessaroo_app_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return app;
}

ScopedCwd::ScopedCwd(const std::string& dir) : m_strOld(std::filesystem::current_path().string())
{
    if (chdir(dir.c_str()) != 0)
        ADD_FAILURE() << "chdir " << dir;
}

ScopedCwd::~ScopedCwd()
{
    if (chdir(m_strOld.c_str()) != 0)
        ADD_FAILURE() << "chdir back to " << m_strOld;
}

bool WaitForFile(const std::string& path)
{
    for (int i = 0; i < 400 && !PathExists(path); ++i)
        usleep(50 * 1000);
    return PathExists(path);
}
} // namespace apptest

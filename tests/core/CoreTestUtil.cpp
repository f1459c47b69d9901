#include "tests/core/CoreTestUtil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <memory>

namespace coretest
{
namespace
{
std::vector<std::string> g_lines;

void Collect(const char* message)
{
    g_lines.push_back(message);
}

// Every core test runs with FAT dates read in UTC (their conversion uses the
// local time zone), no disks but those a test maps, and a support folder of
// its own.
class CoreEnvironment : public ::testing::Environment
{
  public:
    void SetUp() override
    {
        setenv("TZ", "UTC", 1);
        tzset();
        unsetenv("TESSAROO_DISKS");
        m_support.reset(new tessaroo::test::TempDir("core-support"));
        setenv("TESSAROO_SUPPORT_DIR", m_support->Path().c_str(), 1);
    }
    void TearDown() override { m_support.reset(); }

  private:
    std::unique_ptr<tessaroo::test::TempDir> m_support;
};

::testing::Environment* const g_environment = ::testing::AddGlobalTestEnvironment(new CoreEnvironment);
} // namespace

LogCapture::LogCapture()
{
    g_lines.clear();
    tessaroo::SetLogSink(&Collect);
}

LogCapture::~LogCapture()
{
    tessaroo::SetLogSink(nullptr);
}

const std::vector<std::string>& LogCapture::Lines() const
{
    return g_lines;
}

} // namespace coretest

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <memory>

namespace coretest
{
namespace
{
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
} // namespace coretest

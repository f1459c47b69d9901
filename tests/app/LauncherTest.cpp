// The launcher: administrator rights through a fake pkexec on PATH. The fake
// records its arguments and then waits for a release file, so a launcher
// that waited for the elevated copy would be caught still running.
#include "AppTestSupport.h"

#include "app/CAdminAuthorization.h"
#include "app/StartUp.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace apptest;

namespace
{
const char* const FAKE_PKEXEC = R"(#!/bin/sh
for a in "$@"; do printf '%s\n' "$a"; done > "$FAKE_PKEXEC_DIR/args.part"
mv "$FAKE_PKEXEC_DIR/args.part" "$FAKE_PKEXEC_DIR/args"
i=0
while [ ! -e "$FAKE_PKEXEC_DIR/release" ] && [ $i -lt 400 ]; do sleep 0.05; i=$((i+1)); done
touch "$FAKE_PKEXEC_DIR/done"
)";

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::stringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

class LauncherTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_FALSE(FindTool("env").empty());
        m_strBin = m_dir / "bin";
        m_strLog = m_dir / "log";
        ASSERT_EQ(mkdir(m_strBin.c_str(), 0755), 0);
        ASSERT_EQ(mkdir(m_strLog.c_str(), 0755), 0);
        WriteFile(m_strBin + "/pkexec", FAKE_PKEXEC, 0755);
    }
    void TearDown() override
    {
        // The fake must not outlive the test, and its keeper must be reaped.
        WriteFile(m_strLog + "/release", "");
        if (Exists(m_strLog + "/args"))
            WaitForFile(m_strLog + "/done");
        while (waitpid(-1, nullptr, WNOHANG) > 0)
        {
        }
    }

    TempDir m_dir;
    std::string m_strBin;
    std::string m_strLog;
};

TEST_F(LauncherTest, StartsPkexecWithEnvAndStartAndDoesNotWait)
{
    TempDir cwd;
    ScopedCwd in(cwd.Path());
    ScopedEnv path("PATH", (m_strBin + ":/usr/bin:/bin").c_str());
    ScopedEnv fake("FAKE_PKEXEC_DIR", m_strLog.c_str());
    ScopedEnv display("DISPLAY", ":42");
    ScopedEnv xauth("XAUTHORITY", "/home/u/.Xauthority");
    ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
    ScopedEnv runtime("XDG_RUNTIME_DIR", "/run/user/1000");
    ScopedEnv disks("TESSAROO_DISKS", "card.img::/dev/sdz");
    ScopedEnv support("TESSAROO_SUPPORT_DIR", "/var/tmp/tessaroo");

    EXPECT_EQ(tessaroo::app::RunLauncher("/opt/tessaroo/bin/tessaroo"), 0);
    // The launcher is back while the elevated request still runs.
    ASSERT_TRUE(WaitForFile(m_strLog + "/args"));
    EXPECT_FALSE(Exists(m_strLog + "/done"));

    const std::vector<std::string> args = Lines(ReadFile(m_strLog + "/args"));
    const std::vector<std::string> expected = {
        FindTool("env").find("/usr/bin/") == 0 ? "/usr/bin/env" : FindTool("env"),
        "DISPLAY=:42",
        "XAUTHORITY=/home/u/.Xauthority",
        "XDG_RUNTIME_DIR=/run/user/1000",
        "TESSAROO_DISKS=" + cwd.Path() + "/card.img::/dev/sdz",
        "TESSAROO_SUPPORT_DIR=/var/tmp/tessaroo",
        "/opt/tessaroo/bin/tessaroo",
        "start",
    };
    EXPECT_EQ(args, expected);

    WriteFile(m_strLog + "/release", "");
    EXPECT_TRUE(WaitForFile(m_strLog + "/done"));
}

TEST_F(LauncherTest, NoPkexecEndsQuietly)
{
    TempDir empty;
    ScopedEnv path("PATH", empty.Path().c_str());
    CAdminAuthorization auth;
    EXPECT_EQ(auth.Create(), ENOENT);
    EXPECT_NE(auth.CopyRights(), 0);
    const char* const args[] = {"start", nullptr};
    EXPECT_NE(auth.ExecuteWithPrivileges("/opt/tessaroo", args), 0) << "nothing starts without a request";
    EXPECT_EQ(tessaroo::app::RunLauncher("/opt/tessaroo"), 0);
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "no child was started";
}

TEST_F(LauncherTest, RelativePathEntriesAreNotSearched)
{
    ScopedCwd in(m_strBin);
    ScopedEnv path("PATH", ".::bin");
    CAdminAuthorization auth;
    EXPECT_EQ(auth.Create(), ENOENT) << "a pkexec in the current directory must not be run";
}

} // namespace

// QStringList parameters print as their words.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QStringList& list, std::ostream* os)
{
    *os << '"' << list.join(' ').toStdString() << '"';
}
QT_END_NAMESPACE

namespace
{
// The executable itself: no argument, or two, makes the launcher, which
// hands its own absolute path and "start" to pkexec and ends with 0.
class LauncherProcessTest : public LauncherTest, public ::testing::WithParamInterface<QStringList>
{
};

TEST_P(LauncherProcessTest, ExecutableRelaunchesItselfElevated)
{
    TempDir cwd;
    WriteFile(m_strLog + "/release", "");
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PATH", QString::fromStdString(m_strBin + ":/usr/bin:/bin"));
    env.insert("FAKE_PKEXEC_DIR", QString::fromStdString(m_strLog));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(QString::fromStdString(cwd.Path()));
    process.start(TESSAROO_APP_EXE, GetParam());
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);

    ASSERT_TRUE(WaitForFile(m_strLog + "/args"));
    const std::vector<std::string> args = Lines(ReadFile(m_strLog + "/args"));
    ASSERT_GE(args.size(), 3u);
    char exe[4096];
    ASSERT_NE(realpath(TESSAROO_APP_EXE, exe), nullptr);
    EXPECT_EQ(args[args.size() - 2], exe);
    EXPECT_EQ(args.back(), "start");
    EXPECT_TRUE(WaitForFile(m_strLog + "/done"));
    EXPECT_FALSE(Exists(cwd / "Out.txt")) << "the launcher shows no window";
}

INSTANTIATE_TEST_SUITE_P(App, LauncherProcessTest, ::testing::Values(QStringList{}, QStringList{"a", "b"}),
                         [](const ::testing::TestParamInfo<QStringList>& param) {
                             return param.param.isEmpty() ? std::string("NoArgument")
                                                          : std::string("TwoArguments");
                         });

TEST(LauncherProcess, NoPkexecEndsWithZeroAndNoWindow)
{
    TempDir cwd;
    TempDir empty;
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PATH", QString::fromStdString(empty.Path()));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(QString::fromStdString(cwd.Path()));
    process.start(TESSAROO_APP_EXE, QStringList{});
    // A window would keep the process in its event loop until the timeout.
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
}
} // namespace

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
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

class LauncherTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_EQ(mkdir(m_strBin.c_str(), 0755), 0);
        ASSERT_EQ(mkdir(m_strLog.c_str(), 0755), 0);
        WriteFileText(m_strBin + "/pkexec", FAKE_PKEXEC, 0755);
    }
    void TearDown() override
    {
        // The fake must not outlive the test, and its keeper must be reaped.
        WriteFileText(m_strLog + "/release", "");
        if (PathExists(m_strLog + "/args"))
            WaitForFile(m_strLog + "/done");
        while (waitpid(-1, nullptr, WNOHANG) > 0)
        {
        }
    }
    // The arguments the fake was given, one a line.
    std::string Args() { return ReadFileText(m_strLog + "/args"); }
    TempDir m_dir;
    const std::string m_strBin = m_dir.File("bin");
    const std::string m_strLog = m_dir.File("log");
};

TEST_F(LauncherTest, StartsPkexecWithEnvAndStartAndDoesNotWait)
{
    TempDir cwd;
    ScopedCwd in(cwd.Path());
    ScopedEnv path("PATH", m_strBin + ":/usr/bin:/bin"), fake("FAKE_PKEXEC_DIR", m_strLog);
    ScopedEnv display("DISPLAY", ":42"), xauth("XAUTHORITY", "/home/u/.Xauthority"),
        wayland("WAYLAND_DISPLAY");
    ScopedEnv runtime("XDG_RUNTIME_DIR", "/run/user/1000"), disks("TESSAROO_DISKS", "card.img::/dev/sdz");
    ScopedEnv support("TESSAROO_SUPPORT_DIR", "/var/tmp/tessaroo");

    EXPECT_EQ(tessaroo::app::RunLauncher("/opt/tessaroo/bin/tessaroo"), 0);
    // The launcher is back while the elevated request still runs.
    ASSERT_TRUE(WaitForFile(m_strLog + "/args"));
    EXPECT_FALSE(PathExists(m_strLog + "/done"));
    const std::string env = PathExists("/usr/bin/env") ? "/usr/bin/env" : "/bin/env";
    EXPECT_EQ(Args(), env +
                          "\n"
                          "DISPLAY=:42\n"
                          "XAUTHORITY=/home/u/.Xauthority\n"
                          "XDG_RUNTIME_DIR=/run/user/1000\n"
                          "TESSAROO_DISKS=" +
                          cwd.Path() +
                          "/card.img::/dev/sdz\n"
                          "TESSAROO_SUPPORT_DIR=/var/tmp/tessaroo\n"
                          "/opt/tessaroo/bin/tessaroo\n"
                          "start\n");
    WriteFileText(m_strLog + "/release", "");
    EXPECT_TRUE(WaitForFile(m_strLog + "/done"));
}

// A pkexec found only through relative PATH entries (the current directory
// holds one) is not run: the launcher ends quietly and starts nothing.
TEST_F(LauncherTest, NoPkexecOnTheAbsolutePathEndsQuietly)
{
    ScopedCwd in(m_strBin);
    ScopedEnv path("PATH", ".::bin");
    CAdminAuthorization auth;
    EXPECT_EQ(auth.Create(), ENOENT);
    EXPECT_NE(auth.CopyRights(), 0);
    const char* const args[] = {"start", nullptr};
    EXPECT_NE(auth.ExecuteWithPrivileges("/opt/tessaroo", args), 0) << "nothing starts without a request";
    EXPECT_EQ(tessaroo::app::RunLauncher("/opt/tessaroo"), 0);
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "no child was started";
}

// The executable with no argument, or two, is the launcher: it hands its
// own absolute path and "start" to pkexec and ends with 0.
TEST_F(LauncherTest, ExecutableRelaunchesItselfElevated)
{
    char exe[4096];
    ASSERT_NE(realpath(TESSAROO_APP_EXE, exe), nullptr);
    WriteFileText(m_strLog + "/release", "");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PATH", QString::fromStdString(m_strBin + ":/usr/bin:/bin"));
    env.insert("FAKE_PKEXEC_DIR", QString::fromStdString(m_strLog));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    for (const QStringList& args : {QStringList{}, QStringList{"a", "b"}})
    {
        SCOPED_TRACE(args.join(' ').toStdString());
        TempDir cwd;
        unlink((m_strLog + "/args").c_str());
        unlink((m_strLog + "/done").c_str());
        QProcess process;
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(QString::fromStdString(cwd.Path()));
        process.start(TESSAROO_APP_EXE, args);
        // A window would keep the process in its event loop until the timeout.
        ASSERT_TRUE(process.waitForFinished(60000));
        EXPECT_TRUE(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0);
        ASSERT_TRUE(WaitForFile(m_strLog + "/args"));
        const std::string tail = std::string("\n") + exe + "\nstart\n";
        const std::string got = Args();
        EXPECT_TRUE(got.size() > tail.size() && got.compare(got.size() - tail.size(), tail.size(), tail) == 0)
            << got;
        EXPECT_TRUE(WaitForFile(m_strLog + "/done"));
        EXPECT_FALSE(PathExists(cwd.File("Out.txt"))) << "the launcher shows no window";
    }
}
} // namespace

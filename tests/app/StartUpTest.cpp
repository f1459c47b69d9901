// Start-up diagnostics and clean-up: the "Log.txt" lines, the core's log
// routed into them, "Out.txt" as standard error, the temporary-file sweep,
// the support folder and the 8-bit display conversions.
#include "AppTestSupport.h"

#include "app/StartUp.h"
#include "core/Log.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace apptest;

namespace
{
// Installs the program's handler for one test and removes it afterwards, so
// that the other tests keep the default one.
class LogTest : public ::testing::Test
{
  protected:
    LogTest() : m_cwd(m_dir.Path()) { tessaroo::app::InstallDiagnostics(); }
    ~LogTest() override
    {
        qInstallMessageHandler(nullptr);
        tessaroo::SetLogSink(nullptr);
    }
    std::string Log() { return ReadFileText(m_dir.File("Log.txt")); }

    TempDir m_dir;
    ScopedCwd m_cwd;
};

// The core's log lands in "Log.txt" after what earlier runs wrote, its
// UTF-8 intact.
TEST_F(LogTest, CoreMessagesLandInTheLog)
{
    WriteFileText(m_dir.File("Log.txt"), "Debug: earlier run\n");
    tessaroo::CoreLog("found %s\n", "Gr\xC3\xB6\xC3\x9F"
                                    "e \xF0\x9F\x98\x80.jpg");
    const std::string log = Log();
    EXPECT_EQ(log.find("Debug: earlier run\n"), 0u) << log;
    EXPECT_NE(log.find("found Gr\xC3\xB6\xC3\x9F"
                       "e \xF0\x9F\x98\x80.jpg"),
              std::string::npos)
        << log;
}

TEST_F(LogTest, LogNameThatIsALinkIsNotFollowed)
{
    WriteFileText(m_dir.File("victim"), "keep");
    ASSERT_EQ(symlink(m_dir.File("victim").c_str(), m_dir.File("Log.txt").c_str()), 0);
    qDebug("must not land in the victim");
    EXPECT_EQ(ReadFileText(m_dir.File("victim")), "keep");
}

TEST(DeleteTmpFile, RemovesTmpEntriesAndLeavesSubfoldersAlone)
{
    TempDir dir;
    TempDir cwd;
    ScopedCwd in(cwd.Path());
    const std::string log = dir.File("ScanLog");
    ASSERT_EQ(mkdir(log.c_str(), 0755), 0);
    const std::vector<std::string> removed = {"tmp.jpg", "a.tmp.png", "xtmp.y"};
    const std::vector<std::string> kept = {"tmp", "config", "config.tmp", "TMP.JPG", "1_FastFat"};
    for (const std::string& name : removed)
        WriteFileText(log + "/" + name, "x");
    for (const std::string& name : kept)
        WriteFileText(log + "/" + name, "x");
    ASSERT_EQ(mkdir((log + "/sub").c_str(), 0755), 0);
    WriteFileText(log + "/sub/tmp.jpg", "x");
    ASSERT_EQ(mkdir((log + "/tmp.dir").c_str(), 0755), 0);
    WriteFileText(log + "/tmp.dir/tmp.bmp", "x");
    WriteFileText(dir.File("tmp.outside"), "x");
    ASSERT_EQ(symlink(dir.File("tmp.outside").c_str(), (log + "/tmp.link").c_str()), 0);

    EXPECT_EQ(DeleteTmpFile((log + "/").c_str()), 1);

    for (const std::string& name : removed)
        EXPECT_FALSE(PathExists(log + "/" + name)) << name;
    EXPECT_FALSE(PathExists(log + "/tmp.link"));
    for (const std::string& name : kept)
        EXPECT_TRUE(PathExists(log + "/" + name)) << name;
    EXPECT_TRUE(PathExists(log + "/sub/tmp.jpg"));
    EXPECT_TRUE(PathExists(log + "/tmp.dir/tmp.bmp"));
    EXPECT_TRUE(PathExists(dir.File("tmp.outside"))) << "a link is removed, not what it points at";
    EXPECT_EQ(std::filesystem::current_path().string(), cwd.Path())
        << "the sweep keeps the current directory";
}

TEST(DeleteTmpFile, FolderThatCannotBeListed)
{
    TempDir dir;
    EXPECT_EQ(DeleteTmpFile(dir.File("missing/").c_str()), 0);
    EXPECT_EQ(DeleteTmpFile(nullptr), 0);
    // The scan-log folder replaced by a link to another folder is not swept.
    const std::string elsewhere = dir.File("elsewhere");
    ASSERT_EQ(mkdir(elsewhere.c_str(), 0755), 0);
    WriteFileText(elsewhere + "/tmp.jpg", "x");
    ASSERT_EQ(symlink(elsewhere.c_str(), dir.File("ScanLog").c_str()), 0);
    EXPECT_EQ(DeleteTmpFile(dir.File("ScanLog/").c_str()), 0);
    EXPECT_TRUE(PathExists(elsewhere + "/tmp.jpg"));
}

TEST(OutFile, CatchesStandardErrorAndIsDeletedAtTheEnd)
{
    TempDir dir;
    ScopedCwd in(dir.Path());
    WriteFileText(dir.File("Out.txt"), "left by a crash\n");
    struct stat before, after, st;
    ASSERT_EQ(fstat(STDERR_FILENO, &before), 0);

    tessaroo::app::OUT_FILE out;
    ASSERT_TRUE(tessaroo::app::OpenOutFile(out));
    fprintf(stderr, "engine message\n");
    fflush(stderr);
    EXPECT_EQ(ReadFileText(dir.File("Out.txt")), "left by a crash\nengine message\n")
        << "opened without truncation";
    ASSERT_EQ(stat(dir.File("Out.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);

    // Leaving the folder must not change which file is deleted.
    TempDir other;
    ScopedCwd elsewhere(other.Path());
    WriteFileText(other.File("Out.txt"), "not ours");
    tessaroo::app::CloseOutFile(out);
    EXPECT_FALSE(PathExists(dir.File("Out.txt")));
    EXPECT_EQ(ReadFileText(other.File("Out.txt")), "not ours");
    ASSERT_EQ(fstat(STDERR_FILENO, &after), 0);
    EXPECT_TRUE(after.st_ino == before.st_ino && after.st_dev == before.st_dev)
        << "standard error is given back";
}

// A link under the name is neither opened nor deleted; a file swapped in
// under the name while the program ran is not deleted.
TEST(OutFile, OnlyTheFileItOpenedIsDeleted)
{
    TempDir dir;
    ScopedCwd in(dir.Path());
    WriteFileText(dir.File("victim"), "keep");
    ASSERT_EQ(symlink(dir.File("victim").c_str(), dir.File("Out.txt").c_str()), 0);
    tessaroo::app::OUT_FILE linked;
    EXPECT_FALSE(tessaroo::app::OpenOutFile(linked));
    tessaroo::app::CloseOutFile(linked);
    EXPECT_TRUE(PathExists(dir.File("Out.txt")));
    EXPECT_EQ(ReadFileText(dir.File("victim")), "keep");

    ASSERT_EQ(unlink(dir.File("Out.txt").c_str()), 0);
    tessaroo::app::OUT_FILE out;
    ASSERT_TRUE(tessaroo::app::OpenOutFile(out));
    ASSERT_EQ(rename(dir.File("Out.txt").c_str(), dir.File("moved").c_str()), 0);
    WriteFileText(dir.File("Out.txt"), "someone else's");
    tessaroo::app::CloseOutFile(out);
    EXPECT_EQ(ReadFileText(dir.File("Out.txt")), "someone else's");
}

// The window's start-up hands the privilege to the core's choice: a
// privileged run keeps the system folder, a user's goes to their cache.
TEST(SupportDir, ChosenByPrivilege)
{
    ScopedEnv set("TESSAROO_SUPPORT_DIR"), xdg("XDG_CACHE_HOME", "/c");
    tessaroo::app::ChooseSupportDir(true);
    EXPECT_EQ(getenv("TESSAROO_SUPPORT_DIR"), nullptr);
    tessaroo::app::ChooseSupportDir(false);
    EXPECT_STREQ(getenv("TESSAROO_SUPPORT_DIR"), "/c/tessaroo");
}
} // namespace

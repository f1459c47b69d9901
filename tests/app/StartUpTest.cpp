// Start-up diagnostics and clean-up: the "Log.txt" lines, the core's log
// routed into them, "Out.txt" as standard error, the temporary-file sweep,
// the support folder and the 8-bit display conversions.
#include "AppTestSupport.h"

#include "app/StartUp.h"
#include "core/Log.h"
#include "tests/support/RunTool.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

using namespace apptest;
using tessaroo::test::RunSucceeds;

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
    TempDir m_dir;
    ScopedCwd m_cwd;
};

// The core's log lands in "Log.txt" after what earlier runs wrote, its
// UTF-8 intact; a "Log.txt" that is a link is not followed.
TEST_F(LogTest, CoreMessagesLandInTheLogAndALinkIsNotFollowed)
{
    WriteFileText(m_dir.File("Log.txt"), "Debug: earlier run\n");
    const std::string name = "Gr\xC3\xB6\xC3\x9F"
                             "e \xF0\x9F\x98\x80.jpg";
    tessaroo::CoreLog("found %s\n", name.c_str());
    const std::string log = ReadFileText(m_dir.File("Log.txt"));
    EXPECT_EQ(log.find("Debug: earlier run\n"), 0u) << log;
    EXPECT_NE(log.find("found " + name), std::string::npos) << log;

    WriteFileText(m_dir.File("victim"), "keep");
    ASSERT_EQ(unlink(m_dir.File("Log.txt").c_str()), 0);
    ASSERT_EQ(symlink(m_dir.File("victim").c_str(), m_dir.File("Log.txt").c_str()), 0);
    qDebug("must not land in the victim");
    EXPECT_EQ(ReadFileText(m_dir.File("victim")), "keep");
}

// The sweep removes the "tmp" entries of the scan-log folder itself: a link
// rather than what it points at, nothing below it, nothing elsewhere; a
// folder that cannot be listed, or one replaced by a link, is not swept.
TEST(DeleteTmpFile, RemovesTmpEntriesOfTheFolderOnly)
{
    TempDir dir, cwd;
    ScopedCwd in(cwd.Path());
    const std::string log = dir.File("ScanLog");
    ASSERT_TRUE(RunSucceeds("mkdir -p " + log + "/sub " + log + "/tmp.dir && cd " + log +
                            " && touch tmp.jpg a.tmp.png xtmp.y tmp config config.tmp TMP.JPG 1_FastFat "
                            "sub/tmp.jpg tmp.dir/tmp.bmp ../tmp.outside && ln -s ../tmp.outside tmp.link"));

    EXPECT_EQ(DeleteTmpFile((log + "/").c_str()), 1);
    for (const char* name : {"tmp.jpg", "a.tmp.png", "xtmp.y", "tmp.link"})
        EXPECT_FALSE(PathExists(log + "/" + name)) << name;
    for (const char* name : {"tmp", "config", "config.tmp", "TMP.JPG", "1_FastFat", "sub/tmp.jpg",
                             "tmp.dir/tmp.bmp", "../tmp.outside"})
        EXPECT_TRUE(PathExists(log + "/" + name)) << name;
    EXPECT_EQ(std::filesystem::current_path().string(), cwd.Path())
        << "the sweep keeps the current directory";

    EXPECT_EQ(DeleteTmpFile(dir.File("missing/").c_str()), 0);
    EXPECT_EQ(DeleteTmpFile(nullptr), 0);
    WriteFileText(log + "/tmp.jpg", "x");
    ASSERT_EQ(symlink(log.c_str(), dir.File("linked").c_str()), 0);
    EXPECT_EQ(DeleteTmpFile(dir.File("linked/").c_str()), 0);
    EXPECT_TRUE(PathExists(log + "/tmp.jpg"));
}

// "Out.txt" catches standard error after what a crashed run left, and the
// file it opened is deleted at the end wherever the current directory is by
// then; standard error is given back. A link under the name is neither
// opened nor deleted; a file swapped in under the name is not deleted.
TEST(OutFile, CatchesStandardErrorAndOnlyTheFileItOpenedIsDeleted)
{
    TempDir dir;
    ScopedCwd in(dir.Path());
    WriteFileText(dir.File("victim"), "keep");
    ASSERT_EQ(symlink(dir.File("victim").c_str(), dir.File("Out.txt").c_str()), 0);
    tessaroo::app::OUT_FILE out;
    EXPECT_FALSE(tessaroo::app::OpenOutFile(out));
    tessaroo::app::CloseOutFile(out);
    EXPECT_TRUE(PathExists(dir.File("Out.txt")));
    EXPECT_EQ(ReadFileText(dir.File("victim")), "keep");

    ASSERT_EQ(unlink(dir.File("Out.txt").c_str()), 0);
    WriteFileText(dir.File("Out.txt"), "left by a crash\n");
    struct stat before, after;
    ASSERT_EQ(fstat(STDERR_FILENO, &before), 0);
    ASSERT_TRUE(tessaroo::app::OpenOutFile(out));
    fprintf(stderr, "engine message\n");
    fflush(stderr);
    EXPECT_EQ(ReadFileText(dir.File("Out.txt")), "left by a crash\nengine message\n")
        << "opened without truncation";
    {
        TempDir other;
        ScopedCwd elsewhere(other.Path());
        WriteFileText(other.File("Out.txt"), "not ours");
        tessaroo::app::CloseOutFile(out);
        EXPECT_FALSE(PathExists(dir.File("Out.txt")));
        EXPECT_EQ(ReadFileText(other.File("Out.txt")), "not ours");
    }
    ASSERT_EQ(fstat(STDERR_FILENO, &after), 0);
    EXPECT_TRUE(after.st_ino == before.st_ino && after.st_dev == before.st_dev)
        << "standard error is given back";

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

// Start-up diagnostics and clean-up: the "Log.txt" lines, the core's log
// routed into them, "Out.txt" as standard error, the temporary-file sweep,
// and the 8-bit display conversions.
#include "AppTestSupport.h"

#include "app/StartUp.h"
#include "app/TextCodec.h"
#include "core/Log.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdio>
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
    std::string Log() { return ReadFile(m_dir / "Log.txt"); }

    TempDir m_dir;
    ScopedCwd m_cwd;
};

TEST_F(LogTest, DebugMessagesBecomeLinesOthersAreDropped)
{
    qDebug("plain");
    qDebug("ends with a line end\n");
    qWarning("a warning");
    qCritical("a critical message");
    qDebug("%s = %d\n", "u64StartSector", 63);
    EXPECT_EQ(Log(), "Debug: plain\n"
                     "Debug: ends with a line end\n\n"
                     "Debug: u64StartSector = 63\n\n");
}

TEST_F(LogTest, LogGrowsAcrossRuns)
{
    WriteFile(m_dir / "Log.txt", "Debug: earlier run\n");
    qDebug("later");
    EXPECT_EQ(Log(), "Debug: earlier run\nDebug: later\n");
}

TEST_F(LogTest, CoreLogArrivesAsDebugWithGb2312Decoded)
{
    // "你好.jpg" in GB2312, as a FAT short name would carry it.
    tessaroo::CoreLog("found %s\n", "\xC4\xE3\xBA\xC3.jpg");
    EXPECT_EQ(Log(), "Debug: found \xE4\xBD\xA0\xE5\xA5\xBD.jpg\n\n");
}

TEST_F(LogTest, LogNameThatIsALinkIsNotFollowed)
{
    const std::string victim = m_dir / "victim";
    WriteFile(victim, "keep");
    ASSERT_EQ(symlink(victim.c_str(), (m_dir / "Log.txt").c_str()), 0);
    qDebug("must not land in the victim");
    EXPECT_EQ(ReadFile(victim), "keep");
}

// --- DeleteTmpFile --------------------------------------------------------------

TEST(DeleteTmpFile, RemovesTmpEntriesAndLeavesSubfoldersAlone)
{
    TempDir dir;
    const std::string log = dir / "ScanLog";
    ASSERT_EQ(mkdir(log.c_str(), 0755), 0);
    const std::vector<std::string> removed = {"tmp.jpg", "a.tmp.png", "xtmp.y", "tmp.link"};
    const std::vector<std::string> kept = {"tmp", "config", "config.tmp", "TMP.JPG", "1_FastFat"};
    for (const std::string& name : removed)
        if (name != "tmp.link")
            WriteFile(log + "/" + name, "x");
    for (const std::string& name : kept)
        WriteFile(log + "/" + name, "x");
    ASSERT_EQ(mkdir((log + "/sub").c_str(), 0755), 0);
    WriteFile(log + "/sub/tmp.jpg", "x");
    ASSERT_EQ(mkdir((log + "/tmp.dir").c_str(), 0755), 0);
    WriteFile(log + "/tmp.dir/tmp.bmp", "x");
    const std::string outside = dir / "tmp.outside";
    WriteFile(outside, "x");
    ASSERT_EQ(symlink(outside.c_str(), (log + "/tmp.link").c_str()), 0);

    EXPECT_EQ(DeleteTmpFile((log + "/").c_str()), 1);

    for (const std::string& name : removed)
        EXPECT_FALSE(Exists(log + "/" + name)) << name;
    for (const std::string& name : kept)
        EXPECT_TRUE(Exists(log + "/" + name)) << name;
    EXPECT_TRUE(Exists(log + "/sub/tmp.jpg"));
    EXPECT_TRUE(Exists(log + "/tmp.dir/tmp.bmp"));
    EXPECT_TRUE(Exists(outside)) << "a link is removed, not what it points at";
}

TEST(DeleteTmpFile, FolderThatCannotBeListed)
{
    TempDir dir;
    EXPECT_EQ(DeleteTmpFile((dir / "missing/").c_str()), 0);
    EXPECT_EQ(DeleteTmpFile(nullptr), 0);
    // The scan-log folder replaced by a link to another folder is not swept.
    const std::string elsewhere = dir / "elsewhere";
    ASSERT_EQ(mkdir(elsewhere.c_str(), 0755), 0);
    WriteFile(elsewhere + "/tmp.jpg", "x");
    ASSERT_EQ(symlink(elsewhere.c_str(), (dir / "ScanLog").c_str()), 0);
    EXPECT_EQ(DeleteTmpFile((dir / "ScanLog/").c_str()), 0);
    EXPECT_TRUE(Exists(elsewhere + "/tmp.jpg"));
}

TEST(DeleteTmpFile, KeepsTheCurrentDirectory)
{
    TempDir dir;
    TempDir cwd;
    ScopedCwd in(cwd.Path());
    WriteFile(dir / "tmp.png", "x");
    ASSERT_EQ(DeleteTmpFile(dir.Path().c_str()), 1);
    char buf[4096];
    ASSERT_NE(getcwd(buf, sizeof(buf)), nullptr);
    EXPECT_EQ(std::string(buf), cwd.Path());
}

// --- "Out.txt" -------------------------------------------------------------------------

TEST(OutFile, CatchesStandardErrorAndIsDeletedAtTheEnd)
{
    TempDir dir;
    ScopedCwd in(dir.Path());
    WriteFile(dir / "Out.txt", "left by a crash\n");
    struct stat before;
    ASSERT_EQ(fstat(STDERR_FILENO, &before), 0);

    tessaroo::app::OUT_FILE out;
    ASSERT_TRUE(tessaroo::app::OpenOutFile(out));
    fprintf(stderr, "engine message\n");
    fflush(stderr);
    EXPECT_EQ(ReadFile(dir / "Out.txt"), "left by a crash\nengine message\n") << "opened without truncation";
    struct stat st;
    ASSERT_EQ(stat((dir / "Out.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);

    // Leaving the folder must not change which file is deleted.
    TempDir other;
    ScopedCwd elsewhere(other.Path());
    WriteFile(other / "Out.txt", "not ours");
    tessaroo::app::CloseOutFile(out);
    EXPECT_FALSE(Exists(dir / "Out.txt"));
    EXPECT_EQ(ReadFile(other / "Out.txt"), "not ours");
    struct stat after;
    ASSERT_EQ(fstat(STDERR_FILENO, &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "standard error is given back";
    EXPECT_EQ(after.st_dev, before.st_dev);
}

TEST(OutFile, ALinkUnderTheNameIsNotOpenedNorDeleted)
{
    TempDir dir;
    ScopedCwd in(dir.Path());
    const std::string victim = dir / "victim";
    WriteFile(victim, "keep");
    ASSERT_EQ(symlink(victim.c_str(), (dir / "Out.txt").c_str()), 0);
    tessaroo::app::OUT_FILE out;
    EXPECT_FALSE(tessaroo::app::OpenOutFile(out));
    tessaroo::app::CloseOutFile(out);
    EXPECT_TRUE(Exists(dir / "Out.txt"));
    EXPECT_EQ(ReadFile(victim), "keep");
}

TEST(OutFile, AFileSwappedInMeanwhileIsNotDeleted)
{
    TempDir dir;
    ScopedCwd in(dir.Path());
    tessaroo::app::OUT_FILE out;
    ASSERT_TRUE(tessaroo::app::OpenOutFile(out));
    ASSERT_EQ(rename((dir / "Out.txt").c_str(), (dir / "moved").c_str()), 0);
    WriteFile(dir / "Out.txt", "someone else's");
    tessaroo::app::CloseOutFile(out);
    EXPECT_EQ(ReadFile(dir / "Out.txt"), "someone else's");
}

// --- support folder of a window started without rights ------------------------------

struct SUPPORT_CASE
{
    const char* szName;
    bool bPrivileged;
    const char* szSet;  // TESSAROO_SUPPORT_DIR before, null when unset
    const char* szXdg;  // XDG_CACHE_HOME, null when unset
    const char* szHome; // HOME
    const char* szWant; // TESSAROO_SUPPORT_DIR after, null when unset
};

void PrintTo(const SUPPORT_CASE& c, std::ostream* os)
{
    *os << c.szName;
}

class SupportDirTest : public ::testing::TestWithParam<SUPPORT_CASE>
{
};

TEST_P(SupportDirTest, Chosen)
{
    const SUPPORT_CASE& c = GetParam();
    ScopedEnv set("TESSAROO_SUPPORT_DIR", c.szSet);
    ScopedEnv xdg("XDG_CACHE_HOME", c.szXdg);
    ScopedEnv home("HOME", c.szHome);
    tessaroo::app::ChooseSupportDir(c.bPrivileged);
    const char* now = getenv("TESSAROO_SUPPORT_DIR");
    if (c.szWant)
        EXPECT_STREQ(now, c.szWant);
    else
        EXPECT_EQ(now, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    App, SupportDirTest,
    ::testing::Values(SUPPORT_CASE{"RootKeepsTheSystemFolder", true, nullptr, "/c", "/h", nullptr},
                      SUPPORT_CASE{"UserGetsTheCacheFolder", false, nullptr, "/c", "/h", "/c/tessaroo"},
                      SUPPORT_CASE{"RelativeCacheIsIgnored", false, nullptr, "c", "/h", "/h/.cache/tessaroo"},
                      SUPPORT_CASE{"NoCacheVariable", false, nullptr, nullptr, "/h", "/h/.cache/tessaroo"},
                      SUPPORT_CASE{"SetFolderWins", false, "/mine", "/c", "/h", "/mine"}),
    [](const ::testing::TestParamInfo<SUPPORT_CASE>& param) { return std::string(param.param.szName); });

// --- 8-bit text ------------------------------------------------------------------------------

struct CODEC_CASE
{
    const char* szName;
    const char* szGb;      // 8-bit (GB2312) form
    const char* szDisplay; // the display string, as UTF-8
};

void PrintTo(const CODEC_CASE& c, std::ostream* os)
{
    *os << c.szName;
}

class TextCodecTest : public ::testing::TestWithParam<CODEC_CASE>
{
};

TEST_P(TextCodecTest, BothWays)
{
    const CODEC_CASE& c = GetParam();
    EXPECT_EQ(GbToDisplay(c.szGb), QString::fromUtf8(c.szDisplay));
    EXPECT_EQ(DisplayToGb(QString::fromUtf8(c.szDisplay)), QByteArray(c.szGb));
}

INSTANTIATE_TEST_SUITE_P(App, TextCodecTest,
                         ::testing::Values(CODEC_CASE{"Ascii", "IMG_0001.JPG", "IMG_0001.JPG"},
                                           CODEC_CASE{"Chinese", "\xC4\xE3\xBA\xC3.jpg",
                                                      "\xE4\xBD\xA0\xE5\xA5\xBD.jpg"},
                                           CODEC_CASE{"Empty", "", ""}),
                         [](const ::testing::TestParamInfo<CODEC_CASE>& param)
                         { return std::string(param.param.szName); });

TEST(TextCodec, NullAndUnrepresentable)
{
    EXPECT_TRUE(GbToDisplay(nullptr).isEmpty());
    // An emoji has no GB2312 form.
    EXPECT_EQ(DisplayToGb(QString::fromUtf8("a\xF0\x9F\x98\x80"
                                            "b")),
              QByteArray("a?b"));
}
} // namespace

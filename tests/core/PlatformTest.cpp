// Where disks and the support folder live: the disk-number mapping through
// TESSAROO_DISKS and /sys/block, the support and scan-log folders and the
// permission bits of the folders made. (Read-only opens are checked where
// the disk reader takes them.)
#include "core/Platform.h"
#include "tests/support/TempDir.h"
#include "tests/support/ImageFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <sys/stat.h>

using namespace tessaroo;
using namespace tessaroo::test;

TEST(DiskNumberMapping, NthEntryCountingFromZero)
{
    const struct
    {
        const char* list;
        std::vector<std::string> paths; // disks 0, 1, 2, ...; "" where there is none
    } cases[] = {
        {"/img/a.img:/dev/sdb:/img/c d.img", {"/img/a.img", "/dev/sdb", "/img/c d.img", ""}},
        // An empty entry keeps its number: there is no disk 1, but disk 2 is there.
        {"/img/a.img::/img/c.img", {"/img/a.img", "", "/img/c.img", ""}},
        {"", {"", "", ""}},
        {"/img/a.img:", {"/img/a.img", "", ""}},
    };
    for (const auto& c : cases)
    {
        ScopedEnv env("TESSAROO_DISKS", c.list);
        for (size_t i = 0; i < c.paths.size(); ++i)
            EXPECT_EQ(GetDiskDevicePath(int(i)), c.paths[i]) << c.list << ", disk " << i;
        EXPECT_EQ(GetDiskDevicePath(-1), "");
        EXPECT_EQ(GetDiskDevicePath(MAX_DISK_COUNT - 1), "");
    }
}

TEST(DiskNumberMapping, SysBlockGivesWholeDisksInNameOrder)
{
    // Only names are looked at here; nothing is opened.
    ScopedEnv env("TESSAROO_DISKS");
    std::vector<std::string> paths;
    for (int i = 0; i < MAX_DISK_COUNT; ++i)
        paths.push_back(GetDiskDevicePath(i));
    // Disks in strict name order, then none: the list has no holes.
    const auto end = std::find(paths.begin(), paths.end(), "");
    EXPECT_EQ(std::adjacent_find(paths.begin(), end, std::greater_equal<std::string>()), end);
    EXPECT_EQ(std::count(end, paths.end(), ""), paths.end() - end);
    for (auto p = paths.begin(); p != end; ++p)
    {
        ASSERT_EQ(p->compare(0, 5, "/dev/"), 0) << *p;
        const std::string name = p->substr(5);
        EXPECT_TRUE(PathExists("/sys/block/" + name)) << name;
        EXPECT_TRUE(name.compare(0, 3, "ram") != 0 && name.compare(0, 4, "zram") != 0) << name;
        if (name.compare(0, 4, "loop") == 0)
        {
            EXPECT_TRUE(PathExists("/sys/block/" + name + "/loop/backing_file")) << name;
        }
    }
}

// TESSAROO_SUPPORT_DIR when set (an unprivileged run keeps it too); else a
// privileged run keeps the system folder, a user's goes to an absolute
// XDG_CACHE_HOME or to ~/.cache (a relative one would follow the working
// folder).
TEST(SupportDir, EnvironmentOrTheUserCache)
{
    const std::string system = "/Library/Application Support/Tessaroo/";
    const struct
    {
        const char *support, *xdg; // null: unset
        bool privileged;
        std::string expected;
    } cases[] = {
        {"/tmp/x/support", nullptr, false, "/tmp/x/support/"},
        {"/tmp/x/support/", nullptr, false, "/tmp/x/support/"},
        {"", nullptr, true, system},
        {nullptr, nullptr, true, system},
        {nullptr, "/xdg/cache", false, "/xdg/cache/tessaroo/"},
        {nullptr, "relative", false, "/home/someone/.cache/tessaroo/"},
    };
    for (const auto& c : cases)
    {
        ScopedEnv support("TESSAROO_SUPPORT_DIR"), xdg("XDG_CACHE_HOME"), home("HOME", "/home/someone");
        if (c.support)
            setenv("TESSAROO_SUPPORT_DIR", c.support, 1);
        if (c.xdg)
            setenv("XDG_CACHE_HOME", c.xdg, 1);
        SelectSupportDir(c.privileged);
        EXPECT_EQ(GetSupportDir(), c.expected) << c.expected;
        EXPECT_EQ(GetScanLogRoot(), c.expected + "ScanLog/");
    }
}

TEST(MakeDirs, FoldersCanBeEntered)
{
    TempDir dir("platform");
    const mode_t old = umask(022);
    const std::string deep = dir.File("a/b/c");
    EXPECT_TRUE(MakeDirs(deep));
    struct stat st;
    for (const std::string& p : {dir.File("a"), dir.File("a/b"), deep})
    {
        ASSERT_EQ(stat(p.c_str(), &st), 0) << p;
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & 07777, 0755u) << p;
    }
    EXPECT_TRUE(MakeDirs(deep)) << "an existing folder is fine";
    EXPECT_TRUE(MakeDirs(dir.File("trailing//")));
    // 0777 is given exactly, whatever the umask.
    EXPECT_TRUE(MakeDirs(dir.File("shared"), 0777));
    ASSERT_EQ(stat(dir.File("shared").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0777u);
    umask(old);

    ASSERT_TRUE(WriteImageFile(dir.File("file"), {}));
    EXPECT_FALSE(MakeDirs(dir.File("file")));
    EXPECT_FALSE(MakeDirs(dir.File("file/below")));
    EXPECT_FALSE(MakeDirs(""));
}

// The shared recovery flow without a disk: kind patterns and subfolders,
// target names formed from hostile node names, the destination check on a
// sysfs tree built here, and the recovery loop over an engine that writes,
// stays silent or asks to stop.
#include "recovery/CRecoveryFlow.h"
#include "recovery/CTargetFile.h"
#include "recovery/DestinationCheck.h"
#include "recovery/KindPatterns.h"
#include "engines/ext/CFastExtRecovery.h"
#include "core/Portability.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace tessaroo;
using namespace tessaroo::test;

namespace
{
// The kind words of --kinds, and a file's kind by its extension: matched by
// substring against the kind texts, music before video (".rm" is in both),
// the archive kind taking its second text of office formats (".rtf").
TEST(KindPatterns, KindWordsAndFolders)
{
    EXPECT_NE(BuildPatternList(KIND_ARCHIVE).find("*.pdf"), std::string::npos);
    unsigned k = 0;
    std::string bad;
    ASSERT_TRUE(ParseKindList("photo,Video", k, bad));
    EXPECT_EQ(k, unsigned(KIND_PHOTO | KIND_VIDEO));
    ASSERT_TRUE(ParseKindList("all", k, bad));
    EXPECT_EQ(k, unsigned(KIND_ALL));
    EXPECT_FALSE(ParseKindList("photo,pictures", k, bad));
    EXPECT_EQ(bad, "pictures");
    EXPECT_FALSE(ParseKindList("photo,", k, bad));
    EXPECT_FALSE(ParseKindList("", k, bad));
    const std::pair<const char*, const char*> cases[] = {
        {"A.JPG", "photo"},        {"x.jp", "photo"},         {"song.MP3", "audio"},
        {"clip.mkv", "video"},     {"stream.rm", "audio"},    {"report.docx", "document"},
        {"letter.rtf", "archive"}, {"backup.zip", "archive"}, {"notes", "others"},
        {"x.c", "others"},         {"data.xyz", "others"},    {"trailing.", "others"},
    };
    for (const auto& c : cases)
    {
        EXPECT_STREQ(GetDirTypeByFileName(c.first), c.second) << c.first;
        char folder[4];
        GetDirTypeByFileName(c.first, folder, sizeof(folder));
        EXPECT_EQ(std::string(folder), std::string(c.second).substr(0, 3)) << c.first;
    }
}

_FILE_NODE_ Named(const std::string& name)
{
    _FILE_NODE_ n = {};
    strncpy(n.szFileName, name.c_str(), sizeof(n.szFileName) - 1);
    return n;
}

// The target of a file: its kind's folder below the destination, its name
// made safe (MakeSafeTargetName's own table holds the hostile names) and cut
// to one component, keeping its extension and whole UTF-8 characters.
TEST(TargetPath, KindFolderAndOneComponentBelowTheDestination)
{
    EXPECT_EQ(CRecoveryFlow::FormTargetPath("/dest/", Named("../../etc/passwd")),
              "/dest/others/.._.._etc_passwd");
    EXPECT_EQ(CRecoveryFlow::FormTargetPath("/", Named("a\\b.jpg")), "/photo/a_b.jpg");
    std::string longName;
    for (int i = 0; i < 80; ++i)
        longName += "照";
    EXPECT_EQ(CRecoveryFlow::FormTargetPath("/d", Named(longName + ".txt")),
              "/d/document/" + longName.substr(0, 78 * 3) + ".txt");
}

// A destination on the scanned disk is refused only where its sectors meet
// the scanned range: a partition resolves to its disk and range.
TEST(DestinationCheck, OverlapIsSameDiskAndSharedSectors)
{
    // A sysfs tree: disk sdz (8:0) with partitions sdz1 (8:1, sectors
    // 2048+8192) and sdz2 (8:2, 10240+8192).
    TempDir sys("sysfs");
    ASSERT_TRUE(
        RunSucceeds("cd " + ShellQuote(sys.Path()) +
                    " && mkdir -p dev/block b/sdz/device b/sdz/sdz1 b/sdz/sdz2 && cd b/sdz"
                    " && echo 40960 >size && echo 1 >sdz1/partition && echo 1 >sdz2/partition"
                    " && echo 2048 >sdz1/start && echo 10240 >sdz2/start"
                    " && echo 8192 >sdz1/size && echo 8192 >sdz2/size && cd ../../dev/block"
                    " && ln -s ../../b/sdz 8:0 && ln -s ../../b/sdz/sdz1 8:1 && ln -s ../../b/sdz/sdz2 8:2"));
    BlockLocation p1, p2, disk, l;
    ASSERT_TRUE(ResolveBlockDevice(8, 1, sys.Path(), p1) && ResolveBlockDevice(8, 2, sys.Path(), p2) &&
                ResolveBlockDevice(8, 0, sys.Path(), disk));
    EXPECT_FALSE(ResolveBlockDevice(0, 42, sys.Path(), l)); // tmpfs and the like
    // Scanning partition 1 (as the whole-disk range 2048+8192) and writing to
    // partition 2 is fine; writing to partition 1 is not.
    const BlockLocation scanned{"sdz", 2048, 8192};
    EXPECT_TRUE(RangesOverlap(scanned, p1));
    EXPECT_FALSE(RangesOverlap(scanned, p2));
    EXPECT_TRUE(RangesOverlap(scanned, disk));
    EXPECT_FALSE(RangesOverlap(BlockLocation{"sdy", 2048, 8192}, p1));
    EXPECT_FALSE(RangesOverlap(BlockLocation{"sdz", 10240 - 1, 1}, p2));
    EXPECT_TRUE(RangesOverlap(BlockLocation{"sdz", 10240 + 8191, 1}, p2));
    EXPECT_FALSE(RangesOverlap(BlockLocation{"sdz", 10240 + 8192, 1}, p2));
}

// An engine whose SaveFileData does what the file's name says: "silent"
// fails without a report, anything else is written and reported (its
// report's answer, a stop, is its return).
class ScriptedEngine : public CFastExtRecovery
{
  public:
    unsigned int InitCallBack(SCAN_CALLBACK, RECOVERY_CALLBACK r, void* ctx, int) override
    {
        m_cb = r;
        m_ctx = ctx;
        return 0;
    }
    unsigned int SaveFileData(_FILE_NODE_* node, wchar_t* target, int) override
    {
        ++calls;
        if (strstr(node->szFileName, "silent"))
            return 5;
        CTargetFile file;
        const unsigned int st = file.Finish(file.Create(target));
        std::wstring kept = file.GetPath();
        return unsigned(m_cb(m_ctx, 100, 100, int(st), &kept[0]));
    }
    int calls = 0;

  private:
    RECOVERY_CALLBACK m_cb = nullptr;
    void* m_ctx = nullptr;
};

class RecoveryFlow : public ::testing::Test
{
  protected:
    CRecoveryFlow::Outcome Run(const std::vector<std::string>& names, const std::string& destination)
    {
        flow.SetObserver(
            [](void* ctx, int percent, int scale, int, const std::string&)
            {
                RecoveryFlow* t = static_cast<RecoveryFlow*>(ctx);
                t->reports.push_back({percent, scale});
                if (t->stopAfterFirst && percent == 100)
                    t->flow.RequestStop();
            },
            this);
        std::vector<_FILE_NODE_> files;
        for (const std::string& n : names)
            files.push_back(Named(n));
        return flow.RecoveryProcess(&engine, files, destination, ScannedVolume{d.File("card.img"), 0, 100});
    }
    TempDir d{"flow"};
    ScriptedEngine engine;
    CRecoveryFlow flow;
    std::vector<std::pair<int, int>> reports; // (percent, scale)
    bool stopAfterFirst = false;
};

// A file the engine gave up on without a report still gets its one result.
TEST_F(RecoveryFlow, EveryFileGetsExactlyOneResult)
{
    ASSERT_EQ(Run({"a.jpg", "silent.zip", "notes"}, d.File("out")), CRecoveryFlow::OUTCOME_DONE);
    ASSERT_EQ(flow.GetResults().size(), 3u);
    EXPECT_EQ(flow.GetRecoveredCount(), 2u);
    EXPECT_EQ(flow.GetResults()[1].nStatus, 5);
    EXPECT_EQ(ListFolder(d.File("out/others")), std::vector<std::string>{"notes"});
    EXPECT_EQ(reports.back(), (std::pair<int, int>{100, 1000}));
}

TEST_F(RecoveryFlow, AStopEndsTheRunAfterTheCurrentFile)
{
    stopAfterFirst = true;
    EXPECT_EQ(Run({"one.txt", "two.txt", "three.txt"}, d.File("out")), CRecoveryFlow::OUTCOME_STOPPED);
    EXPECT_EQ(engine.calls, 1);
    EXPECT_EQ(flow.GetResults().size(), 1u);
    for (const auto& r : reports)
        EXPECT_NE(r.second, 1000) << "a stopped run sends no closing report";
}

TEST_F(RecoveryFlow, RefusesADestinationThatCannotBeMade)
{
    ASSERT_TRUE(WriteImageFile(d.File("file"), {1}));
    EXPECT_EQ(Run({"a.txt"}, d.File("file/sub")), CRecoveryFlow::OUTCOME_BAD_DESTINATION);
    EXPECT_EQ(engine.calls, 0);
    EXPECT_FALSE(flow.GetMessage().empty());
}
} // namespace

// The shared recovery flow without a disk: kind patterns and subfolders,
// target names formed from hostile node names, the destination check on a
// sysfs tree built here, the JSON writer, and the recovery loop over an
// engine that succeeds, fails, stays silent or asks to stop.
#include "cli/CJsonWriter.h"
#include "cli/CRecoveryFlow.h"
#include "cli/DestinationCheck.h"
#include "cli/KindPatterns.h"
#include "core/Platform.h"
#include "core/Portability.h"
#include "core/Status.h"
#include "tests/cli/MiniJson.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tessaroo;
using namespace tessaroo::test;

namespace
{
TEST(KindPatterns, ListsFollowTheTickedKindsInTheApplicationsOrder)
{
    EXPECT_EQ(BuildPatternList(KIND_OTHER), "*.other");
    // Music and Document run together where the Music text ends without a bar.
    const std::string md = BuildPatternList(KIND_MUSIC | KIND_DOCUMENT);
    EXPECT_NE(md.find("*.snd*.doc|"), std::string::npos);
    EXPECT_EQ(md.find("*.jpg"), std::string::npos);
    const std::string all = BuildPatternList(KIND_ALL);
    EXPECT_LT(all.find("*.bmp"), all.find("*.mp3"));
    EXPECT_LT(all.find("*.mp3"), all.find("*.doc"));
    EXPECT_LT(all.find("*.doc"), all.find("*.rmvb"));
    EXPECT_LT(all.find("*.rmvb"), all.find("*.zip"));
    EXPECT_NE(all.find("*.rtf"), std::string::npos);
    EXPECT_EQ(all.substr(all.size() - 7), "*.other");
}

TEST(KindPatterns, ParsesKindWords)
{
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
}

struct DirTypeCase
{
    const char* name;
    const char* folder;
};

class DirType : public ::testing::TestWithParam<DirTypeCase>
{
};

TEST_P(DirType, FileLandsInItsKindsFolder)
{
    EXPECT_STREQ(GetDirTypeByFileName(GetParam().name), GetParam().folder) << GetParam().name;
    char folder[4];
    GetDirTypeByFileName(GetParam().name, folder, sizeof(folder));
    EXPECT_EQ(std::string(folder), std::string(GetParam().folder).substr(0, 3));
}

INSTANTIATE_TEST_SUITE_P(
    Names, DirType,
    ::testing::Values(DirTypeCase{"a.jpg", "photo"}, DirTypeCase{"A.JPG", "photo"},
                      DirTypeCase{"x.jp", "photo"}, DirTypeCase{"song.MP3", "audio"},
                      DirTypeCase{"clip.mkv", "video"},
                      // .rm is in both the music and the video texts; music is asked first.
                      DirTypeCase{"stream.rm", "audio"}, DirTypeCase{"notes.txt", "document"},
                      DirTypeCase{"report.docx", "document"}, DirTypeCase{"letter.rtf", "archive"},
                      DirTypeCase{"backup.zip", "archive"}, DirTypeCase{"notes", "others"},
                      DirTypeCase{"x.c", "others"}, DirTypeCase{"data.xyz", "others"},
                      DirTypeCase{"trailing.", "others"}),
    [](const ::testing::TestParamInfo<DirTypeCase>& i)
    {
        std::string n;
        for (const char* p = i.param.name; *p; ++p)
            n += isalnum((unsigned char)*p) ? *p : '_';
        return std::to_string(i.index) + "_" + n;
    });

TEST(TargetPath, HostileNamesStayOneComponentInsideTheDestination)
{
    struct
    {
        const char* name;
        const char* expected;
    } cases[] = {
        {"../../etc/passwd", "/dest/others/.._.._etc_passwd"},
        {"..", "/dest/others/__"},
        {".", "/dest/others/_"},
        {"", "/dest/others/_"},
        {"a\\b.jpg", "/dest/photo/a_b.jpg"},
        {"photo.jpg", "/dest/photo/photo.jpg"},
    };
    for (const auto& c : cases)
    {
        _FILE_NODE_ n = {};
        strncpy(n.szFileName, c.name, sizeof(n.szFileName) - 1);
        EXPECT_EQ(CRecoveryFlow::FormTargetPath("/dest/", n), c.expected) << c.name;
    }
    // A GB2312 name becomes UTF-8 once, here; a long one is cut to one
    // component, keeping its extension.
    _FILE_NODE_ n = {};
    const std::string gb = Utf8ToGb2312("照片.jpg");
    strncpy(n.szFileName, gb.c_str(), sizeof(n.szFileName) - 1);
    EXPECT_EQ(CRecoveryFlow::FormTargetPath("/d", n), "/d/photo/照片.jpg");
    memset(n.szFileName, 0, sizeof(n.szFileName));
    std::string longName;
    for (int i = 0; i < 120; ++i)
        longName += Utf8ToGb2312("照");
    longName += ".txt";
    strncpy(n.szFileName, longName.c_str(), sizeof(n.szFileName) - 1);
    const std::string t = CRecoveryFlow::FormTargetPath("/d", n);
    const std::string base = t.substr(t.rfind('/') + 1);
    EXPECT_LE(base.size(), 240u);
    EXPECT_EQ(base.substr(base.size() - 4), ".txt");
    EXPECT_EQ(base.substr(0, 3), "照");
}

// A sysfs tree: disk sdz (8:0) with partitions sdz1 (8:1, sectors 2048+8192)
// and sdz2 (8:2, 10240+8192), and disk sdy (8:16).
class FakeSysfs : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        const std::string dev = sys.Path() + "/devices/pci0/block";
        MakeDisk(dev + "/sdz", "8:0", 40960);
        MakePartition(dev + "/sdz/sdz1", "8:1", 2048, 8192);
        MakePartition(dev + "/sdz/sdz2", "8:2", 10240, 8192);
        MakeDisk(dev + "/sdy", "8:16", 4096);
    }
    void Write(const std::string& path, const std::string& text)
    {
        ASSERT_TRUE(WriteImageFile(path, std::vector<uint8_t>(text.begin(), text.end())));
    }
    void Link(const std::string& target, const std::string& majmin)
    {
        MakeDirs(sys.Path() + "/dev/block", 0755);
        ASSERT_EQ(symlink(target.c_str(), (sys.Path() + "/dev/block/" + majmin).c_str()), 0);
    }
    void MakeDisk(const std::string& dir, const std::string& majmin, uint64_t size)
    {
        MakeDirs(dir + "/device", 0755);
        Write(dir + "/size", std::to_string(size) + "\n");
        Link(dir, majmin);
    }
    void MakePartition(const std::string& dir, const std::string& majmin, uint64_t start, uint64_t size)
    {
        MakeDirs(dir, 0755);
        Write(dir + "/partition", "1\n");
        Write(dir + "/start", std::to_string(start) + "\n");
        Write(dir + "/size", std::to_string(size) + "\n");
        Link(dir, majmin);
    }
    TempDir sys{"sysfs"};
};

TEST_F(FakeSysfs, ResolvesPartitionsAndDisksToTheirDiskAndRange)
{
    BlockLocation l;
    ASSERT_TRUE(ResolveBlockDevice(8, 2, sys.Path(), l));
    EXPECT_EQ(l.strDisk, "sdz");
    EXPECT_EQ(l.u64Start, 10240u);
    EXPECT_EQ(l.u64Size, 8192u);
    ASSERT_TRUE(ResolveBlockDevice(8, 16, sys.Path(), l));
    EXPECT_EQ(l.strDisk, "sdy");
    EXPECT_EQ(l.u64Start, 0u);
    EXPECT_FALSE(ResolveBlockDevice(0, 42, sys.Path(), l)); // tmpfs and the like
}

TEST_F(FakeSysfs, OverlapIsSameDiskAndSharedSectors)
{
    BlockLocation p1, p2, disk, other;
    ASSERT_TRUE(ResolveBlockDevice(8, 1, sys.Path(), p1));
    ASSERT_TRUE(ResolveBlockDevice(8, 2, sys.Path(), p2));
    ASSERT_TRUE(ResolveBlockDevice(8, 0, sys.Path(), disk));
    ASSERT_TRUE(ResolveBlockDevice(8, 16, sys.Path(), other));
    // Scanning partition 1 (as the whole-disk range 2048+8192) and writing to
    // partition 2 is fine; writing to partition 1 is not.
    BlockLocation scanned{"sdz", 2048, 8192};
    EXPECT_TRUE(RangesOverlap(scanned, p1));
    EXPECT_FALSE(RangesOverlap(scanned, p2));
    EXPECT_TRUE(RangesOverlap(scanned, disk));
    EXPECT_FALSE(RangesOverlap(scanned, other));
    BlockLocation justBefore{"sdz", 10240 - 1, 1}, lastSector{"sdz", 10240 + 8191, 1};
    EXPECT_FALSE(RangesOverlap(justBefore, p2));
    EXPECT_TRUE(RangesOverlap(lastSector, p2));
    BlockLocation before{"sdz", 0, 10240};
    EXPECT_FALSE(RangesOverlap(before, p2));
}

TEST(DestinationCheck, AnImageFileIsNeverOverlapped)
{
    TempDir d("dest");
    ASSERT_TRUE(WriteImageFile(d.File("card.img"), std::vector<uint8_t>(4096, 0)));
    std::string message;
    EXPECT_FALSE(DestinationOverlapsVolume(d.File("out"), d.File("card.img"), 0, 8, message));
    EXPECT_TRUE(message.empty());
}

TEST(JsonWriter, EscapesControlsAndRepairsBrokenText)
{
    CJsonWriter j;
    j.BeginObject();
    j.Field("plain", "a\"b\\c");
    j.Field("control", std::string("x\x01y\n"));
    j.Field("broken", std::string("ok\xff\xc3"));
    j.Field("utf8", "照片");
    j.Key("list");
    j.BeginArray();
    j.Int(-3);
    j.Uint(18446744073709551615ull);
    j.Bool(false);
    j.Null();
    j.EndArray();
    j.EndObject();
    MiniJson v;
    std::string error;
    ASSERT_TRUE(ParseJson(j.Text(), v, error)) << error << "\n" << j.Text();
    EXPECT_EQ(v["plain"].str, "a\"b\\c");
    EXPECT_EQ(v["control"].str, "x\x01y\n");
    EXPECT_EQ(v["broken"].str, "ok\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(v["utf8"].str, "照片");
    ASSERT_EQ(v["list"].items.size(), 4u);
    EXPECT_EQ(v["list"].items[0].num, -3);
}

// An engine whose SaveFileData does what the file's name says.
class ScriptedEngine : public IFileRecoveryParse
{
  public:
    unsigned int Init(int, long long, long long, wchar_t) override { return 0; }
    unsigned int Init(wchar_t*, wchar_t) override { return 0; }
    unsigned int InitCallBack(SCAN_CALLBACK, RECOVERY_CALLBACK r, void* ctx, int) override
    {
        m_cb = r;
        m_ctx = ctx;
        return 0;
    }
    unsigned int ScanDevice(wchar_t*) override { return 0; }
    unsigned int GetChildrenFileNode(_FILE_NODE_*, unsigned int, std::vector<_FILE_NODE_>&) override
    {
        return 0;
    }
    unsigned int GetChildrenFileCount(_FILE_NODE_*, unsigned int, unsigned int&) override { return 0; }
    unsigned int GetLostFileCount() override { return 0; }
    unsigned int GetFileNodeParentDirPath(_FILE_NODE_*, wchar_t*, int) override { return 0; }
    unsigned int GetUnUsedSectorCount(unsigned long long&, unsigned long long&) override { return 0; }
    unsigned int InitSearchCallBack(SEARCH_CALLBACK, void*) override { return 0; }
    unsigned int SearchFileNode(wchar_t*, std::vector<__SEARCH_FILE_INFO__>&) override { return 0; }
    unsigned int BuildBitMapInfo() override { return 0; }
    unsigned int PreView(_FILE_NODE_*, wchar_t*, unsigned char*, int&, PREVIEW_CALLBACK, void*) override
    {
        return 0;
    }
    unsigned int SaveFileData(_FILE_NODE_* node, wchar_t* target, int) override
    {
        targets.push_back(WideToUtf8(target));
        const std::string name = node->szFileName;
        if (name.find("silent") != std::string::npos)
            return 5; // fails without a report
        if (name.find("fail") != std::string::npos)
        {
            m_cb(m_ctx, 100, 100, 30, target);
            return 30;
        }
        int fd = open(targets.back().c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (fd >= 0)
            close(fd);
        int a = m_cb(m_ctx, 50, 100, 0, target);
        if (a != 0)
        {
            m_cb(m_ctx, 100, 100, a, target);
            return unsigned(a);
        }
        m_cb(m_ctx, 100, 100, 0, target);
        return 0;
    }
    std::vector<std::string> targets;

  private:
    RECOVERY_CALLBACK m_cb = nullptr;
    void* m_ctx = nullptr;
};

_FILE_NODE_ Named(const char* name)
{
    _FILE_NODE_ n = {};
    strncpy(n.szFileName, name, sizeof(n.szFileName) - 1);
    return n;
}

struct Seen
{
    std::vector<std::pair<int, int>> reports; // (percent, scale)
    CRecoveryFlow* stopAfterFirst = nullptr;
};

void Observe(void* ctx, int percent, int scale, int, const std::string&)
{
    Seen* s = static_cast<Seen*>(ctx);
    s->reports.push_back({percent, scale});
    if (s->stopAfterFirst && percent == 100)
        s->stopAfterFirst->RequestStop();
}

TEST(RecoveryFlow, EveryFileGetsExactlyOneResultAndNamesAreMadeFree)
{
    TempDir d("flow");
    ScriptedEngine engine;
    CRecoveryFlow flow;
    Seen seen;
    flow.SetObserver(&Observe, &seen);
    std::vector<_FILE_NODE_> files = {Named("a.jpg"), Named("a.jpg"), Named("fail.txt"), Named("silent.zip"),
                                      Named("notes")};
    ScannedVolume vol{d.File("card.img"), 0, 100};
    ASSERT_EQ(flow.RecoveryProcess(&engine, files, d.File("out"), vol), CRecoveryFlow::OUTCOME_DONE);
    ASSERT_EQ(flow.GetResults().size(), files.size());
    EXPECT_EQ(flow.GetRecoveredCount(), 3u);
    EXPECT_EQ(flow.GetFailedCount(), 2u);
    EXPECT_EQ(flow.GetResults()[2].nStatus, 30);
    EXPECT_EQ(flow.GetResults()[3].nStatus, 5);
    ASSERT_EQ(engine.targets.size(), 5u);
    EXPECT_EQ(engine.targets[0], d.File("out/photo/a.jpg"));
    EXPECT_EQ(engine.targets[1], d.File("out/photo/a(1).jpg"));
    EXPECT_EQ(engine.targets[4], d.File("out/others/notes"));
    struct stat st;
    EXPECT_EQ(stat(d.File("out/archive").c_str(), &st), 0);
    EXPECT_EQ(seen.reports.back(), (std::pair<int, int>{100, 1000}));
}

TEST(RecoveryFlow, AStopEndsTheRunAfterTheCurrentFile)
{
    TempDir d("flow-stop");
    ScriptedEngine engine;
    CRecoveryFlow flow;
    Seen seen;
    seen.stopAfterFirst = &flow;
    flow.SetObserver(&Observe, &seen);
    std::vector<_FILE_NODE_> files = {Named("one.txt"), Named("two.txt"), Named("three.txt")};
    ScannedVolume vol{d.File("card.img"), 0, 100};
    EXPECT_EQ(flow.RecoveryProcess(&engine, files, d.File("out"), vol), CRecoveryFlow::OUTCOME_STOPPED);
    EXPECT_EQ(engine.targets.size(), 1u);
    EXPECT_EQ(flow.GetResults().size(), 1u);
    for (const auto& r : seen.reports)
        EXPECT_NE(r.second, 1000) << "a stopped run sends no closing report";
}

TEST(RecoveryFlow, RefusesADestinationThatCannotBeMade)
{
    TempDir d("flow-bad");
    ASSERT_TRUE(WriteImageFile(d.File("file"), {1}));
    ScriptedEngine engine;
    CRecoveryFlow flow;
    std::vector<_FILE_NODE_> files = {Named("a.txt")};
    ScannedVolume vol{d.File("card.img"), 0, 100};
    EXPECT_EQ(flow.RecoveryProcess(&engine, files, d.File("file/sub"), vol),
              CRecoveryFlow::OUTCOME_BAD_DESTINATION);
    EXPECT_TRUE(engine.targets.empty());
    EXPECT_FALSE(flow.GetMessage().empty());
}
} // namespace

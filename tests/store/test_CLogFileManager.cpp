#include "store/CLogFileManager.h"

#include "StoreTestEnv.h"
#include "core/ByteReader.h"
#include "tests/support/TempDir.h"
#include "store/CScanResultFileManager.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
// A device name whose free-space figure is fixed: the walk up its path
// ends at /proc, which reports no free blocks.
const char STABLE_DEVICE[] = "/proc/tessaroo-no-such-disk/disk3";

// One index record laid out by hand from its field offsets.
std::string Record(int disk, unsigned long long start, unsigned long long count, unsigned long long freeSpace,
                   const std::string& logDir, const std::string& devicePath = "",
                   unsigned long long runStart = 0, uint32_t format = CLogFileManager::LOG_FORMAT_UTF8)
{
    std::string r(592, '\0');
    uint8_t* p = reinterpret_cast<uint8_t*>(&r[0]);
    tessaroo::PutU32(p, static_cast<uint32_t>(disk));
    tessaroo::PutU32(p + 4, format);
    tessaroo::PutU64(p + 8, start);
    tessaroo::PutU64(p + 16, count);
    tessaroo::PutU64(p + 24, runStart);
    tessaroo::PutU64(p + 64, freeSpace);
    memcpy(p + 80, devicePath.data(), devicePath.size());
    memcpy(p + 336, logDir.data(), logDir.size());
    return r;
}

std::string Header(unsigned long long index)
{
    std::string h(8, '\0');
    tessaroo::PutU64(reinterpret_cast<uint8_t*>(&h[0]), index);
    return h;
}

class LogFileManagerTest : public StoreTestEnv
{
  protected:
    CLogFileManager& M() { return *CLogFileManager::GetInstance(); }
    std::string Config() const { return m_root + "config"; }
    unsigned Load(const std::string& config) { return WriteFileText(Config(), config) ? M().Init() : 999; }
    // The folder the stores are to use.
    std::string Dir()
    {
        char path[CLogFileManager::PATH_SIZE] = {0};
        return M().GetLogFileDirPath(path) == 0 ? path : "failed";
    }
    // The loaded index, a record a line: "disk:start+count free runStart,
    // runLength,runOffset scanned files folder device;", the root as "R/".
    std::string Index()
    {
        std::ostringstream o;
        for (const _LOG_FILE_INFO_& r : M().GetLogFileInfoVec())
        {
            std::string dir = r.szLogDirPath;
            if (dir.compare(0, m_root.size(), m_root) == 0)
                dir.replace(0, m_root.size(), "R/");
            o << r.nDiskIndex << ':' << r.u64StartSector << '+' << r.u64SectorCount << ' ' << r.u64FreeSpace
              << ' ' << r.u64RunStart << ',' << r.u64RunLength << ',' << r.u64RunOffset << ' '
              << r.u64ScannedSectors << ' ' << r.u64FileCount << ' ' << dir << ' ' << r.szDevicePath << ';';
        }
        return o.str();
    }
    // A scan-log folder with a nested tree in it.
    void MakeLogDir(const std::string& dir)
    {
        ASSERT_TRUE(tessaroo::MakeDirs(dir + "sub/deeper/"));
        WriteFileText(dir + "Fast_1", "records");
        WriteFileText(dir + "sub/deeper/x", "x");
    }
};
} // namespace

TEST_F(LogFileManagerTest, ConfigLoadsWholeRecordsOnly)
{
    const struct
    {
        std::string bytes;
        unsigned status;
        unsigned long long index;
        std::string records;
    } cases[] = {
        {Header(4) + Record(1, 63, 1000, 0, m_root + "4/") + std::string(100, 'z'), 0, 4,
         "1:63+1000 0 0,0,0 0 0 R/4/ ;"}, // a cut record
        {Header(3), 0, 3, ""},
        {"", 87, 0, ""},
        {"abc", 30, 0, ""}, // a cut index
        {Header(6) + Record(1, 63, 1000, 0, m_root + "5/") + Record(2, 0, 9, 7, m_root + "6/", "/i.img", 3),
         0, 6, "1:63+1000 0 0,0,0 0 0 R/5/ ;2:0+9 7 3,0,0 0 0 R/6/ /i.img;"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.records);
        EXPECT_EQ(Load(c.bytes), c.status);
        EXPECT_EQ(Index(), c.records);
        EXPECT_EQ(M().GetDirIndex(), c.index);
    }
    unlink(Config().c_str());
    EXPECT_EQ(M().Init(), 87u) << "no config: an empty index";
    EXPECT_EQ(Index(), "");
}

// The layout itself is pinned by the hand-laid records above; here a
// saved record, left in config.tmp by a save cut off after removing
// "config", is repaired and read back.
TEST_F(LogFileManagerTest, InterruptedSaveIsRepairedAndReadsBack)
{
    ASSERT_EQ(Load(Header(2)), 0u);
    ASSERT_EQ(M().SaveLogFileInfo("/dev/disk9", 1, 2048, 4096, 10, 20, 5, 300, 42, (m_root + "2/").c_str(),
                                  "/images/card.img"),
              0u);
    EXPECT_FALSE(PathExists(m_root + "config.tmp"));
    ASSERT_EQ(rename(Config().c_str(), (m_root + "config.tmp").c_str()), 0);
    ASSERT_EQ(M().Init(), 0u);
    EXPECT_EQ(tessaroo::test::ListFolder(m_root), (std::vector<std::string>{"config", "config.lock"}));
    EXPECT_EQ(M().GetDirIndex(), 2u);
    // Volumes given by path record no free space.
    EXPECT_EQ(Index(), "1:2048+4096 0 10,20,5 300 42 R/2/ /images/card.img;");
}

TEST_F(LogFileManagerTest, FailedSaveKeepsTheOldIndex)
{
    const std::string old = Header(5) + Record(1, 63, 1000, 0, m_root + "5/");
    ASSERT_EQ(Load(old), 0u);
    ASSERT_TRUE(tessaroo::MakeDirs(m_root + "config.tmp/")); // cannot be opened as a file
    M().AddDirIndex();
    EXPECT_NE(M().SaveLogConfigFile(), 0u);
    EXPECT_EQ(ReadFileText(Config()), old);
}

// Links inside a folder, or a numbered folder that is itself a link, go:
// never what they point to.
TEST_F(LogFileManagerTest, FoldersAreEmptiedWithoutFollowingLinks)
{
    ASSERT_EQ(Load(Header(6)), 0u);
    MakeLogDir(m_root + "7/");
    const std::string outside = m_dir + "outside/";
    ASSERT_TRUE(tessaroo::MakeDirs(outside));
    WriteFileText(outside + "keep", "keep");
    ASSERT_EQ(symlink(outside.c_str(), (m_root + "7/link").c_str()), 0);
    ASSERT_EQ(symlink(outside.c_str(), (m_root + "9").c_str()), 0);
    const std::filesystem::path cwd = std::filesystem::current_path();

    M().AddDirIndex();
    EXPECT_EQ(Dir(), m_root + "7/");
    EXPECT_EQ(tessaroo::test::ListFolder(m_root + "7"), std::vector<std::string>{".lock"});
    EXPECT_EQ(std::filesystem::current_path(), cwd);
    M().ReduceDirIndex();
    EXPECT_EQ(Dir(), m_root + "6/");

    EXPECT_EQ(M().DeleteLogFileDir((m_root + "9/").c_str()), 0u);
    EXPECT_FALSE(PathExists(m_root + "9"));
    EXPECT_TRUE(PathExists(outside + "keep"));
}

TEST_F(LogFileManagerTest, OnlyNumberedFoldersOfTheRootAreDeleted)
{
    const std::string victim = m_dir + "victim/";
    MakeLogDir(victim);
    MakeLogDir(m_root + "3/");
    MakeLogDir(m_root + "07/");
    const std::string paths[] = {
        victim,
        m_root,
        m_root + "3",
        m_root + "3/sub/",
        m_root + "07/",
        m_root + "-3/",
        m_root + "3/../../victim/",
        m_root + "../victim/",
        "",
        "relative/3/",
    };
    for (const auto& p : paths)
    {
        SCOPED_TRACE(p);
        ASSERT_EQ(Load(Header(1) + Record(1, 2, 3, 0, p) + Record(4, 5, 6, 0, m_root + "3/")), 0u);
        EXPECT_EQ(M().DeleteLogFileDir(p.c_str()), 0u);
        EXPECT_EQ(Index(), "4:5+6 0 0,0,0 0 0 R/3/ ;") << "the record naming the path is dropped";
        EXPECT_TRUE(PathExists(victim + "sub/deeper/x"));
        EXPECT_TRUE(PathExists(m_root + "3/sub/deeper/x"));
        EXPECT_TRUE(PathExists(m_root + "07/Fast_1"));
        EXPECT_TRUE(PathExists(Config()));
    }
    // The record's folder is matched without regard to case.
    ASSERT_EQ(Load(Header(1) + Record(1, 2, 3, 0, m_root + "3/")), 0u);
    std::string upper = m_root + "3/";
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return char(toupper(c)); });
    M().DeleteLogFileDir(upper.c_str());
    EXPECT_EQ(Index(), "");
    EXPECT_TRUE(PathExists(m_root + "3/Fast_1")) << "the upper-case path is no folder of the root";
}

TEST_F(LogFileManagerTest, ReusableLogIsFoundOnlyForAnUnchangedVolume)
{
    MakeLogDir(m_root + "4/");
    MakeLogDir(m_root + "5/");
    ASSERT_EQ(Load(Header(5) + Record(3, 63, 1000, 0, m_root + "4/") +
                   Record(3, 2048, 500, 12345, m_root + "5/") + Record(3, 9, 9, 0, "/etc/")),
              0u);
    _LOG_FILE_INFO_ info{};

    // Same volume, same free space: reuse folder 4.
    EXPECT_EQ(M().LoadRecoveryLogInfo(STABLE_DEVICE, 3, 63, 1000, &info), 1);
    EXPECT_EQ(std::string(info.szLogDirPath), m_root + "4/");
    EXPECT_EQ(Dir(), m_root + "4/");
    CScanResultFileManager store;
    ASSERT_EQ(store.Init(L"Fast_1"), 0u);
    EXPECT_EQ(store.GetFileNodePath(), m_root + "4/Fast_1");

    // Free space changed: the old folder goes.
    EXPECT_EQ(M().LoadRecoveryLogInfo(STABLE_DEVICE, 3, 2048, 500, &info), 0);
    EXPECT_FALSE(PathExists(m_root + "5"));
    EXPECT_EQ(Dir(), m_root + "5/");

    // A record naming a folder outside the root is never handed to a store;
    // nor is anything of an unknown volume.
    EXPECT_EQ(M().LoadRecoveryLogInfo(STABLE_DEVICE, 3, 9, 9, &info), 0);
    EXPECT_TRUE(PathExists("/etc/hostname") || PathExists("/etc/passwd"));
    EXPECT_EQ(M().LoadRecoveryLogInfo(STABLE_DEVICE, 7, 0, 1, &info), 0);
    EXPECT_EQ(Index(), "3:63+1000 0 0,0,0 0 0 R/4/ ;");
}

// A disk volume saved twice keeps one record, and a stale record of the
// folder being saved does not take the folder; image files get a record per
// save.
TEST_F(LogFileManagerTest, SavesReplaceTheVolumesRecord)
{
    MakeLogDir(m_root + "3/");
    ASSERT_EQ(Load(Header(3) + Record(2, 63, 1000, 999, m_root + "3/")), 0u);
    const std::string dir = m_root + "3/";
    EXPECT_EQ(M().SaveLogFileInfo(STABLE_DEVICE, 2, 63, 1000, 1, 2, 3, 4, 5, dir.c_str(), ""), 0u);
    EXPECT_EQ(M().SaveLogFileInfo(STABLE_DEVICE, 2, 63, 1000, 10, 20, 30, 40, 50, dir.c_str(), ""), 0u);
    ASSERT_EQ(M().Init(), 0u);
    EXPECT_EQ(Index(), "2:63+1000 0 10,20,30 40 50 R/3/ ;");
    M().SaveLogFileInfo(STABLE_DEVICE, 0, 0, 10, 0, 0, 0, 0, 0, dir.c_str(), "/img/a.img");
    M().SaveLogFileInfo(STABLE_DEVICE, 0, 0, 10, 0, 0, 0, 0, 0, dir.c_str(), "/img/a.img");
    EXPECT_EQ(M().GetLogFileInfoVec().size(), 3u);

    // A record of another folder, stale or not, gives way with its folder: a
    // scan that could not reuse a volume's log wrote a folder of its own, and
    // a later resume must never pair the old folder's stores with the new
    // scan's position.
    for (unsigned long long freeSpace : {999ull, 0ull})
    {
        MakeLogDir(m_root + "2/");
        ASSERT_EQ(Load(Header(3) + Record(2, 63, 1000, freeSpace, m_root + "2/")), 0u);
        EXPECT_EQ(M().SaveLogFileInfo(STABLE_DEVICE, 2, 63, 1000, 0, 100, 40, 40, 7, dir.c_str(), ""), 0u);
        EXPECT_FALSE(PathExists(m_root + "2"));
        EXPECT_EQ(Index(), "2:63+1000 0 0,100,40 40 7 R/3/ ;");
    }
    EXPECT_TRUE(PathExists(m_root + "3/Fast_1"));
}

TEST_F(LogFileManagerTest, RecordsOfAnOlderBuildAreDroppedWithTheirFolders)
{
    MakeLogDir(m_root + "2/");
    MakeLogDir(m_root + "3/");
    ASSERT_EQ(
        Load(Header(3) + Record(1, 63, 1000, 0, m_root + "2/", "", 0, 0) + Record(1, 0, 9, 0, m_root + "3/")),
        0u);
    EXPECT_EQ(Index(), "1:0+9 0 0,0,0 0 0 R/3/ ;");
    EXPECT_FALSE(PathExists(m_root + "2"));
    EXPECT_TRUE(PathExists(m_root + "3/Fast_1"));
    EXPECT_EQ(ReadFileText(Config()).size(), 8u + 592u);
}

namespace
{
// A second process that takes a scan-log folder (a fresh one, or the log of
// volume (1, 63, 1000) when reuse is asked), names it and holds it until
// it is killed.
struct OtherRun
{
    explicit OtherRun(bool reuse)
    {
        int up[2];
        if (pipe(up) != 0)
            return;
        if ((pid = fork()) == 0)
        {
            CLogFileManager& m = *CLogFileManager::GetInstance();
            m.Init();
            _LOG_FILE_INFO_ info;
            if (!reuse || m.LoadRecoveryLogInfo(STABLE_DEVICE, 1, 63, 1000, &info) != 1)
                m.AddDirIndex();
            char path[CLogFileManager::PATH_SIZE] = {0};
            if (m.GetLogFileDirPath(path) == 0 && write(up[1], path, strlen(path)) > 0)
                pause();
            _exit(0);
        }
        close(up[1]);
        char buf[CLogFileManager::PATH_SIZE] = {0};
        if (pid > 0 && read(up[0], buf, sizeof(buf) - 1) > 0)
            folder = buf;
        close(up[0]);
    }
    ~OtherRun()
    {
        if (pid > 0 && kill(pid, SIGKILL) == 0)
            waitpid(pid, nullptr, 0);
    }
    pid_t pid = -1;
    std::string folder;
};
} // namespace

TEST_F(LogFileManagerTest, AFolderALiveRunHoldsIsNeitherReusedNorDeleted)
{
    MakeLogDir(m_root + "4/");
    ASSERT_EQ(Load(Header(6) + Record(1, 63, 1000, 0, m_root + "4/")), 0u);
    {
        OtherRun other(false);
        ASSERT_EQ(other.folder, m_root + "7/");
        WriteFileText(m_root + "7/Fast_other", "theirs");
        // Even with an index that does not know the other run's folder
        // (a save of its that failed), that folder is passed over.
        Load(Header(6) + Record(1, 63, 1000, 0, m_root + "4/"));
        M().AddDirIndex();
        EXPECT_EQ(Dir(), m_root + "8/");
        M().DeleteLogFileDir((m_root + "7/").c_str());
        EXPECT_EQ(ReadFileText(m_root + "7/Fast_other"), "theirs");
    }
    _LOG_FILE_INFO_ info;
    {
        // The other run reuses the log of volume (1, 63, 1000): this run may
        // neither reuse it nor delete it as stale.
        OtherRun other(true);
        ASSERT_EQ(other.folder, m_root + "4/");
        EXPECT_EQ(M().LoadRecoveryLogInfo(STABLE_DEVICE, 1, 63, 1000, &info), 0);
        EXPECT_TRUE(PathExists(m_root + "4/Fast_1"));
    }
    // Once it has ended the folder is free again.
    EXPECT_EQ(M().LoadRecoveryLogInfo(STABLE_DEVICE, 1, 63, 1000, &info), 1);
}

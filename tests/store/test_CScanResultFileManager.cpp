#include "store/CScanResultFileManager.h"

#include "StoreTestEnv.h"
#include "core/Portability.h"
#include "store/FileTypeLists.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <numeric>
#include <unistd.h>
#include <sys/resource.h>

namespace
{
constexpr unsigned long long Key(unsigned level, unsigned cluster)
{
    return (static_cast<unsigned long long>(level) << 32) | cluster;
}

struct NodeSpec
{
    const char* name;
    unsigned parentCluster;
    unsigned parentLevel;
    bool isDir;
    unsigned cluster;
    unsigned health;
};

// Spools one node the way the engines do: slot, fill, file it under its
// folder (giving a folder's name unless told not to, as the fast engines).
unsigned AddNode(CScanResultFileManager& store, const NodeSpec& n, bool folderName = true)
{
    _FILE_NODE_* slot = store.CreateFileNode(static_cast<int>(sizeof(_FILE_NODE_)));
    if (!slot)
        return 0;
    slot->bIsDir = n.isDir;
    slot->bDataHealth = n.health;
    slot->uFileIndex = store.GetFileIndex();
    slot->uClusterNO = n.cluster;
    slot->u64FileSize = n.isDir ? 0 : 1000 + slot->uFileIndex;
    strncpy(slot->szFileName, n.name, sizeof(slot->szFileName) - 1);
    store.AddChildren(n.parentCluster, n.parentLevel, slot->uFileIndex, n.cluster,
                      n.isDir && folderName ? n.name : nullptr);
    return slot->uFileIndex;
}

// The names of nodes or search hits, each followed by a blank.
template <typename T> std::string Names(const std::vector<T>& nodes)
{
    std::string out;
    for (const auto& n : nodes)
        out += std::string(n.szFileName) + " ";
    return out;
}

// The children of key as "name name ... /count" ("failed" in front when a
// read fails), and the path of a node's folder.
std::string Kids(CScanResultFileManager& s, unsigned long long key, std::vector<_FILE_NODE_>* nodes = nullptr)
{
    std::vector<_FILE_NODE_> v;
    unsigned count = 0;
    const unsigned a = s.GetChildrenFileNode(key, v), b = s.GetChildrenFileCount(key, count);
    if (nodes)
        *nodes = v;
    return (a || b ? "failed " : "") + Names(v) + "/" + std::to_string(count);
}

std::wstring ParentPath(CScanResultFileManager& s, const _FILE_NODE_& node)
{
    wchar_t path[600];
    return s.GetParentDirPath(&node, path, 600) == 0 ? path : L"failed";
}

// Root (cluster 2): b.txt, A.jpg, Photos (cluster 10) and the empty folder
// a (cluster 30); Photos: x.png, 2019 (cluster 20); 2019: y.jpg, z.jpg and
// the damaged picture X.JPG.
void BuildTree(CScanResultFileManager& s)
{
    const NodeSpec nodes[] = {
        {"b.txt", 2, 0, false, 100, 1},  {"A.jpg", 2, 0, false, 101, 1},  {"Photos", 2, 0, true, 10, 1},
        {"x.png", 10, 1, false, 102, 1}, {"2019", 10, 1, true, 20, 1},    {"y.jpg", 20, 2, false, 103, 1},
        {"z.jpg", 20, 2, false, 104, 1}, {"X.JPG", 20, 2, false, 105, 0}, {"a", 2, 0, true, 30, 1},
    };
    for (const auto& n : nodes)
        AddNode(s, n);
}

class ScanResultStoreTest : public StoreTestEnv
{
  protected:
    std::string StorePath(const char* name) const { return m_root + "0/" + name; }
};
} // namespace

// Children come files first, ignoring case, damaged pictures hidden but
// counted; a reopened store gives the same answers and takes more records.
TEST_F(ScanResultStoreTest, ChildrenSortFilesFirstHideDamagedPicturesAndReadBackTheSame)
{
    std::vector<_FILE_NODE_> topBefore, year, top;
    {
        CScanResultFileManager s;
        ASSERT_EQ(s.Init(L"Fast_5"), 0u);
        BuildTree(s);
        ASSERT_EQ(s.FlushBufToFile(), 0u);
        // The folder a sorts after the files, though its name comes first;
        // the damaged X.JPG is counted but not listed.
        EXPECT_EQ(Kids(s, 0, &topBefore), "A.jpg b.txt a Photos /6");
        EXPECT_EQ(Kids(s, Key(1, 10)), "x.png 2019 /4");
        EXPECT_EQ(Kids(s, Key(2, 20), &year), "y.jpg z.jpg /3");
    }
    ASSERT_EQ(year.size(), 2u);
    CScanResultFileManager r;
    ASSERT_EQ(r.Init(L"Fast_5"), 0u);
    EXPECT_EQ(r.GetFileIndex(), 9u) << "a reopened store goes on after its records";
    EXPECT_EQ(Kids(r, 0, &top), "A.jpg b.txt a Photos /6");
    ASSERT_EQ(top.size(), topBefore.size());
    EXPECT_EQ(0, memcmp(top.data(), topBefore.data(), top.size() * sizeof(_FILE_NODE_)));
    EXPECT_EQ(ParentPath(r, year[1]), L"Photos/2019/");
    EXPECT_TRUE(r.IsDirFileNodeExist(20, 2));
    EXPECT_FALSE(r.IsDirFileNodeExist(20, 1));

    // A resumed sweep adds to the reopened store without disturbing it.
    EXPECT_EQ(AddNode(r, {"late.jpg", 20, 2, false, 106, 1}), 10u);
    ASSERT_EQ(r.FlushBufToFile(), 0u);
    EXPECT_EQ(Kids(r, Key(2, 20)), "late.jpg y.jpg z.jpg /4");
    EXPECT_EQ(ReadFileText(StorePath("Fast_5")).size(), 10 * 344u);
}

// Without folder names (the fast engines give none) folders are looked up
// in the node file, through a lookup built once (each step of each path
// used to read the whole file: minutes for a large listing). It must follow
// records written after it was built, keep the first folder of a cluster,
// and never take a file that starts at a folder's cluster for the folder.
TEST_F(ScanResultStoreTest, FolderLookupWithoutNamesUsesTheNodeFile)
{
    CScanResultFileManager t;
    ASSERT_EQ(t.Init(L"Fast_6"), 0u);
    const NodeSpec nodes[] = {{"at40.txt", 2, 0, false, 40, 1},
                              {"first", 2, 0, true, 40, 1},
                              {"second", 2, 0, true, 40, 1},
                              {"a.txt", 40, 1, false, 0, 1}};
    for (const NodeSpec& n : nodes)
        AddNode(t, n, false);
    ASSERT_EQ(t.FlushBufToFile(), 0u);
    EXPECT_EQ(ReadFileText(StorePath("Fast_6_DirInfo")), "");
    std::vector<_FILE_NODE_> v;
    ASSERT_EQ(Kids(t, Key(1, 40), &v), "a.txt /1");
    EXPECT_EQ(ParentPath(t, v.at(0)), L"first/");
    _FILE_NODE_ found{};
    EXPECT_EQ(t.GetFileNodeByClusterNO(40, &found), 0u);
    EXPECT_STREQ(found.szFileName, "first");
    EXPECT_EQ(t.GetFileNodeByClusterNO(77, &found), 87u);

    AddNode(t, {"later", 40, 1, true, 50, 1}, false);
    AddNode(t, {"b.txt", 50, 2, false, 0, 1}, false);
    ASSERT_EQ(t.FlushBufToFile(), 0u);
    ASSERT_EQ(Kids(t, Key(2, 50), &v), "b.txt /1");
    EXPECT_EQ(ParentPath(t, v.at(0)), L"first/later/");
}

TEST_F(ScanResultStoreTest, SearchMatchesKindsOtherFilesAndSubstrings)
{
    CScanResultFileManager s;
    ASSERT_EQ(s.Init(L"File_Type_1"), 0u);
    // An empty store answers with nothing.
    std::vector<_FILE_NODE_> none;
    _FILE_NODE_ first{};
    first.uFileIndex = 1;
    EXPECT_EQ(Kids(s, 0), "/0");
    EXPECT_EQ(s.GetParentFileNode(&first, none), 0u);
    EXPECT_TRUE(none.empty());

    const NodeSpec nodes[] = {
        {"photo.jpg", 0, 0, false, 0, 1}, {"notes.xyz", 0, 0, false, 0, 1}, {"song.mp3", 0, 0, false, 0, 1},
        {"README", 0, 0, false, 0, 1},    {"a.jp", 0, 0, false, 0, 1},      {"broken.JPG", 0, 0, false, 0, 0},
        {"trail.", 0, 0, false, 0, 1},    {"dead.", 0, 0, false, 0, 0},     {"dir.jpg", 0, 0, true, 9, 1},
        {"Big.JPG", 0, 0, false, 0, 1},
    };
    for (const auto& n : nodes)
        AddNode(s, n);

    const std::pair<const wchar_t*, const char*> cases[] = {
        {L"*.jpg|*.other", "a.jp Big.JPG notes.xyz photo.jpg README trail. "},
        {L"*.jpg", "a.jp Big.JPG photo.jpg "},
        {L"*.mp3", "song.mp3 "},
        {L"*.other", "notes.xyz README trail. "},
        {L"", ""},
    };
    for (const auto& c : cases)
    {
        std::vector<__SEARCH_FILE_INFO__> hits;
        EXPECT_EQ(s.SearchFileNodeInfo(c.first, hits), 1);
        EXPECT_EQ(Names(hits), c.second) << "key " << tessaroo::WideToUtf8(c.first);
    }

    // The hits of several engines are merged into one vector and sorted whole.
    std::vector<__SEARCH_FILE_INFO__> merged(1);
    strcpy(merged[0].szFileName, "aaa.mp3");
    EXPECT_EQ(s.SearchFileNodeInfo(L"*.mp3|*.jpg", merged), 1);
    EXPECT_EQ(Names(merged), "a.jp aaa.mp3 Big.JPG photo.jpg song.mp3 ");

    // Other files are not listed from a node file grown past its limit with
    // never-written (sparse) records.
    ASSERT_EQ(s.FlushBufToFile(), 0u);
    ASSERT_EQ(truncate(StorePath("File_Type_1").c_str(), 0x7FFFFFF + 344 - (0x7FFFFFF % 344)), 0);
    std::vector<__SEARCH_FILE_INFO__> hits;
    EXPECT_EQ(s.SearchFileNodeInfo(L"*.jpg|*.other", hits), 1);
    EXPECT_EQ(Names(hits), "a.jp Big.JPG photo.jpg ");
}

TEST_F(ScanResultStoreTest, SearchReportsProgressAndStopsWhenAsked)
{
    CScanResultFileManager s;
    ASSERT_EQ(s.Init(L"File_Type_2"), 0u);
    for (int i = 0; i < 450; ++i)
        AddNode(s, {"f.jpg", 0, 0, false, 0, 1});
    // Answers a report with "stop" once one has been seen.
    std::vector<int> seen;
    auto cb = [](void* ctx, int percent, wchar_t*) -> int
    {
        auto* v = static_cast<std::vector<int>*>(ctx);
        v->push_back(percent);
        return v->front() < 0 ? 1 : 0;
    };
    s.InitSearchCallBack(cb, &seen);
    std::vector<__SEARCH_FILE_INFO__> hits;
    EXPECT_EQ(s.SearchFileNodeInfo(L"*.jpg", hits), 1);
    EXPECT_EQ(hits.size(), 450u);
    EXPECT_EQ(seen, (std::vector<int>{44, 88, 100}));

    seen = {-1};
    hits.clear();
    EXPECT_EQ(s.SearchFileNodeInfo(L"*.jpg", hits), 1);
    EXPECT_EQ(hits.size(), 200u) << "stopped after the first block";
    EXPECT_EQ(seen.size(), 2u);
}

TEST_F(ScanResultStoreTest, FailedInitHandsOutNoSlots)
{
    const std::wstring tooLong(256, L'x');
    const wchar_t* bad[] = {nullptr, L"", L".", L"..", L"a/b", L"../escape", tooLong.c_str()};
    for (const wchar_t* name : bad)
    {
        CScanResultFileManager s;
        EXPECT_EQ(s.Init(name), 87u) << (name ? tessaroo::WideToUtf8(name) : "null");
        EXPECT_EQ(s.CreateFileNode(344), nullptr);
        EXPECT_EQ(s.GetFileIndex(), 0u);
    }
    EXPECT_FALSE(PathExists(m_root + "0/../escape"));

    // The scan-log folder cannot be made: a plain file stands in its way.
    WriteFileText(m_root + "0", "not a folder");
    CScanResultFileManager blocked;
    EXPECT_NE(blocked.Init(L"Fast_9"), 0u);
    EXPECT_EQ(blocked.CreateFileNode(344), nullptr);
    std::vector<__SEARCH_FILE_INFO__> hits;
    EXPECT_EQ(blocked.SearchFileNodeInfo(L"*.jpg|*.other", hits), 0);
    blocked.AddChildren(2, 0, 1, 0, nullptr);
    EXPECT_NE(blocked.FlushBufToFile(), 0u) << "nothing pretends to be stored";
}

TEST_F(ScanResultStoreTest, ALostBlockLeavesAHoleAndIsReportedByTheNextFlush)
{
    // The write limit applies to the whole process, so the scenario runs in
    // a child that exits with the step that failed; SIGXFSZ is ignored so
    // the write fails with EFBIG instead.
    auto scenario = [this]() -> int
    {
        signal(SIGXFSZ, SIG_IGN);
        CScanResultFileManager s;
        struct rlimit rl, small;
        getrlimit(RLIMIT_FSIZE, &rl);
        small = rl;
        small.rlim_cur = 2 * 68800;
        if (s.Init(L"Fast_hole") != 0 || setrlimit(RLIMIT_FSIZE, &small) != 0)
            return 10;
        std::vector<std::string> kept;
        for (unsigned i = 1; i <= 800; ++i) // the 601st writes records 401..600, which fail
        {
            const std::string name = "n" + std::to_string(i) + ".txt";
            if (AddNode(s, {name.c_str(), 2, 0, false, 0, 1}) != i)
                return 11;
            if (i == 601)
                setrlimit(RLIMIT_FSIZE, &rl);
            if (i <= 400 || i > 600)
                kept.push_back(name + " ");
        }
        if (s.FlushBufToFile() != EFBIG)
            return 12;
        if (s.FlushBufToFile() != 0)
            return 13;
        std::sort(kept.begin(), kept.end());
        return Kids(s, 0) == std::accumulate(kept.begin(), kept.end(), std::string()) + "/600" ? 0 : 14;
    };
    EXPECT_EXIT(_exit(scenario()), ::testing::ExitedWithCode(0), "");
}

// Relation texts as a damaged or hostile file may hold them, and what is
// loaded from them (shown as the text written back).
TEST_F(ScanResultStoreTest, RelationTextLoadsWhatIsSound)
{
    const std::pair<std::string, std::string> cases[] = {
        {" | 5 - [1,2] | 5 - [9]", " | 5 - [9]"}, // the later entry wins
        {" | 7 - [1] | 5 - [2]", " | 5 - [2] | 7 - [1]"},
        {" | 5 - [1,2] | 6 - [3,4", " | 5 - [1,2] | 6 - [3]"},
        {" | 5 - [1,2] | 6 - [3", " | 5 - [1,2]"},
        {" | 5 - [1] | 6", " | 5 - [1]"},
        {" | 5 - [0,2,99999999999,4294967295]", " | 5 - [2,4294967295]"},
        {" | 99999999999999999999999 - [1] | 3 - [4]", " | 3 - [4]"},
        {" | 5 - [] | 6 - [,] | 7 - [8]", " | 7 - [8]"},
        {" | 5 - [1,x,,2 ,-3]", " | 5 - [1,2]"},
        {" | - [1] | 4 - [2]", " | 4 - [2]"},
        {"garbage without any marks", ""},
        {std::string(" | 5 - [1\0,2]", 13), " | 5 - [1,2]"},
        {"| 5 - [1] | 6 - [2]", " | 6 - [2]"},
    };
    tessaroo::MakeDirs(m_root + "0/");
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.first);
        WriteFileText(StorePath("Pro_Ntfs_1_Relation"), c.first);
        CScanResultFileManager s;
        ASSERT_EQ(s.Init(L"Pro_Ntfs_1"), 0u);
        // A new entry after every possible loaded key makes the store write
        // the whole relation back.
        s.AddChildren(0xFFFFFFFFu, 0xFFFFFFFFu, 1, 0, nullptr);
        ASSERT_EQ(s.FlushRelationToFile(), 0u);
        EXPECT_EQ(ReadFileText(StorePath("Pro_Ntfs_1_Relation")), c.second + " | 18446744073709551615 - [1]");
    }
}

TEST_F(ScanResultStoreTest, IndicesThatNameNoRecordArePassedOver)
{
    CScanResultFileManager s;
    ASSERT_EQ(s.Init(L"Fast_i"), 0u);
    AddNode(s, {"one.txt", 5, 0, false, 0, 1});
    AddNode(s, {"two.txt", 5, 0, false, 0, 1});
    s.AddChildren(5, 0, 0, 0, nullptr);
    s.AddChildren(5, 0, 50, 0, nullptr);
    s.AddChildren(5, 0, 3, 0, nullptr); // created below but never flushed
    ASSERT_EQ(s.FlushBufToFile(), 0u);
    ASSERT_NE(s.CreateFileNode(344), nullptr);
    EXPECT_EQ(Kids(s, 5), "one.txt two.txt /2");
}

TEST_F(ScanResultStoreTest, FolderNameFileLoadsOnlyCompleteRecords)
{
    {
        CScanResultFileManager s;
        ASSERT_EQ(s.Init(L"Pro_Fat_d"), 0u);
        BuildTree(s);
        ASSERT_EQ(s.FlushBufToFile(), 0u);
    }
    const std::string dirInfo = StorePath("Pro_Fat_d_DirInfo");
    std::string bytes = ReadFileText(dirInfo);
    ASSERT_EQ(bytes.size(), 3 * 264u);
    // The second record: cluster 20, node 5, "2019".
    EXPECT_EQ(bytes.substr(264, 13), std::string("\x14\0\0\0\x05\0\0\0"
                                                 "2019\0",
                                                 13));
    // Cut the second record and make the first one's name unterminated.
    bytes.resize(264 + 100);
    memset(&bytes[8], 'N', 256);
    WriteFileText(dirInfo, bytes);

    CScanResultFileManager s;
    ASSERT_EQ(s.Init(L"Pro_Fat_d"), 0u);
    std::vector<_FILE_NODE_> year;
    ASSERT_EQ(Kids(s, Key(2, 20), &year), "y.jpg z.jpg /3");
    // "2019" now comes from the node file, Photos from the damaged record.
    EXPECT_EQ(ParentPath(s, year[0]), std::wstring(255, L'N') + L"/2019/");
    ASSERT_EQ(s.FlushBufToFile(), 0u);
    EXPECT_EQ(ReadFileText(dirInfo).size(), 264u) << "the cut record is dropped";
}

TEST_F(ScanResultStoreTest, ParentChainEndsOnCycles)
{
    CScanResultFileManager s;
    ASSERT_EQ(s.Init(L"Fast_c"), 0u);
    AddNode(s, {"top.txt", 1, 0, false, 0, 1});   // 1: keeps the top key smallest
    AddNode(s, {"A", 20, 2, true, 10, 1});        // 2: A filed below B
    AddNode(s, {"B", 10, 2, true, 20, 1});        // 3: B filed below A
    AddNode(s, {"in.txt", 10, 2, false, 0, 1});   // 4: a file in A
    AddNode(s, {"self", 30, 1, true, 30, 1});     // 5: a folder inside itself
    AddNode(s, {"deep.txt", 30, 1, false, 0, 1}); // 6
    ASSERT_EQ(s.FlushBufToFile(), 0u);

    std::vector<_FILE_NODE_> v, parents;
    ASSERT_EQ(Kids(s, Key(2, 10), &v), "in.txt B /1");
    EXPECT_EQ(s.GetParentFileNode(&v[0], parents), 0u);
    EXPECT_EQ(Names(parents), "A B ");
    EXPECT_EQ(ParentPath(s, v[0]), L"B/A/");

    ASSERT_EQ(Kids(s, Key(1, 30), &v), "deep.txt self /1");
    parents.clear();
    EXPECT_EQ(s.GetParentFileNode(&v[0], parents), 0u);
    EXPECT_EQ(Names(parents), "self ");
    EXPECT_EQ(s.GetParentFileNode(nullptr, parents), 87u);
}

TEST_F(ScanResultStoreTest, CountExpandsEachFolderOnce)
{
    // Forty levels, each folder filed twice below the one above: walking
    // every path would expand the last folder 2^40 times.
    CScanResultFileManager s;
    ASSERT_EQ(s.Init(L"Fast_dag"), 0u);
    for (unsigned level = 1; level <= 40; ++level)
    {
        AddNode(s, {"f.txt", 100 + level, level, false, 0, 1});
        AddNode(s, {"d1", 100 + level, level, true, 100 + level + 1, 1});
        AddNode(s, {"d2", 100 + level, level, true, 100 + level + 1, 1});
    }
    ASSERT_EQ(s.FlushBufToFile(), 0u);
    EXPECT_EQ(Kids(s, Key(1, 101)), "f.txt d1 d2 /40");
}

// The signature engine around the estimates: the carved node and the skip,
// its store in the scan-log folder, the flat listing, and copies through the
// safe target files (a file past the device's end, a stop, an empty file).
// Then the carving sweep over a raw image of real files between random, zero
// and text filler (tools/make_carve_image.sh): every file is found at its
// first sector with the length its format's rules give, nothing is carved
// from the filler, and the files whose rules find their own end come back
// byte for byte through the engine's copy, with their previews.
#include "tests/signature/SignatureTestEnv.h"

#include "core/Platform.h"
#include "core/Portability.h"
#include "core/Status.h"
#include "core/ByteReader.h"
#include "store/CLogFileManager.h"
#include "store/CScanResultFileManager.h"
#include "tests/support/PreviewCheck.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <tuple>

#include <sys/stat.h>

using namespace sigtest;
using namespace tessaroo::test;
using tessaroo::PutU32;

namespace
{
const Bytes JFIF = JfifHead();

class CarveEngineTest : public JudgeTest
{
  protected:
    // An engine over an image of whole sectors, or of total sectors holding pieces.
    void Open(const Bytes& img)
    {
        m_dev.reset(new ImageDevice(img));
        ASSERT_EQ(0u, m_engine.Init(0, 0, (long long)(img.size() / 512), L'C'));
        m_engine.InitCallBack(&Reports::OnScan, &Reports::OnRecovery, &m_reports, 90);
    }
    void Open(uint64_t total, const std::vector<std::pair<size_t, Bytes>>& pieces)
    {
        Open(Layout(total, pieces));
    }
    int Carve(uint64_t sector, unsigned long long& skip)
    {
        unsigned char buf[512];
        unsigned int got = 0;
        EXPECT_EQ(0u, m_dev->Reader().ReadData(buf, 1, (long long)sector, 512, &got));
        unsigned long long files = 0;
        return m_engine.ParseFileBuf(buf, 512, sector, 0, 1000, -1, &m_dev->Reader(), 512, skip, files);
    }
    void TearDown() override
    {
        m_engine.InitCallBack(nullptr, nullptr, nullptr, 0);
        JudgeTest::TearDown();
    }

    TempDir m_out{"carveout"};
    std::unique_ptr<ImageDevice> m_dev;
    CFileTypeRecovery m_engine;
    Reports m_reports;
};

TEST_F(CarveEngineTest, CarvedNodeSkipAndStore)
{
    // A JPEG of 1,000,000 bytes at sector 2048, a BMP, a PE image.
    const Bytes pe =
        With(Text("MZ", 512), {{60, {0x40}}, {0x40, Raw({'P', 'E', 0, 0}, 24)}, {0x40 + 22, {0x02}}});
    Open(8192, {{2048, JFIF},
                {2048 + 1000000 / 512, With(Bytes(62, 0x11), 62, {0xFF, 0xD9})},
                {6000, BmpHead(4000)},
                {7000, pe}});

    // The sweep skips a carved file, but still looks inside a header-sized one.
    std::vector<std::pair<int, unsigned long long>> carved;
    for (uint64_t s : {2048, 6000, 7000, 100})
    {
        unsigned long long skip = 0;
        const int st = Carve(s, skip);
        carved.push_back({st, st == 0 ? skip : 0});
    }
    EXPECT_EQ(carved, (std::vector<std::pair<int, unsigned long long>>{{0, 1954}, {0, 1}, {87, 0}, {87, 0}}));
    EXPECT_EQ(2u, m_engine.GetLostFileCount());
    std::vector<_FILE_NODE_> nodes = CarvedNodes(m_engine);
    std::set<std::tuple<std::string, uint64_t, uint64_t, uint32_t>> got;
    for (const _FILE_NODE_& n : nodes)
        got.insert({n.szFileName, n.u64FileSize, n.u64RecordSector, n.uEngineType});
    const uint32_t sig = ENGINE_TYPE_SIGNATURE;
    EXPECT_EQ(got, (decltype(got){{"2048.jpg", 1000000, 2048, sig}, {"6000.bmp", 4000, 6000, sig}}));
    ASSERT_FALSE(nodes.empty());

    // Flat: a folder has no children here, and the vector is left alone. (The
    // search by kind goes through the deep scan's listing: tests/cli.)
    std::vector<_FILE_NODE_> children(1);
    EXPECT_EQ(0u, m_engine.GetChildrenFileNode(&nodes[0], 1, children));
    EXPECT_EQ(1u, children.size());

    // The store lies in the current scan-log folder under the engine's prefix.
    char dir[CLogFileManager::PATH_SIZE] = {0};
    ASSERT_EQ(0u, CLogFileManager::GetInstance()->GetLogFileDirPath(dir));
    const std::string path = m_engine.GetScanResult()->GetFileNodePath();
    EXPECT_EQ(0u, path.find(std::string(dir) + "File_Type_0_")) << path;
}

TEST_F(CarveEngineTest, CopiesThroughSafeTargetFiles)
{
    // An AVI whose header claims more than the device holds; a BMP of 0 bytes;
    // a WAV of 200 KiB.
    Bytes avi = With(Text("RIFF", 16), 8, Text("AVI LIST"));
    PutU32(&avi[4], 100000);
    Bytes wav = With(Text("RIFF", 16), 8, Text("WAVEfmt "));
    PutU32(&wav[4], 200 * 1024 - 8);
    Open(600, {{10, BmpHead(0)}, {100, wav}, {580, With(avi, 512, Bytes(512 * 19, 0x5A))}});
    unsigned long long skip = 0;
    for (uint64_t s : {10, 100, 580})
        ASSERT_EQ(0, Carve(s, skip));
    std::map<std::string, _FILE_NODE_> byName;
    for (const _FILE_NODE_& n : CarvedNodes(m_engine))
        byName[n.szFileName] = n;
    ASSERT_EQ(3u, byName.size());

    struct
    {
        const char* node;
        int stopAt;
        unsigned int status;
        long long size; // -1: removed
    } cases[] = {
        {"580.avi", -1, tessaroo::STATUS_READ_FAULT, 20 * 512}, // what the device has is kept
        {"10.bmp", -1, 0, 0},
        {"100.wav", -1, 0, 200 * 1024},
        {"100.wav", 1, unsigned(tessaroo::STATUS_CANCEL), -1},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(std::string(c.node) + " stop " + std::to_string(c.stopAt));
        m_reports = Reports();
        m_reports.nStopAtRecovery = c.stopAt;
        m_reports.nStopAnswer = tessaroo::STATUS_CANCEL;
        _FILE_NODE_ node = byName[c.node];
        std::wstring target =
            tessaroo::Utf8ToWide(m_out.File("copy-" + std::to_string(c.stopAt) + "-" + c.node).c_str());
        const unsigned int status = m_engine.SaveFileData(&node, &target[0], 0);
        ASSERT_FALSE(m_reports.recoveries.empty());
        const Reports::Recovery& last = m_reports.recoveries.back();
        const auto finals = std::count_if(m_reports.recoveries.begin(), m_reports.recoveries.end(),
                                          [](const Reports::Recovery& r) { return r.percent == 100; });
        struct stat st;
        const long long size = stat(tessaroo::WideToUtf8(last.path.c_str()).c_str(), &st) ? -1 : st.st_size;
        EXPECT_EQ(std::make_tuple(c.status, int(c.status), 1L, c.size),
                  std::make_tuple(status, last.status, long(finals), size));
    }
    EXPECT_EQ(size_t(3), ListFolder(m_out.Path()).size()) << "no partial file left behind";
}
// A line of carve.manifest: size, sha256, the carved size expected
// ("exact", "next", "sector" or a byte count), "inner" when files are carved
// inside this one, the name.
struct CarvedFile
{
    uint64_t size = 0;
    std::string sha256, expect, inner, name;
};

TEST_F(CarveEngineTest, CarveImageFilesGetTheLengthOfTheirRulesAndExactOnesComeBackWhole)
{
    const std::string dir = SharedScriptImages("make_carve_image.sh");
    ASSERT_FALSE(dir.empty()) << "tools/make_carve_image.sh failed";
    std::map<uint64_t, CarvedFile> files; // by first sector
    std::ifstream manifest(dir + "/carve.manifest");
    uint64_t start = 0;
    for (CarvedFile f; manifest >> start >> f.size >> f.sha256 >> f.expect >> f.inner >> f.name;)
        files[start] = f;
    ASSERT_GE(files.size(), 60u);
    Bytes image;
    ASSERT_TRUE(ReadWholeFile(dir + "/carve.img", image));
    const uint64_t sectors = image.size() / 512;
    Open(image);
    // The sweep of the deep scan: each sector offered, going on after each
    // carved file's extent.
    for (uint64_t pos = 0; pos < sectors;)
    {
        unsigned long long skip = 1;
        const int st = Carve(pos, skip);
        ASSERT_TRUE(st == 0 || st == 87) << st << " at sector " << pos;
        pos += std::max<unsigned long long>(skip, 1);
    }

    std::map<uint64_t, _FILE_NODE_> byStart;
    for (const _FILE_NODE_& n : CarvedNodes(m_engine))
        byStart[n.u64RecordSector] = n;
    // Nothing carved from the filler, nor from inside a file unless its
    // format holds aligned starts of known files.
    for (const auto& n : byStart)
    {
        auto owner = files.upper_bound(n.first);
        if (owner != files.begin())
            --owner;
        const bool inside =
            n.first >= owner->first && n.first < owner->first + (owner->second.size + 511) / 512;
        EXPECT_TRUE(owner->first == n.first || (inside && owner->second.inner == "inner"))
            << "carved at sector " << n.first << ": " << n.second.szFileName;
    }

    for (auto it = files.begin(); it != files.end(); ++it)
    {
        const CarvedFile& f = it->second;
        SCOPED_TRACE(f.name + " at sector " + std::to_string(it->first));
        auto hit = byStart.find(it->first);
        if (hit == byStart.end())
        {
            ADD_FAILURE() << "not carved";
            continue;
        }
        const _FILE_NODE_& node = hit->second;
        EXPECT_EQ(0u, std::string(node.szFileName).find(std::to_string(it->first) + "."));
        const uint64_t next = std::next(it) == files.end() ? sectors : std::next(it)->first;
        uint64_t expected = f.size;
        if (f.expect == "next")
            expected = (next - it->first) * 512;
        else if (f.expect == "sector")
            expected = 512;
        else if (f.expect != "exact")
            expected = std::stoull(f.expect);
        EXPECT_EQ(expected, node.u64FileSize) << f.expect;
        if (node.u64FileSize != f.size)
            continue;

        _FILE_NODE_ copy = node;
        std::wstring target = tessaroo::Utf8ToWide(m_out.File(std::string(node.szFileName)).c_str());
        m_reports.recoveries.clear();
        EXPECT_EQ(0u, m_engine.SaveFileData(&copy, &target[0], 0));
        ASSERT_FALSE(m_reports.recoveries.empty());
        EXPECT_EQ(0, m_reports.recoveries.back().status);
        EXPECT_EQ(Sha256OfFile(m_out.File(node.szFileName)), f.sha256) << "copy differs from the file";
        ExpectPreviewOf(&m_engine, copy, m_out.File(node.szFileName));
    }
}
} // namespace

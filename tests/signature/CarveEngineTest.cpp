// The signature engine around the estimates: the carved node and the skip,
// its store in the scan-log folder, the flat listing, and copies through the
// safe target files (a file past the device's end, a stop, an empty file).
// Previews are checked on the carve image, file by file.
#include "tests/signature/SignatureTestEnv.h"

#include "core/Platform.h"
#include "core/Portability.h"
#include "core/Status.h"
#include "core/ByteReader.h"
#include "store/CLogFileManager.h"
#include "store/CScanResultFileManager.h"

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
    // An engine over an image of total sectors holding pieces.
    void Open(uint64_t total, const std::vector<std::pair<size_t, Bytes>>& pieces)
    {
        m_dev.reset(new ImageDevice(Layout(total, pieces)));
        ASSERT_EQ(0u, m_engine.Init(0, 0, (long long)total, L'C'));
        m_engine.InitCallBack(&Reports::OnScan, &Reports::OnRecovery, &m_reports, 90);
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
    Bytes tail = Raw({0xFF, 0xD9}, 512);
    const uint64_t tailSector = 2048 + 1000000 / 512;
    Bytes bmp = BmpHead(4000);
    Bytes pe = With(Text("MZ", 512), 60, {0x40});
    pe = With(pe, 0x40, Raw({'P', 'E', 0, 0}, 24));
    pe[0x40 + 22] = 0x02;
    Open(8192, {{2048, JFIF},
                {tailSector, With(Bytes(1000000 % 512 - 2, 0x11), 1000000 % 512 - 2, tail)},
                {6000, bmp},
                {7000, pe}});

    unsigned long long skip = 0;
    ASSERT_EQ(0, Carve(2048, skip));
    EXPECT_EQ(1954u, skip);
    ASSERT_EQ(0, Carve(6000, skip));
    EXPECT_EQ(1u, skip) << "the sweep still looks inside a header-sized file";
    EXPECT_EQ(87, Carve(7000, skip));
    EXPECT_EQ(87, Carve(100, skip));
    EXPECT_EQ(2u, m_engine.GetLostFileCount());

    std::vector<_FILE_NODE_> nodes = CarvedNodes(m_engine);
    ASSERT_EQ(2u, nodes.size());
    const _FILE_NODE_& jpg = std::string(nodes[0].szFileName) == "2048.jpg" ? nodes[0] : nodes[1];
    EXPECT_STREQ("2048.jpg", jpg.szFileName);
    EXPECT_EQ(1000000u, jpg.u64FileSize);
    EXPECT_EQ(2048u, jpg.u64RecordSector);
    EXPECT_EQ(uint32_t(ENGINE_TYPE_SIGNATURE), jpg.uEngineType);

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
    Bytes bmp = BmpHead(0);
    Bytes wav = With(Text("RIFF", 16), 8, Text("WAVEfmt "));
    PutU32(&wav[4], 200 * 1024 - 8);
    Open(600, {{10, bmp}, {100, wav}, {580, With(avi, 512, Bytes(512 * 19, 0x5A))}});
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
        EXPECT_EQ(c.status, m_engine.SaveFileData(&node, &target[0], 0));
        int finals = 0;
        for (const Reports::Recovery& r : m_reports.recoveries)
            finals += r.percent == 100;
        ASSERT_EQ(1, finals);
        EXPECT_EQ(int(c.status), m_reports.recoveries.back().status);
        struct stat st;
        const std::string kept = tessaroo::WideToUtf8(m_reports.recoveries.back().path.c_str());
        if (c.size < 0)
            EXPECT_NE(0, stat(kept.c_str(), &st));
        else
        {
            ASSERT_EQ(0, stat(kept.c_str(), &st)) << kept;
            EXPECT_EQ(c.size, (long long)st.st_size);
        }
    }
    EXPECT_EQ(size_t(3), ListFolder(m_out.Path()).size()) << "no partial file left behind";
}
} // namespace

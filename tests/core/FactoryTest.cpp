// The engine factory: classification of a volume's first 16 KiB (NTFS
// before FAT before ext before none), the engine each gives for a fast
// request, its three log messages, descriptors that are never leaked; and
// the ext placeholder engine, which opens its disk and changes nothing.
#include "core/BootSector.h"
#include "core/ByteReader.h"
#include "core/CFastExtRecovery.h"
#include "core/CFileRecoveryFactory.h"
#include "engines/fat/CFastFatRecovery.h"
#include "tests/core/CoreTestUtil.h"
#include "tests/support/FatBuilder.h"
#include "tests/support/ImageFile.h"
#include "tests/support/NtfsBuilder.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <unistd.h>

using namespace tessaroo;
using namespace tessaroo::test;
using coretest::DiskMapping;
using coretest::LogCapture;

namespace
{
// An ext2 superblock at 1024 (1 KiB blocks, one group).
std::vector<uint8_t> ExtSuperblock()
{
    std::vector<uint8_t> sb(1024, 0);
    PutU32(&sb[0], 2048);  // inodes
    PutU32(&sb[4], 8192);  // blocks
    PutU32(&sb[20], 1);    // first data block
    PutU32(&sb[32], 8192); // blocks per group
    PutU32(&sb[40], 2048); // inodes per group
    PutU16(&sb[56], 0xEF53);
    PutU32(&sb[84], 11); // first non-reserved inode
    return sb;
}

std::vector<uint8_t> Probe(std::initializer_list<std::pair<size_t, std::vector<uint8_t>>> parts,
                           size_t len = 16384)
{
    std::vector<uint8_t> buf(len, 0);
    for (const auto& p : parts)
        std::copy(p.second.begin(), p.second.end(), buf.begin() + long(p.first));
    return buf;
}

size_t OpenDescriptors()
{
    size_t n = 0;
    if (DIR* d = opendir("/proc/self/fd"))
    {
        while (readdir(d))
            ++n;
        closedir(d);
    }
    return n;
}

std::wstring Wide(const std::string& s)
{
    return std::wstring(s.begin(), s.end());
}
} // namespace

TEST(ClassifyVolume, OrderOfTheRecognisers)
{
    const std::vector<uint8_t> fat = MakeFatBootSector(DefaultFatParams(FatFormat::Fat32));
    const std::vector<uint8_t> ntfs = MakeNtfsBootSector(NtfsBootParams());
    const std::vector<uint8_t> ext = ExtSuperblock();
    EXPECT_EQ(ClassifyVolume(Probe({{0, ntfs}, {1024, ext}}).data(), 16384), VolumeKind::Ntfs);
    EXPECT_EQ(ClassifyVolume(Probe({{0, fat}, {1024, ext}}).data(), 16384), VolumeKind::Fat);
    EXPECT_EQ(ClassifyVolume(Probe({{1024, ext}}).data(), 16384), VolumeKind::Ext);
    EXPECT_EQ(ClassifyVolume(Probe({}).data(), 16384), VolumeKind::None);
    // The ext test needs the superblock in the buffer; a boot sector alone does not.
    const std::vector<uint8_t> shortExt = Probe({{1024, ext}}, 2048);
    EXPECT_EQ(ClassifyVolume(shortExt.data(), 2048), VolumeKind::Ext);
    EXPECT_EQ(ClassifyVolume(shortExt.data(), 2047), VolumeKind::None);
    EXPECT_EQ(ClassifyVolume(fat.data(), 512), VolumeKind::Fat);
    EXPECT_EQ(ClassifyVolume(fat.data(), 511), VolumeKind::None);
    EXPECT_EQ(ClassifyVolume(nullptr, 16384), VolumeKind::None);
}

class FactoryTest : public ::testing::Test
{
  protected:
    // Writes an image and maps it as disk 0.
    void MapImage(const std::vector<uint8_t>& bytes)
    {
        ASSERT_TRUE(WriteImageFile(m_dir.File("disk.img"), bytes));
        m_disks.reset(new DiskMapping({m_dir.File("disk.img")}));
    }

    IFileRecoveryParse* Fast(long long start = 0, long long count = 64)
    {
        return CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(0, start, count, L'C',
                                                                               RECOVERY_TYPE_FAST);
    }

    TempDir m_dir{"factory"};
    std::unique_ptr<DiskMapping> m_disks;
};

TEST_F(FactoryTest, IsOneInstance)
{
    EXPECT_NE(CFileRecoveryFactory::GetInstance(), nullptr);
    EXPECT_EQ(CFileRecoveryFactory::GetInstance(), CFileRecoveryFactory::GetInstance());
}

TEST_F(FactoryTest, UnrecognisedVolumeGivesNoFastEngine)
{
    MapImage(std::vector<uint8_t>(32768, 0xF6));
    LogCapture log;
    const size_t fds = OpenDescriptors();
    EXPECT_EQ(Fast(), nullptr);
    EXPECT_TRUE(log.Lines().empty());
    EXPECT_EQ(OpenDescriptors(), fds) << "the probe descriptor is closed";
}

TEST_F(FactoryTest, ExtVolumeGivesThePlaceholder)
{
    MapImage(Probe({{1024, ExtSuperblock()}}, 65536));
    std::unique_ptr<IFileRecoveryParse> e(Fast(0, 128));
    ASSERT_NE(e, nullptr);
    EXPECT_NE(dynamic_cast<CFastExtRecovery*>(e.get()), nullptr);
}

TEST_F(FactoryTest, FatVolumeGivesTheFastFatEngine)
{
    SectorImage img;
    img.Put(0, MakeFatBootSector(DefaultFatParams(FatFormat::Fat16)));
    img.Write(m_dir.File("disk.img"), 32768);
    m_disks.reset(new DiskMapping({m_dir.File("disk.img")}));
    std::unique_ptr<IFileRecoveryParse> e(Fast(0, 32768));
    ASSERT_NE(e, nullptr);
    EXPECT_NE(dynamic_cast<CFastFatRecovery*>(e.get()), nullptr);
}

TEST_F(FactoryTest, ProbeReadsAtTheStartSector)
{
    // Nothing at sector 0, a FAT volume at sector 2048.
    SectorImage img;
    img.Put(2048, MakeFatBootSector(DefaultFatParams(FatFormat::Fat16)));
    img.Write(m_dir.File("disk.img"), 2048 + 32768);
    m_disks.reset(new DiskMapping({m_dir.File("disk.img")}));
    EXPECT_EQ(Fast(0, 2048), nullptr);
    std::unique_ptr<IFileRecoveryParse> e(Fast(2048, 32768));
    EXPECT_NE(dynamic_cast<CFastFatRecovery*>(e.get()), nullptr);
}

// Each failure gives null, one log line and no open descriptor.
TEST_F(FactoryTest, UnmappedDiskLogsOpenFailed)
{
    MapImage(std::vector<uint8_t>(32768, 0));
    LogCapture log;
    const size_t fds = OpenDescriptors();
    EXPECT_EQ(
        CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(3, 0, 64, L'C', RECOVERY_TYPE_FAST),
        nullptr);
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"Open Failed\n"});
    EXPECT_EQ(OpenDescriptors(), fds);
}

TEST_F(FactoryTest, NegativeStartLogsLseekFailed)
{
    MapImage(std::vector<uint8_t>(32768, 0));
    LogCapture log;
    const size_t fds = OpenDescriptors();
    EXPECT_EQ(Fast(-1), nullptr);
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"lseek Failed\n"});
    EXPECT_EQ(OpenDescriptors(), fds);
}

TEST_F(FactoryTest, UnseekableDeviceLogsLseekFailed)
{
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    {
        DiskMapping disks({"/proc/self/fd/" + std::to_string(p[0])});
        LogCapture log;
        EXPECT_EQ(Fast(1), nullptr);
        EXPECT_EQ(log.Lines(), std::vector<std::string>{"lseek Failed\n"});
    }
    close(p[0]);
    close(p[1]);
}

TEST_F(FactoryTest, ShortDeviceLogsReadFailed)
{
    // 16 KiB are needed from the start sector on.
    MapImage(std::vector<uint8_t>(16384 + 511, 0));
    const size_t fds = OpenDescriptors();
    {
        LogCapture log;
        EXPECT_EQ(Fast(1), nullptr);
        EXPECT_EQ(Fast(1000), nullptr);
        EXPECT_EQ(log.Lines(), (std::vector<std::string>{"read Failed\n", "read Failed\n"}));
    }
    EXPECT_EQ(OpenDescriptors(), fds);
    // Exactly 16 KiB from the start is enough: read, then found unrecognised.
    LogCapture log;
    EXPECT_EQ(Fast(0), nullptr);
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(FactoryTest, PathFormFailsWithoutMessages)
{
    LogCapture log;
    std::wstring missing = Wide(m_dir.File("missing.img"));
    EXPECT_EQ(CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(&missing[0], L'C',
                                                                              RECOVERY_TYPE_FAST),
              nullptr);
    ASSERT_TRUE(WriteImageFile(m_dir.File("short.img"), std::vector<uint8_t>(8192, 0)));
    std::wstring shortImg = Wide(m_dir.File("short.img"));
    EXPECT_EQ(CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(&shortImg[0], L'C',
                                                                              RECOVERY_TYPE_FAST),
              nullptr);
    EXPECT_EQ(
        CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(nullptr, L'C', RECOVERY_TYPE_FAST),
        nullptr);
    EXPECT_TRUE(log.Lines().empty());

    ASSERT_TRUE(WriteImageFile(m_dir.File("ext.img"), Probe({{1024, ExtSuperblock()}}, 65536)));
    std::wstring ext = Wide(m_dir.File("ext.img"));
    std::unique_ptr<IFileRecoveryParse> e(
        CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(&ext[0], L'C', RECOVERY_TYPE_FAST));
    EXPECT_NE(dynamic_cast<CFastExtRecovery*>(e.get()), nullptr);
}

// --- CFastExtRecovery --------------------------------------------------------

TEST(FastExtRecovery, InitOpensTheDiskOrGivesTheError)
{
    TempDir dir("ext");
    ASSERT_TRUE(WriteImageFile(dir.File("ext.img"), std::vector<uint8_t>(4096, 0)));
    DiskMapping disks({dir.File("ext.img")});
    const size_t fds = OpenDescriptors();
    {
        CFastExtRecovery e;
        EXPECT_EQ(e.Init(1, 0, 8, L'C'), unsigned(ENOENT));
        EXPECT_EQ(e.Init(0, 0, 8, L'C'), 0u);
        EXPECT_EQ(OpenDescriptors(), fds + 1);
        // A second Init does not leak the first descriptor.
        EXPECT_EQ(e.Init(0, 0, 8, L'C'), 0u);
        EXPECT_EQ(OpenDescriptors(), fds + 1);
    }
    EXPECT_EQ(OpenDescriptors(), fds) << "the destructor closes the disk";
}

int ScanCallback(void*, int, int, int, unsigned long long, unsigned long long, unsigned long long, wchar_t*)
{
    ADD_FAILURE() << "the placeholder reports nothing";
    return 0;
}

int PreviewCallback(void*, int, int)
{
    ADD_FAILURE() << "the placeholder reports nothing";
    return 0;
}

TEST(FastExtRecovery, EveryOtherOperationChangesNothing)
{
    CFastExtRecovery e;
    std::wstring path = L"/nonexistent/device";
    EXPECT_EQ(e.Init(&path[0], L'C'), 0u);
    EXPECT_EQ(e.InitCallBack(ScanCallback, nullptr, nullptr, 100), 0u);
    EXPECT_EQ(e.ScanDevice(nullptr), 0u);
    EXPECT_EQ(e.GetLostFileCount(), 0u);

    _FILE_NODE_ node;
    memset(&node, 0x3C, sizeof(node));
    const _FILE_NODE_ nodeBefore = node;
    std::vector<_FILE_NODE_> nodes(2, node);
    EXPECT_EQ(e.GetChildrenFileNode(nullptr, 0, nodes), 0u);
    EXPECT_EQ(e.GetChildrenFileNode(&node, 3, nodes), 0u);
    EXPECT_EQ(nodes.size(), 2u);
    unsigned count = 41;
    EXPECT_EQ(e.GetChildrenFileCount(&node, 1, count), 0u);
    EXPECT_EQ(count, 41u);
    wchar_t text[8] = L"keep";
    EXPECT_EQ(e.GetFileNodeParentDirPath(&node, text, 8), 0u);
    EXPECT_EQ(std::wstring(text), L"keep");
    EXPECT_EQ(e.SaveFileData(&node, text, 2), 0u);
    unsigned long long start = 17, run = 23;
    EXPECT_EQ(e.GetUnUsedSectorCount(start, run), 0u);
    EXPECT_EQ(start, 17u);
    EXPECT_EQ(run, 23u);
    EXPECT_EQ(e.InitSearchCallBack(nullptr, nullptr), 0u);
    std::vector<__SEARCH_FILE_INFO__> hits(1, node);
    wchar_t key[] = L"*.jpg|*.txt";
    EXPECT_EQ(e.SearchFileNode(key, hits), 0u);
    EXPECT_EQ(hits.size(), 1u);
    EXPECT_EQ(e.BuildBitMapInfo(), 0u);
    unsigned char buf[16];
    memset(buf, 0x77, sizeof(buf));
    int len = sizeof(buf);
    wchar_t image[8] = L"";
    EXPECT_EQ(e.PreView(&node, image, buf, len, PreviewCallback, nullptr), 0u);
    EXPECT_EQ(len, int(sizeof(buf)));
    EXPECT_EQ(image[0], L'\0');
    EXPECT_EQ(buf[0], 0x77);
    EXPECT_EQ(memcmp(&node, &nodeBefore, sizeof(node)), 0);
}

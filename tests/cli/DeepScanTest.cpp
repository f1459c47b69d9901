// The deep scan end to end: what the file system lists plus what only the
// sweep finds, carved copies of listed files left out, boot sectors read
// through their backups, volumes without a file system swept whole, and a
// stopped scan that goes on where it stopped.
#include "core/Portability.h"
#include "engines/CProfessionalRecovery.h"
#include "recovery/KindPatterns.h"
#include "store/CLogFileManager.h"
#include "tests/cli/CliRunner.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <set>

using namespace tessaroo;
using namespace tessaroo::test;

namespace
{
class DeepScan : public CliFixture
{
  protected:
    // A copy of image with the 512 bytes at sector zeroed.
    std::string Wiped(const std::string& image, const std::string& name, uint64_t sector)
    {
        std::vector<uint8_t> bytes;
        EXPECT_TRUE(ReadWholeFile(image, bytes));
        std::fill(bytes.begin() + long(sector * 512), bytes.begin() + long(sector * 512 + 512), 0);
        EXPECT_TRUE(WriteImageFile(dir.File(name), bytes));
        return dir.File(name);
    }
    std::multiset<std::string> Recovered(const std::vector<std::string>& args, const std::string& out)
    {
        std::vector<std::string> a = {"recover", "--out", dir.File(out)};
        a.insert(a.end(), args.begin(), args.end());
        last = Run(a);
        EXPECT_EQ(last.exitCode, 0) << out << last.out << last.err;
        return ChecksumsBelow(dir.File(out));
    }
    CliRun last;
    const std::string carve = SharedScriptImages("make_carve_image.sh");
};

// The deep scan recovers what the quick one recovers and no more: every file
// whose data is in free space is a deleted file the FAT still names, so each
// carved copy of one is left out. A deleted photo whose directory entries
// are gone too (its folder sector wiped) is found by its content alone.
TEST_F(DeepScan, CarvesOnlyWhatTheFileSystemNoLongerLists)
{
    Manifest m;
    ASSERT_TRUE(LoadManifest(SharedFatImages() + "/fat16.manifest", m));
    const ManifestEntry* photo = m.Find("/TRASH/Inner Folder/photo two.jpg");
    ASSERT_TRUE(photo && photo->state == "intact");
    const std::string noEntry = Wiped(SharedFatImages() + "/fat16.img", "noentry.img", photo->entrySector);
    std::multiset<std::string> want = Recovered({"--fast", "--image", noEntry}, "fast");
    EXPECT_EQ(want.count(photo->sha256), 0u);
    want.insert(photo->sha256);
    EXPECT_EQ(Recovered({"--image", noEntry}, "deep"), want) << last.out;
}

// FAT32 keeps a copy of its boot sector at sector 6, NTFS in the volume's
// last sector: with the first one zeroed, the quick scan reads the volume
// through the copy, and so does the deep scan rather than sweeping it raw.
TEST_F(DeepScan, AWipedBootSectorIsReadThroughItsBackup)
{
    const struct
    {
        std::string image;
        const char* fileSystem;
    } cases[] = {
        {SharedFatImages() + "/fat32.img", "FAT32 (backup boot sector)"},
        {SharedScriptImages("make_ntfs_images.sh") + "/ntfs.img", "NTFS (backup boot sector)"},
    };
    for (const auto& c : cases)
    {
        const std::string name = std::string(c.fileSystem).substr(0, 4);
        SCOPED_TRACE(name);
        const std::string wiped = Wiped(c.image, name + ".img", 0);
        const auto want = Recovered({"--fast", "--image", c.image}, name + "-intact");
        ASSERT_FALSE(want.empty());
        EXPECT_EQ(Recovered({"--fast", "--image", wiped}, name + "-fast"), want);
        EXPECT_NE(last.out.find(c.fileSystem), std::string::npos) << last.out;
        const auto deep = Recovered({"--image", wiped}, name + "-deep");
        EXPECT_NE(last.out.find(c.fileSystem), std::string::npos) << last.out;
        for (const std::string& sum : want)
            EXPECT_GE(deep.count(sum), want.count(sum));
    }
}

// A raw volume swept whole, and a scan of it stopped at 40 % and gone on
// with later, give the same listing.
TEST_F(DeepScan, AStoppedScanGoesOnWhereItStopped)
{
    ASSERT_FALSE(carve.empty());
    ScopedEnv disks("TESSAROO_DISKS", carve + "/carve.img");
    ScopedEnv support("TESSAROO_SUPPORT_DIR", dir.File("support"));
    CLogFileManager::GetInstance()->Init();
    const long long sectors =
        std::ifstream(carve + "/carve.img", std::ios::ate | std::ios::binary).tellg() / 512;
    // Stops the sweep once it is 40 % through, noting where.
    const SCAN_CALLBACK stopAt40 = [](void* ctx, int, int scale, int, unsigned long long current,
                                      unsigned long long total, unsigned long long, wchar_t*)
    {
        if (scale != CProfessionalRecovery::SCAN_SCALE || current * 100 < 40 * total)
            return 0;
        *static_cast<unsigned long long*>(ctx) = current;
        return 1;
    };
    auto open = [&](bool fresh)
    {
        auto e = std::make_unique<CProfessionalRecovery>();
        e->Init(0, 0, sectors, L'C');
        if (fresh)
            e->SetNotLoadLogFile();
        return e;
    };
    auto listing = [](CProfessionalRecovery& e)
    {
        std::vector<__SEARCH_FILE_INFO__> hits;
        std::wstring all = Utf8ToWide(BuildPatternList(KIND_ALL).c_str());
        e.SearchFileNode(&all[0], hits);
        std::multiset<std::pair<unsigned long long, unsigned long long>> out;
        for (const auto& h : hits)
            out.insert({h.u64RecordSector, h.u64FileSize});
        return out;
    };

    auto whole = open(true);
    ASSERT_EQ(whole->ScanDevice(nullptr), 0u);
    const auto want = listing(*whole);
    // The raw volume is swept whole: every file whose end the length rules
    // find (tools/make_carve_image.sh's manifest says which) is listed where
    // it starts, at its length.
    std::ifstream manifest(carve + "/carve.manifest");
    unsigned long long start = 0, size = 0, exact = 0;
    std::string sha, expect, rest;
    while (manifest >> start >> size >> sha >> expect && std::getline(manifest, rest))
    {
        if (expect != "exact")
            continue;
        ++exact;
        EXPECT_EQ(want.count({start, size}), 1u) << sha;
    }
    EXPECT_GT(exact, 40u);
    whole.reset();

    unsigned long long stoppedAt = 0;
    auto first = open(true);
    first->InitCallBack(stopAt40, nullptr, &stoppedAt, 100);
    EXPECT_EQ(first->ScanDevice(nullptr), 1u);
    EXPECT_GT(stoppedAt, 0u);
    EXPECT_LT(first->GetScannedSectors(), first->GetTotalSectors() / 2);
    first.reset();

    auto second = open(false);
    ASSERT_EQ(second->IsFindLogFile(), 1);
    ASSERT_EQ(second->ScanDevice(nullptr), 0u);
    EXPECT_EQ(second->GetScannedSectors(), second->GetTotalSectors());
    EXPECT_EQ(listing(*second), want);
}
} // namespace

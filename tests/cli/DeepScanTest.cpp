// The deep scan end to end: what the file system lists plus what only the
// sweep finds, carved copies of listed files left out, boot sectors read
// through their backups, volumes without a file system swept whole, and a
// stopped scan that goes on where it stopped.
#include "core/Portability.h"
#include "engines/CFileRecoveryFactory.h"
#include "engines/CProfessionalRecovery.h"
#include "recovery/KindPatterns.h"
#include "store/CLogFileManager.h"
#include "tests/cli/CliRunner.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <sys/stat.h>

using namespace tessaroo;
using namespace tessaroo::test;

namespace
{
using Json = nlohmann::json;

// The checksums of the files of the carving image whose end the length
// rules find (tools/make_carve_image.sh writes them in its manifest).
std::multiset<std::string> ExactCarveChecksums(const std::string& manifest)
{
    std::multiset<std::string> sums;
    std::ifstream in(manifest);
    std::string line;
    while (std::getline(in, line))
    {
        std::istringstream fields(line);
        std::string start, size, sha, expect;
        if (line.empty() || line[0] == '#' || !(fields >> start >> size >> sha >> expect))
            continue;
        if (expect == "exact")
            sums.insert(sha);
    }
    return sums;
}

class DeepScan : public CliFixture
{
  protected:
    Json ScanJson(const std::vector<std::string>& args)
    {
        std::vector<std::string> a = {"scan", "--json"};
        a.insert(a.end(), args.begin(), args.end());
        const CliRun r = Run(a);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return Json::parse(r.out, nullptr, false);
    }
    std::string Copy(const std::string& from, const std::string& name)
    {
        std::vector<uint8_t> bytes;
        EXPECT_TRUE(ReadWholeFile(from, bytes));
        EXPECT_TRUE(WriteImageFile(dir.File(name), bytes));
        return dir.File(name);
    }
};

// The deep scan recovers what the quick one recovers and no more: every file
// whose data is in free space is a deleted file the FAT still names, so each
// carved copy of one is left out. A deleted photo whose directory entries
// are gone too is found by its content alone.
TEST_F(DeepScan, CarvesOnlyWhatTheFileSystemNoLongerLists)
{
    Manifest m;
    ASSERT_TRUE(LoadManifest(SharedFatImages() + "/fat16.manifest", m));
    const ManifestEntry* photo = nullptr;
    for (const ManifestEntry& e : m.entries)
        if (!e.isDir && e.state == "intact" && e.Name().size() > 4 &&
            (e.Name().substr(e.Name().size() - 4) == ".jpg" ||
             e.Name().substr(e.Name().size() - 4) == ".JPG"))
            photo = &e;
    ASSERT_NE(photo, nullptr) << "the FAT16 image holds a deleted photo";
    const std::string noEntry = Copy(SharedFatImages() + "/fat16.img", "noentry.img");
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ReadWholeFile(noEntry, bytes));
    // Wipe the photo's entries (long-name parts and 8.3 entry) in its folder sector.
    const size_t sector = size_t(photo->entrySector) * 512;
    for (size_t off = sector; off < sector + 512; off += 32)
        if (bytes[off] == 0xE5)
            std::fill(bytes.begin() + long(off), bytes.begin() + long(off) + 32, 0x00);
    ASSERT_TRUE(WriteImageFile(noEntry, bytes));

    int n = 0;
    for (const std::string& img : {SharedSampleImage(), SharedFatImages() + "/fat16.img", noEntry})
    {
        const std::string fast = dir.File("fast" + std::to_string(n)),
                          deep = dir.File("deep" + std::to_string(n++));
        ASSERT_EQ(Run({"recover", "--fast", "--image", img, "--out", fast}).exitCode, 0) << img;
        const CliRun r = Run({"recover", "--image", img, "--out", deep});
        ASSERT_EQ(r.exitCode, 0) << img << r.out << r.err;
        std::multiset<std::string> want = ChecksumsBelow(fast);
        if (img == noEntry)
        {
            EXPECT_EQ(want.count(photo->sha256), 0u);
            want.insert(photo->sha256);
        }
        EXPECT_EQ(ChecksumsBelow(deep), want) << img << r.out;
    }
}

// FAT32 keeps a copy of its boot sector at sector 6, NTFS in the volume's
// last sector: with the first one zeroed, the quick and the deep scan read
// the volume through the copy.
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
        const std::string name = c.fileSystem[0] == 'F' ? "fat" : "ntfs";
        const std::string wiped = Copy(c.image, name + "-wiped.img");
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(ReadWholeFile(wiped, bytes));
        std::fill(bytes.begin(), bytes.begin() + 512, 0);
        ASSERT_TRUE(WriteImageFile(wiped, bytes));

        ASSERT_EQ(
            Run({"recover", "--fast", "--image", c.image, "--out", dir.File(name + "-intact")}).exitCode, 0);
        const auto want = ChecksumsBelow(dir.File(name + "-intact"));
        ASSERT_FALSE(want.empty()) << name;
        // The quick scan, then the deep one.
        for (const bool fast : {true, false})
        {
            const std::string out = dir.File(name + (fast ? "-fast" : "-deep"));
            std::vector<std::string> args = {"recover", "--image", wiped, "--out", out};
            if (fast)
                args.push_back("--fast");
            const CliRun r = Run(args);
            ASSERT_EQ(r.exitCode, 0) << out << r.out << r.err;
            EXPECT_NE(r.out.find(c.fileSystem), std::string::npos) << r.out;
            const auto got = ChecksumsBelow(out);
            for (const std::string& sum : want)
                EXPECT_GE(got.count(sum), want.count(sum)) << out;
            if (fast)
            {
                EXPECT_EQ(got, want) << out;
            }
        }
    }
}

// A raw image (no file system at all) is swept whole: every file whose
// end the length rules find comes back byte for byte.
TEST_F(DeepScan, ARawImageIsSweptWhole)
{
    const std::string images = SharedScriptImages("make_carve_image.sh");
    ASSERT_FALSE(images.empty());
    const std::multiset<std::string> exact = ExactCarveChecksums(images + "/carve.manifest");
    ASSERT_GT(exact.size(), 40u);
    const CliRun r = Run({"recover", "--image", images + "/carve.img", "--out", dir.File("out")});
    EXPECT_NE(r.out.find(", unknown"), std::string::npos) << r.out;
    const auto got = ChecksumsBelow(dir.File("out"));
    for (const std::string& sum : exact)
        EXPECT_EQ(got.count(sum), exact.count(sum)) << sum;
}

// A scan stopped at 40 % and gone on with later gives what one scan gives.
TEST_F(DeepScan, AStoppedScanGoesOnWhereItStopped)
{
    const std::string images = SharedScriptImages("make_carve_image.sh");
    ASSERT_FALSE(images.empty());
    ScopedEnv disks("TESSAROO_DISKS", images + "/carve.img");
    ScopedEnv support("TESSAROO_SUPPORT_DIR", dir.File("support"));
    CLogFileManager::GetInstance()->Init();
    struct stat st;
    ASSERT_EQ(stat((images + "/carve.img").c_str(), &st), 0);
    const long long sectors = (long long)(st.st_size / 512);
    // Stops the sweep once it is 40 % through, noting where.
    const SCAN_CALLBACK stopAt40 = [](void* ctx, int, int scale, int, unsigned long long current,
                                      unsigned long long total, unsigned long long, wchar_t*)
    {
        if (scale != CProfessionalRecovery::SCAN_SCALE || current * 100 < 40 * total)
            return 0;
        *static_cast<unsigned long long*>(ctx) = current;
        return 1;
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
    auto open = [&]
    {
        std::unique_ptr<IFileRecoveryParse> e(CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
            0, 0, sectors, L'C', RECOVERY_TYPE_PROFESSIONAL));
        return std::unique_ptr<CProfessionalRecovery>(dynamic_cast<CProfessionalRecovery*>(e.release()));
    };

    auto whole = open();
    ASSERT_NE(whole, nullptr);
    whole->SetNotLoadLogFile();
    ASSERT_EQ(whole->ScanDevice(nullptr), 0u);
    const auto want = listing(*whole);
    ASSERT_GT(want.size(), 40u);
    whole.reset();

    unsigned long long stoppedAt = 0;
    auto first = open();
    first->SetNotLoadLogFile();
    first->InitCallBack(stopAt40, nullptr, &stoppedAt, 100);
    EXPECT_EQ(first->ScanDevice(nullptr), 1u);
    EXPECT_GT(stoppedAt, 0u);
    EXPECT_LT(first->GetScannedSectors(), first->GetTotalSectors() / 2);
    first.reset();

    auto second = open();
    ASSERT_EQ(second->IsFindLogFile(), 1);
    ASSERT_EQ(second->ScanDevice(nullptr), 0u);
    EXPECT_EQ(second->GetScannedSectors(), second->GetTotalSectors());
    EXPECT_EQ(listing(*second), want);
}
} // namespace

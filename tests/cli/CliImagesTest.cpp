// tessaroo-cli end to end on tool-made images.
//
// The deep scan: what the file system lists plus what only the sweep finds,
// carved copies of listed files left out, boot sectors read through their
// backups, a volume without a file system swept whole, and a stopped scan
// that goes on where it stopped.
//
// A hostile user: runs at once sharing one scan-log root, destinations that
// are read-only, full, swapped for links or not UTF-8, a FIFO given as the
// image, and names that carry control characters.
#include "core/Platform.h"
#include "core/Portability.h"
#include "engines/CFileRecoveryFactory.h"
#include "engines/CProfessionalRecovery.h"
#include "recovery/CRecoveryFlow.h"
#include "recovery/KindPatterns.h"
#include "store/CLogFileManager.h"
#include "tests/cli/CliRunner.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <set>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace tessaroo;
using namespace tessaroo::test;

namespace
{
class CliImages : public CliFixture
{
  protected:
    // What a recovery of image into dir/out brings back, by checksum.
    std::multiset<std::string> Recovered(const std::string& image, const std::string& out, bool fast = false)
    {
        std::vector<std::string> args = {"recover", "--image", image, "--out", dir.File(out)};
        if (fast)
            args.push_back("--fast");
        last = Run(args);
        EXPECT_EQ(last.exitCode, 0) << out << last.out << last.err;
        return ChecksumsBelow(dir.File(out));
    }
    // A copy of image with the 512 bytes at sector zeroed.
    std::string Wiped(const std::string& image, const std::string& name, uint64_t sector)
    {
        std::vector<uint8_t> bytes;
        EXPECT_TRUE(ReadWholeFile(image, bytes));
        std::fill(bytes.begin() + long(sector * 512), bytes.begin() + long(sector * 512 + 512), 0);
        EXPECT_TRUE(WriteImageFile(dir.File(name), bytes));
        return dir.File(name);
    }
    // A tmpfs mounted at path (root only); unmounted by TearDown.
    bool Mount(const std::string& path, const std::string& options)
    {
        if (geteuid() != 0 || !MakeDirs(path) ||
            mount("tessaroo-test", path.c_str(), "tmpfs", 0, options.c_str()) != 0)
            return false;
        mounts.push_back(path);
        return true;
    }
    void TearDown() override
    {
        for (const std::string& m : mounts)
            umount2(m.c_str(), MNT_DETACH);
    }
    CliRun last;
    const std::string sample = SharedSampleImage(), carve = SharedScriptImages("make_carve_image.sh");
    std::vector<std::string> mounts;
};
using DeepScan = CliImages;
using Reliability = CliImages;

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
    std::multiset<std::string> want = Recovered(noEntry, "fast", true);
    EXPECT_EQ(want.count(photo->sha256), 0u);
    want.insert(photo->sha256);
    EXPECT_EQ(Recovered(noEntry, "deep"), want) << last.out;
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
        const auto want = Recovered(c.image, name + "-intact", true);
        ASSERT_FALSE(want.empty());
        EXPECT_EQ(Recovered(wiped, name + "-fast", true), want);
        EXPECT_NE(last.out.find(c.fileSystem), std::string::npos) << last.out;
        const auto deep = Recovered(wiped, name + "-deep");
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
    // Stops the sweep once it is 40 % through.
    const SCAN_CALLBACK stopAt40 = [](void*, int, int scale, int, unsigned long long current,
                                      unsigned long long total, unsigned long long, wchar_t*)
    { return int(scale == CProfessionalRecovery::SCAN_SCALE && current * 100 >= 40 * total); };
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

    auto first = open(true);
    first->InitCallBack(stopAt40, nullptr, nullptr, 100);
    EXPECT_EQ(first->ScanDevice(nullptr), 1u);
    EXPECT_LT(first->GetScannedSectors(), first->GetTotalSectors() / 2);
    first.reset();

    auto second = open(false);
    ASSERT_EQ(second->IsFindLogFile(), 1);
    ASSERT_EQ(second->ScanDevice(nullptr), 0u);
    EXPECT_EQ(second->GetScannedSectors(), second->GetTotalSectors());
    EXPECT_EQ(listing(*second), want);
}

// Two runs at once sharing one scan-log root each get exactly what they get
// alone, whichever starts first and however far apart.
TEST_F(Reliability, RunsAtOnceKeepToTheirOwnScanLogs)
{
    const std::string big = SharedFatImages() + "/fat32.img";
    const auto wantBig = Recovered(big, "alone-big"), wantSmall = Recovered(sample, "alone-small");
    ASSERT_FALSE(wantBig.empty());
    // A recovery into out whose exit status goes to out.rc.
    auto recover = [&](const std::string& image, const std::string& out)
    {
        return CliCommand({"recover", "--image", image, "--out", out}, env, dir.Path()) +
               " >/dev/null 2>&1; echo $? >" + ShellQuote(out + ".rc");
    };
    for (const char* delay : {"0", "0.005", "0.02", "0.05"})
    {
        const std::string a = dir.File(std::string("big-") + delay),
                          b = dir.File(std::string("small-") + delay);
        ASSERT_TRUE(
            RunSucceeds("(" + recover(big, a) + ") & sleep " + delay + "; " + recover(sample, b) + "; wait"));
        EXPECT_EQ(ReadFileText(a + ".rc"), "0\n") << delay;
        EXPECT_EQ(ReadFileText(b + ".rc"), "0\n") << delay;
        EXPECT_EQ(ChecksumsBelow(a), wantBig) << delay;
        EXPECT_EQ(ChecksumsBelow(b), wantSmall) << delay;
    }
}

// A destination that takes nothing is told as the destination's failure,
// never as a damaged card, and leaves no cut file behind.
TEST_F(Reliability, ReadOnlyAndFullDestinationsFailAsDestinations)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting a tmpfs needs root";
    const struct
    {
        const char* name;
        const char* options;
        const char* says;
    } cases[] = {
        {"ro", "ro,size=1m", "Read-only file system"},
        {"full", "size=24k", "No space left on device"},
    };
    const std::multiset<std::string> whole = Recovered(sample, "whole");
    for (const auto& c : cases)
    {
        const std::string out = dir.File(c.name);
        ASSERT_TRUE(Mount(out, c.options)) << c.name;
        const CliRun r = Run({"recover", "--image", sample, "--out", out});
        EXPECT_EQ(r.exitCode, 4) << c.name << r.out << r.err;
        EXPECT_NE(r.out.find(std::string("cannot write to the destination: ") + c.says), std::string::npos)
            << c.name << r.out;
        EXPECT_EQ(r.out.find("incomplete"), std::string::npos) << c.name << r.out;
        // What is there is whole: no cut file, no temporary left.
        for (const std::string& sum : ChecksumsBelow(out))
            EXPECT_EQ(whole.count(sum), 1u) << c.name;
        EXPECT_EQ(RunCommand("find " + ShellQuote(out) + " -name '.tessaroo-*'").output, "") << c.name;
    }
}

// A kind folder swapped for a link to elsewhere again and again while files
// are written: not one file lands outside the destination.
TEST_F(Reliability, AKindFolderSwappedForALinkLeadsNothingOutside)
{
    ScopedEnv disks("TESSAROO_DISKS", sample);
    ScopedEnv support("TESSAROO_SUPPORT_DIR", dir.File("support"));
    CLogFileManager::GetInstance()->Init();
    CLogFileManager::GetInstance()->AddDirIndex();
    std::unique_ptr<IFileRecoveryParse> engine(
        CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(0, 0, 32768, L'C',
                                                                        RECOVERY_TYPE_FAST));
    ASSERT_NE(engine, nullptr);
    ASSERT_EQ(engine->ScanDevice(nullptr), 0u);
    std::vector<__SEARCH_FILE_INFO__> hits;
    std::wstring all = L"*.jpg|*.png|*.other";
    engine->SearchFileNode(&all[0], hits);
    ASSERT_FALSE(hits.empty());
    const std::vector<_FILE_NODE_> files(hits.begin(), hits.end());

    const std::string dest = dir.File("dest"), outside = dir.File("outside");
    ASSERT_TRUE(MakeDirs(dest + "/photo") && MakeDirs(outside));
    ASSERT_EQ(symlink(outside.c_str(), (dest + "/swap").c_str()), 0);
    std::atomic<bool> stop(false);
    std::thread swapper(
        [&]
        {
            while (!stop.load())
                renameat2(AT_FDCWD, (dest + "/photo").c_str(), AT_FDCWD, (dest + "/swap").c_str(),
                          RENAME_EXCHANGE);
        });
    for (int round = 0; round < 40; ++round)
    {
        CRecoveryFlow flow;
        flow.RecoveryProcess(engine.get(), files, dest, ScannedVolume{sample, 0, 32768});
    }
    stop.store(true);
    swapper.join();
    EXPECT_TRUE(ListFolder(outside).empty());
}

// Paths are bytes: a destination that is not UTF-8 is used as given, not
// as whatever its replacement characters would name.
TEST_F(Reliability, ADestinationThatIsNotUtf8IsUsedAsGiven)
{
    const std::string replaced = dir.File("out\xEF\xBF\xBD");
    ASSERT_TRUE(MakeDirs(replaced));
    EXPECT_FALSE(Recovered(sample, "out\xE9").empty());
    EXPECT_TRUE(ListFolder(replaced).empty());
}

TEST_F(Reliability, AFifoGivenAsTheImageIsRefusedAtOnce)
{
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    const CliRun r = RunCli({"scan", "--image", dir.File("fifo")}, env, dir.Path(), "timeout 20");
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_NE(r.err.find("not a regular file or a block device"), std::string::npos) << r.err;
}

// A long name holding a newline and an escape sequence neither fakes an
// output line nor reaches the terminal or the destination's names.
TEST_F(Reliability, ControlCharactersInNamesAreEscapedAndReplaced)
{
    ASSERT_TRUE(HaveTool("mkfs.fat") && HaveTool("mcopy"));
    const std::string img = dir.File("evil.img"), text = dir.File("evil.txt");
    ASSERT_TRUE(WriteImageFile(text, std::vector<uint8_t>(700, 'x')));
    ASSERT_TRUE(RunSucceeds("mkfs.fat -C -F 12 " + ShellQuote(img) + " 1024 >/dev/null && mcopy -i " +
                            ShellQuote(img) + " " + ShellQuote(text) + " ::/Axyrecovered_etc_passwd.txt"));
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ReadWholeFile(img, bytes));
    // Units 'x' and 'y' of the long name become a newline and an ESC; the
    // short name, and so the parts' checksum, stay as they are.
    const std::vector<uint8_t> pattern = {'A', 0, 'x', 0, 'y', 0, 'r', 0};
    auto it = std::search(bytes.begin(), bytes.end(), pattern.begin(), pattern.end());
    ASSERT_NE(it, bytes.end());
    it[2] = 0x0A;
    it[4] = 0x1B;
    ASSERT_TRUE(WriteImageFile(img, bytes));
    ASSERT_TRUE(RunSucceeds("mdel -i " + ShellQuote(img) + " ::/AXYREC~1.TXT"));

    const CliRun scan = Run({"scan", "--image", img});
    ASSERT_EQ(scan.exitCode, 0) << scan.err;
    EXPECT_EQ(scan.out.find('\x1B'), std::string::npos) << scan.out;
    EXPECT_NE(scan.out.find("A\\x0A\\x1Brecovered_etc_passwd.txt"), std::string::npos) << scan.out;
    Recovered(img, "out");
    EXPECT_EQ(ListFolder(dir.File("out/document")), std::vector<std::string>{"A__recovered_etc_passwd.txt"});
}
} // namespace

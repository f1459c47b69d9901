// tessaroo-cli as a hostile user meets it: runs at once sharing one
// scan-log root, destinations that are read-only, full, swapped for links
// or not UTF-8, a FIFO given as the image, and names that carry control
// characters.
#include "core/Platform.h"
#include "engines/CFileRecoveryFactory.h"
#include "recovery/CRecoveryFlow.h"
#include "store/CLogFileManager.h"
#include "tests/cli/CliRunner.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
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
class Reliability : public CliFixture
{
  protected:
    // What a recovery of image into dir/out brings back, by checksum.
    std::multiset<std::string> Recovered(const std::string& image, const std::string& out)
    {
        const CliRun r = Run({"recover", "--image", image, "--out", dir.File(out)});
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        return ChecksumsBelow(dir.File(out));
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
    const std::string sample = SharedSampleImage();
    std::vector<std::string> mounts;
};

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

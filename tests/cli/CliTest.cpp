// tessaroo-cli as a user runs it: each command on real images, the exit
// statuses, JSON that parses, and an unprivileged run on an image file.
#include "tests/cli/MiniJson.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tessaroo::test;

namespace
{
struct CliRun
{
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string ReadAllFd(int fd)
{
    std::string s;
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof(buf))) > 0)
        s.append(buf, size_t(n));
    return s;
}

// Runs the command line with args. env lists NAME=value to set (NAME= with
// nothing after it unsets); asUser > 0 drops to that user id first.
CliRun RunCli(const std::vector<std::string>& args, const std::vector<std::string>& env,
              const std::string& cwd, uid_t asUser = 0, const std::string& binary = TESSAROO_CLI_PATH)
{
    TempDir io("cli-io");
    const std::string outPath = io.File("out"), errPath = io.File("err");
    pid_t pid = fork();
    if (pid == 0)
    {
        int o = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(o, 1);
        dup2(e, 2);
        int nul = open("/dev/null", O_RDONLY);
        dup2(nul, 0);
        for (const std::string& kv : env)
        {
            size_t eq = kv.find('=');
            std::string name = kv.substr(0, eq), value = kv.substr(eq + 1);
            if (value.empty())
                unsetenv(name.c_str());
            else
                setenv(name.c_str(), value.c_str(), 1);
        }
        if (!cwd.empty() && chdir(cwd.c_str()) != 0)
            _exit(120);
        if (asUser && (setgid(asUser) != 0 || setuid(asUser) != 0))
            _exit(121);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(binary.c_str()));
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(binary.c_str(), argv.data());
        _exit(127);
    }
    CliRun r;
    int status = 0;
    waitpid(pid, &status, 0);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    int fo = open(outPath.c_str(), O_RDONLY), fe = open(errPath.c_str(), O_RDONLY);
    r.out = fo >= 0 ? ReadAllFd(fo) : "";
    r.err = fe >= 0 ? ReadAllFd(fe) : "";
    if (fo >= 0)
        close(fo);
    if (fe >= 0)
        close(fe);
    return r;
}

class Cli : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        sample = SharedSampleImage();
        ASSERT_FALSE(sample.empty());
        ASSERT_TRUE(LoadManifest(SampleManifestPath(), manifest));
        env = {"TESSAROO_SUPPORT_DIR=" + dir.File("support"), "TESSAROO_DISKS="};
    }
    CliRun Run(const std::vector<std::string>& args) { return RunCli(args, env, dir.Path()); }
    // The deleted files of the sample, by checksum.
    std::multiset<std::string> DeletedChecksums(bool photosOnly) const
    {
        std::multiset<std::string> s;
        for (const ManifestEntry& e : manifest.entries)
        {
            if (e.isDir || e.state != "intact")
                continue;
            std::string n = e.Name();
            for (char& c : n)
                c = char(tolower((unsigned char)c));
            const bool photo =
                n.size() > 4 && (n.substr(n.size() - 4) == ".jpg" || n.substr(n.size() - 4) == ".png");
            if (!photosOnly || photo)
                s.insert(e.sha256);
        }
        return s;
    }
    std::multiset<std::string> ChecksumsBelow(const std::string& folder) const
    {
        std::multiset<std::string> s;
        CommandResult r =
            RunCommand("find " + ShellQuote(folder) + " -type f -print0 | xargs -0 -r sha256sum");
        size_t pos = 0;
        while (pos + 64 <= r.output.size())
        {
            s.insert(r.output.substr(pos, 64));
            size_t nl = r.output.find('\n', pos);
            if (nl == std::string::npos)
                break;
            pos = nl + 1;
        }
        return s;
    }
    TempDir dir{"cli"};
    std::string sample;
    Manifest manifest;
    std::vector<std::string> env;
};

TEST_F(Cli, ScanJsonListsTheSamplesDeletedFiles)
{
    CliRun r = Run({"scan", "--image", sample, "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    MiniJson j;
    std::string error;
    ASSERT_TRUE(ParseJson(r.out, j, error)) << error << "\n" << r.out;
    EXPECT_EQ(j["command"].str, "scan");
    EXPECT_EQ(j["volume"]["file_system"].str, "FAT16");
    EXPECT_EQ(j["volume"]["sector_count"].num, 32768);
    EXPECT_EQ(j["status"].num, 0);
    ASSERT_EQ(j["files"].items.size(), DeletedChecksums(false).size());
    bool sawNested = false, sawRoot = false;
    for (const MiniJson& f : j["files"].items)
    {
        EXPECT_EQ(f["engine_type"].num, 1);
        EXPECT_TRUE(f["deleted"].b);
        EXPECT_TRUE(f["data_health"].b);
        EXPECT_GT(f["record_sector"].num, 0);
        if (f["name"].str == "!mg_0002.jpg")
        {
            sawNested = true;
            EXPECT_EQ(f["path"].str, "dcim/100photo/");
            EXPECT_EQ(f["kind"].str, "photo");
            EXPECT_EQ(f["size"].num, 12351);
        }
        if (f["name"].str == "Screenshot.png")
        {
            sawRoot = true;
            EXPECT_EQ(f["path"].str, "");
        }
    }
    EXPECT_TRUE(sawNested);
    EXPECT_TRUE(sawRoot);
}

TEST_F(Cli, RecoverPutsTheSamplesDeletedFilesIntoKindFolders)
{
    CliRun r = Run({"recover", "--image", sample, "--out", "./recovered"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("recovered 7, failed 0"), std::string::npos) << r.out;
    EXPECT_EQ(ChecksumsBelow(dir.File("recovered")), DeletedChecksums(false));
    EXPECT_EQ(ChecksumsBelow(dir.File("recovered/photo")), DeletedChecksums(true));
    // A second run beside the first keeps both: names are made free.
    r = Run({"recover", "--image", sample, "--out", "./recovered", "--kinds", "photo", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    MiniJson j;
    std::string error;
    ASSERT_TRUE(ParseJson(r.out, j, error)) << error;
    EXPECT_EQ(j["recovered"].num, double(DeletedChecksums(true).size()));
    EXPECT_EQ(j["failed"].num, 0);
    for (const MiniJson& res : j["results"].items)
    {
        EXPECT_TRUE(res["recovered"].b);
        EXPECT_NE(res["target"].str.find("/photo/"), std::string::npos);
        EXPECT_NE(res["target"].str.find("(1)"), std::string::npos) << res["target"].str;
    }
    EXPECT_EQ(ChecksumsBelow(dir.File("recovered/photo")).size(), 2 * DeletedChecksums(true).size());
}

TEST_F(Cli, UsageErrorsExitWithOne)
{
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"frobnicate"},
        {"scan"},
        {"scan", "--image", sample, "--disk", "0"},
        {"recover", "--image", sample},
        {"scan", "--image", sample, "--kinds", "pictures"},
        {"scan", "--image", sample, "--partition", "0"},
        {"list", "--image", sample},
        {"scan", "--image", "a:b.img"},
    };
    for (const auto& args : bad)
    {
        CliRun r = Run(args);
        EXPECT_EQ(r.exitCode, 1) << (args.empty() ? std::string("(none)") : args[0]) << ": " << r.err;
        EXPECT_NE(r.err.find("usage:"), std::string::npos);
    }
    CliRun help = Run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
}

TEST_F(Cli, VolumesThatCannotBeScannedExitWithTwo)
{
    CliRun r = Run({"scan", "--image", dir.File("missing.img")});
    EXPECT_EQ(r.exitCode, 2) << r.err;
    ASSERT_TRUE(WriteImageFile(dir.File("zeros.img"), std::vector<uint8_t>(1 << 20, 0)));
    r = Run({"scan", "--image", dir.File("zeros.img")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("not a FAT volume"), std::string::npos) << r.err;
}

TEST_F(Cli, PartitionsAreChosenFromTheDisksTable)
{
    ASSERT_FALSE(SharedFatImages().empty());
    const std::string mbr = SharedFatImages() + "/mbr.img";
    CliRun r = Run({"scan", "--image", mbr});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("!mg_0002.jpg"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("sectors 2048-"), std::string::npos) << r.out;
    EXPECT_EQ(Run({"scan", "--image", mbr, "--partition", "2"}).exitCode, 1);

    // Two partitions: the command names them and wants a choice; the second
    // holds no file system.
    ASSERT_TRUE(HaveTool("sfdisk"));
    const std::string two = dir.File("two.img");
    ASSERT_TRUE(RunSucceeds("truncate -s 8M " + ShellQuote(two) +
                            " && printf 'label: dos\\nstart=2048, size=4096, type=6\\nstart=6144, size=4096, "
                            "type=6\\n' | sfdisk -q --no-reread --no-tell-kernel " +
                            ShellQuote(two) + " >/dev/null"));
    ASSERT_TRUE(RunSucceeds("mkfs.fat -F 12 --offset=2048 " + ShellQuote(two) + " 2048 >/dev/null"));
    r = Run({"scan", "--image", two});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("--partition"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("partition 2"), std::string::npos) << r.err;
    EXPECT_EQ(Run({"scan", "--image", two, "--partition", "1"}).exitCode, 0);
    r = Run({"scan", "--image", two, "--partition", "2"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("not a FAT volume"), std::string::npos);

    env.push_back("TESSAROO_DISKS=" + two);
    r = Run({"list", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    MiniJson j;
    std::string error;
    ASSERT_TRUE(ParseJson(r.out, j, error)) << error << r.out;
    ASSERT_EQ(j["disks"].items.size(), 1u);
    const MiniJson& parts = j["disks"].items[0]["partitions"];
    ASSERT_EQ(parts.items.size(), 2u);
    EXPECT_EQ(parts.items[0]["start_sector"].num, 2048);
    EXPECT_EQ(parts.items[0]["file_system"].str, "FAT12");
    EXPECT_EQ(parts.items[1]["file_system"].str, "unknown");
}

TEST_F(Cli, AFileThatCannotBeRecoveredWholeExitsWithFour)
{
    ASSERT_FALSE(SharedFatImages().empty());
    Manifest m;
    ASSERT_TRUE(LoadManifest(SharedFatImages() + "/fat16.manifest", m));
    const ManifestEntry* e = m.Find("/DELROOT.TXT");
    ASSERT_NE(e, nullptr);
    std::vector<uint8_t> img;
    ASSERT_TRUE(ReadWholeFile(SharedFatImages() + "/fat16.img", img));
    // The deleted entry now claims 100 MiB on a 16 MiB volume.
    bool patched = false;
    for (size_t off = e->entrySector * 512; off < e->entrySector * 512 + 512; off += 32)
        if (img[off] == 0xE5 && memcmp(&img[off + 1], "ELROOT TXT", 10) == 0)
        {
            img[off + 28] = 0, img[off + 29] = 0, img[off + 30] = 0x40, img[off + 31] = 0x06;
            patched = true;
        }
    ASSERT_TRUE(patched);
    ASSERT_TRUE(WriteImageFile(dir.File("short.img"), img));
    CliRun r = Run({"recover", "--image", dir.File("short.img"), "--out", dir.File("out"), "--kinds",
                    "document", "--json"});
    EXPECT_EQ(r.exitCode, 4) << r.err;
    MiniJson j;
    std::string error;
    ASSERT_TRUE(ParseJson(r.out, j, error)) << error;
    EXPECT_EQ(j["failed"].num, 1);
    bool found = false;
    for (const MiniJson& res : j["results"].items)
        if (res["name"].str == "!elroot.txt")
        {
            found = true;
            EXPECT_EQ(res["status"].num, 30);
            EXPECT_FALSE(res["recovered"].b);
        }
    EXPECT_TRUE(found);
}

TEST_F(Cli, AnUnprivilegedUserRecoversFromAnImageIntoTheirCache)
{
    // Everything the unprivileged run touches lives in a folder it may use.
    TempDir home("cli-home");
    ASSERT_EQ(chmod(home.Path().c_str(), 0777), 0);
    const std::string img = home.File("card.img");
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ReadWholeFile(sample, bytes));
    ASSERT_TRUE(WriteImageFile(img, bytes));
    const std::string binary = home.File("tessaroo-cli");
    ASSERT_TRUE(RunSucceeds("cp " + ShellQuote(TESSAROO_CLI_PATH) + " " + ShellQuote(binary)));
    ASSERT_EQ(chmod(binary.c_str(), 0755), 0);
    ASSERT_EQ(chmod(img.c_str(), 0644), 0);
    const uid_t nobody = geteuid() == 0 ? 65534 : 0;
    std::vector<std::string> userEnv = {"TESSAROO_SUPPORT_DIR=", "TESSAROO_DISKS=", "HOME=" + home.Path(),
                                        "XDG_CACHE_HOME=" + home.File("cache")};
    CliRun r =
        RunCli({"recover", "--image", img, "--out", home.File("out")}, userEnv, home.Path(), nobody, binary);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    struct stat st;
    EXPECT_EQ(stat(home.File("cache/tessaroo/ScanLog").c_str(), &st), 0);
    EXPECT_EQ(ChecksumsBelow(home.File("out")), DeletedChecksums(false));
    if (nobody)
    {
        ASSERT_EQ(stat(home.File("out/photo").c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, nobody);
    }
}
} // namespace

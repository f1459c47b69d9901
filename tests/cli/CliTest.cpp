// tessaroo-cli as a user runs it: each command on real images, the exit
// statuses, JSON that parses, and an unprivileged run on an image file.
#include "tests/cli/CliRunner.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstring>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

using namespace tessaroo::test;

namespace
{
using Json = nlohmann::json;

::testing::AssertionResult Parses(const std::string& text, Json& j)
{
    j = Json::parse(text, nullptr, false);
    if (!j.is_discarded())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "not JSON:\n" << text;
}

class Cli : public CliFixture
{
  protected:
    void SetUp() override
    {
        sample = SharedSampleImage();
        ASSERT_FALSE(sample.empty());
        ASSERT_TRUE(LoadManifest(SampleManifestPath(), manifest));
    }
    // The deleted files of the sample, by checksum.
    std::multiset<std::string> DeletedChecksums(bool photosOnly) const
    {
        std::multiset<std::string> s;
        for (const ManifestEntry& e : manifest.entries)
        {
            std::string n = e.Name();
            for (char& c : n)
                c = char(tolower((unsigned char)c));
            const std::string ext = n.size() > 4 ? n.substr(n.size() - 4) : "";
            if (!e.isDir && e.state == "intact" && (!photosOnly || ext == ".jpg" || ext == ".png"))
                s.insert(e.sha256);
        }
        return s;
    }
    std::string sample;
    Manifest manifest;
};

TEST_F(Cli, ScanJsonListsTheSamplesDeletedFiles)
{
    CliRun r = Run({"scan", "--image", sample, "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    Json j;
    ASSERT_TRUE(Parses(r.out, j));
    EXPECT_EQ(j["volume"]["file_system"].get<std::string>(), "FAT16");
    EXPECT_EQ(j["volume"]["sector_count"].get<double>(), 32768);
    EXPECT_EQ(j["status"].get<double>(), 0);
    ASSERT_EQ(j["files"].size(), DeletedChecksums(false).size());
    std::map<std::string, const Json*> byName;
    for (const Json& f : j["files"])
    {
        EXPECT_EQ(f["engine_type"].get<double>(), 1);
        EXPECT_TRUE(f["deleted"].get<bool>());
        EXPECT_TRUE(f["data_health"].get<bool>());
        EXPECT_GT(f["record_sector"].get<double>(), 0);
        byName[f["name"].get<std::string>()] = &f;
    }
    ASSERT_TRUE(byName.count("!mg_0002.jpg") && byName.count("Screenshot.png"));
    EXPECT_EQ((*byName["!mg_0002.jpg"])["path"].get<std::string>(), "dcim/100photo/");
    EXPECT_EQ((*byName["!mg_0002.jpg"])["kind"].get<std::string>(), "photo");
    EXPECT_EQ((*byName["!mg_0002.jpg"])["size"].get<double>(), 12351);
    EXPECT_EQ((*byName["Screenshot.png"])["path"].get<std::string>(), "");
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
    Json j;
    ASSERT_TRUE(Parses(r.out, j));
    EXPECT_EQ(j["recovered"].get<double>(), double(DeletedChecksums(true).size()));
    EXPECT_EQ(j["failed"].get<double>(), 0);
    for (const Json& res : j["results"])
    {
        EXPECT_TRUE(res["recovered"].get<bool>());
        EXPECT_NE(res["target"].get<std::string>().find("/photo/"), std::string::npos);
        EXPECT_NE(res["target"].get<std::string>().find("(1)"), std::string::npos)
            << res["target"].get<std::string>();
    }
    EXPECT_EQ(ChecksumsBelow(dir.File("recovered/photo")).size(), 2 * DeletedChecksums(true).size());
}

// Usage errors exit with 1 and print the usage; a volume that cannot be
// opened or holds no FAT file system exits with 2 and says why. A disk with
// one partition is scanned there; with more, the command names them (and
// what they hold) and wants a choice.
TEST_F(Cli, ExitStatusesAndPartitionChoices)
{
    ASSERT_TRUE(WriteImageFile(dir.File("zeros.img"), std::vector<uint8_t>(1 << 20, 0)));
    ASSERT_FALSE(SharedFatImages().empty());
    const std::string mbr = SharedFatImages() + "/mbr.img",
                      gpt = SharedScriptImages("make_ntfs_images.sh") + "/gpt.img";
    // Two FAT partitions; the second holds no file system.
    ASSERT_TRUE(HaveTool("sfdisk"));
    const std::string two = dir.File("two.img");
    ASSERT_TRUE(RunSucceeds("truncate -s 8M " + ShellQuote(two) +
                            " && printf 'label: dos\\nstart=2048, size=4096, type=6\\nstart=6144, size=4096, "
                            "type=6\\n' | sfdisk -q --no-reread --no-tell-kernel " +
                            ShellQuote(two) + " >/dev/null"));
    ASSERT_TRUE(RunSucceeds("mkfs.fat -F 12 --offset=2048 " + ShellQuote(two) + " 2048 >/dev/null"));
    const struct
    {
        std::vector<std::string> args;
        int exitCode;
        std::vector<const char*> says; // on the standard output, or on the error output when failing
    } cases[] = {
        {{}, 1, {"usage:"}},
        {{"frobnicate"}, 1, {"usage:"}},
        {{"scan"}, 1, {"usage:"}},
        {{"scan", "--image", sample, "--disk", "0"}, 1, {"usage:"}},
        {{"recover", "--image", sample}, 1, {"usage:"}},
        {{"scan", "--image", sample, "--kinds", "pictures"}, 1, {"usage:"}},
        {{"scan", "--image", sample, "--partition", "0"}, 1, {"usage:"}},
        {{"list", "--image", sample}, 1, {"usage:"}},
        {{"scan", "--image", "a:b.img"}, 1, {"usage:"}},
        {{"scan", "--image", dir.File("missing.img")}, 2, {}},
        {{"scan", "--fast", "--image", dir.File("zeros.img")}, 2, {"not a FAT volume"}},
        {{"--help"}, 0, {}},
        {{"scan", "--image", mbr}, 0, {"!mg_0002.jpg", "sectors 2048-"}},
        {{"scan", "--image", mbr, "--partition", "2"}, 1, {}},
        {{"scan", "--image", two}, 2, {"--partition", "partition 2"}},
        {{"scan", "--image", two, "--partition", "1"}, 0, {}},
        {{"scan", "--fast", "--image", two, "--partition", "2"}, 2, {"not a FAT volume"}},
        // A GPT disk of a FAT and an NTFS partition.
        {{"scan", "--image", gpt}, 2, {"choose one with --partition", "NTFS"}},
        {{"scan", "--fast", "--image", gpt, "--partition", "2"},
         0,
         {"Reports/summary.txt", "Reports/chart.png", "Found 2 files"}},
        {{"scan", "--fast", "--image", gpt, "--partition", "1"}, 0, {"!ard.txt"}},
    };
    for (const auto& c : cases)
    {
        const CliRun r = Run(c.args);
        std::string what = "tessaroo-cli";
        for (const std::string& a : c.args)
            what += " " + a;
        SCOPED_TRACE(what);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        for (const char* text : c.says)
            EXPECT_NE((c.exitCode ? r.err : r.out).find(text), std::string::npos) << r.out << r.err;
    }

    env.push_back("TESSAROO_DISKS=" + two);
    CliRun r = Run({"list", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    Json j;
    ASSERT_TRUE(Parses(r.out, j));
    ASSERT_EQ(j["disks"].size(), 1u);
    const Json& parts = j["disks"][0]["partitions"];
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0]["start_sector"].get<double>(), 2048);
    EXPECT_EQ(parts[0]["file_system"].get<std::string>(), "FAT12");
    EXPECT_EQ(parts[1]["file_system"].get<std::string>(), "unknown");
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
    Json j;
    ASSERT_TRUE(Parses(r.out, j));
    EXPECT_EQ(j["failed"].get<double>(), 1);
    int found = 0;
    for (const Json& res : j["results"])
        if (res["name"].get<std::string>() == "!elroot.txt")
        {
            ++found;
            EXPECT_EQ(res["status"].get<double>(), 30);
            EXPECT_FALSE(res["recovered"].get<bool>());
        }
    EXPECT_EQ(found, 1);
}

TEST_F(Cli, AnUnprivilegedUserRecoversFromAnImageIntoTheirCache)
{
    // Everything the unprivileged run touches lives in a folder it may use.
    TempDir home("cli-home");
    ASSERT_EQ(chmod(home.Path().c_str(), 0777), 0);
    const std::string img = home.File("card.img"), binary = home.File("tessaroo-cli");
    ASSERT_TRUE(RunSucceeds("cp " + ShellQuote(sample) + " " + ShellQuote(img) + " && cp " +
                            ShellQuote(TESSAROO_CLI_PATH) + " " + ShellQuote(binary) + " && chmod 0644 " +
                            ShellQuote(img) + " && chmod 0755 " + ShellQuote(binary)));
    const uid_t nobody = geteuid() == 0 ? 65534 : 0;
    const std::string drop = nobody ? "setpriv --reuid=65534 --regid=65534 --clear-groups" : "";
    const std::vector<std::string> userEnv = {"TESSAROO_SUPPORT_DIR=", "TESSAROO_DISKS=",
                                              "HOME=" + home.Path(), "XDG_CACHE_HOME=" + home.File("cache")};
    CliRun r =
        RunCli({"recover", "--image", img, "--out", home.File("out")}, userEnv, home.Path(), drop, binary);
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

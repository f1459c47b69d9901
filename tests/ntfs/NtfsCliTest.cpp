// tessaroo-cli on NTFS volumes as a user runs it: the listing, the
// recovery into kind folders and the partitions of a GPT disk.
#include "tests/ntfs/NtfsTestUtil.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <set>

using namespace tessaroo::test;

namespace
{
struct CliRun
{
    int exitCode = -1;
    std::string out, err;
};

class NtfsCli : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        std::string why;
        images = NtfsImages(why);
        if (images.empty())
            GTEST_SKIP() << why;
        ASSERT_TRUE(LoadManifest(images + "/ntfs.manifest", manifest));
    }
    CliRun Run(const std::vector<std::string>& args)
    {
        std::string command =
            "cd " + ShellQuote(dir.Path()) +
            " && env -u TESSAROO_DISKS TESSAROO_SUPPORT_DIR=" + ShellQuote(dir.File("support")) + " " +
            ShellQuote(TESSAROO_CLI_PATH);
        for (const std::string& a : args)
            command += " " + ShellQuote(a);
        CliRun r;
        r.exitCode = RunCommand(command + " </dev/null >" + ShellQuote(dir.File("out")) + " 2>" +
                                ShellQuote(dir.File("err")))
                         .exitCode;
        std::vector<uint8_t> b;
        ReadWholeFile(dir.File("out"), b);
        r.out.assign(b.begin(), b.end());
        ReadWholeFile(dir.File("err"), b);
        r.err.assign(b.begin(), b.end());
        return r;
    }
    // Checksums of the deleted files whose data is all there.
    std::multiset<std::string> Intact() const
    {
        std::multiset<std::string> s;
        for (const ManifestEntry& e : manifest.entries)
            if (!e.isDir && e.state == "intact")
                s.insert(e.sha256);
        return s;
    }
    TempDir dir{"ntfs-cli"};
    std::string images;
    Manifest manifest;
};

TEST_F(NtfsCli, ScanListsTheDeletedFilesWithTheirFolders)
{
    const CliRun r = Run({"scan", "--fast", "--image", images + "/ntfs.img", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const nlohmann::json j = nlohmann::json::parse(r.out, nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << r.out;
    EXPECT_EQ(j["volume"]["file_system"], "NTFS");
    EXPECT_EQ(j["status"], 0);
    std::set<std::string> paths;
    for (const nlohmann::json& f : j["files"])
    {
        EXPECT_EQ(f["engine_type"], 0);
        EXPECT_GT(f["record_sector"].get<uint64_t>(), 0u);
        paths.insert(f["path"].get<std::string>() + f["name"].get<std::string>());
    }
    // Names outside ASCII are checked by the engine's tests; these are the
    // folder cases: a folder in use, a deleted tree, a lost folder.
    for (const char* path : {"Docs/Quarterly report.txt", "Trash/Inner Folder/deep.txt",
                             "LostFolder64/orphan.txt", "Scans.jpg/notes.txt", "sparse.bin"})
        EXPECT_TRUE(paths.count(path)) << path << "\n" << r.out;
    EXPECT_EQ(j["files"].size(), Intact().size());
}

TEST_F(NtfsCli, RecoverWritesEveryIntactFileWhole)
{
    const CliRun r = Run({"recover", "--fast", "--image", images + "/ntfs.img", "--out", "./recovered"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("recovered " + std::to_string(Intact().size()) + ", failed 0"), std::string::npos)
        << r.out;
    const CommandResult sums = RunCommand("find " + ShellQuote(dir.File("recovered")) +
                                          " -type f -print0 | xargs -0 -r sha256sum | cut -c1-64");
    std::multiset<std::string> got;
    std::istringstream in(sums.output);
    for (std::string l; std::getline(in, l);)
        got.insert(l);
    EXPECT_EQ(got, Intact());
}

TEST_F(NtfsCli, GptDiskWithFatAndNtfsPartitions)
{
    const std::string gpt = images + "/gpt.img";
    CliRun r = Run({"scan", "--image", gpt});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("choose one with --partition"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("NTFS"), std::string::npos) << r.err;
    r = Run({"scan", "--fast", "--image", gpt, "--partition", "2"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Reports/summary.txt"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Reports/chart.png"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Found 2 files"), std::string::npos) << r.out;
    r = Run({"scan", "--fast", "--image", gpt, "--partition", "1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("!ard.txt"), std::string::npos) << r.out;
}

} // namespace

// The deep NTFS engine on volumes made by mkntfs and ntfs-3g
// (tools/make_deep_ntfs_images.sh): a card quick-formatted over its files
// and a disk whose partition table was zeroed. What it lists is what the
// script measured as still there, in the folders a deep scan can know, and
// what it copies out is byte for byte what was written; driven directly
// and through the command line.
#include "core/Portability.h"
#include "tests/ntfs/DeepNtfsDriver.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <set>
#include <sstream>

using namespace tessaroo;
using namespace tessaroo::test;

namespace
{
bool IsPicture(const std::string& path)
{
    return path.size() > 4 && path.compare(path.size() - 4, 4, ".jpg") == 0;
}

// What a deep scan lists of a manifest: files whose record is still where
// it was (in free space) by the path it shows, but pictures whose data
// is gone, which are hidden as damaged.
std::set<std::string> ExpectedPaths(const Manifest& m)
{
    std::set<std::string> out;
    for (const ManifestEntry& e : m.entries)
        if (!e.isDir && (e.state == "intact" || (e.state == "named" && !IsPicture(e.path))))
            out.insert(e.shortName);
    return out;
}

std::multiset<std::string> IntactSums(const Manifest& m)
{
    std::multiset<std::string> out;
    for (const ManifestEntry& e : m.entries)
        if (!e.isDir && e.state == "intact")
            out.insert(e.sha256);
    return out;
}

class DeepNtfsImage : public ::testing::TestWithParam<std::string>
{
  protected:
    void SetUp() override
    {
        std::string why;
        images = DeepNtfsImages(why);
        if (images.empty())
            GTEST_SKIP() << why;
        image = images + "/" + GetParam() + ".img";
        std::string error;
        ASSERT_TRUE(LoadManifest(images + "/" + GetParam() + ".manifest", manifest, &error)) << error;
    }
    int Cli(const std::vector<std::string>& args, std::string& out)
    {
        std::string command =
            "cd " + ShellQuote(dir.Path()) +
            " && env -u TESSAROO_DISKS TESSAROO_SUPPORT_DIR=" + ShellQuote(dir.File("support")) + " " +
            ShellQuote(TESSAROO_CLI_PATH);
        for (const std::string& a : args)
            command += " " + ShellQuote(a);
        const int rc = RunCommand(command + " </dev/null >" + ShellQuote(dir.File("out")) + " 2>&1").exitCode;
        std::vector<uint8_t> b;
        ReadWholeFile(dir.File("out"), b);
        out.assign(b.begin(), b.end());
        return rc;
    }
    TempDir dir{"deep-ntfs-image"};
    std::string images, image;
    Manifest manifest;
};
} // namespace

// The disk without its table, fed to the engine sector by sector: every file
// in its folder, on the volume at sector 2048, byte for byte.
TEST(DeepNtfsDisk, EngineFindsTheVolumeOfAZeroedTable)
{
    std::string why;
    const std::string images = DeepNtfsImages(why);
    if (images.empty())
        GTEST_SKIP() << why;
    Manifest m;
    ASSERT_TRUE(LoadManifest(images + "/mbr.manifest", m));
    DeepNtfsScan s(images + "/mbr.img");
    ASSERT_EQ(s.initStatus, 0u);
    std::map<std::string, _FILE_NODE_> files = s.ByPath();
    std::set<std::string> paths;
    for (const auto& f : files)
        paths.insert(f.first);
    EXPECT_EQ(paths, ExpectedPaths(m));
    TempDir out("deep-ntfs-disk");
    for (const ManifestEntry& e : m.entries)
    {
        if (e.isDir || e.state != "intact")
            continue;
        _FILE_NODE_& n = files[e.shortName];
        EXPECT_EQ(n.u64PartitionStartSector, m.Fact("volume_start_sector")) << e.path;
        EXPECT_EQ(n.uClusterSize, m.Fact("sectors_per_cluster") * 512) << e.path;
        EXPECT_EQ(n.u64RecordSector, e.entrySector) << e.path;
        unsigned int st = ~0u;
        const std::string target = out.File(std::to_string(n.uClusterNO));
        ReportLog log = s.Recover(n, target, st);
        EXPECT_EQ(st, 0u) << e.path;
        EXPECT_EQ(log.Finals(), 1) << e.path;
        std::vector<uint8_t> got;
        ASSERT_TRUE(ReadWholeFile(target, got)) << e.path;
        EXPECT_EQ(Sha256Hex(got), e.sha256) << e.path;
    }
}

// The command line, deep by default: the deep engine's files are exactly
// those the script measured as there, with their folders, and every intact
// one comes back whole.
TEST_P(DeepNtfsImage, CommandLineListsAndRecoversTheLostFiles)
{
    std::string out;
    ASSERT_EQ(Cli({"scan", "--image", image, "--json"}, out), 0) << out;
    const nlohmann::json j = nlohmann::json::parse(out, nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << out;
    std::set<std::string> paths;
    for (const nlohmann::json& f : j["files"])
        if (f["engine_type"] == 2)
            paths.insert(f["path"].get<std::string>() + f["name"].get<std::string>());
    EXPECT_EQ(paths, ExpectedPaths(manifest));

    ASSERT_EQ(Cli({"recover", "--image", image, "--out", "./recovered"}, out), 0) << out;
    const CommandResult sums = RunCommand("find " + ShellQuote(dir.File("recovered")) +
                                          " -type f -print0 | xargs -0 -r sha256sum | cut -c1-64");
    std::multiset<std::string> got;
    std::istringstream in(sums.output);
    for (std::string l; std::getline(in, l);)
        got.insert(l);
    const std::multiset<std::string> want = IntactSums(manifest);
    for (const std::string& sum : want)
        EXPECT_GE(got.count(sum), want.count(sum)) << sum << "\n" << out;
}

INSTANTIATE_TEST_SUITE_P(Images, DeepNtfsImage, ::testing::Values("quick", "mbr"));

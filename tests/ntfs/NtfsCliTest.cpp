// tessaroo-cli on NTFS images as a user runs it: the quick scan of a volume
// made by mkntfs and ntfs-3g (tools/make_ntfs_images.sh); the deep scan, by
// default, of a card quick-formatted over its files and of a disk whose
// partition table was zeroed (tools/make_deep_ntfs_images.sh).
#include "tests/cli/CliRunner.h"
#include "tests/ntfs/NtfsTestUtil.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <set>

using namespace tessaroo::test;

namespace
{
struct CliCase
{
    const char* script;
    const char* image;
    bool fast;
};
void PrintTo(const CliCase& c, std::ostream* os)
{
    *os << c.image;
}

class NtfsCli : public ::testing::TestWithParam<CliCase>
{
  protected:
    void SetUp() override
    {
        std::string why;
        images = NtfsImages(why, GetParam().script);
        if (images.empty())
            GTEST_SKIP() << why;
        image = images + "/" + GetParam().image + ".img";
        ASSERT_TRUE(LoadManifest(images + "/" + GetParam().image + ".manifest", manifest));
    }
    CliRun Run(std::vector<std::string> args)
    {
        if (GetParam().fast)
            args.insert(args.begin() + 1, "--fast");
        return RunCli(args, {"TESSAROO_SUPPORT_DIR=" + dir.File("support"), "TESSAROO_DISKS="}, dir.Path());
    }
    TempDir dir{"ntfs-cli"};
    std::string images, image;
    Manifest manifest;
};

// The quick scan lists the deleted files in their folders (a folder in use,
// a deleted tree, a lost folder, a folder named like a picture); the deep
// one exactly the files the script measured as still there, by the path
// it can know, but pictures whose data is gone. Every intact file comes
// back whole.
TEST_P(NtfsCli, ListsAndRecoversTheLostFiles)
{
    CliRun r = Run({"scan", "--image", image, "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const nlohmann::json j = nlohmann::json::parse(r.out, nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << r.out;
    std::set<std::string> paths, want;
    for (const nlohmann::json& f : j["files"])
        if (f["engine_type"] == (GetParam().fast ? 0 : 2))
            paths.insert(f["path"].get<std::string>() + f["name"].get<std::string>());
    std::multiset<std::string> intact;
    for (const ManifestEntry& e : manifest.entries)
    {
        if (!e.isDir && e.state == "intact")
            intact.insert(e.sha256);
        const bool picture = e.path.size() > 4 && e.path.compare(e.path.size() - 4, 4, ".jpg") == 0;
        if (!GetParam().fast && !e.isDir && (e.state == "intact" || (e.state == "named" && !picture)))
            want.insert(e.shortName); // the path a deep scan shows
    }
    if (GetParam().fast)
    {
        for (const char* path : {"Docs/Quarterly report.txt", "Trash/Inner Folder/deep.txt",
                                 "LostFolder64/orphan.txt", "Scans.jpg/notes.txt", "sparse.bin"})
            EXPECT_TRUE(paths.count(path)) << path << "\n" << r.out;
        EXPECT_EQ(paths.size(), intact.size()) << r.out;
    }
    else
    {
        EXPECT_EQ(paths, want);
    }

    r = Run({"recover", "--image", image, "--out", "./recovered"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    const std::multiset<std::string> got = ChecksumsBelow(dir.File("recovered"));
    if (GetParam().fast)
    {
        EXPECT_EQ(got, intact);
    }
    for (const std::string& sum : intact)
        EXPECT_GE(got.count(sum), intact.count(sum)) << sum << "\n" << r.out;
}

INSTANTIATE_TEST_SUITE_P(Images, NtfsCli,
                         ::testing::Values(CliCase{"make_ntfs_images.sh", "ntfs", true},
                                           CliCase{"make_deep_ntfs_images.sh", "quick", false},
                                           CliCase{"make_deep_ntfs_images.sh", "mbr", false}),
                         [](const ::testing::TestParamInfo<CliCase>& i)
                         { return std::string(i.param.image); });

} // namespace

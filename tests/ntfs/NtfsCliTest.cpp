// tessaroo-cli's deep scan, its default, as a user runs it on NTFS volumes
// made by mkntfs and ntfs-3g (tools/make_deep_ntfs_images.sh): a card
// quick-formatted over its files and a disk whose partition table was
// zeroed.
#include "tests/cli/CliRunner.h"
#include "tests/ntfs/NtfsTestUtil.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <set>

using namespace tessaroo::test;

namespace
{
class NtfsCli : public CliFixture, public ::testing::WithParamInterface<std::string>
{
  protected:
    void SetUp() override
    {
        std::string why;
        images = NtfsImages(why, "make_deep_ntfs_images.sh");
        if (images.empty())
            GTEST_SKIP() << why;
        image = images + "/" + GetParam() + ".img";
        ASSERT_TRUE(LoadManifest(images + "/" + GetParam() + ".manifest", manifest));
    }
    std::string images, image;
    Manifest manifest;
};

// The deep engine's files are exactly those the script measured as still
// there (in free space), by the path a deep scan can know, but pictures
// whose data is gone, which are hidden as damaged; every intact one comes
// back whole.
TEST_P(NtfsCli, DeepScanListsAndRecoversTheLostFiles)
{
    CliRun r = Run({"scan", "--image", image, "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const nlohmann::json j = nlohmann::json::parse(r.out, nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << r.out;
    std::set<std::string> paths, want;
    for (const nlohmann::json& f : j["files"])
        if (f["engine_type"] == 2)
            paths.insert(f["path"].get<std::string>() + f["name"].get<std::string>());
    std::multiset<std::string> intact;
    for (const ManifestEntry& e : manifest.entries)
    {
        if (!e.isDir && e.state == "intact")
            intact.insert(e.sha256);
        const bool picture = e.path.size() > 4 && e.path.compare(e.path.size() - 4, 4, ".jpg") == 0;
        if (!e.isDir && (e.state == "intact" || (e.state == "named" && !picture)))
            want.insert(e.shortName); // the path a deep scan shows
    }
    EXPECT_EQ(paths, want);

    r = Run({"recover", "--image", image, "--out", "./recovered"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    const std::multiset<std::string> got = ChecksumsBelow(dir.File("recovered"));
    for (const std::string& sum : intact)
        EXPECT_GE(got.count(sum), intact.count(sum)) << sum << "\n" << r.out;
}

INSTANTIATE_TEST_SUITE_P(Images, NtfsCli, ::testing::Values("quick", "mbr"));
} // namespace

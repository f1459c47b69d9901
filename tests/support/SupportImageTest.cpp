// The image scripts checked from the outside: every manifest line is read
// back from its image by plain arithmetic on the volume geometry, so a
// manifest that lies about an image fails here before an engine test
// trusts it.
#include "tests/support/TestSupport.h"

#include "core/ByteReader.h"

#include <gtest/gtest.h>

using namespace tessaroo;
using namespace tessaroo::test;

namespace
{
// Data of a deleted file read as the engines read it: consecutive clusters
// from the first one.
std::vector<uint8_t> ReadContiguous(const std::string& img, const Manifest& m, const ManifestEntry& e)
{
    const uint64_t bps = m.Fact("bytes_per_sector"), spc = m.Fact("sectors_per_cluster");
    const uint64_t sector =
        m.Fact("partition_start_sector") + m.Fact("data_start_sector") + (e.firstCluster - 2) * spc;
    return ReadFileRange(img, sector * bps, size_t(e.size));
}

void CheckVolume(const std::string& img, const std::string& manifestPath)
{
    Manifest m;
    std::string err;
    ASSERT_TRUE(LoadManifest(manifestPath, m, &err)) << err;
    ASSERT_FALSE(m.Deleted().empty()) << manifestPath;
    const uint64_t bps = m.Fact("bytes_per_sector");
    ASSERT_EQ(bps, 512u);
    for (const ManifestEntry& e : m.entries)
    {
        SCOPED_TRACE(e.path);
        // The short entry is in the sector the manifest names: deleted ones
        // carry the mark, live ones their name.
        const std::vector<uint8_t> sector = ReadFileRange(img, e.entrySector * bps, size_t(bps));
        ASSERT_EQ(sector.size(), bps);
        std::array<uint8_t, 11> want = ShortName11(e.shortName);
        if (e.IsDeleted())
            want[0] = 0xE5;
        bool found = false;
        for (size_t off = 0; off < bps && !found; off += 32)
            found = std::equal(want.begin(), want.end(), sector.begin() + long(off)) &&
                    ByteReader(sector.data(), sector.size()).U16(off + 26) == uint16_t(e.firstCluster);
        EXPECT_TRUE(found);
        if (e.isDir || e.size == 0)
            continue;
        const bool whole = Sha256Hex(ReadContiguous(img, m, e)) == e.sha256;
        if (e.state == "intact")
        {
            EXPECT_TRUE(whole);
        }
        else if (e.state != "live")
        {
            EXPECT_FALSE(whole) << e.state;
        }
    }
}
} // namespace

class FatImageScript : public ::testing::TestWithParam<const char*>
{
};

TEST_P(FatImageScript, ManifestMatchesTheImage)
{
    const std::string& dir = SharedFatImages();
    ASSERT_FALSE(dir.empty()) << "tools/make_fat_images.sh failed";
    const std::string name = GetParam();
    CheckVolume(dir + "/" + name + ".img", dir + "/" + name + ".manifest");
}

INSTANTIATE_TEST_SUITE_P(Images, FatImageScript,
                         ::testing::Values("fat12", "floppy", "fat16", "fat32", "mbr"));

TEST(FatImageScript, EveryStateOccurs)
{
    const std::string& dir = SharedFatImages();
    ASSERT_FALSE(dir.empty());
    std::map<std::string, int> states;
    for (const char* name : {"fat12", "floppy", "fat16", "fat32", "mbr"})
    {
        Manifest m;
        ASSERT_TRUE(LoadManifest(dir + "/" + name + ".manifest", m));
        for (const ManifestEntry& e : m.entries)
            ++states[e.state];
    }
    for (const char* s : {"live", "intact", "partial", "fragmented", "overwritten"})
        EXPECT_GT(states[s], 0) << s;
}

TEST(SampleCard, IsSmallAndMatchesItsManifest)
{
    std::vector<uint8_t> gz;
    ASSERT_TRUE(ReadWholeFile(ToolsDir() + "/../samples/sample.img.gz", gz));
    EXPECT_LT(gz.size(), 1024u * 1024u);
    const std::string& img = SharedSampleImage();
    ASSERT_FALSE(img.empty());
    CheckVolume(img, SampleManifestPath());
}

// The carving sweep over a raw image of real files between random, zero and
// text filler (tools/make_carve_image.sh): every file is found at its first
// sector with the length its format's rules give, nothing is carved from
// the filler, and the files whose rules find their own end come back byte
// for byte through the engine's copy.
#include "tests/signature/SignatureTestEnv.h"

#include "core/Portability.h"
#include "tests/support/PreviewCheck.h"

#include <algorithm>
#include <map>

using namespace sigtest;
using namespace tessaroo::test;

namespace
{
TEST(CarveImage, EveryFileGetsTheLengthOfItsRulesAndExactOnesComeBackWhole)
{
    const CarveImage& image = SharedCarveImage();
    ASSERT_FALSE(image.path.empty()) << "tools/make_carve_image.sh failed";
    ASSERT_GE(image.files.size(), 60u);
    ScopedEnv disks("TESSAROO_DISKS", image.path);
    TempDir out("carved");

    CFileTypeRecovery engine;
    ASSERT_EQ(0u, engine.Init(0, 0, (long long)image.u64Sectors, L'C'));
    Reports reports;
    engine.InitCallBack(&Reports::OnScan, &Reports::OnRecovery, &reports, 90);
    CDiskReader reader;
    ASSERT_EQ(0u, reader.Init(0, image.u64Sectors));
    // The sweep of the deep scan: each sector offered, going on after each
    // carved file's extent.
    unsigned long long files = 0;
    for (uint64_t pos = 0; pos < image.u64Sectors;)
    {
        unsigned char sector[512];
        unsigned int got = 0;
        ASSERT_EQ(0u, reader.ReadData(sector, 1, (long long)pos, 512, &got));
        unsigned long long skip = 1;
        const int st =
            engine.ParseFileBuf(sector, 512, pos, pos, image.u64Sectors, -1, &reader, 512, skip, files);
        ASSERT_TRUE(st == 0 || st == 87) << st << " at sector " << pos;
        pos += std::max<unsigned long long>(skip, 1);
    }

    std::map<uint64_t, _FILE_NODE_> byStart;
    for (const _FILE_NODE_& n : CarvedNodes(engine))
        byStart[n.u64RecordSector] = n;
    // Nothing carved from the filler, nor from inside a file unless its
    // format holds aligned starts of known files.
    std::map<uint64_t, const CARVED_FILE*> fileAt;
    for (const CARVED_FILE& f : image.files)
        fileAt[f.u64Start] = &f;
    for (const auto& n : byStart)
    {
        auto owner = fileAt.upper_bound(n.first);
        if (owner == fileAt.begin())
        {
            ADD_FAILURE() << "carved in the filler before the first file: " << n.second.szFileName;
            continue;
        }
        --owner;
        const bool inside = n.first < owner->first + (owner->second->u64Size + 511) / 512;
        EXPECT_TRUE(owner->first == n.first || (inside && owner->second->bInner))
            << "carved at sector " << n.first << ": " << n.second.szFileName;
    }

    for (size_t i = 0; i < image.files.size(); ++i)
    {
        const CARVED_FILE& f = image.files[i];
        SCOPED_TRACE(f.name + " at sector " + std::to_string(f.u64Start));
        auto hit = byStart.find(f.u64Start);
        if (hit == byStart.end())
        {
            ADD_FAILURE() << "not carved";
            continue;
        }
        const _FILE_NODE_& node = hit->second;
        EXPECT_EQ(0u, std::string(node.szFileName).find(std::to_string(f.u64Start) + "."));
        const uint64_t next = i + 1 < image.files.size() ? image.files[i + 1].u64Start : image.u64Sectors;
        uint64_t expected = f.u64Size;
        if (f.expect == "next")
            expected = (next - f.u64Start) * 512;
        else if (f.expect == "sector")
            expected = 512;
        else if (f.expect != "exact")
            expected = std::stoull(f.expect);
        EXPECT_EQ(expected, node.u64FileSize) << f.expect;
        if (node.u64FileSize != f.u64Size)
            continue;

        _FILE_NODE_ copy = node;
        std::wstring target = tessaroo::Utf8ToWide(out.File(std::string(node.szFileName)).c_str());
        reports.recoveries.clear();
        EXPECT_EQ(0u, engine.SaveFileData(&copy, &target[0], 0));
        ASSERT_FALSE(reports.recoveries.empty());
        EXPECT_EQ(0, reports.recoveries.back().status);
        EXPECT_EQ(Sha256OfFile(out.File(node.szFileName)), f.sha256) << "copy differs from the file";
        ExpectPreviewOf(&engine, copy, out.File(node.szFileName));
    }
}
} // namespace

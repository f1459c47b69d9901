// The carving sweep over a raw image of real files between random, zero and
// text filler (tools/make_carve_image.sh): every file is found at its first
// sector with the length its format's rules give, nothing is carved from
// the filler, and the files whose rules find their own end come back byte
// for byte through the engine's copy.
#include "tests/signature/SignatureTestEnv.h"

#include "core/Portability.h"
#include "tests/support/PreviewCheck.h"

#include <algorithm>
#include <fstream>
#include <map>

using namespace sigtest;
using namespace tessaroo::test;

namespace
{
// A line of carve.manifest: size, sha256, the carved size expected
// ("exact", "next", "sector" or a byte count), "inner" when files are carved
// inside this one, the name.
struct CarvedFile
{
    uint64_t size = 0;
    std::string sha256, expect, inner, name;
};

TEST(CarveImage, EveryFileGetsTheLengthOfItsRulesAndExactOnesComeBackWhole)
{
    const std::string dir = SharedScriptImages("make_carve_image.sh");
    ASSERT_FALSE(dir.empty()) << "tools/make_carve_image.sh failed";
    std::map<uint64_t, CarvedFile> files; // by first sector
    std::ifstream manifest(dir + "/carve.manifest");
    uint64_t start = 0;
    for (CarvedFile f; manifest >> start >> f.size >> f.sha256 >> f.expect >> f.inner >> f.name;)
        files[start] = f;
    ASSERT_GE(files.size(), 60u);
    const std::string path = dir + "/carve.img";
    const uint64_t sectors = uint64_t(std::ifstream(path, std::ios::binary | std::ios::ate).tellg()) / 512;
    ScopedEnv disks("TESSAROO_DISKS", path);
    TempDir out("carved");

    CFileTypeRecovery engine;
    ASSERT_EQ(0u, engine.Init(0, 0, (long long)sectors, L'C'));
    Reports reports;
    engine.InitCallBack(&Reports::OnScan, &Reports::OnRecovery, &reports, 90);
    CDiskReader reader;
    ASSERT_EQ(0u, reader.Init(0, sectors));
    // The sweep of the deep scan: each sector offered, going on after each
    // carved file's extent.
    unsigned long long found = 0;
    for (uint64_t pos = 0; pos < sectors;)
    {
        unsigned char sector[512];
        unsigned int got = 0;
        ASSERT_EQ(0u, reader.ReadData(sector, 1, (long long)pos, 512, &got));
        unsigned long long skip = 1;
        const int st = engine.ParseFileBuf(sector, 512, pos, pos, sectors, -1, &reader, 512, skip, found);
        ASSERT_TRUE(st == 0 || st == 87) << st << " at sector " << pos;
        pos += std::max<unsigned long long>(skip, 1);
    }

    std::map<uint64_t, _FILE_NODE_> byStart;
    for (const _FILE_NODE_& n : CarvedNodes(engine))
        byStart[n.u64RecordSector] = n;
    // Nothing carved from the filler, nor from inside a file unless its
    // format holds aligned starts of known files.
    for (const auto& n : byStart)
    {
        auto owner = files.upper_bound(n.first);
        if (owner != files.begin())
            --owner;
        const bool inside =
            n.first >= owner->first && n.first < owner->first + (owner->second.size + 511) / 512;
        EXPECT_TRUE(owner->first == n.first || (inside && owner->second.inner == "inner"))
            << "carved at sector " << n.first << ": " << n.second.szFileName;
    }

    for (auto it = files.begin(); it != files.end(); ++it)
    {
        const CarvedFile& f = it->second;
        SCOPED_TRACE(f.name + " at sector " + std::to_string(it->first));
        auto hit = byStart.find(it->first);
        if (hit == byStart.end())
        {
            ADD_FAILURE() << "not carved";
            continue;
        }
        const _FILE_NODE_& node = hit->second;
        EXPECT_EQ(0u, std::string(node.szFileName).find(std::to_string(it->first) + "."));
        const uint64_t next = std::next(it) == files.end() ? sectors : std::next(it)->first;
        uint64_t expected = f.size;
        if (f.expect == "next")
            expected = (next - it->first) * 512;
        else if (f.expect == "sector")
            expected = 512;
        else if (f.expect != "exact")
            expected = std::stoull(f.expect);
        EXPECT_EQ(expected, node.u64FileSize) << f.expect;
        if (node.u64FileSize != f.size)
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

// The fast NTFS engine on real volumes made by mkntfs and ntfs-3g
// (tools/make_ntfs_images.sh): what it lists is exactly what the script
// deleted, in the right folders, the same records The Sleuth Kit's fls and
// ntfsundelete find, and what it copies out is byte for byte what was
// written, with the times the volume recorded.
#include "core/Portability.h"
#include "core/Status.h"
#include "tests/ntfs/NtfsTestUtil.h"
#include "tests/support/PreviewCheck.h"
#include "tests/support/RunTool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>
#include <sstream>
#include <tuple>
#include <sys/stat.h>

using namespace tessaroo;
using namespace tessaroo::test;

// The form column of an NTFS manifest (resident, fragmented, listed...)
// loads where a FAT manifest keeps the short name: ManifestEntry::shortName.
namespace
{
// A name as a node holds it: at most 255 bytes, cut before a character.
std::string NodeNameOf(const std::string& name)
{
    size_t n = std::min<size_t>(name.size(), 255);
    while (n > 0 && n < name.size() && (uint8_t(name[n]) & 0xC0) == 0x80)
        --n;
    return name.substr(0, n);
}

class NtfsImage : public ::testing::TestWithParam<std::string>
{
  protected:
    void SetUp() override
    {
        std::string why;
        dir = NtfsImages(why);
        if (dir.empty())
            GTEST_SKIP() << why;
        const std::string name = GetParam();
        image = dir + "/" + name + ".img";
        std::string error;
        ASSERT_TRUE(LoadManifest(dir + "/" + name + ".manifest", manifest, &error)) << error;
        start = manifest.Fact("partition_start_sector");
        scan.reset(new NtfsScan(false, image, start, manifest.Fact("sector_count")));
        ntfs = scan->fast;
        ASSERT_NE(ntfs, nullptr) << "the factory gave no NTFS engine for " << image;
        ASSERT_EQ(scan->status, 0u);
    }

    // The path the engine shows for a manifest item: a folder whose record
    // another file took is "LostFolder<record>" in the root, and what lay
    // below it is found there.
    std::string ExpectedPath(const ManifestEntry& e) const
    {
        std::string shown = e.path.substr(1);
        for (size_t slash = e.path.find('/', 1); slash != std::string::npos;
             slash = e.path.find('/', slash + 1))
        {
            const ManifestEntry* d = manifest.Find(e.path.substr(0, slash));
            if (d && d->state == "reused")
                shown = "LostFolder" + std::to_string(d->firstCluster) + "/" + e.path.substr(slash + 1);
        }
        const size_t cut = shown.rfind('/');
        return cut == std::string::npos ? NodeNameOf(shown)
                                        : shown.substr(0, cut + 1) + NodeNameOf(shown.substr(cut + 1));
    }

    std::string dir, image;
    Manifest manifest;
    uint64_t start = 0;
    std::unique_ptr<NtfsScan> scan;
    CFastNtfsRecovery* ntfs = nullptr;
};

// Deleted files are listed as "path size record-sector": all but those
// whose record was taken or lost its name, and pictures whose data was
// overwritten. Each intact one comes back byte for byte with the times of
// its record, and previews as its copy.
TEST_P(NtfsImage, ListsExactlyTheDeletedFilesAndRecoversAndPreviewsTheIntactOnes)
{
    TempDir out("ntfs-recover");
    const auto line = [](const std::string& path, uint64_t size, uint64_t sector)
    { return path + " " + std::to_string(size) + " " + std::to_string(sector); };
    std::vector<std::string> listed, want;
    int recovered = 0;
    for (__SEARCH_FILE_INFO__& h : scan->hits)
    {
        EXPECT_EQ(std::make_tuple(h.uEngineType, h.bIsDir, h.u64PartitionStartSector),
                  std::make_tuple(0u, 0u, start));
        listed.push_back(line(NodePath(ntfs, h), h.u64FileSize, h.u64RecordSector));
        const auto e =
            std::find_if(manifest.entries.begin(), manifest.entries.end(),
                         [&](const ManifestEntry& x) { return !x.isDir && x.firstCluster == h.uClusterNO; });
        if (e == manifest.entries.end() || e->state != "intact")
            continue;
        const std::string target = out.File("f" + std::to_string(recovered++));
        Copy(ntfs, h, target, 0);
        EXPECT_EQ(Sha256OfFile(target), e->sha256) << e->path << " (" << e->shortName << ")";
        struct stat st;
        ASSERT_EQ(stat(target.c_str(), &st), 0);
        EXPECT_EQ(uint64_t(st.st_mtime), manifest.Fact("fn_mtime_" + std::to_string(e->firstCluster)))
            << e->path;
        ExpectPreviewOf(ntfs, h, target);
    }
    EXPECT_GT(recovered, 0);
    for (const ManifestEntry& e : manifest.entries)
        if (!e.isDir && e.IsDeleted() && e.state != "reused" && e.state != "unnamed" &&
            !(e.state == "overwritten" && IsPictureName(e.Name())))
            want.push_back(line(ExpectedPath(e), e.size, e.entrySector));
    std::sort(listed.begin(), listed.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(listed, want);
}

// The same deleted records as two peers: fls lists every deleted file
// record it can place (overwritten pictures included, which the engine
// hides), ntfsundelete every one it judges recoverable or not.
TEST_P(NtfsImage, FindsTheRecordsFlsAndNtfsundeleteFind)
{
    if (!HaveTool("fls") || !HaveTool("ntfsundelete"))
        GTEST_SKIP() << "fls (sleuthkit) or ntfsundelete (ntfs-3g) is missing";
    std::set<uint32_t> ours;
    for (const __SEARCH_FILE_INFO__& h : scan->hits)
        ours.insert(h.uClusterNO);
    for (const ManifestEntry& e : manifest.entries)
        if (!e.isDir && e.state == "overwritten" && IsPictureName(e.Name()))
            ours.insert(e.firstCluster);
    // The record numbers of a peer's lines that match line, but those whose
    // name (the second group) matches nameless: a record without a name is
    // "OrphanFile-<n>" to fls and "<none>" to ntfsundelete.
    auto records = [](const std::string& output, const std::regex& line, const std::regex& nameless)
    {
        std::set<uint32_t> out;
        std::istringstream in(output);
        std::smatch m;
        for (std::string l; std::getline(in, l);)
            if (std::regex_match(l, m, line) && !std::regex_match(m[2].str(), nameless))
                out.insert(uint32_t(std::stoul(m[1])));
        return out;
    };
    const CommandResult fls =
        RunCommand("fls -r -d -p -o " + std::to_string(start) + " " + ShellQuote(image));
    ASSERT_EQ(fls.exitCode, 0) << fls.output;
    EXPECT_EQ(ours, records(fls.output, std::regex(R"(^[-r]/r \* (\d+)-\d+-\d+:\t(.*)$)"),
                            std::regex(R"(.*/OrphanFile-\d+$)")))
        << fls.output;
    // ntfsundelete reads a volume, not a disk: the partition on its own.
    const std::string volume = GetParam() == "gpt" ? dir + "/gpt-ntfs.img" : image;
    const CommandResult und = RunCommand("ntfsundelete -s -f " + ShellQuote(volume) + " 2>/dev/null");
    EXPECT_EQ(ours,
              records(und.output, std::regex(R"(^(\d+)\s+F\S*\s+\d+%.*\d+\s+(.+)$)"), std::regex("<none>")))
        << und.output;
}

INSTANTIATE_TEST_SUITE_P(Images, NtfsImage, ::testing::Values("ntfs", "ntfs4k", "gpt"),
                         [](const ::testing::TestParamInfo<std::string>& i) { return i.param; });

// The full scenario on its own, for what the table above does not reach.
class NtfsVolume : public NtfsImage
{
};

// A live file whose runs are split over extension records named by a
// non-resident attribute list reads back whole through the runs joined.
TEST_P(NtfsVolume, RunsOfAnAttributeListAreJoined)
{
    const ManifestEntry* e = manifest.Find("/Docs/many-live.bin");
    ASSERT_NE(e, nullptr);
    ASSERT_EQ(e->shortName, "listed");
    std::vector<__RUNLIST__> runs;
    ASSERT_EQ(ntfs->GetRunListInfo(e->entrySector, 0x80, runs), 0);
    std::vector<NtfsExtent> extents;
    CNtfsParse::PlaceRuns(runs, UINT32_MAX, extents);
    const uint64_t cluster = manifest.Fact("sectors_per_cluster") * manifest.Fact("bytes_per_sector");
    std::vector<uint8_t> data;
    for (const NtfsExtent& x : extents)
    {
        const std::vector<uint8_t> piece =
            ReadFileRange(image, x.u64Cluster * cluster, size_t(x.u64Count * cluster));
        data.insert(data.end(), piece.begin(), piece.end());
    }
    ASSERT_GE(data.size(), e->size);
    data.resize(size_t(e->size));
    EXPECT_EQ(Sha256Hex(data), e->sha256);
}

TEST_P(NtfsVolume, FolderCopiesTakeTheTreeAndStopWhenAsked)
{
    _FILE_NODE_ trash;
    ASSERT_TRUE(RootFolder(ntfs, "Trash", trash));
    TempDir out("ntfs-folder");
    unsigned int st = ~0u;
    const ReportLog log = Recover(ntfs, trash, out.File("Trash"), st);
    EXPECT_EQ(st, 0u);
    int files = 0;
    for (const ManifestEntry& e : manifest.entries)
        if (!e.isDir && e.path.compare(0, 7, "/Trash/") == 0)
        {
            EXPECT_EQ(Sha256OfFile(out.Path() + e.path), e.sha256) << e.path;
            ++files;
        }
    EXPECT_EQ(log.Finals(), files);
    // A stop at the first report ends the whole copy after that file.
    EXPECT_EQ(Recover(ntfs, trash, out.File("Again"), st, STATUS_CANCEL).Finals(), 1);
    EXPECT_EQ(int(st), STATUS_CANCEL);
}

INSTANTIATE_TEST_SUITE_P(Scenario, NtfsVolume, ::testing::Values("ntfs"),
                         [](const ::testing::TestParamInfo<std::string>& i) { return i.param; });
} // namespace

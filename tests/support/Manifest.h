// The images made by tools/make_fat_images.sh and tools/make_sample.sh, and
// the manifests written beside them: what each volume holds, which files
// are deleted, their checksums and whether their data is still intact.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tessaroo
{
namespace test
{
struct ManifestEntry
{
    bool isDir = false;
    // "live", or for a deleted item "intact", "partial", "fragmented", "overwritten".
    std::string state;
    uint64_t size = 0;
    std::string sha256; // "-" for folders
    uint32_t firstCluster = 0;
    uint64_t entrySector = 0; // absolute sector of the short entry in the image
    std::string shortName;    // "NAME.EXT" as stored before deletion
    std::string path;         // "/DOCS/Quarterly report.txt" (UTF-8)

    bool IsDeleted() const { return state != "live"; }
    // The last component of path.
    std::string Name() const;
};

struct Manifest
{
    std::map<std::string, std::string> facts; // "#@ key=value" lines: fat_type, partition_start_sector, ...
    std::vector<ManifestEntry> entries;

    // A numeric fact; 0 when absent.
    uint64_t Fact(const std::string& key) const;
    const ManifestEntry* Find(const std::string& path) const;
    std::vector<ManifestEntry> Deleted() const;
};

// Parses a manifest file. False (with a reason in *error) when a line is malformed.
bool LoadManifest(const std::string& path, Manifest& out, std::string* error = nullptr);

// The folder where tools/make_fat_images.sh has made its images (fat12,
// floppy, fat16, fat32, mbr: NAME.img and NAME.manifest). Tests only read
// them (copy one to change it): the folder is shared by every test process
// of this user, under $TESSAROO_TEST_CACHE or $TMPDIR/tessaroo-test-cache-UID,
// made on first use and remade when the script changes. "" when the script
// failed (the reason goes to standard error).
const std::string& SharedFatImages();
// The same for any image script of tools/ that takes an output folder:
// SharedScriptImages("make_ntfs_images.sh").
const std::string& SharedScriptImages(const std::string& script);

// samples/sample.img.gz unpacked once per test process into a temporary
// folder; the path of sample.img, or "" on failure. The manifest is
// SampleManifestPath().
const std::string& SharedSampleImage();
std::string SampleManifestPath();
} // namespace test
} // namespace tessaroo

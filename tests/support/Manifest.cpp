#include "tests/support/Manifest.h"

#include "tests/support/RunTool.h"
#include "tests/support/Sha256.h"
#include "tests/support/TempDir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>

namespace tessaroo
{
namespace test
{
std::string ManifestEntry::Name() const
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

uint64_t Manifest::Fact(const std::string& key) const
{
    auto it = facts.find(key);
    return it == facts.end() ? 0 : strtoull(it->second.c_str(), nullptr, 0);
}

const ManifestEntry* Manifest::Find(const std::string& path) const
{
    auto it =
        std::find_if(entries.begin(), entries.end(), [&](const ManifestEntry& e) { return e.path == path; });
    return it == entries.end() ? nullptr : &*it;
}

std::vector<ManifestEntry> Manifest::Deleted() const
{
    std::vector<ManifestEntry> out;
    std::copy_if(entries.begin(), entries.end(), std::back_inserter(out),
                 [](const ManifestEntry& e) { return e.IsDeleted(); });
    return out;
}

bool LoadManifest(const std::string& path, Manifest& out, std::string* error)
{
    const auto fail = [error](const std::string& why)
    {
        if (error)
            *error = why;
        return false;
    };
    std::ifstream in(path);
    if (!in)
        return fail("cannot open " + path);
    out = Manifest();
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line))
    {
        ++lineNo;
        if (line.empty())
            continue;
        if (line.compare(0, 3, "#@ ") == 0)
        {
            size_t eq = line.find('=');
            if (eq != std::string::npos)
                out.facts[line.substr(3, eq - 3)] = line.substr(eq + 1);
            continue;
        }
        if (line[0] == '#')
            continue;
        // Seven fields, then the path, which may hold anything but a newline.
        std::istringstream fields(line);
        std::vector<std::string> f(8);
        size_t n = 0;
        while (n < 7 && std::getline(fields, f[n], '\t'))
            ++n;
        if (n < 7 || !std::getline(fields, f[7]))
            return fail(path + ":" + std::to_string(lineNo) + ": expected 8 tab-separated fields");
        out.entries.push_back({f[0] == "dir", f[1], strtoull(f[2].c_str(), nullptr, 10), f[3],
                               uint32_t(strtoul(f[4].c_str(), nullptr, 10)),
                               strtoull(f[5].c_str(), nullptr, 10), f[6], f[7]});
    }
    return true;
}

namespace
{
// Folders made once per process and removed at exit.
struct SharedFolder
{
    std::unique_ptr<TempDir> dir;
    std::string result;
    bool tried = false;
};

// A folder of this user's that outlives one test process: each test case
// runs in a process of its own, and making the images takes seconds.
std::string CacheRoot()
{
    const char *c = getenv("TESSAROO_TEST_CACHE"), *t = getenv("TMPDIR");
    const std::string root =
        c && *c ? c : std::string(t && *t ? t : "/tmp") + "/tessaroo-test-cache-" + std::to_string(getuid());
    mkdir(root.c_str(), 0700);
    struct stat st;
    // Only a real folder of ours: another user's or a link could feed us other images.
    return lstat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid() ? std::string()
                                                                                          : root;
}
} // namespace

const std::string& SharedScriptImages(const std::string& script)
{
    static std::map<std::string, SharedFolder> folders;
    SharedFolder& s = folders[script];
    if (s.tried)
        return s.result;
    s.tried = true;
    const std::string path = ToolsDir() + "/" + script;
    const std::string key = Sha256OfFile(path).substr(0, 16);
    const std::string root = CacheRoot();
    if (key.empty() || root.empty())
    {
        fprintf(stderr, "cannot read %s or make the test cache folder\n", path.c_str());
        return s.result;
    }
    // Keyed by the script's checksum, so a changed script makes new images.
    // make_fat_images.sh -> fatimages-<key>
    std::string stem = script.substr(0, script.rfind('.'));
    if (stem.compare(0, 5, "make_") == 0)
        stem.erase(0, 5);
    stem.erase(std::remove(stem.begin(), stem.end(), '_'), stem.end());
    const std::string dir = root + "/" + stem + "-" + key;
    struct stat st;
    if (stat((dir + "/complete").c_str(), &st) == 0)
        return s.result = dir;
    // Test processes run in parallel: one makes the images under the lock,
    // the others wait for it and find them complete.
    const std::string q = ShellQuote(dir), work = ShellQuote(dir + ".work");
    ::testing::AssertionResult r =
        RunSucceeds("exec 9>" + ShellQuote(dir + ".lock") + " && flock 9 && { test -e " + q +
                    "/complete || { rm -rf " + q + " " + work + " && " + ShellQuote(path) + " " + work +
                    " && touch " + work + "/complete && mv " + work + " " + q + "; }; }");
    if (r)
        s.result = dir;
    else
        fprintf(stderr, "%s\n", r.message());
    return s.result;
}

const std::string& SharedFatImages()
{
    return SharedScriptImages("make_fat_images.sh");
}

std::string SampleManifestPath()
{
    return ToolsDir() + "/../samples/sample.manifest";
}

const std::string& SharedSampleImage()
{
    static SharedFolder s;
    if (!s.tried)
    {
        s.tried = true;
        s.dir.reset(new TempDir("sample"));
        const std::string img = s.dir->File("sample.img");
        ::testing::AssertionResult r = RunSucceeds(
            "gzip -dc " + ShellQuote(ToolsDir() + "/../samples/sample.img.gz") + " > " + ShellQuote(img));
        if (r)
            s.result = img;
        else
            fprintf(stderr, "%s\n", r.message());
    }
    return s.result;
}
} // namespace test
} // namespace tessaroo

#include "tests/support/Manifest.h"

#include "tests/support/RunTool.h"
#include "tests/support/Sha256.h"
#include "tests/support/TempDir.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cstdlib>
#include <fstream>
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
    for (const ManifestEntry& e : entries)
        if (e.path == path)
            return &e;
    return nullptr;
}

std::vector<ManifestEntry> Manifest::Deleted() const
{
    std::vector<ManifestEntry> out;
    for (const ManifestEntry& e : entries)
        if (e.IsDeleted())
            out.push_back(e);
    return out;
}

bool LoadManifest(const std::string& path, Manifest& out, std::string* error)
{
    std::ifstream in(path);
    if (!in)
    {
        if (error)
            *error = "cannot open " + path;
        return false;
    }
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
        {
            if (error)
                *error = path + ":" + std::to_string(lineNo) + ": expected 8 tab-separated fields";
            return false;
        }
        ManifestEntry e;
        e.isDir = f[0] == "dir";
        e.state = f[1];
        e.size = strtoull(f[2].c_str(), nullptr, 10);
        e.sha256 = f[3];
        e.firstCluster = uint32_t(strtoul(f[4].c_str(), nullptr, 10));
        e.entrySector = strtoull(f[5].c_str(), nullptr, 10);
        e.shortName = f[6];
        e.path = f[7];
        out.entries.push_back(e);
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
    std::string root;
    if (const char* c = getenv("TESSAROO_TEST_CACHE"))
        root = c;
    if (root.empty())
    {
        const char* t = getenv("TMPDIR");
        root = std::string(t && *t ? t : "/tmp") + "/tessaroo-test-cache-" + std::to_string(getuid());
    }
    mkdir(root.c_str(), 0700);
    struct stat st;
    // Only a real folder of ours: another user's or a link could feed us other images.
    if (lstat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid())
        return std::string();
    return root;
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
    // Test processes run in parallel: one makes the images, the others wait.
    int lock = open((dir + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0 || flock(lock, LOCK_EX) != 0)
    {
        fprintf(stderr, "cannot lock %s.lock\n", dir.c_str());
        if (lock >= 0)
            close(lock);
        return s.result;
    }
    if (stat((dir + "/complete").c_str(), &st) != 0)
    {
        RemoveTree(dir);
        const std::string work = dir + ".work";
        RemoveTree(work);
        ::testing::AssertionResult r = RunToolScript(script, {work});
        if (r && RunSucceeds("touch " + ShellQuote(work + "/complete")) &&
            rename(work.c_str(), dir.c_str()) == 0)
            s.result = dir;
        else
        {
            fprintf(stderr, "%s\n", r.message());
            RemoveTree(work);
        }
    }
    else
        s.result = dir;
    close(lock);
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

#include "tests/signature/CarveTestEnv.h"

#include <algorithm>
#include <fstream>
#include <sstream>

using namespace tessaroo::test;

namespace carvetest
{
const CarveImage& SharedCarveImage()
{
    static const CarveImage image = []
    {
        CarveImage img;
        const std::string out = SharedScriptImages("make_carve_image.sh");
        if (out.empty())
            return img;
        std::ifstream manifest(out + "/carve.manifest");
        std::string line;
        while (std::getline(manifest, line))
        {
            std::istringstream in(line);
            CARVED_FILE f;
            std::string inner;
            if (in >> f.u64Start >> f.u64Size >> f.sha256 >> f.expect >> inner >> f.name)
            {
                f.bInner = inner == "inner";
                img.files.push_back(f);
            }
        }
        std::sort(img.files.begin(), img.files.end(),
                  [](const CARVED_FILE& a, const CARVED_FILE& b) { return a.u64Start < b.u64Start; });
        std::ifstream raw(out + "/carve.img", std::ios::binary | std::ios::ate);
        img.u64Sectors = uint64_t(raw.tellg()) / 512;
        img.path = out + "/carve.img";
        return img;
    }();
    return image;
}

int Sweep(CFileTypeRecovery& engine, CDiskReader& reader, uint64_t first, uint64_t count, uint64_t* stoppedAt)
{
    constexpr int BPS = 512, CHUNK = 128;
    std::vector<unsigned char> chunk(CHUNK * BPS);
    unsigned long long files = 0;
    uint64_t pos = first;
    const uint64_t end = first + count;
    while (pos < end)
    {
        const int n = int(std::min<uint64_t>(CHUNK, end - pos));
        unsigned int got = 0;
        if (reader.ReadData(chunk.data(), n, (long long)pos, BPS, &got) != 0)
            got = 0;
        uint64_t next = pos + uint64_t(n);
        for (int k = 0; k < int(got);)
        {
            unsigned long long skip = 1;
            const int st = engine.ParseFileBuf(chunk.data() + size_t(k) * BPS, BPS, pos + uint64_t(k),
                                               pos - first, count, -1, &reader, BPS, skip, files);
            if (st != 0 && st != 87)
            {
                if (stoppedAt)
                    *stoppedAt = pos + uint64_t(k);
                return st;
            }
            if (uint64_t(k) + skip > uint64_t(n))
            {
                next = pos + uint64_t(k) + skip;
                break;
            }
            k += int(skip);
        }
        pos = next;
    }
    return 0;
}

int Reports::OnScan(void* ctx, int percent, int scale, int, unsigned long long current,
                    unsigned long long total, unsigned long long, wchar_t*)
{
    Reports* r = static_cast<Reports*>(ctx);
    r->scans.push_back(Scan{percent, scale, current, total});
    return int(r->scans.size()) - 1 == r->nStopAtScan ? r->nStopAnswer : 0;
}

int Reports::OnRecovery(void* ctx, int percent, int, int status, wchar_t* path)
{
    Reports* r = static_cast<Reports*>(ctx);
    r->recoveries.push_back(Recovery{percent, status, path ? std::wstring(path) : std::wstring()});
    return int(r->recoveries.size()) - 1 == r->nStopAtRecovery ? r->nStopAnswer : 0;
}

std::vector<_FILE_NODE_> CarvedNodes(CFileTypeRecovery& engine)
{
    std::vector<_FILE_NODE_> nodes;
    EXPECT_EQ(0u, engine.GetChildrenFileNode(nullptr, 0, nodes));
    return nodes;
}
} // namespace carvetest

#include "tests/signature/SignatureTestEnv.h"

#include "core/ByteReader.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace tessaroo::test;

namespace sigtest
{
namespace
{
// Every test process works with its own application-support folder, and
// finds the scripts when run by hand rather than by CTest.
class SupportDirEnvironment : public ::testing::Environment
{
    void SetUp() override
    {
        setenv("TESSAROO_TOOLS_DIR", TESSAROO_TOOLS_DIR_DEFAULT, 0);
        m_env.reset(new ScopedEnv("TESSAROO_SUPPORT_DIR", m_dir.Path()));
    }
    void TearDown() override { m_env.reset(); }
    TempDir m_dir{"sigsupport"};
    std::unique_ptr<ScopedEnv> m_env;
};
::testing::Environment* const g_supportEnv = ::testing::AddGlobalTestEnvironment(new SupportDirEnvironment);
} // namespace

const std::string& SamplesDir()
{
    return SharedScriptImages("make_format_samples.sh");
}

Bytes Sample(const std::string& name)
{
    Bytes b;
    EXPECT_FALSE(SamplesDir().empty()) << "tools/make_format_samples.sh failed";
    EXPECT_TRUE(!SamplesDir().empty() && ReadWholeFile(SamplesDir() + "/" + name, b)) << "no sample " << name;
    return b;
}

ImageDevice::ImageDevice(const Bytes& bytes, int bytesPerSector) : m_dir("sigdisk")
{
    const std::string path = m_dir.File("disk.img");
    const size_t bps = size_t(bytesPerSector);
    Bytes padded = bytes;
    padded.resize((bytes.size() + bps - 1) / bps * bps);
    m_env.reset(new ScopedEnv("TESSAROO_DISKS", path));
    EXPECT_TRUE(WriteImageFile(path, padded) && m_reader.Init(0, padded.size() / bps) == 0)
        << "cannot map " << path;
}

Bytes JfifHead()
{
    return Raw({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J',  'F',  'I',  'F',  0x00,
                0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0xFF, 0xDB},
               512);
}

Bytes BmpHead(uint32_t fileSize)
{
    Bytes b = Raw(
        {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24}, 512);
    tessaroo::PutU32(&b[2], fileSize);
    return b;
}

Bytes Raw(std::initializer_list<uint8_t> bytes, size_t len)
{
    Bytes b(bytes);
    b.resize(std::max(len, b.size()), 0);
    return b;
}

Bytes Text(const char* s, size_t len)
{
    return With(Bytes(len, 0), 0, Bytes(s, s + strlen(s)));
}

Bytes With(Bytes b, size_t off, const Bytes& part)
{
    b.resize(std::max(b.size(), off + part.size()), 0);
    std::copy(part.begin(), part.end(), b.begin() + long(off));
    return b;
}

Bytes With(Bytes b, const std::vector<std::pair<size_t, Bytes>>& parts)
{
    for (const auto& p : parts)
        b = With(b, p.first, p.second);
    return b;
}

Bytes TsPackets(size_t n)
{
    Bytes ts(n * 188, 0xAA);
    for (size_t i = 0; i < n; ++i)
        ts = With(ts, i * 188, {0x47, 0x40, 0x11, 0x10});
    return ts;
}

Bytes CompoundHead(uint32_t fatCount, std::vector<uint32_t> headerDifat, uint32_t difatCount,
                   uint32_t firstDifat, uint16_t shift, uint32_t firstDir)
{
    Bytes h = Raw({0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1}, 512);
    tessaroo::PutU16(&h[30], shift);
    tessaroo::PutU32(&h[44], fatCount);
    tessaroo::PutU32(&h[48], firstDir);
    tessaroo::PutU32(&h[68], firstDifat);
    tessaroo::PutU32(&h[72], difatCount);
    for (size_t i = 0; i < 109; ++i)
        tessaroo::PutU32(&h[76 + 4 * i], i < headerDifat.size() ? headerDifat[i] : 0xFFFFFFFF);
    return h;
}

Bytes Layout(size_t totalSectors, const std::vector<std::pair<size_t, Bytes>>& pieces, int bytesPerSector)
{
    Bytes img(totalSectors * size_t(bytesPerSector), 0);
    for (const auto& p : pieces)
        img = With(img, p.first * size_t(bytesPerSector), p.second);
    return img;
}

Bytes Slice(const Bytes& b, size_t off, size_t len)
{
    Bytes s(len, 0);
    for (size_t i = 0; i < len && off + i < b.size(); ++i)
        s[i] = b[off + i];
    return s;
}

std::unique_ptr<uint8_t[]> Exact(const Bytes& b)
{
    std::unique_ptr<uint8_t[]> copy(new uint8_t[b.empty() ? 1 : b.size()]);
    if (!b.empty())
        memcpy(copy.get(), b.data(), b.size());
    return copy;
}

void JudgeTest::Reset()
{
    CFileTypeJudge::s_state = CFileTypeJudge::LOOKUP_STATE();
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
} // namespace sigtest

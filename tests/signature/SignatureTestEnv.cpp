#include "tests/signature/SignatureTestEnv.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

using namespace tessaroo::test;

namespace sigtest
{
namespace
{
// Every test process works with its own application-support folder.
class SupportDirEnvironment : public ::testing::Environment
{
  public:
    void SetUp() override
    {
        // Run by hand rather than by CTest, the binary still finds the scripts.
        setenv("TESSAROO_TOOLS_DIR", TESSAROO_TOOLS_DIR_DEFAULT, 0);
        m_dir.reset(new TempDir("sigsupport"));
        m_env.reset(new ScopedEnv("TESSAROO_SUPPORT_DIR", m_dir->Path()));
    }
    void TearDown() override
    {
        m_env.reset();
        m_dir.reset();
    }

  private:
    std::unique_ptr<TempDir> m_dir;
    std::unique_ptr<ScopedEnv> m_env;
};
::testing::Environment* const g_supportEnv = ::testing::AddGlobalTestEnvironment(new SupportDirEnvironment);
} // namespace

const std::string& SamplesDir()
{
    static std::string dir;
    static bool tried = false;
    if (tried)
        return dir;
    tried = true;
    const std::string out = TESSAROO_SAMPLES_DIR;
    // CTest runs cases of this binary in parallel processes: one makes the
    // samples, the others wait on the lock and then find the stamp current.
    const std::string lockPath = out + ".lock";
    int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 || flock(fd, LOCK_EX) != 0)
    {
        perror("sample lock");
        if (fd >= 0)
            close(fd);
        return dir;
    }
    ::testing::AssertionResult r = RunToolScript("make_format_samples.sh", {out});
    flock(fd, LOCK_UN);
    close(fd);
    if (r)
        dir = out;
    else
        fprintf(stderr, "%s\n", r.message());
    return dir;
}

Bytes Sample(const std::string& name)
{
    Bytes b;
    const std::string& dir = SamplesDir();
    EXPECT_FALSE(dir.empty()) << "tools/make_format_samples.sh failed";
    if (!dir.empty())
    {
        EXPECT_TRUE(ReadWholeFile(dir + "/" + name, b)) << "no sample " << name;
    }
    return b;
}

ImageDevice::ImageDevice(const Bytes& bytes, int bytesPerSector) : m_dir("sigdisk")
{
    const std::string path = m_dir.File("disk.img");
    Bytes padded = bytes;
    padded.resize((bytes.size() + size_t(bytesPerSector) - 1) / size_t(bytesPerSector) *
                  size_t(bytesPerSector));
    m_u64Sectors = padded.size() / size_t(bytesPerSector);
    m_env.reset(new ScopedEnv("TESSAROO_DISKS", path));
    m_bOk = WriteImageFile(path, padded) && m_reader.Init(0, m_u64Sectors) == 0;
    EXPECT_TRUE(m_bOk) << "cannot map " << path;
}

Bytes Layout(size_t totalSectors, const std::vector<std::pair<size_t, Bytes>>& pieces, int bytesPerSector)
{
    Bytes img(totalSectors * size_t(bytesPerSector), 0);
    for (const auto& p : pieces)
    {
        const size_t off = p.first * size_t(bytesPerSector);
        if (off + p.second.size() > img.size())
            img.resize(off + p.second.size());
        std::copy(p.second.begin(), p.second.end(), img.begin() + long(off));
    }
    return img;
}

Bytes Slice(const Bytes& b, size_t off, size_t len)
{
    Bytes s(len, 0);
    for (size_t i = 0; i < len && off + i < b.size(); ++i)
        s[i] = b[off + i];
    return s;
}

void ResetJudgeState()
{
    CFileTypeJudge::LOOKUP_STATE& st = CFileTypeJudge::s_state;
    st.m_nBytesPerSector = 512;
    st.m_pDiskReader = nullptr;
    st.m_u64StartSector = 0;
    st.m_u64CurrentSector = 0;
    st.m_bIsNeedCheckTsFileRange = 1;
    st.m_bIsMtsFileHead = 0;
    st.m_tsFileRangeVec.clear();
}
} // namespace sigtest

// The content lookup skips rows by the buffer's first byte. It must answer
// exactly as running every row in table order: compared here on random
// sectors, zero sectors, every sector of every real sample, and real heads
// with bytes flipped (real heads under every other first byte are in
// SampleRecognitionTest).
#include "tests/signature/SignatureTestEnv.h"

#include <dirent.h>

#include <algorithm>
#include <random>
#include <thread>

using namespace sigtest;

namespace
{
// Every sample back to back on sector boundaries after a free sector, as a
// device, with 64 free sectors after the last.
struct SampleDevice
{
    Bytes image = Bytes(512, 0);
    std::vector<size_t> starts; // first sector of each sample
};

SampleDevice AllSamples()
{
    std::vector<std::string> names;
    if (DIR* d = opendir(SamplesDir().c_str()))
    {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    SampleDevice d;
    for (const std::string& name : names)
    {
        Bytes b = Sample(name);
        b.resize((b.size() + 511) / 512 * 512);
        d.starts.push_back(d.image.size() / 512);
        d.image.insert(d.image.end(), b.begin(), b.end());
    }
    d.image.resize(d.image.size() + 64 * 512, 0);
    return d;
}

void ExpectSameAnswer(const uint8_t* buf, int len, const char* what, size_t index)
{
    ASSERT_EQ(CFileTypeJudge::GetDataBufType(buf, len), CFileTypeJudge::GetDataBufTypeByTableOrder(buf, len))
        << what << " #" << index;
}

TEST_F(JudgeTest, FastLookupEqualsTableOrderOnSampleSectorsAndMutatedHeads)
{
    const SampleDevice d = AllSamples();
    ASSERT_GT(d.starts.size(), 60u);
    ImageDevice dev(d.image);
    CFileTypeJudge judge(&dev.Reader());
    size_t typed = 0;
    for (int rangeCheck = 0; rangeCheck <= 1; ++rangeCheck)
    {
        CFileTypeJudge::SetNeedCheckTsFileRange(rangeCheck);
        for (size_t s = 0; s < d.image.size() / 512; ++s)
        {
            judge.BeginLookup(512, s);
            ExpectSameAnswer(&d.image[s * 512], 512, "sample sector", s);
            typed += CFileTypeJudge::GetDataBufType(&d.image[s * 512], 512) != EXT_UNKNOWN;
        }
    }
    // Not a vacuous comparison: the heads were typed.
    EXPECT_GE(typed, d.starts.size());

    std::mt19937 rng(20240511);
    size_t n = 0;
    for (size_t start : d.starts)
    {
        judge.BeginLookup(512, start);
        const Bytes head = Slice(d.image, start * 512, 512);
        for (int k = 0; k < 300; ++k)
        {
            Bytes m = head;
            for (int f = 1 + int(rng() % 3); f > 0; --f)
                m[rng() % 64] ^= uint8_t(1u << (rng() % 8));
            ExpectSameAnswer(m.data(), k % 5 == 0 ? int(rng() % 513) : 512, "flipped head", n++);
        }
    }
}

TEST_F(JudgeTest, FastLookupEqualsTableOrderOnRandomAndZeroSectors)
{
    std::mt19937 rng(99);
    Bytes image(2048 * 512);
    for (uint8_t& b : image)
        b = uint8_t(rng());
    // Planted in the random data: a run of transport-stream packets whose
    // grid crosses from sector 99 into sector 100 at its first byte, and a
    // zip header.
    for (size_t p = 0; p < 64; ++p)
        image[99 * 512 + 324 + p * 188] = 0x47;
    std::copy_n("PK\3\4", 4, &image[300 * 512]);
    ImageDevice dev(image);
    CFileTypeJudge judge(&dev.Reader());
    for (size_t s = 0; s < 2048; ++s)
    {
        judge.BeginLookup(512, s);
        ExpectSameAnswer(&image[s * 512], 512, "random sector", s);
    }
    judge.BeginLookup(512, 100);
    EXPECT_EQ(CFileTypeJudge::GetDataBufType(&image[100 * 512], 512), EXT_UNKNOWN)
        << "stream runs on from sector 99";
    CFileTypeJudge::SetNeedCheckTsFileRange(0);
    EXPECT_EQ(CFileTypeJudge::GetDataBufType(&image[100 * 512], 512), EXT_TS);

    const Bytes zero(4096, 0);
    for (int len : {0, 1, 16, 188, 512, 4096})
        ExpectSameAnswer(zero.data(), len, "zero sector", size_t(len));
    EXPECT_EQ(CFileTypeJudge::GetDataBufType(zero.data(), 512), EXT_UNKNOWN);
    EXPECT_EQ(CFileTypeJudge::GetDataBufType(nullptr, 512), EXT_UNKNOWN);
    EXPECT_EQ(CFileTypeJudge::GetDataBufTypeByTableOrder(nullptr, 512), EXT_UNKNOWN);
}

#ifndef NDEBUG
// The shared state allows one lookup at a time; debug builds stop a second
// thread that enters while another is inside.
TEST(JudgeDeathTest, SecondThreadInsideALookupAborts)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            CFileTypeJudge::CLookupScope scope;
            std::thread other(
                []
                {
                    const uint8_t sector[512] = {};
                    CFileTypeJudge::GetDataBufType(sector, 512);
                });
            other.join();
        },
        "two threads");
}

// A scope left behind would make the next thread's lookup abort.
TEST(JudgeDeathTest, NestedLookupsOnOneThreadAndSuccessiveThreadsAreFine)
{
    const uint8_t sector[512] = {};
    {
        CFileTypeJudge::CLookupScope outer;
        EXPECT_EQ(CFileTypeJudge::GetDataBufType(sector, 512), EXT_UNKNOWN);
    }
    for (int i = 0; i < 2; ++i)
        std::thread([&] { EXPECT_EQ(CFileTypeJudge::GetDataBufType(sector, 512), EXT_UNKNOWN); }).join();
}
#endif
} // namespace

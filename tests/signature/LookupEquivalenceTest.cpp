// The content lookup skips rows by the buffer's first byte. It must answer
// exactly as running every row in table order: compared here on random and
// zero sectors (real heads, at every length, with bytes flipped and under
// every other first byte, are in SampleRecognitionTest).
#include "tests/signature/SignatureTestEnv.h"

#include <random>
#include <thread>

using namespace sigtest;

namespace
{
void ExpectSameAnswer(const uint8_t* buf, int len, const char* what, size_t index)
{
    ASSERT_EQ(CFileTypeJudge::GetDataBufType(buf, len), CFileTypeJudge::GetDataBufTypeByTableOrder(buf, len))
        << what << " #" << index;
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

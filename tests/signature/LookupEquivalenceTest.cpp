// The content lookup skips rows by the buffer's first byte. It must answer
// exactly as running every row in table order: on real heads at every
// length, flipped and under every other first byte (SampleRecognitionTest),
// and on hostile and random sectors (fuzz_filetype, whose replay includes
// random seeds). Here: zero sectors, and one lookup at a time.
#include "tests/signature/SignatureTestEnv.h"

#include <thread>

using namespace sigtest;

namespace
{
// Zero sectors and no buffer at all are nothing, by either lookup.
TEST_F(JudgeTest, ZeroSectorsAndNoBufferAreNothing)
{
    const Bytes zero(4096, 0);
    for (int len : {0, 1, 16, 188, 512, 4096})
    {
        EXPECT_EQ(CFileTypeJudge::GetDataBufType(zero.data(), len), EXT_UNKNOWN) << len;
        EXPECT_EQ(CFileTypeJudge::GetDataBufTypeByTableOrder(zero.data(), len), EXT_UNKNOWN) << len;
    }
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

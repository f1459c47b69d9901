// The preview of a node, as any engine gives it, checked against the
// node's recovered copy: a picture is written whole to the scan log, any
// other file gives its first bytes.
#pragma once

#include "core/IFileRecoveryParse.h"
#include "core/Portability.h"
#include "tests/support/ImageFile.h"
#include "tests/support/Sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace tessaroo
{
namespace test
{
inline void ExpectPreviewOf(IFileRecoveryParse* engine, _FILE_NODE_& node, const std::string& recovered)
{
    std::vector<unsigned char> buf(PREVIEW_BUFFER_SIZE);
    int len = PREVIEW_BUFFER_SIZE;
    wchar_t picture[256] = {0};
    ASSERT_EQ(engine->PreView(&node, picture, buf.data(), len, nullptr, nullptr), 0u) << recovered;
    std::vector<uint8_t> want;
    ASSERT_TRUE(ReadWholeFile(recovered, want));
    if (picture[0])
    {
        EXPECT_EQ(len, 0);
        EXPECT_EQ(Sha256OfFile(WideToUtf8(picture)), Sha256Hex(want)) << recovered;
        return;
    }
    want.resize(std::min(want.size(), buf.size()));
    EXPECT_EQ(std::vector<uint8_t>(buf.begin(), buf.begin() + len), want) << recovered;
}
} // namespace test
} // namespace tessaroo

// Lookups by extension in the format table, Office part names and zero
// sectors.
#include "tests/signature/SignatureTestEnv.h"

using namespace sigtest;

namespace
{
// Extensions read off a disk: ASCII case folds, nothing else does, and the
// whole name must match.
TEST(ExtendNameTable, LookupByExtensionIgnoresCaseAndWantsTheWholeName)
{
    const std::pair<const char*, EXTEND_NAME_TYPE> cases[] = {
        {"JpEg", EXT_JPG},     {"XLSB", EXT_XLSX},     {"txt", EXT_UNKNOWN},
        {"", EXT_UNKNOWN},     {"jp", EXT_UNKNOWN},    {"jpgx", EXT_UNKNOWN},
        {".jpg", EXT_UNKNOWN}, {"DOCX ", EXT_UNKNOWN}, {"\xCE\xC4\xB5\xB5", EXT_UNKNOWN},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CFileTypeJudge::GetExtendNameType(c.first), c.second) << '"' << c.first << '"';
    EXPECT_EQ(CFileTypeJudge::GetExtendNameType(nullptr), EXT_UNKNOWN);
}

// A zip part name types the document only when it is long enough to hold
// the folder's name and the bar after it.
TEST(ExtendNameTable, OfficePartNames)
{
    const struct
    {
        const char* szName;
        unsigned nLen;
        EXTEND_NAME_TYPE expected;
    } cases[] = {
        {"word/document.xml", 17, EXT_DOCX},     {"WORD/", 5, EXT_DOCX}, {"word", 4, EXT_UNKNOWN},
        {"ppt/slides/slide1.xml", 21, EXT_PPTX}, {"PPT/", 4, EXT_PPTX},  {"ppt", 3, EXT_UNKNOWN},
        {"xl/workbook.xml", 15, EXT_XLSX},       {"Xl/", 3, EXT_XLSX},   {"xl", 2, EXT_UNKNOWN},
        {"docProps/app.xml", 16, EXT_UNKNOWN},   {"", 0, EXT_UNKNOWN},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CFileTypeJudge::ReturnFileType(c.szName, c.nLen), c.expected) << c.szName << " " << c.nLen;
    EXPECT_EQ(CFileTypeJudge::ReturnFileType(nullptr, 10), EXT_UNKNOWN);
}

TEST(ExtendNameTable, ZeroBuffers)
{
    const Bytes zero(4096, 0);
    EXPECT_EQ(CFileTypeJudge::IsZeroBuffer(zero.data(), 4096), 1);
    EXPECT_EQ(CFileTypeJudge::IsZeroBuffer(nullptr, 0), 1);
    EXPECT_EQ(CFileTypeJudge::IsZeroBuffer(nullptr, 4), 0);
    EXPECT_EQ(CFileTypeJudge::IsZeroBuffer(zero.data(), -1), 0);
    // A single set byte in the word-wise part and in the byte-wise tail.
    for (size_t at : {size_t(0), size_t(7), size_t(8), size_t(4088), size_t(4095), size_t(4100)})
    {
        Bytes b(4101, 0);
        b[at] = 0x01;
        EXPECT_EQ(CFileTypeJudge::IsSectorTailIsZeroBuffetr(b.data(), 4101), 0) << at;
        EXPECT_EQ(CFileTypeJudge::IsZeroBuffer(b.data(), int(at)), 1) << at;
    }
}
} // namespace

// The format table's order and the lookups by extension and by code.
#include "tests/signature/SignatureTestEnv.h"

#include "engines/signature/ExtendNameTable.h"

#include <cstring>

using namespace sigtest;
using tessaroo::GetExtendNameOfType;

namespace
{
int FirstRowOf(const tessaroo::FILE_RECOGNISER* r)
{
    for (size_t i = 0; i < EXTEND_NAME_ROW_COUNT; ++i)
        if (szExtendNameAndType[i].pRecogniser == r)
            return int(i);
    return -1;
}

TEST(ExtendNameTable, HasEightySevenRowsAndAnEndRow)
{
    for (size_t i = 0; i < EXTEND_NAME_ROW_COUNT; ++i)
    {
        EXPECT_NE(szExtendNameAndType[i].szExtendName, nullptr) << i;
        EXPECT_NE(szExtendNameAndType[i].type, EXT_UNKNOWN) << i;
        EXPECT_NE(szExtendNameAndType[i].pRecogniser, nullptr) << i;
    }
    EXPECT_EQ(szExtendNameAndType[EXTEND_NAME_ROW_COUNT].szExtendName, nullptr);
    EXPECT_EQ(szExtendNameAndType[EXTEND_NAME_ROW_COUNT].type, EXT_UNKNOWN);
}

// The rows whose order decides what a content lookup answers.
TEST(ExtendNameTable, OrderThatContentLookupsRelyOn)
{
    // fla (any compound file) comes before every Office 97-2003 row.
    EXPECT_STREQ(szExtendNameAndType[24].szExtendName, "fla");
    EXPECT_EQ(szExtendNameAndType[24].pRecogniser, &tessaroo::RECOGNISE_FLA);
    const int firstOffice2003 = FirstRowOf(&tessaroo::RECOGNISE_OFFICE2003);
    EXPECT_EQ(firstOffice2003, 37);
    for (int i = 37; i <= 51; ++i)
        EXPECT_EQ(szExtendNameAndType[i].pRecogniser, &tessaroo::RECOGNISE_OFFICE2003) << i;
    // Office Open XML rows come before the zip row.
    for (int i = 52; i <= 69; ++i)
        EXPECT_EQ(szExtendNameAndType[i].pRecogniser, &tessaroo::RECOGNISE_OFFICE2007) << i;
    EXPECT_EQ(FirstRowOf(&tessaroo::RECOGNISE_ZIP), 74);
    // The transport stream row is tried before the MTS row.
    EXPECT_LT(FirstRowOf(&tessaroo::RECOGNISE_TS), FirstRowOf(&tessaroo::RECOGNISE_MTS));
    // exe, dll, sys and gho are recognised but never carved: no length is known.
    const char* const uncarved[] = {"exe", "dll", "sys", "gho"};
    for (int i = 0; i < 4; ++i)
    {
        EXPECT_STREQ(szExtendNameAndType[77 + i].szExtendName, uncarved[i]);
        EXPECT_EQ(szExtendNameAndType[77 + i].pfnEstimate, nullptr);
    }
}

// The name a code carries in carved file names is its first row's extension.
TEST(ExtendNameTable, FirstExtensionOfEachCode)
{
    const std::pair<EXTEND_NAME_TYPE, const char*> names[] = {
        {EXT_MPG, "mpeg"},    {EXT_RMVB, "rmvb"}, {EXT_ASF, "wmv"},   {EXT_BMP, "bmp"}, {EXT_JPG, "jpg"},
        {EXT_TIF, "tif"},     {EXT_GZIP, "gz"},   {EXT_DOC, "doc"},   {EXT_XLS, "xls"}, {EXT_PPT, "ppt"},
        {EXT_DOCX, "docx"},   {EXT_XLSX, "xlsx"}, {EXT_PPTX, "pptx"}, {EXT_FLA, "fla"}, {EXT_ICO, "ico"},
        {EXT_MSO07, "mso07"}, {EXT_TS, "ts"},     {EXT_MTS, "mts"},   {EXT_OLE, "ole"}, {EXT_DB, "db"},
    };
    for (const auto& n : names)
        EXPECT_STREQ(GetExtendNameOfType(n.first), n.second) << n.first;
    EXPECT_EQ(GetExtendNameOfType(EXT_UNKNOWN), nullptr);
}

struct ExtCase
{
    const char* szExt;
    EXTEND_NAME_TYPE expected;
};

TEST(ExtendNameTable, LookupByExtensionIgnoresCaseAndWantsTheWholeName)
{
    const ExtCase cases[] = {
        {"jpg", EXT_JPG},       {"JPG", EXT_JPG},
        {"JpEg", EXT_JPG},      {"jfif", EXT_JPG},
        {"Mso07", EXT_MSO07},   {"xlsx", EXT_XLSX},
        {"XLSB", EXT_XLSX},     {"FLA", EXT_FLA},
        {"ico", EXT_ICO},       {"ts", EXT_TS},
        {"mts", EXT_MTS},       {"et", EXT_XLS},
        {"dps", EXT_PPT},       {"wma", EXT_ASF},
        {"vob", EXT_MPG},       {"gzip", EXT_GZIP},
        {"txt", EXT_UNKNOWN},   {"", EXT_UNKNOWN},
        {"jp", EXT_UNKNOWN},    {"jpgx", EXT_UNKNOWN},
        {".jpg", EXT_UNKNOWN},  {"\xCE\xC4\xB5\xB5", EXT_UNKNOWN},
        {"DOCX ", EXT_UNKNOWN},
    };
    for (const ExtCase& c : cases)
        EXPECT_EQ(CFileTypeJudge::GetExtendNameType(c.szExt), c.expected) << '"' << c.szExt << '"';
    EXPECT_EQ(CFileTypeJudge::GetExtendNameType(nullptr), EXT_UNKNOWN);
}

struct PartNameCase
{
    const char* szName;
    unsigned nLen;
    EXTEND_NAME_TYPE expected;
};

TEST(ExtendNameTable, OfficePartNames)
{
    const PartNameCase cases[] = {
        {"word/document.xml", 17, EXT_DOCX},
        {"WORD/", 5, EXT_DOCX},
        {"word", 4, EXT_UNKNOWN},
        {"wordy", 5, EXT_DOCX},
        {"ppt/slides/slide1.xml", 21, EXT_PPTX},
        {"PPT/", 4, EXT_PPTX},
        {"ppt", 3, EXT_UNKNOWN},
        {"xl/workbook.xml", 15, EXT_XLSX},
        {"Xl/", 3, EXT_XLSX},
        {"xl", 2, EXT_UNKNOWN},
        {"docProps/app.xml", 16, EXT_UNKNOWN},
        {"[Content_Types].xml", 19, EXT_UNKNOWN},
        {"_rels/.rels", 11, EXT_UNKNOWN},
        {"", 0, EXT_UNKNOWN},
    };
    for (const PartNameCase& c : cases)
        EXPECT_EQ(CFileTypeJudge::ReturnFileType(c.szName, c.nLen), c.expected) << c.szName << " " << c.nLen;
    EXPECT_EQ(CFileTypeJudge::ReturnFileType(nullptr, 10), EXT_UNKNOWN);
}

TEST(ExtendNameTable, ZeroBuffers)
{
    Bytes zero(4096, 0);
    EXPECT_EQ(CFileTypeJudge::IsZeroBuffer(zero.data(), 4096), 1);
    EXPECT_EQ(CFileTypeJudge::IsZeroBuffer(zero.data(), 0), 1);
    EXPECT_EQ(CFileTypeJudge::IsZeroBuffer(nullptr, 0), 1);
    EXPECT_EQ(CFileTypeJudge::IsZeroBuffer(nullptr, 4), 0);
    EXPECT_EQ(CFileTypeJudge::IsZeroBuffer(zero.data(), -1), 0);
    // A single set byte anywhere, in the word-wise part and in the tail.
    for (size_t at : {size_t(0), size_t(7), size_t(8), size_t(4088), size_t(4095)})
    {
        Bytes b = zero;
        b[at] = 0x01;
        EXPECT_EQ(CFileTypeJudge::IsZeroBuffer(b.data(), 4096), 0) << at;
        EXPECT_EQ(CFileTypeJudge::IsSectorTailIsZeroBuffetr(b.data(), 4096), 0) << at;
        EXPECT_EQ(CFileTypeJudge::IsZeroBuffer(b.data(), int(at)), 1) << at;
    }
    // Odd lengths cover the byte-wise tail.
    Bytes odd(13, 0);
    odd[12] = 0x80;
    EXPECT_EQ(CFileTypeJudge::IsSectorTailIsZeroBuffetr(odd.data(), 13), 0);
    EXPECT_EQ(CFileTypeJudge::IsSectorTailIsZeroBuffetr(odd.data(), 12), 1);
}
} // namespace

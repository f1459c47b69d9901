#include "engines/signature/ExtendNameTable.h"

using namespace tessaroo;

// The rows, in their order. Length estimators are filled in where the
// format's length is known; exe, dll, sys and gho never get one. Declared
// extern in the header, so this constexpr definition is the one table.
constexpr EXTEND_NAME_AND_TYPE szExtendNameAndType[EXTEND_NAME_ROW_COUNT + 1] = {
    {"mpeg", EXT_MPG, &RECOGNISE_MPG, nullptr}, // 0
    {"mpg", EXT_MPG, &RECOGNISE_MPG, nullptr},
    {"vob", EXT_MPG, &RECOGNISE_MPG, nullptr},
    {"mp4", EXT_MP4, &RECOGNISE_MP4, nullptr},
    {"rmvb", EXT_RMVB, &RECOGNISE_RMVB, nullptr},
    {"rm", EXT_RMVB, &RECOGNISE_RMVB, nullptr}, // 5
    {"wmv", EXT_ASF, &RECOGNISE_ASF, nullptr},
    {"asf", EXT_ASF, &RECOGNISE_ASF, nullptr},
    {"wma", EXT_ASF, &RECOGNISE_ASF, nullptr},
    {"swf", EXT_SWF, &RECOGNISE_SWF, nullptr},
    {"avi", EXT_AVI, &RECOGNISE_AVI, nullptr}, // 10
    {"flv", EXT_FLV, &RECOGNISE_FLV, nullptr},
    {"3gp", EXT_3GP, &RECOGNISE_3GP, nullptr},
    {"mkv", EXT_MKV, &RECOGNISE_MKV, nullptr},
    {"ts", EXT_TS, &RECOGNISE_TS, nullptr},
    {"mts", EXT_MTS, &RECOGNISE_MTS, nullptr}, // 15
    {"mxf", EXT_MXF, &RECOGNISE_MXF, nullptr},
    {"mp3", EXT_MP3, &RECOGNISE_MP3, nullptr},
    {"mid", EXT_MID, &RECOGNISE_MID, nullptr},
    {"ape", EXT_APE, &RECOGNISE_APE, nullptr},
    {"wav", EXT_WAV, &RECOGNISE_WAV, nullptr}, // 20
    {"mov", EXT_MOV, &RECOGNISE_MOV, nullptr},
    {"mp2", EXT_MP2, &RECOGNISE_MP2, nullptr},
    {"mmf", EXT_MMF, &RECOGNISE_MMF, nullptr},
    // Before the office rows: a compound file is typed fla by content; the
    // office rows answer only when matching by extension.
    {"fla", EXT_FLA, &RECOGNISE_FLA, nullptr},
    {"gif", EXT_GIF, &RECOGNISE_GIF, nullptr}, // 25
    {"bmp", EXT_BMP, &RECOGNISE_BMP, nullptr},
    {"dib", EXT_BMP, &RECOGNISE_BMP, nullptr},
    {"jpg", EXT_JPG, &RECOGNISE_JPG, nullptr},
    {"jpeg", EXT_JPG, &RECOGNISE_JPG, nullptr},
    {"jpe", EXT_JPG, &RECOGNISE_JPG, nullptr}, // 30
    {"jfif", EXT_JPG, &RECOGNISE_JPG, nullptr},
    {"png", EXT_PNG, &RECOGNISE_PNG, nullptr},
    {"psd", EXT_PSD, &RECOGNISE_PSD, nullptr},
    {"tif", EXT_TIF, &RECOGNISE_TIF, nullptr},
    {"tiff", EXT_TIF, &RECOGNISE_TIF, nullptr}, // 35
    {"ico", EXT_ICO, &RECOGNISE_ICO, nullptr},
    {"doc", EXT_DOC, &RECOGNISE_OFFICE2003, nullptr},
    {"dot", EXT_DOC, &RECOGNISE_OFFICE2003, nullptr},
    {"wps", EXT_DOC, &RECOGNISE_OFFICE2003, nullptr},
    {"wpt", EXT_DOC, &RECOGNISE_OFFICE2003, nullptr}, // 40
    {"xls", EXT_XLS, &RECOGNISE_OFFICE2003, nullptr},
    {"xlt", EXT_XLS, &RECOGNISE_OFFICE2003, nullptr},
    {"xla", EXT_XLS, &RECOGNISE_OFFICE2003, nullptr},
    {"et", EXT_XLS, &RECOGNISE_OFFICE2003, nullptr},
    {"ett", EXT_XLS, &RECOGNISE_OFFICE2003, nullptr}, // 45
    {"ppt", EXT_PPT, &RECOGNISE_OFFICE2003, nullptr},
    {"pot", EXT_PPT, &RECOGNISE_OFFICE2003, nullptr},
    {"pps", EXT_PPT, &RECOGNISE_OFFICE2003, nullptr},
    {"dps", EXT_PPT, &RECOGNISE_OFFICE2003, nullptr},
    {"dpt", EXT_PPT, &RECOGNISE_OFFICE2003, nullptr}, // 50
    {"ole", EXT_OLE, &RECOGNISE_OFFICE2003, nullptr},
    // Before the zip row: a zip naming Word, Excel or PowerPoint parts is
    // typed as that document, any other zip as zip.
    {"docx", EXT_DOCX, &RECOGNISE_OFFICE2007, nullptr},
    {"docm", EXT_DOCX, &RECOGNISE_OFFICE2007, nullptr},
    {"dotm", EXT_DOCX, &RECOGNISE_OFFICE2007, nullptr},
    {"dotx", EXT_DOCX, &RECOGNISE_OFFICE2007, nullptr}, // 55
    {"xlsx", EXT_XLSX, &RECOGNISE_OFFICE2007, nullptr},
    {"xlsb", EXT_XLSX, &RECOGNISE_OFFICE2007, nullptr},
    {"xlsm", EXT_XLSX, &RECOGNISE_OFFICE2007, nullptr},
    {"xlsx", EXT_XLSX, &RECOGNISE_OFFICE2007, nullptr},
    {"xlam", EXT_XLSX, &RECOGNISE_OFFICE2007, nullptr}, // 60
    {"xltx", EXT_XLSX, &RECOGNISE_OFFICE2007, nullptr},
    {"xltm", EXT_XLSX, &RECOGNISE_OFFICE2007, nullptr},
    {"pptx", EXT_PPTX, &RECOGNISE_OFFICE2007, nullptr},
    {"pptm", EXT_PPTX, &RECOGNISE_OFFICE2007, nullptr},
    {"potx", EXT_PPTX, &RECOGNISE_OFFICE2007, nullptr}, // 65
    {"potm", EXT_PPTX, &RECOGNISE_OFFICE2007, nullptr},
    {"ppsx", EXT_PPTX, &RECOGNISE_OFFICE2007, nullptr},
    {"ppsm", EXT_PPTX, &RECOGNISE_OFFICE2007, nullptr},
    {"mso07", EXT_MSO07, &RECOGNISE_OFFICE2007, nullptr},
    {"pdf", EXT_PDF, &RECOGNISE_PDF, nullptr}, // 70
    {"gz", EXT_GZIP, &RECOGNISE_GZIP, nullptr},
    {"gzip", EXT_GZIP, &RECOGNISE_GZIP, nullptr},
    {"7z", EXT_7Z, &RECOGNISE_7Z, nullptr},
    {"zip", EXT_ZIP, &RECOGNISE_ZIP, nullptr},
    {"rar", EXT_RAR, &RECOGNISE_RAR, nullptr}, // 75
    {"cab", EXT_CAB, &RECOGNISE_CAB, nullptr},
    {"exe", EXT_EXE, &RECOGNISE_PE, nullptr},
    {"dll", EXT_DLL, &RECOGNISE_PE, nullptr},
    {"sys", EXT_SYS, &RECOGNISE_PE, nullptr},
    {"gho", EXT_GHO, &RECOGNISE_GHO, nullptr}, // 80
    {"db", EXT_DB, &RECOGNISE_SQL, nullptr},
    {"dbx", EXT_DBX, &RECOGNISE_DBX, nullptr},
    {"pst", EXT_PST, &RECOGNISE_PST, nullptr},
    {"fla", EXT_FLA, &RECOGNISE_FLA, nullptr},
    {"ttf", EXT_TTF, &RECOGNISE_TTF, nullptr}, // 85
    {"ico", EXT_ICO, &RECOGNISE_ICO, nullptr},
    {nullptr, EXT_UNKNOWN, nullptr, nullptr}, // end row
};

namespace
{
constexpr const EXTEND_NAME_AND_TYPE* ROWS = szExtendNameAndType;

// Recognisers are told apart by name: the compiler does not compare the
// addresses of inline variables in constant expressions.
constexpr bool SameText(const char* a, const char* b)
{
    size_t i = 0;
    for (; a[i] && a[i] == b[i]; ++i)
    {
    }
    return a[i] == b[i];
}

constexpr bool SameRecogniser(const FILE_RECOGNISER* a, const FILE_RECOGNISER* b)
{
    return SameText(a->szName, b->szName);
}

constexpr LEAD_BYTE_ROWS BuildLeadByteRows()
{
    LEAD_BYTE_ROWS t{};
    for (unsigned b = 0; b < 256; ++b)
    {
        size_t n = 0;
        for (size_t i = 0; i < EXTEND_NAME_ROW_COUNT; ++i)
        {
            const FILE_RECOGNISER* r = ROWS[i].pRecogniser;
            if (!r->leadBytes.Has(uint8_t(b)))
                continue;
            bool seen = false;
            for (size_t k = 0; k < n; ++k)
                if (SameRecogniser(ROWS[t.nRow[b][k]].pRecogniser, r))
                    seen = true;
            if (seen)
                continue;
            if (n == MAX_ROWS_PER_LEAD_BYTE)
                throw "more recognisers share a first byte than MAX_ROWS_PER_LEAD_BYTE";
            t.nRow[b][n++] = uint8_t(i);
        }
        t.nCount[b] = uint8_t(n);
    }
    return t;
}

constexpr bool TableIsWellFormed()
{
    for (size_t i = 0; i < EXTEND_NAME_ROW_COUNT; ++i)
    {
        // A row without a recogniser fails to compile here.
        if (!ROWS[i].szExtendName || !ROWS[i].pRecogniser->szName || ROWS[i].type == EXT_UNKNOWN)
            return false;
        // Two descriptors with one name would be taken for one recogniser.
        for (size_t k = 0; k < i; ++k)
            if (SameRecogniser(ROWS[k].pRecogniser, ROWS[i].pRecogniser) &&
                ROWS[k].pRecogniser->pfnRecognise != ROWS[i].pRecogniser->pfnRecognise)
                return false;
    }
    return !ROWS[EXTEND_NAME_ROW_COUNT].szExtendName && ROWS[EXTEND_NAME_ROW_COUNT].type == EXT_UNKNOWN;
}
static_assert(TableIsWellFormed(), "87 format rows, then the end row");
static_assert(EXTEND_NAME_ROW_COUNT < 256, "row numbers of the lead-byte lists are bytes");

constexpr LEAD_BYTE_ROWS LEAD_ROWS = BuildLeadByteRows();
} // namespace

const LEAD_BYTE_ROWS tessaroo::g_leadByteRows = LEAD_ROWS;

const char* tessaroo::GetExtendNameOfType(EXTEND_NAME_TYPE type)
{
    for (size_t i = 0; i < EXTEND_NAME_ROW_COUNT; ++i)
        if (szExtendNameAndType[i].type == type)
            return szExtendNameAndType[i].szExtendName;
    return nullptr;
}

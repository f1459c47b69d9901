#include "engines/signature/ExtendNameTable.h"

using namespace tessaroo;

// The rows, in their order. exe, dll, sys and gho have no length estimator:
// their starts are recognised, never carved. Declared
// extern in the header, so this constexpr definition is the one table.
constexpr EXTEND_NAME_AND_TYPE szExtendNameAndType[EXTEND_NAME_ROW_COUNT + 1] = {
    {"mpeg", EXT_MPG, &RECOGNISE_MPG, &CFileTypeJudge::GetMPGFileBytesSize}, // 0
    {"mpg", EXT_MPG, &RECOGNISE_MPG, &CFileTypeJudge::GetMPGFileBytesSize},
    {"vob", EXT_MPG, &RECOGNISE_MPG, &CFileTypeJudge::GetMPGFileBytesSize},
    {"mp4", EXT_MP4, &RECOGNISE_MP4, &CFileTypeJudge::GetMP4FileBytesSize},
    {"rmvb", EXT_RMVB, &RECOGNISE_RMVB, &CFileTypeJudge::GetRMVBFileBytesSize},
    {"rm", EXT_RMVB, &RECOGNISE_RMVB, &CFileTypeJudge::GetRMVBFileBytesSize}, // 5
    {"wmv", EXT_ASF, &RECOGNISE_ASF, &CFileTypeJudge::GetASFFileBytesSize},
    {"asf", EXT_ASF, &RECOGNISE_ASF, &CFileTypeJudge::GetASFFileBytesSize},
    {"wma", EXT_ASF, &RECOGNISE_ASF, &CFileTypeJudge::GetASFFileBytesSize},
    {"swf", EXT_SWF, &RECOGNISE_SWF, &CFileTypeJudge::GetSWFFileBytesSize},
    {"avi", EXT_AVI, &RECOGNISE_AVI, &CFileTypeJudge::GetAVIFileBytesSize}, // 10
    {"flv", EXT_FLV, &RECOGNISE_FLV, &CFileTypeJudge::GetDefaultVedioFileBytesSize},
    {"3gp", EXT_3GP, &RECOGNISE_3GP, &CFileTypeJudge::GetDefaultVedioFileBytesSize},
    {"mkv", EXT_MKV, &RECOGNISE_MKV, &CFileTypeJudge::GetMKVFileBytes},
    {"ts", EXT_TS, &RECOGNISE_TS, &CFileTypeJudge::GetTSFileBytesSize},
    {"mts", EXT_MTS, &RECOGNISE_MTS, &CFileTypeJudge::GetDefaultVedioFileBytesSize}, // 15
    {"mxf", EXT_MXF, &RECOGNISE_MXF, &CFileTypeJudge::GetDefaultVedioFileBytesSize},
    {"mp3", EXT_MP3, &RECOGNISE_MP3, &CFileTypeJudge::GetMP3FileBytesSize},
    {"mid", EXT_MID, &RECOGNISE_MID, &CFileTypeJudge::GetMIDFileBytesSize},
    {"ape", EXT_APE, &RECOGNISE_APE, &CFileTypeJudge::GetAPEFileBytesSize},
    {"wav", EXT_WAV, &RECOGNISE_WAV, &CFileTypeJudge::GetWAVFileBytesSize}, // 20
    {"mov", EXT_MOV, &RECOGNISE_MOV, &CFileTypeJudge::GetDefaultVedioFileBytesSize},
    {"mp2", EXT_MP2, &RECOGNISE_MP2, &CFileTypeJudge::GetDefaultAudioFileBytesSize},
    {"mmf", EXT_MMF, &RECOGNISE_MMF, &CFileTypeJudge::GetDefaultAudioFileBytesSize},
    // Before the office rows: a compound file is typed fla by content; the
    // office rows answer only when matching by extension.
    {"fla", EXT_FLA, &RECOGNISE_FLA, &CFileTypeJudge::GetFLAFileBytesSize},
    {"gif", EXT_GIF, &RECOGNISE_GIF, &CFileTypeJudge::GetGIFFileBytesSize}, // 25
    {"bmp", EXT_BMP, &RECOGNISE_BMP, &CFileTypeJudge::GetBMPFileBytesSize},
    {"dib", EXT_BMP, &RECOGNISE_BMP, &CFileTypeJudge::GetBMPFileBytesSize},
    {"jpg", EXT_JPG, &RECOGNISE_JPG, &CFileTypeJudge::GetJPGFileBytesSize},
    {"jpeg", EXT_JPG, &RECOGNISE_JPG, &CFileTypeJudge::GetJPGFileBytesSize},
    {"jpe", EXT_JPG, &RECOGNISE_JPG, &CFileTypeJudge::GetJPGFileBytesSize}, // 30
    {"jfif", EXT_JPG, &RECOGNISE_JPG, &CFileTypeJudge::GetJPGFileBytesSize},
    {"png", EXT_PNG, &RECOGNISE_PNG, &CFileTypeJudge::GetPNGFileBytesSize},
    {"psd", EXT_PSD, &RECOGNISE_PSD, &CFileTypeJudge::GetDefaultPictureFileBytesSize},
    {"tif", EXT_TIF, &RECOGNISE_TIF, &CFileTypeJudge::GetDefaultPictureFileBytesSize},
    {"tiff", EXT_TIF, &RECOGNISE_TIF, &CFileTypeJudge::GetDefaultPictureFileBytesSize}, // 35
    {"ico", EXT_ICO, &RECOGNISE_ICO, &CFileTypeJudge::GetICOFileBytesSize},
    {"doc", EXT_DOC, &RECOGNISE_OFFICE2003, &CFileTypeJudge::GetOFFICE2003FileBytesSize},
    {"dot", EXT_DOC, &RECOGNISE_OFFICE2003, &CFileTypeJudge::GetOFFICE2003FileBytesSize},
    {"wps", EXT_DOC, &RECOGNISE_OFFICE2003, &CFileTypeJudge::GetOFFICE2003FileBytesSize},
    {"wpt", EXT_DOC, &RECOGNISE_OFFICE2003, &CFileTypeJudge::GetOFFICE2003FileBytesSize}, // 40
    {"xls", EXT_XLS, &RECOGNISE_OFFICE2003, &CFileTypeJudge::GetOFFICE2003FileBytesSize},
    {"xlt", EXT_XLS, &RECOGNISE_OFFICE2003, &CFileTypeJudge::GetOFFICE2003FileBytesSize},
    {"xla", EXT_XLS, &RECOGNISE_OFFICE2003, &CFileTypeJudge::GetOFFICE2003FileBytesSize},
    {"et", EXT_XLS, &RECOGNISE_OFFICE2003, &CFileTypeJudge::GetOFFICE2003FileBytesSize},
    {"ett", EXT_XLS, &RECOGNISE_OFFICE2003, &CFileTypeJudge::GetOFFICE2003FileBytesSize}, // 45
    {"ppt", EXT_PPT, &RECOGNISE_OFFICE2003, &CFileTypeJudge::GetOFFICE2003FileBytesSize},
    {"pot", EXT_PPT, &RECOGNISE_OFFICE2003, &CFileTypeJudge::GetOFFICE2003FileBytesSize},
    {"pps", EXT_PPT, &RECOGNISE_OFFICE2003, &CFileTypeJudge::GetOFFICE2003FileBytesSize},
    {"dps", EXT_PPT, &RECOGNISE_OFFICE2003, &CFileTypeJudge::GetOFFICE2003FileBytesSize},
    {"dpt", EXT_PPT, &RECOGNISE_OFFICE2003, &CFileTypeJudge::GetOFFICE2003FileBytesSize}, // 50
    {"ole", EXT_OLE, &RECOGNISE_OFFICE2003, &CFileTypeJudge::GetOFFICE2003FileBytesSize},
    // Before the zip row: a zip naming Word, Excel or PowerPoint parts is
    // typed as that document, any other zip as zip.
    {"docx", EXT_DOCX, &RECOGNISE_OFFICE2007, &CFileTypeJudge::GetOFFICE2007FileBytesSize},
    {"docm", EXT_DOCX, &RECOGNISE_OFFICE2007, &CFileTypeJudge::GetOFFICE2007FileBytesSize},
    {"dotm", EXT_DOCX, &RECOGNISE_OFFICE2007, &CFileTypeJudge::GetOFFICE2007FileBytesSize},
    {"dotx", EXT_DOCX, &RECOGNISE_OFFICE2007, &CFileTypeJudge::GetOFFICE2007FileBytesSize}, // 55
    {"xlsx", EXT_XLSX, &RECOGNISE_OFFICE2007, &CFileTypeJudge::GetOFFICE2007FileBytesSize},
    {"xlsb", EXT_XLSX, &RECOGNISE_OFFICE2007, &CFileTypeJudge::GetOFFICE2007FileBytesSize},
    {"xlsm", EXT_XLSX, &RECOGNISE_OFFICE2007, &CFileTypeJudge::GetOFFICE2007FileBytesSize},
    {"xlsx", EXT_XLSX, &RECOGNISE_OFFICE2007, &CFileTypeJudge::GetOFFICE2007FileBytesSize},
    {"xlam", EXT_XLSX, &RECOGNISE_OFFICE2007, &CFileTypeJudge::GetOFFICE2007FileBytesSize}, // 60
    {"xltx", EXT_XLSX, &RECOGNISE_OFFICE2007, &CFileTypeJudge::GetOFFICE2007FileBytesSize},
    {"xltm", EXT_XLSX, &RECOGNISE_OFFICE2007, &CFileTypeJudge::GetOFFICE2007FileBytesSize},
    {"pptx", EXT_PPTX, &RECOGNISE_OFFICE2007, &CFileTypeJudge::GetOFFICE2007FileBytesSize},
    {"pptm", EXT_PPTX, &RECOGNISE_OFFICE2007, &CFileTypeJudge::GetOFFICE2007FileBytesSize},
    {"potx", EXT_PPTX, &RECOGNISE_OFFICE2007, &CFileTypeJudge::GetOFFICE2007FileBytesSize}, // 65
    {"potm", EXT_PPTX, &RECOGNISE_OFFICE2007, &CFileTypeJudge::GetOFFICE2007FileBytesSize},
    {"ppsx", EXT_PPTX, &RECOGNISE_OFFICE2007, &CFileTypeJudge::GetOFFICE2007FileBytesSize},
    {"ppsm", EXT_PPTX, &RECOGNISE_OFFICE2007, &CFileTypeJudge::GetOFFICE2007FileBytesSize},
    {"mso07", EXT_MSO07, &RECOGNISE_OFFICE2007, &CFileTypeJudge::GetOFFICE2007FileBytesSize},
    {"pdf", EXT_PDF, &RECOGNISE_PDF, &CFileTypeJudge::GetPDFFileBytesSize}, // 70
    {"gz", EXT_GZIP, &RECOGNISE_GZIP, &CFileTypeJudge::GetDefaultVedioFileBytesSize},
    {"gzip", EXT_GZIP, &RECOGNISE_GZIP, &CFileTypeJudge::GetDefaultVedioFileBytesSize},
    {"7z", EXT_7Z, &RECOGNISE_7Z, &CFileTypeJudge::Get7ZFileBytesSize},
    {"zip", EXT_ZIP, &RECOGNISE_ZIP, &CFileTypeJudge::GetZIPFileBytesSize},
    {"rar", EXT_RAR, &RECOGNISE_RAR, &CFileTypeJudge::GetRARFileBytesSize}, // 75
    {"cab", EXT_CAB, &RECOGNISE_CAB, &CFileTypeJudge::GetCABFileBytesSize},
    {"exe", EXT_EXE, &RECOGNISE_PE, nullptr},
    {"dll", EXT_DLL, &RECOGNISE_PE, nullptr},
    {"sys", EXT_SYS, &RECOGNISE_PE, nullptr},
    {"gho", EXT_GHO, &RECOGNISE_GHO, nullptr}, // 80
    {"db", EXT_DB, &RECOGNISE_SQL, &CFileTypeJudge::GetDBFileBytesSize},
    {"dbx", EXT_DBX, &RECOGNISE_DBX, &CFileTypeJudge::GetMailFileBytesSize},
    {"pst", EXT_PST, &RECOGNISE_PST, &CFileTypeJudge::GetMailFileBytesSize},
    {"fla", EXT_FLA, &RECOGNISE_FLA, &CFileTypeJudge::GetFLAFileBytesSize},
    {"ttf", EXT_TTF, &RECOGNISE_TTF, &CFileTypeJudge::GetTTFFileBytesSize}, // 85
    {"ico", EXT_ICO, &RECOGNISE_ICO, &CFileTypeJudge::GetICOFileBytesSize},
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

// Real files made by tools/make_format_samples.sh: the first sector of each
// is typed by content with the right code, and matches its own extension.
#include "tests/signature/SignatureTestEnv.h"

#include "engines/signature/ExtendNameTable.h"

using namespace sigtest;

namespace
{
struct SampleCase
{
    const char* szFile;
    EXTEND_NAME_TYPE contentType; // GetDataBufType of the first sector
    const char* szExt;            // an extension it must match
};

// Every compound file is typed fla by content (that row comes first); the
// office extensions still match through their own rows.
const SampleCase SAMPLES[] = {
    {"mpeg1_program.mpg", EXT_MPG, "mpg"},
    {"mpeg2_program.vob", EXT_MPG, "vob"},
    {"mpeg1_elementary.mpeg", EXT_MPG, "mpeg"},
    {"isom.mp4", EXT_MP4, "mp4"},
    {"mp42.mp4", EXT_MP4, "mp4"},
    {"realmedia.rm", EXT_RMVB, "rm"},
    {"windows_media.wmv", EXT_ASF, "wmv"},
    {"windows_media_audio.wma", EXT_ASF, "wma"},
    {"mjpeg_uncompressed.swf", EXT_SWF, "swf"},
    {"compressed.swf", EXT_SWF, "swf"},
    {"mpeg4.avi", EXT_AVI, "avi"},
    {"sorenson.flv", EXT_FLV, "flv"},
    {"h263.3gp", EXT_3GP, "3gp"},
    {"mpeg4.mkv", EXT_MKV, "mkv"},
    {"mpeg2.ts", EXT_TS, "ts"},
    {"avchd.mts", EXT_MTS, "mts"},
    {"mpeg2.mxf", EXT_MXF, "mxf"},
    {"quicktime.mov", EXT_MOV, "mov"},
    {"id3v2.mp3", EXT_MP3, "mp3"},
    {"track.mid", EXT_MID, "mid"},
    {"monkey.ape", EXT_APE, "ape"},
    {"pcm.wav", EXT_WAV, "wav"},
    {"layer2.mp2", EXT_MP2, "mp2"},
    {"yamaha.mmf", EXT_MMF, "mmf"},
    {"gif89a.gif", EXT_GIF, "gif"},
    {"gif87a.gif", EXT_GIF, "gif"},
    {"bitmap.bmp", EXT_BMP, "bmp"},
    {"bitmap.dib", EXT_BMP, "dib"},
    {"jfif.jpg", EXT_JPG, "jpg"},
    {"exif.jpg", EXT_JPG, "jpeg"},
    {"picture.png", EXT_PNG, "png"},
    {"picture.psd", EXT_PSD, "psd"},
    {"intel.tif", EXT_TIF, "tif"},
    {"motorola.tif", EXT_TIF, "tiff"},
    {"icon.ico", EXT_ICO, "ico"},
    {"word.doc", EXT_FLA, "doc"},
    {"excel.xls", EXT_FLA, "xls"},
    {"slides.ppt", EXT_FLA, "ppt"},
    {"plain.ole", EXT_FLA, "ole"},
    {"flash.fla", EXT_FLA, "fla"},
    {"by_name.doc", EXT_FLA, "doc"},
    {"by_name.xls", EXT_FLA, "xls"},
    {"by_name.ppt", EXT_FLA, "ppt"},
    {"word.docx", EXT_DOCX, "docx"},
    {"book.xlsx", EXT_XLSX, "xlsx"},
    {"slides.pptx", EXT_PPTX, "pptx"},
    {"document.pdf", EXT_PDF, "pdf"},
    {"default.gz", EXT_GZIP, "gz"},
    {"best.gz", EXT_GZIP, "gz"},
    {"fast.gz", EXT_GZIP, "gzip"},
    {"python.gz", EXT_GZIP, "gz"},
    {"empty.7z", EXT_7Z, "7z"},
    {"photos.zip", EXT_ZIP, "zip"},
    {"text.zip", EXT_ZIP, "zip"},
    {"archive.rar", EXT_RAR, "rar"},
    {"cabinet.cab", EXT_CAB, "cab"},
    {"backup.gho", EXT_GHO, "gho"},
    {"program.exe", EXT_EXE, "exe"},
    {"library.dll", EXT_DLL, "dll"},
    {"driver.sys", EXT_SYS, "sys"},
    {"sqlite.db", EXT_DB, "db"},
    {"mail.dbx", EXT_DBX, "dbx"},
    {"mail.pst", EXT_PST, "pst"},
    {"font.ttf", EXT_TTF, "ttf"},
};

void PrintTo(const SampleCase& c, std::ostream* os)
{
    *os << c.szFile;
}

// The sample at sector 1 of a device, after a zero sector (so a transport
// stream does not continue from before it) and before 64 free sectors (so
// the zip and compound-file reads find the sectors they look at).
constexpr unsigned long long SAMPLE_SECTOR = 1;
Bytes SampleImage(const Bytes& file)
{
    return Layout(1 + (file.size() + 511) / 512 + 64, {{SAMPLE_SECTOR, file}});
}

class SampleRecognition : public JudgeTest, public ::testing::WithParamInterface<SampleCase>
{
};

TEST_P(SampleRecognition, FirstSectorIsTypedAndMatchesItsExtension)
{
    const SampleCase& c = GetParam();
    const Bytes file = Sample(c.szFile);
    ASSERT_FALSE(file.empty());
    ImageDevice dev(SampleImage(file));
    ASSERT_TRUE(dev.Ok());
    const Bytes sector = Slice(file, 0, 512);

    CFileTypeJudge judge(&dev.Reader());
    judge.BeginLookup(512, SAMPLE_SECTOR);
    EXPECT_EQ(CFileTypeJudge::GetDataBufType(sector.data(), int(sector.size())), c.contentType);
    EXPECT_EQ(judge.IsFileTypeMatching(sector.data(), int(sector.size()), c.szExt, 512, SAMPLE_SECTOR), 1);
    // The spec-form call with the reader passed explicitly answers the same.
    CFileTypeJudge other;
    EXPECT_EQ(other.IsFileTypeMatching(sector.data(), int(sector.size()), c.szExt, &dev.Reader(), 512,
                                       SAMPLE_SECTOR),
              1);
}

std::string SampleName(const ::testing::TestParamInfo<SampleCase>& info)
{
    std::string n = info.param.szFile;
    for (char& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return n;
}

INSTANTIATE_TEST_SUITE_P(RealFiles, SampleRecognition, ::testing::ValuesIn(SAMPLES), SampleName);

// A file under another format's extension is flagged as not matching; an
// extension no row knows always matches.
struct MismatchCase
{
    const char* szFile;
    const char* szExt;
    int nExpected;
};

const MismatchCase MISMATCHES[] = {
    {"picture.png", "jpg", 0}, {"jfif.jpg", "png", 0},  {"word.docx", "xlsx", 0},
    {"photos.zip", "docx", 0}, {"book.xlsx", "zip", 1}, {"word.doc", "xls", 0},
    {"excel.xls", "doc", 0},   {"plain.ole", "doc", 0}, {"library.dll", "exe", 0},
    {"program.exe", "sys", 0}, {"mpeg2.ts", "mts", 0},  {"avchd.mts", "ts", 0},
    {"pcm.wav", "avi", 0},     {"mpeg4.avi", "wav", 0}, {"picture.png", "txt", 1},
    {"picture.png", "PNG", 1}, {"word.doc", "fla", 1},  {"quicktime.mov", "mp4", 0},
    {"isom.mp4", "mov", 0},    {"h263.3gp", "mp4", 0},  {"word.docx", "mso07", 0},
};

void PrintTo(const MismatchCase& c, std::ostream* os)
{
    *os << c.szFile << " as ." << c.szExt;
}

class ExtensionMismatch : public JudgeTest, public ::testing::WithParamInterface<MismatchCase>
{
};

TEST_P(ExtensionMismatch, MatchesOnlyItsOwnFormat)
{
    const MismatchCase& c = GetParam();
    const Bytes file = Sample(c.szFile);
    ASSERT_FALSE(file.empty());
    ImageDevice dev(SampleImage(file));
    const Bytes sector = Slice(file, 0, 512);
    CFileTypeJudge judge(&dev.Reader());
    EXPECT_EQ(judge.IsFileTypeMatching(sector.data(), 512, c.szExt, 512, SAMPLE_SECTOR), c.nExpected)
        << c.szFile << " as ." << c.szExt;
}

INSTANTIATE_TEST_SUITE_P(RealFiles, ExtensionMismatch, ::testing::ValuesIn(MISMATCHES));

// Every recogniser of the table accepts at least one real sample, and only
// buffers that start with one of the first bytes its descriptor declares:
// the content lookup relies on that to skip recognisers.
TEST_F(JudgeTest, EveryRecogniserAcceptsARealSampleAndOnlyItsDeclaredFirstBytes)
{
    std::vector<const tessaroo::FILE_RECOGNISER*> recognisers;
    for (size_t i = 0; i < EXTEND_NAME_ROW_COUNT; ++i)
        if (std::find(recognisers.begin(), recognisers.end(), szExtendNameAndType[i].pRecogniser) ==
            recognisers.end())
            recognisers.push_back(szExtendNameAndType[i].pRecogniser);
    ASSERT_EQ(recognisers.size(), 41u);

    std::vector<int> accepted(recognisers.size(), 0);
    for (const SampleCase& c : SAMPLES)
    {
        const Bytes file = Sample(c.szFile);
        ImageDevice dev(SampleImage(file));
        CFileTypeJudge judge(&dev.Reader());
        judge.BeginLookup(512, SAMPLE_SECTOR);
        for (size_t k = 0; k < recognisers.size(); ++k)
        {
            const tessaroo::FILE_RECOGNISER* r = recognisers[k];
            Bytes sector = Slice(file, 0, 512);
            if (r->pfnRecognise(sector.data(), 512) == EXT_UNKNOWN)
                continue;
            ++accepted[k];
            EXPECT_TRUE(r->leadBytes.Has(sector[0])) << r->szName << " accepts " << c.szFile;
            for (unsigned b = 0; b < 256; ++b)
            {
                if (r->leadBytes.Has(uint8_t(b)))
                    continue;
                sector[0] = uint8_t(b);
                EXPECT_EQ(r->pfnRecognise(sector.data(), 512), EXT_UNKNOWN)
                    << r->szName << " accepts " << c.szFile << " with first byte " << b;
            }
        }
    }
    for (size_t k = 0; k < recognisers.size(); ++k)
        EXPECT_GT(accepted[k], 0) << recognisers[k]->szName << " recognises no sample";
}
} // namespace

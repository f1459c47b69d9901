// Real files made by tools/make_format_samples.sh: the first sector of each
// is typed by content with the right code and matches its own extension and
// no other format's; every recogniser accepts a real file, only with the
// first bytes it declares, and stays inside every length of a real head.
#include "tests/signature/SignatureTestEnv.h"

#include <random>
#include <sstream>

using namespace sigtest;

namespace
{
// The samples of each code: the first sector of each is typed with that
// code by content, and matches its own extension. Every compound file is
// typed fla by content (that row comes first); the office extensions still
// match through their own rows. A zip naming Word, Excel or PowerPoint parts
// is typed as that document (those rows come before the zip row).
const std::pair<EXTEND_NAME_TYPE, const char*> SAMPLES[] = {
    {EXT_MPG, "mpeg1_program.mpg mpeg2_program.vob mpeg1_elementary.mpeg"},
    {EXT_MP4, "isom.mp4 mp42.mp4"},
    {EXT_RMVB, "realmedia.rm"},
    {EXT_ASF, "windows_media.wmv windows_media_audio.wma"},
    {EXT_SWF, "mjpeg_uncompressed.swf compressed.swf"},
    {EXT_AVI, "mpeg4.avi"},
    {EXT_FLV, "sorenson.flv"},
    {EXT_3GP, "h263.3gp"},
    {EXT_MKV, "mpeg4.mkv"},
    {EXT_TS, "mpeg2.ts"},
    {EXT_MTS, "avchd.mts"},
    {EXT_MXF, "mpeg2.mxf"},
    {EXT_MOV, "quicktime.mov"},
    {EXT_MP3, "id3v2.mp3"},
    {EXT_MID, "track.mid"},
    {EXT_APE, "monkey.ape"},
    {EXT_WAV, "pcm.wav"},
    {EXT_MP2, "layer2.mp2"},
    {EXT_MMF, "yamaha.mmf"},
    {EXT_GIF, "gif89a.gif gif87a.gif"},
    {EXT_BMP, "bitmap.bmp bitmap.dib"},
    {EXT_JPG, "jfif.jpg exif.jpg"},
    {EXT_PNG, "picture.png"},
    {EXT_PSD, "picture.psd"},
    {EXT_TIF, "intel.tif motorola.tif"},
    {EXT_ICO, "icon.ico"},
    {EXT_FLA, "word.doc excel.xls slides.ppt plain.ole flash.fla by_name.doc by_name.xls by_name.ppt"},
    {EXT_DOCX, "word.docx"},
    {EXT_XLSX, "book.xlsx"},
    {EXT_PPTX, "slides.pptx"},
    {EXT_PDF, "document.pdf"},
    {EXT_GZIP, "default.gz best.gz fast.gz python.gz"},
    {EXT_7Z, "empty.7z"},
    {EXT_ZIP, "photos.zip text.zip"},
    {EXT_RAR, "archive.rar"},
    {EXT_CAB, "cabinet.cab"},
    {EXT_GHO, "backup.gho"},
    {EXT_EXE, "program.exe"},
    {EXT_DLL, "library.dll"},
    {EXT_SYS, "driver.sys"},
    {EXT_DB, "sqlite.db"},
    {EXT_DBX, "mail.dbx"},
    {EXT_PST, "mail.pst"},
    {EXT_TTF, "font.ttf"},
};

struct SampleFile
{
    std::string name, ext;
    EXTEND_NAME_TYPE type;
};

std::vector<SampleFile> SampleFiles()
{
    std::vector<SampleFile> files;
    for (const auto& group : SAMPLES)
    {
        std::istringstream names(group.second);
        std::string name;
        while (names >> name)
            files.push_back({name, name.substr(name.rfind('.') + 1), group.first});
    }
    return files;
}

// The sample at sector 1 of a device, after a zero sector (so a transport
// stream does not continue from before it) and before 64 free sectors (so
// the zip and compound-file reads find the sectors they look at).
struct SampleOnDevice
{
    explicit SampleOnDevice(const char* name)
        : file(Sample(name)), dev(Layout(1 + (file.size() + 511) / 512 + 64, {{1, file}})),
          judge(&dev.Reader())
    {
        judge.BeginLookup(512, 1);
    }
    Bytes file;
    ImageDevice dev;
    CFileTypeJudge judge;
};

TEST_F(JudgeTest, FirstSectorIsTypedAndMatchesItsExtension)
{
    const std::vector<SampleFile> files = SampleFiles();
    ASSERT_EQ(files.size(), 64u);
    for (const SampleFile& f : files)
    {
        SCOPED_TRACE(f.name);
        SampleOnDevice s(f.name.c_str());
        ASSERT_FALSE(s.file.empty());
        const Bytes sector = Slice(s.file, 0, 512);
        EXPECT_EQ(CFileTypeJudge::GetDataBufType(sector.data(), 512), f.type);
        EXPECT_EQ(s.judge.IsFileTypeMatching(sector.data(), 512, f.ext.c_str(), 512, 1), 1);
    }
}

// A file under another format's extension is flagged as not matching,
// where the lookup by content above does not already show it (the other
// format's row comes later in the table). An extension no row knows always
// matches, and a workbook is a zip as well.
TEST_F(JudgeTest, FilesMatchOnlyTheirOwnFormatsExtensions)
{
    const struct
    {
        const char* szFile;
        const char* szExt;
        int nExpected;
    } cases[] = {
        {"jfif.jpg", "png", 0}, {"mpeg2.ts", "mts", 0},    {"mpeg4.avi", "wav", 0},
        {"isom.mp4", "mov", 0}, {"picture.png", "txt", 1}, {"book.xlsx", "zip", 1},
    };
    for (const auto& c : cases)
    {
        SampleOnDevice s(c.szFile);
        const Bytes sector = Slice(s.file, 0, 512);
        EXPECT_EQ(s.judge.IsFileTypeMatching(sector.data(), 512, c.szExt, 512, 1), c.nExpected)
            << c.szFile << " as ." << c.szExt;
    }
}

// The content lookup skips recognisers by the first bytes their
// descriptors declare: each must accept a real sample, and only with those
// first bytes.
TEST_F(JudgeTest, EveryRecogniserAcceptsARealSampleAndOnlyItsDeclaredFirstBytes)
{
    const auto recognisers = Recognisers();
    ASSERT_EQ(recognisers.size(), 41u);
    std::vector<int> accepted(recognisers.size(), 0);
    for (const SampleFile& f : SampleFiles())
    {
        SampleOnDevice s(f.name.c_str());
        for (size_t k = 0; k < recognisers.size(); ++k)
        {
            const tessaroo::FILE_RECOGNISER* r = recognisers[k];
            Bytes sector = Slice(s.file, 0, 512);
            if (r->pfnRecognise(sector.data(), 512) == EXT_UNKNOWN)
                continue;
            ++accepted[k];
            EXPECT_TRUE(r->leadBytes.Has(sector[0])) << r->szName << " accepts " << f.name;
            for (unsigned b = 0; b < 256; ++b)
            {
                if (r->leadBytes.Has(uint8_t(b)))
                    continue;
                sector[0] = uint8_t(b);
                EXPECT_EQ(r->pfnRecognise(sector.data(), 512), EXT_UNKNOWN)
                    << r->szName << " accepts " << f.name << " with first byte " << b;
            }
        }
    }
    for (size_t k = 0; k < recognisers.size(); ++k)
        EXPECT_GT(accepted[k], 0) << recognisers[k]->szName << " recognises no sample";
}

// Every recogniser, on every length of every real head from 0 to 600 bytes,
// each on an exact-size copy: shorter than its minimum is never recognised,
// and no length makes it read past the buffer. The fast content lookup
// answers as the table order does at every length, and on each head with a
// few of its first 64 bytes flipped.
TEST_F(JudgeTest, EveryRecogniserStaysInsideEveryLength)
{
    const auto recognisers = Recognisers();
    std::mt19937 rng(20240511);
    for (const SampleFile& f : SampleFiles())
    {
        SampleOnDevice s(f.name.c_str());
        ASSERT_FALSE(s.file.empty()) << f.name;
        for (int k = 0; k < 300; ++k)
        {
            Bytes m = Slice(s.file, 0, 512);
            for (int n = 1 + int(rng() % 3); n > 0; --n)
                m[rng() % 64] ^= uint8_t(1u << (rng() % 8));
            const int len = k % 5 == 0 ? int(rng() % 513) : 512;
            ASSERT_EQ(CFileTypeJudge::GetDataBufType(m.data(), len),
                      CFileTypeJudge::GetDataBufTypeByTableOrder(m.data(), len))
                << f.name << " flipped #" << k;
        }
        for (size_t len = 0; len <= 600; ++len)
        {
            const auto copy = Exact(Slice(s.file, 0, len));
            for (const tessaroo::FILE_RECOGNISER* r : recognisers)
            {
                const EXTEND_NAME_TYPE t = r->pfnRecognise(copy.get(), int(len));
                EXPECT_TRUE(int(len) >= r->nMinLen || t == EXT_UNKNOWN)
                    << r->szName << " on " << len << " bytes of " << f.name;
            }
            EXPECT_EQ(CFileTypeJudge::GetDataBufType(copy.get(), int(len)),
                      CFileTypeJudge::GetDataBufTypeByTableOrder(copy.get(), int(len)))
                << len << " bytes of " << f.name;
        }
    }
    for (const tessaroo::FILE_RECOGNISER* r : recognisers)
        EXPECT_EQ(r->pfnRecognise(nullptr, 4096), EXT_UNKNOWN) << r->szName;
}
} // namespace

// Real files made by tools/make_format_samples.sh: the first sector of each
// is typed by content with the right code and matches its own extension and
// no other format's; every recogniser accepts a real file, only with the
// first bytes it declares, and stays inside every length of a real head.
#include "tests/signature/SignatureTestEnv.h"

#include <algorithm>
#include <map>
#include <sstream>

using namespace sigtest;

namespace
{
// The samples of each code, after the extension that names the code: the
// first sector of each is typed with that code by content, and matches its
// own extension. Every compound file is typed fla by content (that row comes
// first); the office extensions still match through their own rows. A zip
// naming Word, Excel or PowerPoint parts is typed as that document (those
// rows come before the zip row).
const char* const SAMPLES =
    "mpg: mpeg1_program.mpg mpeg2_program.vob mpeg1_elementary.mpeg mp4: isom.mp4 mp42.mp4 "
    "rmvb: realmedia.rm asf: windows_media.wmv windows_media_audio.wma "
    "swf: mjpeg_uncompressed.swf compressed.swf avi: mpeg4.avi flv: sorenson.flv 3gp: h263.3gp "
    "mkv: mpeg4.mkv ts: mpeg2.ts mts: avchd.mts mxf: mpeg2.mxf mov: quicktime.mov mp3: id3v2.mp3 "
    "mid: track.mid ape: monkey.ape wav: pcm.wav mp2: layer2.mp2 mmf: yamaha.mmf "
    "gif: gif89a.gif gif87a.gif bmp: bitmap.bmp bitmap.dib jpg: jfif.jpg exif.jpg png: picture.png "
    "psd: picture.psd tif: intel.tif motorola.tif ico: icon.ico "
    "fla: word.doc excel.xls slides.ppt plain.ole flash.fla by_name.doc by_name.xls by_name.ppt "
    "docx: word.docx xlsx: book.xlsx pptx: slides.pptx pdf: document.pdf "
    "gz: default.gz best.gz fast.gz python.gz 7z: empty.7z zip: photos.zip text.zip rar: archive.rar "
    "cab: cabinet.cab gho: backup.gho exe: program.exe dll: library.dll sys: driver.sys db: sqlite.db "
    "dbx: mail.dbx pst: mail.pst ttf: font.ttf";

struct SampleFile
{
    std::string name, ext;
    EXTEND_NAME_TYPE type;
};

std::vector<SampleFile> SampleFiles()
{
    std::vector<SampleFile> files;
    std::istringstream words(SAMPLES);
    EXTEND_NAME_TYPE type = EXT_UNKNOWN;
    for (std::string w; words >> w;)
        if (w.back() == ':')
            type = CFileTypeJudge::GetExtendNameType(w.substr(0, w.size() - 1).c_str());
        else
            files.push_back({w, w.substr(w.rfind('.') + 1), type});
    return files;
}

// The sample at sector 1 of a device, after a zero sector (so a transport
// stream does not continue from before it) and before 64 free sectors (so
// the zip and compound-file reads find the sectors they look at).
struct SampleOnDevice
{
    explicit SampleOnDevice(const std::string& name)
        : file(Sample(name)), on(Layout(1 + (file.size() + 511) / 512 + 64, {{1, file}}), 1)
    {
    }
    Bytes file;
    JudgeOnDevice on;
};

// Each sample's first sector is typed with its code by content and matches
// its own extension; a file under another format's extension is flagged as
// not matching, where the lookup by content does not already show it (the
// other format's row comes later in the table); an extension no row knows
// always matches, and a workbook is a zip as well. The content lookup skips
// recognisers by the first bytes their descriptors declare: each must accept
// a real sample, and only with those first bytes. Every recogniser, on every
// length of every real head from 0 to 600 bytes, each on an exact-size copy:
// shorter than its minimum is never recognised, and no length makes it read
// past the buffer; the fast content lookup answers as the table order does
// at every length.
TEST_F(JudgeTest, SamplesAreTypedAndEachRecogniserAcceptsOnlyItsDeclaredFirstBytes)
{
    const std::map<std::string, std::pair<const char*, int>> otherExt = {
        {"jfif.jpg", {"png", 0}}, {"mpeg2.ts", {"mts", 0}},    {"mpeg4.avi", {"wav", 0}},
        {"isom.mp4", {"mov", 0}}, {"picture.png", {"txt", 1}}, {"book.xlsx", {"zip", 1}},
    };
    const std::vector<SampleFile> files = SampleFiles();
    ASSERT_EQ(files.size(), 64u);
    // Each recogniser of the format table once, in table order.
    std::vector<const tessaroo::FILE_RECOGNISER*> recognisers;
    for (size_t i = 0; i < EXTEND_NAME_ROW_COUNT; ++i)
        if (std::find(recognisers.begin(), recognisers.end(), szExtendNameAndType[i].pRecogniser) ==
            recognisers.end())
            recognisers.push_back(szExtendNameAndType[i].pRecogniser);
    ASSERT_EQ(recognisers.size(), 41u);
    std::vector<int> accepted(recognisers.size(), 0);
    for (const SampleFile& f : files)
    {
        SCOPED_TRACE(f.name);
        SampleOnDevice s(f.name);
        ASSERT_FALSE(s.file.empty());
        const Bytes head = Slice(s.file, 0, 512);
        EXPECT_NE(f.type, EXT_UNKNOWN);
        EXPECT_EQ(CFileTypeJudge::GetDataBufType(head.data(), 512), f.type);
        EXPECT_EQ(s.on.judge.IsFileTypeMatching(head.data(), 512, f.ext.c_str(), 512, 1), 1);
        const auto other = otherExt.find(f.name);
        if (other != otherExt.end())
        {
            EXPECT_EQ(s.on.judge.IsFileTypeMatching(head.data(), 512, other->second.first, 512, 1),
                      other->second.second)
                << other->second.first;
        }
        for (size_t k = 0; k < recognisers.size(); ++k)
        {
            const tessaroo::FILE_RECOGNISER* r = recognisers[k];
            Bytes sector = head;
            if (r->pfnRecognise(sector.data(), 512) == EXT_UNKNOWN)
                continue;
            ++accepted[k];
            EXPECT_TRUE(r->leadBytes.Has(sector[0])) << r->szName;
            for (unsigned b = 0; b < 256; ++b)
            {
                if (r->leadBytes.Has(uint8_t(b)))
                    continue;
                sector[0] = uint8_t(b);
                EXPECT_EQ(r->pfnRecognise(sector.data(), 512), EXT_UNKNOWN)
                    << r->szName << " first byte " << b;
            }
        }
        for (size_t len = 0; len <= 600; ++len)
        {
            const auto copy = Exact(Slice(s.file, 0, len));
            for (const tessaroo::FILE_RECOGNISER* r : recognisers)
                EXPECT_TRUE(int(len) >= r->nMinLen || r->pfnRecognise(copy.get(), int(len)) == EXT_UNKNOWN)
                    << r->szName << " on " << len << " bytes";
            EXPECT_EQ(CFileTypeJudge::GetDataBufType(copy.get(), int(len)),
                      CFileTypeJudge::GetDataBufTypeByTableOrder(copy.get(), int(len)))
                << len << " bytes";
        }
    }
    for (size_t k = 0; k < recognisers.size(); ++k)
    {
        EXPECT_GT(accepted[k], 0) << recognisers[k]->szName << " recognises no sample";
        EXPECT_EQ(recognisers[k]->pfnRecognise(nullptr, 4096), EXT_UNKNOWN) << recognisers[k]->szName;
    }
}
} // namespace

// Names and files as cards written by cameras, phones and Windows carry
// them: the card of tools/make_fat_images.sh (FAT32, 4 KiB clusters) lists
// every deleted file under its own UTF-8 name and kind and gives it back
// whole; long names belong to their 8.3 entry only when their parts are
// whole and agree with it (built part by part here).
#include "core/BootSector.h"
#include "core/Portability.h"
#include "core/Recognisers.h"
#include "engines/fat/CFastFatRecovery.h"
#include "engines/fat/FatLayout.h"
#include "recovery/CTargetFile.h"
#include "recovery/KindPatterns.h"
#include "tests/fat/FatTestUtil.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace tessaroo;
using namespace tessaroo::test;

namespace
{
// The deleted files of the card, the recovery subfolder each belongs in,
// and what makes each one hard. A file of an 8.3 name only is listed as
// that name in lower case with the deleted mark made '!' (listedAs); the
// others under their long name, as the manifest holds it. Folders of an
// 8.3 name are listed in lower case.
struct CardFile
{
    const char* path;
    const char* kind;
    const char* listedAs = nullptr;
};

std::string ListedPath(const std::string& path, const char* listedAs)
{
    // The card's long folder name has no capitals: lower-casing every
    // folder is what the listing does to the 8.3 ones.
    const size_t slash = path.rfind('/');
    std::string listed = path.substr(0, slash + 1);
    for (char& c : listed)
        c = char(tolower(static_cast<unsigned char>(c)));
    return listed + (listedAs ? std::string(listedAs) : path.substr(slash + 1));
}

const CardFile CARD_FILES[] = {
    // Archive bit cleared: attributes 0x00, 0x01, 0x02, 0x04, and a long name with 0x00.
    {"/NOTES.TXT", "document", "!otes.txt"},
    {"/READONLY.TXT", "document", "!eadonly.txt"},
    {"/HIDDEN.TXT", "document", "!idden.txt"},
    {"/SYSTEM.DAT", "others", "!ystem.dat"},
    {"/Shopping list.txt", "document"},
    // 19 and 20 long-name parts.
    {"/name-of-240-characters-", "document"},
    {"/name-of-248-characters-", "photo"},
    {"/name-of-250-characters-", "document"},
    {"/DCIM/name-of-255-characters-", "document"},
    // In a live folder whose name takes 20 parts.
    {"/name-of-249-characters-", "photo", "!mg_0001.jpg"},
    // Beyond GB2312, beyond the first Unicode plane.
    {"/Größe und Maße.txt", "document"},
    {"/Año nuevo en España.txt", "document"},
    {"/DCIM/100PHOTO/가족 사진.jpg", "photo"},
    {"/DCIM/100PHOTO/Φωτογραφία διακοπών.jpg", "photo"},
    {"/party 🎉.txt", "document"},
    // Intact pictures that do not start with JFIF or Exif.
    {"/DCIM/100PHOTO/DRAWING.BMP", "photo", "!rawing.bmp"},
    {"/DCIM/100PHOTO/no app segments.jpg", "photo"},
    {"/DCIM/100PHOTO/adobe first.jpg", "photo"},
};

// The file of the manifest whose path starts with prefix (the long names are
// written out in the manifest only).
const ManifestEntry* FindByPrefix(const Manifest& m, const std::string& prefix)
{
    const ManifestEntry* found = nullptr;
    for (const ManifestEntry& e : m.entries)
        if (!e.isDir && e.path.compare(0, prefix.size(), prefix) == 0)
            found = found ? nullptr : &e; // ambiguous prefixes find nothing
    return found;
}

class FastFatCard : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_FALSE(SharedFatImages().empty()) << "the test images could not be made";
        std::string error;
        ASSERT_TRUE(LoadManifest(SharedFatImages() + "/card.manifest", manifest, &error)) << error;
        engine.reset(new ImageEngine(SharedFatImages() + "/card.img", 0, manifest.Fact("total_sectors")));
        ASSERT_NE(engine->get(), nullptr);
        ASSERT_EQ((*engine)->ScanDevice(nullptr), 0u);
        std::wstring key = AllKindsKey();
        (*engine)->SearchFileNode(&key[0], hits);
    }
    Manifest manifest;
    std::unique_ptr<ImageEngine> engine;
    std::vector<__SEARCH_FILE_INFO__> hits;
};

TEST_F(FastFatCard, EveryDeletedFileIsListedUnderItsNameAndKindAndComesBackWhole)
{
    EXPECT_EQ(hits.size(), sizeof(CARD_FILES) / sizeof(CARD_FILES[0]));
    TempDir out("fat-card");
    const std::wstring label = Utf8ToWide(out.Path().c_str());
    CTargetRoot root;
    std::string message;
    ASSERT_EQ(root.Open(out.Path(), label, message), 0u) << message;
    for (const CardFile& c : CARD_FILES)
    {
        SCOPED_TRACE(c.path);
        const ManifestEntry* e = FindByPrefix(manifest, c.path);
        ASSERT_NE(e, nullptr);
        ASSERT_EQ(e->state, "intact");
        const std::string listedAs = ListedPath(e->path, c.listedAs);
        __SEARCH_FILE_INFO__* hit = nullptr;
        int listed = 0;
        for (__SEARCH_FILE_INFO__& h : hits)
            if ("/" + NodePath(engine->get(), h) == listedAs)
                hit = &h, ++listed;
        ASSERT_EQ(listed, 1);
        EXPECT_EQ(hit->bDataHealth, 1u);
        const std::string name = NodeNameUtf8(*hit);
        EXPECT_STREQ(GetDirTypeByFileName(name.c_str()), c.kind);

        ReportLog log;
        (*engine)->InitCallBack(nullptr, &CollectReport, &log, 100);
        std::wstring target =
            label + L"/" + Utf8ToWide(c.kind) + L"/" + Utf8ToWide(MakeSafeTargetName(name.c_str()).c_str());
        EXPECT_EQ((*engine)->SaveFileData(hit, &target[0], 0), 0u);
        const std::string written = out.Path() + "/" + c.kind + "/" + name;
        ASSERT_EQ(log.Finals(), 1);
        EXPECT_EQ(log.reports.back().target, written);
        EXPECT_EQ(Sha256OfFile(written), e->sha256);
    }
}

// --- long names, part by part ------------------------------------------------

std::vector<uint8_t> Short(const char* name, bool deleted)
{
    DirEntryParams p;
    p.name = name;
    p.firstCluster = 5;
    p.size = 1000;
    p.deleted = deleted;
    const std::array<uint8_t, 32> e = MakeShortEntry(p);
    return std::vector<uint8_t>(e.begin(), e.end());
}

uint8_t Sum(const char* shortName)
{
    return LfnChecksum(ShortName11(shortName).data());
}

std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Entries [from, to) of a run of 32-byte entries.
std::vector<uint8_t> Entries(const std::vector<uint8_t>& run, size_t from, size_t to)
{
    return std::vector<uint8_t>(run.begin() + long(from * 32), run.begin() + long(to * 32));
}

std::vector<uint8_t> Patch(std::vector<uint8_t> run, size_t off, uint8_t value)
{
    run.at(off) = value;
    return run;
}

TEST(FatLongName, ANameBelongsToItsShortEntryOnlyWhenWholeAndAgreeing)
{
    const std::u16string holiday = u"Holiday photo.jpg";                // 2 parts
    const std::u16string three = u"A name that takes three parts.txt";  // 3 parts
    const std::u16string longest = std::u16string(251, u'n') + u".txt"; // 20 parts
    const std::vector<uint8_t> live3 = MakeLongNameEntries(three, Sum("ANAMET~1.TXT"));
    const std::vector<uint8_t> deleted3 = MakeLongNameEntries(three, Sum("ANAMET~1.TXT"), true);
    const struct
    {
        const char* what;
        std::vector<uint8_t> run; // long-name parts, then the short entry last
        std::string name;
    } cases[] = {
        {"live whole name",
         Cat({MakeLongNameEntries(holiday, Sum("HOLIDA~1.JPG")), Short("HOLIDA~1.JPG", false)}),
         "Holiday photo.jpg"},
        {"live checksum mismatch",
         Cat({MakeLongNameEntries(holiday, uint8_t(Sum("HOLIDA~1.JPG") ^ 1)), Short("HOLIDA~1.JPG", false)}),
         ""},
        {"live orphaned first part",
         Cat({MakeLongNameEntries(u"notes.txt", Sum("NOTES.TXT")), Short("VACATI~1.JPG", false)}), ""},
        {"live middle part missing",
         Cat({Entries(live3, 0, 1), Entries(live3, 2, 3), Short("ANAMET~1.TXT", false)}), ""},
        {"live parts of an earlier name before a whole one",
         Cat({Entries(live3, 0, 2), MakeLongNameEntries(holiday, Sum("HOLIDA~1.JPG")),
              Short("HOLIDA~1.JPG", false)}),
         "Holiday photo.jpg"},
        {"deleted whole name", Cat({deleted3, Short("ANAMET~1.TXT", true)}),
         "A name that takes three parts.txt"},
        {"deleted checksum mismatch",
         Cat({MakeLongNameEntries(holiday, uint8_t(Sum("HOLIDA~1.JPG") ^ 1), true),
              Short("HOLIDA~1.JPG", true)}),
         ""},
        {"deleted orphaned first part",
         Cat({MakeLongNameEntries(u"notes.txt", Sum("NOTES.TXT"), true), Short("VACATI~1.JPG", true)}), ""},
        {"deleted parts of another name before a whole one",
         Cat({MakeLongNameEntries(u"notes.txt", Sum("NOTES.TXT"), true), deleted3,
              Short("ANAMET~1.TXT", true)}),
         "A name that takes three parts.txt"},
        {"deleted name with its end in a middle part",
         Cat({Patch(deleted3, 32 + 1, 0), Short("ANAMET~1.TXT", true)}), ""},
        {"more deleted parts than any name has",
         Cat({MakeLongNameEntries(std::u16string(13, u'x'), Sum("NNNNNN~1.TXT"), true),
              MakeLongNameEntries(longest, Sum("NNNNNN~1.TXT"), true), Short("NNNNNN~1.TXT", true)}),
         ""},
        {"deleted parts before a live entry",
         Cat({MakeLongNameEntries(holiday, Sum("HOLIDA~1.JPG"), true), Short("HOLIDA~1.JPG", false)}), ""},
        // Outside ASCII the first byte of the 8.3 name cannot be foretold;
        // it only has to be one an 8.3 name can start with.
        {"deleted name of another script",
         Cat({MakeLongNameEntries(u"\uAC00\uC871.jpg", Sum("____~1.JPG"), true), Short("____~1.JPG", true)}),
         "\xEA\xB0\x80\xEC\xA1\xB1.jpg"},
        {"lone surrogate",
         Cat({MakeLongNameEntries(u"a\xD800.txt", Sum("A_~1.TXT")), Short("A_~1.TXT", false)}),
         "a\xEF\xBF\xBD.txt"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(c.run.size() % 32, 0u);
        CFatLongName name;
        const size_t last = c.run.size() - 32;
        for (size_t off = 0; off < last; off += 32)
            name.AddPart(&c.run[off]);
        EXPECT_EQ(name.TakeFor(&c.run[last]), c.name);
        // What was gathered is used once.
        EXPECT_EQ(name.TakeFor(&c.run[last]), "");
    }
}

// The 8.3 name when no long name belongs: GB2312 bytes as UTF-8, the
// deleted mark as '!', 0x05 as the byte 0xE5 it stands for.
TEST(FatLongName, ShortNamesAsUtf8)
{
    const struct
    {
        const char* name11;
        bool withExtension;
        const char* out;
    } cases[] = {{"README  TXT", true, "readme.txt"},
                 {"README  TXT", false, "readme"},
                 {"\xE5OTES   TXT", true, "!otes.txt"},
                 {"NOEXT      ", true, "noext"},
                 {"\xD5\xD5\xC6\xAC    JPG", true, "\xE7\x85\xA7\xE7\x89\x87.jpg"},
                 {"\x05\xA1-     TXT", true, "\xE6\xBF\x89-.txt"}};
    for (const auto& c : cases)
    {
        uint8_t e[32] = {0};
        memcpy(e, c.name11, 11);
        EXPECT_EQ(FatShortName(e, c.withExtension), c.out) << c.name11;
    }
}

} // namespace

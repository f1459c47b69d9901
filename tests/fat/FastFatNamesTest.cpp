// Names as cameras, phones and Windows write them: long names belong to
// their 8.3 entry only when their parts are whole and agree with it (built
// part by part here), and 8.3 names read as UTF-8. The card of
// tools/make_fat_images.sh, whose deleted files carry such names, is in the
// image table of FastFatImageTest.
#include "engines/fat/FatLayout.h"
#include "tests/support/FatBuilder.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace tessaroo;
using namespace tessaroo::test;

namespace
{
std::vector<uint8_t> Short(const char* name, bool deleted)
{
    return ShortEntry(name, 5, 1000, 0x20, deleted);
}

uint8_t Sum(const char* shortName)
{
    return LfnChecksum(ShortName11(shortName).data());
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
         Concat({MakeLongNameEntries(holiday, Sum("HOLIDA~1.JPG")), Short("HOLIDA~1.JPG", false)}),
         "Holiday photo.jpg"},
        {"live checksum mismatch",
         Concat(
             {MakeLongNameEntries(holiday, uint8_t(Sum("HOLIDA~1.JPG") ^ 1)), Short("HOLIDA~1.JPG", false)}),
         ""},
        {"live orphaned first part",
         Concat({MakeLongNameEntries(u"notes.txt", Sum("NOTES.TXT")), Short("VACATI~1.JPG", false)}), ""},
        {"live middle part missing",
         Concat({Entries(live3, 0, 1), Entries(live3, 2, 3), Short("ANAMET~1.TXT", false)}), ""},
        {"live parts of an earlier name before a whole one",
         Concat({Entries(live3, 0, 2), MakeLongNameEntries(holiday, Sum("HOLIDA~1.JPG")),
                 Short("HOLIDA~1.JPG", false)}),
         "Holiday photo.jpg"},
        {"deleted whole name", Concat({deleted3, Short("ANAMET~1.TXT", true)}),
         "A name that takes three parts.txt"},
        {"deleted checksum mismatch",
         Concat({MakeLongNameEntries(holiday, uint8_t(Sum("HOLIDA~1.JPG") ^ 1), true),
                 Short("HOLIDA~1.JPG", true)}),
         ""},
        {"deleted orphaned first part",
         Concat({MakeLongNameEntries(u"notes.txt", Sum("NOTES.TXT"), true), Short("VACATI~1.JPG", true)}),
         ""},
        {"deleted parts of another name before a whole one",
         Concat({MakeLongNameEntries(u"notes.txt", Sum("NOTES.TXT"), true), deleted3,
                 Short("ANAMET~1.TXT", true)}),
         "A name that takes three parts.txt"},
        {"deleted name with its end in a middle part",
         Concat({Patch(deleted3, 32 + 1, 0), Short("ANAMET~1.TXT", true)}), ""},
        {"more deleted parts than any name has",
         Concat({MakeLongNameEntries(std::u16string(13, u'x'), Sum("NNNNNN~1.TXT"), true),
                 MakeLongNameEntries(longest, Sum("NNNNNN~1.TXT"), true), Short("NNNNNN~1.TXT", true)}),
         ""},
        {"deleted parts before a live entry",
         Concat({MakeLongNameEntries(holiday, Sum("HOLIDA~1.JPG"), true), Short("HOLIDA~1.JPG", false)}), ""},
        // Outside ASCII the first byte of the 8.3 name cannot be foretold;
        // it only has to be one an 8.3 name can start with.
        {"deleted name of another script",
         Concat(
             {MakeLongNameEntries(u"\uAC00\uC871.jpg", Sum("____~1.JPG"), true), Short("____~1.JPG", true)}),
         "\xEA\xB0\x80\xEC\xA1\xB1.jpg"},
        {"lone surrogate",
         Concat({MakeLongNameEntries(u"a\xD800.txt", Sum("A_~1.TXT")), Short("A_~1.TXT", false)}),
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

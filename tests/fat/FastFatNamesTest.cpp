// Names as cameras, phones and Windows write them: long names belong to
// their 8.3 entry only when their parts are whole and agree with it (built
// part by part here), and 8.3 names read as UTF-8. The card of
// tools/make_fat_images.sh, whose deleted files carry such names, is in the
// image table of FatImageTest.
#include "engines/fat/FatLayout.h"
#include "tests/support/FatBuilder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

using namespace tessaroo;
using namespace tessaroo::test;

namespace
{
// Long-name parts for name, the checksum of shortName (flipped by flip).
std::vector<uint8_t> Parts(const std::u16string& name, const char* shortName, bool deleted, uint8_t flip = 0)
{
    return MakeLongNameEntries(name, uint8_t(LfnChecksum(ShortName11(shortName).data()) ^ flip), deleted);
}

std::vector<uint8_t> Short(const char* name, bool deleted)
{
    return ShortEntry(name, 5, 1000, 0x20, deleted);
}

// Entries [from, to) of a run of 32-byte entries.
std::vector<uint8_t> Entries(const std::vector<uint8_t>& run, size_t from, size_t to)
{
    return std::vector<uint8_t>(run.begin() + long(from * 32), run.begin() + long(to * 32));
}

TEST(FatLongName, ANameBelongsToItsShortEntryOnlyWhenWholeAndAgreeing)
{
    const std::u16string holiday = u"Holiday photo.jpg";               // 2 parts
    const std::u16string three = u"A name that takes three parts.txt"; // 3 parts
    const char *h = "HOLIDA~1.JPG", *a = "ANAMET~1.TXT", *n = "NNNNNN~1.TXT";
    const std::vector<uint8_t> live3 = Parts(three, a, false), deleted3 = Parts(three, a, true);
    std::vector<uint8_t> endInMiddle = deleted3;
    endInMiddle[32 + 1] = 0; // the name ends in a middle part
    const struct
    {
        const char* what;
        std::vector<uint8_t> run; // long-name parts, then the short entry last
        std::string name;
    } cases[] = {
        {"live whole name", Concat({Parts(holiday, h, false), Short(h, false)}), "Holiday photo.jpg"},
        {"live checksum mismatch", Concat({Parts(holiday, h, false, 1), Short(h, false)}), ""},
        {"live orphaned first part",
         Concat({Parts(u"notes.txt", "NOTES.TXT", false), Short("VACATI~1.JPG", false)}), ""},
        {"live middle part missing", Concat({Entries(live3, 0, 1), Entries(live3, 2, 3), Short(a, false)}),
         ""},
        {"live parts of an earlier name before a whole one",
         Concat({Entries(live3, 0, 2), Parts(holiday, h, false), Short(h, false)}), "Holiday photo.jpg"},
        {"deleted whole name", Concat({deleted3, Short(a, true)}), "A name that takes three parts.txt"},
        {"deleted checksum mismatch", Concat({Parts(holiday, h, true, 1), Short(h, true)}), ""},
        {"deleted orphaned first part",
         Concat({Parts(u"notes.txt", "NOTES.TXT", true), Short("VACATI~1.JPG", true)}), ""},
        {"deleted parts of another name before a whole one",
         Concat({Parts(u"notes.txt", "NOTES.TXT", true), deleted3, Short(a, true)}),
         "A name that takes three parts.txt"},
        {"deleted name with its end in a middle part", Concat({endInMiddle, Short(a, true)}), ""},
        {"more deleted parts than any name has",
         Concat({Parts(std::u16string(13, u'x'), n, true),
                 Parts(std::u16string(251, u'n') + u".txt", n, true), Short(n, true)}),
         ""},
        {"deleted parts before a live entry", Concat({Parts(holiday, h, true), Short(h, false)}), ""},
        // Outside ASCII the first byte of the 8.3 name cannot be foretold;
        // it only has to be one an 8.3 name can start with.
        {"deleted name of another script",
         Concat({Parts(u"\uAC00\uC871.jpg", "____~1.JPG", true), Short("____~1.JPG", true)}),
         "\xEA\xB0\x80\xEC\xA1\xB1.jpg"},
        {"lone surrogate", Concat({Parts(u"a\xD800.txt", "A_~1.TXT", false), Short("A_~1.TXT", false)}),
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
    const std::tuple<const char*, bool, const char*> cases[] = {
        // 11 bytes, with the extension, as listed
        {"README  TXT", true, "readme.txt"},
        {"README  TXT", false, "readme"},
        {"\xE5OTES   TXT", true, "!otes.txt"},
        {"NOEXT      ", true, "noext"},
        {"\xD5\xD5\xC6\xAC    JPG", true, "\xE7\x85\xA7\xE7\x89\x87.jpg"},
        {"\x05\xA1-     TXT", true, "\xE6\xBF\x89-.txt"}};
    for (const auto& c : cases)
    {
        uint8_t e[32] = {0};
        memcpy(e, std::get<0>(c), 11);
        EXPECT_EQ(FatShortName(e, std::get<1>(c)), std::get<2>(c)) << std::get<0>(c);
    }
}

} // namespace

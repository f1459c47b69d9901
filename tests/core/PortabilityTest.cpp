// The portability layer: string and path helpers that must never write past
// a caller's buffer, UTF-32/UTF-8 conversions cut at character boundaries,
// the GB2312 decoding of 8.3 names, target names made from names read off a
// disk, and the system-call wrappers. (The size and time texts are checked
// where the front ends show them.)
#include "core/Portability.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace tessaroo;
using namespace tessaroo::test;

namespace
{
// A destination of size units inside a larger array of canaries: any write
// outside [0, size) shows.
template <typename T> struct Guarded
{
    explicit Guarded(size_t n, T c = T(0x5A)) : size(n), canary(c), buf(n + 32, c) {}
    T* Get() { return &buf[16]; }
    size_t Size() const { return size; }
    bool Intact() const
    {
        return size_t(std::count(buf.begin(), buf.begin() + 16, canary) +
                      std::count(buf.end() - 16, buf.end(), canary)) == 32;
    }
    size_t size;
    T canary;
    std::vector<T> buf;
};
} // namespace

// --- string helpers -----------------------------------------------------------

TEST(PathDirIndex, CountsSeparatorsButTheLastUnit)
{
    const std::pair<const wchar_t*, int> cases[] = {
        {L"/a/b/", 2}, {L"", 0}, {L"//", 1}, {L"/home/user/Recovered", 3}, {L"/mixed\\sep/x", 3}};
    for (const auto& c : cases)
    {
        int count = -1;
        EXPECT_EQ(GetPathDirIndex(c.first, count), 0);
        EXPECT_EQ(count, c.second) << std::wstring(c.first).size();
    }
}

// Only ASCII letters change case: bytes of a multi-byte name stay as they are.
TEST(StringHelpers, LowerCaseOfAsciiLettersOnly)
{
    char a[] = "ABC.Txt-\xC4\xE3Z";
    EXPECT_EQ(GetCharLowerA(a), a);
    EXPECT_STREQ(a, "abc.txt-\xC4\xE3z");
}

TEST(ExtendName, TextAfterTheLastPoint)
{
    const struct
    {
        const char* name;
        size_t extSize;
        int status;
        const char* ext; // expected; the unchanged "~~" when the status is 87
    } cases[] = {{"archive.tar.gz", 16, 0, "gz"},
                 {"README", 16, 87, "~~"},
                 {"name.", 16, 0, ""},
                 {".profile", 16, 0, "profile"},
                 // Cut to the destination, at a character boundary.
                 {"movie.mpeg4", 4, 0, "mpe"},
                 {"x.\xE7\x85\xA7\xE7\x89\x87", 6, 0, "\xE7\x85\xA7"},
                 {"x.\xE7\x85\xA7\xE7\x89\x87", 7, 0, "\xE7\x85\xA7\xE7\x89\x87"}};
    for (const auto& c : cases)
    {
        Guarded<char> ext(c.extSize);
        strcpy(ext.Get(), "~~");
        EXPECT_EQ(GetExtendName(c.name, ext.Get(), ext.Size()), c.status) << c.name;
        EXPECT_STREQ(ext.Get(), c.ext) << c.name;
        EXPECT_TRUE(ext.Intact()) << c.name;
    }
}

// Whatever the name, destination + "/" + safe names an entry directly in the
// destination: one valid UTF-8 component, no separator, no control byte,
// never "." or "..", never empty.
TEST(SafeTargetName, OneComponentInsideTheDestination)
{
    const std::pair<const char*, const char*> cases[] = {
        {"photo.jpg", "photo.jpg"},
        {"", "_"},
        {".", "_"},
        {"..", "__"},
        {"../../etc/passwd", ".._.._etc_passwd"},
        {"..\\..\\boot.ini", ".._.._boot.ini"},
        {"/abs", "_abs"},
        {"dir/", "dir_"},
        {"...", "..."},
        {"!ELETED.TXT", "!ELETED.TXT"},
        // Control bytes and DEL, which a terminal or a file manager would act on.
        {"a\x01-\x1F-\x7F-z", "a_-_-_-z"},
        {"\x1B[2J.txt", "_[2J.txt"},
        // Valid UTF-8 passes whole; invalid bytes and cut sequences become U+FFFD.
        {"Ma\xC3\x9F \xF0\x9F\x8E\x89.txt", "Ma\xC3\x9F \xF0\x9F\x8E\x89.txt"},
        {"a\xFF-z", "a\xEF\xBF\xBD-z"},
        // An invalid lead byte before a '/' takes nothing with it.
        {"\xC3/x", "\xEF\xBF\xBD_x"},
        {nullptr, "_"}};
    for (const auto& c : cases)
        EXPECT_EQ(MakeSafeTargetName(c.first), c.second);
}

// --- conversions -------------------------------------------------------------

TEST(Conversions, WideToUtf8TruncatesAtCharacterBoundaries)
{
    const struct
    {
        const wchar_t* src;
        long dstSize, srcLen;
        const char* out;
    } cases[] = {{L"\u4E2D\u6587", 7, -1, "\xE4\xB8\xAD\xE6\x96\x87"},
                 // Five bytes of room hold one three-byte character, never part of the next.
                 {L"\u4E2D\u6587", 6, -1, "\xE4\xB8\xAD"},
                 {L"a\U0001F389", 6, -1, "a\xF0\x9F\x8E\x89"},
                 {L"abc", 1, -1, ""},
                 {L"abcdef", 64, 3, "abc"},
                 // A unit that is no character: a lone surrogate, a value past U+10FFFF.
                 {L"a\xD800-z", 64, -1, "a\xEF\xBF\xBD-z"}};
    for (const auto& c : cases)
    {
        Guarded<char> dst(size_t(c.dstSize));
        EXPECT_EQ(inner_uni2str(dst.Get(), c.src, c.dstSize, c.srcLen), long(strlen(c.out))) << c.out;
        EXPECT_STREQ(dst.Get(), c.out);
        EXPECT_TRUE(dst.Intact()) << c.out;
    }
}

TEST(Conversions, Utf8ToWideTruncatesAndMarksBadBytes)
{
    const struct
    {
        const char* src;
        long dstSize, srcLen;
        const wchar_t* out;
    } cases[] = {{"Ma\xC3\x9F.txt", 64, -1, L"Ma\u00DF.txt"},
                 {"\xE4\xB8\xAD\xE6\x96\x87", 2, -1, L"\u4E2D"},
                 // srcLen cuts the second character: what is left of it is broken.
                 {"\xE4\xB8\xAD\xE6\x96\x87", 64, 4, L"\u4E2D\uFFFD"},
                 {"a\xFF-z", 64, -1, L"a\uFFFD-z"},
                 {"", 8, -1, L""}};
    for (const auto& c : cases)
    {
        Guarded<wchar_t> dst(size_t(c.dstSize), L'#');
        EXPECT_EQ(inner_str2uni(dst.Get(), c.src, c.dstSize, c.srcLen), long(wcslen(c.out))) << c.src;
        EXPECT_EQ(std::wstring(dst.Get()), c.out);
        EXPECT_TRUE(dst.Intact()) << c.src;
    }
}

TEST(Conversions, WholeStringForms)
{
    char a[16];
    EXPECT_EQ(Unicode2Ansi(L"\u4E2D-", a, sizeof(a)), 0);
    EXPECT_STREQ(a, "\xE4\xB8\xAD-");
    wchar_t w[16];
    EXPECT_EQ(Ansi2Unicode("\xE4\xB8\xAD-", w, 16), 0);
    EXPECT_EQ(std::wstring(w), L"\u4E2D-");
    // The string-object forms hold the whole text, whatever its length.
    const std::wstring many(300, L'\u6587');
    EXPECT_EQ(Unicode2Ansi(many.c_str()).size(), 900u);
    EXPECT_EQ(Ansi2Unicode(Unicode2Ansi(many.c_str()).c_str()), many);
}

// A node's name field holds 255 bytes: a longer name keeps its extension,
// which gives the file its kind.
TEST(Conversions, CopyUtf8NameKeepsTheExtensionOfALongName)
{
    std::string korean;
    for (int i = 0; i < 100; ++i)
        korean += "\xEA\xB0\x80"; // U+AC00, three bytes
    const std::string longExt = "a." + std::string(300, 'e');
    const std::pair<std::string, std::string> cases[] = {
        {"photo.jpg", "photo.jpg"},
        {std::string(300, 'a') + ".jpg", std::string(251, 'a') + ".jpg"},
        {korean + ".jpg", korean.substr(0, 249) + ".jpg"},
        {std::string(300, 'a'), std::string(255, 'a')},
        // An "extension" longer than any is part of the name.
        {longExt, longExt.substr(0, 255)}};
    for (const auto& c : cases)
    {
        Guarded<char> dst(256);
        CopyUtf8Name(dst.Get(), dst.Size(), c.first);
        EXPECT_EQ(std::string(dst.Get()), c.second) << c.first.size();
        EXPECT_TRUE(dst.Intact());
    }
    Guarded<wchar_t> w(3, L'#');
    CopyWide(w.Get(), w.Size(), L"abcdef");
    EXPECT_EQ(std::wstring(w.Get()), L"ab");
    EXPECT_TRUE(w.Intact());
}

// 8.3 names written by Chinese systems: GB2312 bytes, decoded to UTF-8.
TEST(Conversions, Gb2312ShortNamesAsUtf8)
{
    const std::pair<const char*, const char*> cases[] = {
        {"\xD5\xD5\xC6\xAC.jpg", "\xE7\x85\xA7\xE7\x89\x87.jpg"}, // 照片.jpg
        {"!\xC6\xAC.jpg", "!\xE7\x89\x87.jpg"},
        {"a\xFF-z", "a\xEF\xBF\xBD-z"},
        {"a\xD6", "a\xEF\xBF\xBD"}};
    for (const auto& c : cases)
        EXPECT_EQ(Gb2312ToUtf8(c.first), c.second) << c.first;
    // The way back serves only the application's display codec.
}

// --- system-call wrappers ----------------------------------------------------

TEST(SystemWrappers, FreeSpaceWalksUpToAnExistingFolder)
{
    TempDir dir("sys");
    unsigned hi = 7, lo = 7;
    char rel[] = "relative/path";
    EXPECT_EQ(rsb_getFreeSpace(rel, int(sizeof(rel)), &hi, &lo), 0);
    EXPECT_EQ(uint64_t(hi) << 32 | lo, 0u);

    std::string missing = dir.File("not/yet/made");
    std::vector<char> buf(missing.begin(), missing.end());
    buf.push_back(0);
    EXPECT_EQ(rsb_getFreeSpace(buf.data(), int(buf.size()), &hi, &lo), 0);
    EXPECT_GT(uint64_t(hi) << 32 | lo, 0u);
    // The buffer was cut back to the folder that answered.
    EXPECT_STREQ(buf.data(), dir.Path().c_str());
}

// The portability layer: formatters and string helpers as the front ends
// show them, path helpers that must never write past a caller's buffer,
// GB2312 conversions, and the system-call wrappers.
#include "core/Portability.h"
#include "core/Status.h"
#include "tests/support/ImageFile.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tessaroo;
using namespace tessaroo::test;

namespace
{
// A destination of size bytes inside a larger array of canary bytes: any
// write outside [0, size) shows.
template <typename T> class Guarded
{
  public:
    explicit Guarded(size_t size, T canary = T(0x5A))
        : m_size(size), m_canary(canary), m_buf(size + 32, canary)
    {
    }
    T* Get() { return &m_buf[16]; }
    size_t Size() const { return m_size; }
    bool Intact() const
    {
        for (size_t i = 0; i < 16; ++i)
            if (m_buf[i] != m_canary || m_buf[16 + m_size + i] != m_canary)
                return false;
        return true;
    }

  private:
    size_t m_size;
    T m_canary;
    std::vector<T> m_buf;
};
} // namespace

// --- formatters --------------------------------------------------------------

struct SizeCase
{
    long long bytes;
    const char* text;
};

class FileSizeString : public ::testing::TestWithParam<SizeCase>
{
};

TEST_P(FileSizeString, Format)
{
    EXPECT_EQ(GetFileSizeString(GetParam().bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Table, FileSizeString,
                         ::testing::Values(SizeCase{0, "0 Bytes"}, SizeCase{1, "1 Bytes"},
                                           SizeCase{1023, "1023 Bytes"}, SizeCase{1024, "1.00 KB"},
                                           SizeCase{1536, "1.50 KB"}, SizeCase{1048575, "1024.00 KB"},
                                           SizeCase{1048576, "1.00 MB"}, SizeCase{1073741824LL, "1.00 GB"},
                                           SizeCase{5LL * 1073741824LL + 536870912LL, "5.50 GB"},
                                           SizeCase{1099511627776LL, "1.00 TB"},
                                           SizeCase{3LL * 1099511627776LL, "3.00 TB"}));

struct TimeCase
{
    long long seconds;
    const char* text;
};

class TimeString : public ::testing::TestWithParam<TimeCase>
{
};

TEST_P(TimeString, Format)
{
    EXPECT_EQ(GetTimeString(GetParam().seconds), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Table, TimeString,
                         ::testing::Values(TimeCase{0, "0 Sec"}, TimeCase{59, "59 Sec"},
                                           TimeCase{60, "1 Min 0 Sec"}, TimeCase{3599, "59 Min 59 Sec"},
                                           TimeCase{3600, "1 Hour 0 Min"}, TimeCase{3661, "1 Hour 1 Min"},
                                           TimeCase{90061, "25 Hour 1 Min"}));

// --- string helpers ----------------------------------------------------------

struct DirIndexCase
{
    const wchar_t* path;
    int count;
};

class PathDirIndex : public ::testing::TestWithParam<DirIndexCase>
{
};

TEST_P(PathDirIndex, CountsSeparatorsButTheLastUnit)
{
    int count = -1;
    EXPECT_EQ(GetPathDirIndex(GetParam().path, count), 0);
    EXPECT_EQ(count, GetParam().count);
}

INSTANTIATE_TEST_SUITE_P(Table, PathDirIndex,
                         ::testing::Values(DirIndexCase{L"/a/b/", 2}, DirIndexCase{L"/", 0},
                                           DirIndexCase{L"", 0}, DirIndexCase{L"a", 0},
                                           DirIndexCase{L"//", 1}, DirIndexCase{L"/home/user/Recovered", 3},
                                           DirIndexCase{L"C:\\a\\b", 2}, DirIndexCase{L"/mixed\\sep/x", 3}));

TEST(EraseStringTailBlankChar, StopsAtTheFirstByte)
{
    struct Case
    {
        const char* in;
        int len;
        const char* out;
    } cases[] = {
        {"abc   ", 6, "abc"}, {"a b  ", 5, "a b"}, {"abc", 3, "abc"}, {"      ", 6, ""}, {"ab  ", 0, "ab  "}};
    for (const Case& c : cases)
    {
        // A blank right before the string must survive: the walk ends at index 0.
        char buf[32];
        memset(buf, ' ', sizeof(buf));
        char* s = buf + 8;
        memcpy(s, c.in, strlen(c.in) + 1);
        EraseStringTailBlankChar(s, c.len);
        EXPECT_STREQ(s, c.out) << c.in;
        EXPECT_EQ(buf[7], ' ') << c.in;
    }
}

TEST(LowerCase, OnlyAsciiLettersChange)
{
    char a[] = "ABC.Txt-\xC4\xE3Z";
    EXPECT_EQ(GetCharLowerA(a), a);
    EXPECT_STREQ(a, "abc.txt-\xC4\xE3z");
    char b[] = "README.TXT";
    EXPECT_EQ(Convert2Lowercase(b), 10);
    EXPECT_STREQ(b, "readme.txt");
    wchar_t w[] = L"PHOTO.JPG\u00C4\u4E2D@[";
    EXPECT_EQ(GetCharLowerW(w), w);
    EXPECT_STREQ(w, L"photo.jpg\u00C4\u4E2D@[");
}

struct ExtendNameCase
{
    const char* name;
    size_t extSize;
    int status;
    const char* ext; // expected, or the unchanged "~~" when the status is 87
};

class ExtendName : public ::testing::TestWithParam<ExtendNameCase>
{
};

TEST_P(ExtendName, TextAfterTheLastPoint)
{
    const ExtendNameCase& c = GetParam();
    Guarded<char> ext(c.extSize);
    strcpy(ext.Get(), c.extSize >= 3 ? "~~" : "");
    const std::string before = ext.Get();
    EXPECT_EQ(GetExtendName(c.name, ext.Get(), ext.Size()), c.status);
    EXPECT_STREQ(ext.Get(), c.status == 0 ? c.ext : before.c_str());
    EXPECT_TRUE(ext.Intact());
}

INSTANTIATE_TEST_SUITE_P(Table, ExtendName,
                         ::testing::Values(ExtendNameCase{"archive.tar.gz", 16, 0, "gz"},
                                           ExtendNameCase{"photo.jpg", 16, 0, "jpg"},
                                           ExtendNameCase{"README", 16, 87, nullptr},
                                           ExtendNameCase{"name.", 16, 0, ""},
                                           ExtendNameCase{".profile", 16, 0, "profile"},
                                           // Cut to the destination, at a character boundary.
                                           ExtendNameCase{"movie.mpeg4", 4, 0, "mpe"},
                                           ExtendNameCase{"x.\xD5\xD5\xC6\xAC", 4, 0, "\xD5\xD5"},
                                           ExtendNameCase{"x.\xD5\xD5\xC6\xAC", 5, 0, "\xD5\xD5\xC6\xAC"}));

TEST(ExtendName, NullArguments)
{
    char ext[8] = "same";
    EXPECT_EQ(GetExtendName(nullptr, ext, sizeof(ext)), 87);
    EXPECT_EQ(GetExtendName("a.txt", nullptr, 8), 87);
    EXPECT_STREQ(ext, "same");
}

struct SplitCase
{
    const char* path;
    const char* dir;
    const char* fname;
    const char* ext;
};

class SplitPath : public ::testing::TestWithParam<SplitCase>
{
};

TEST_P(SplitPath, Parts)
{
    const SplitCase& c = GetParam();
    char drive[8] = "x", dir[256], fname[256], ext[256];
    _splitpath(c.path, drive, sizeof(drive), dir, sizeof(dir), fname, sizeof(fname), ext, sizeof(ext));
    EXPECT_STREQ(drive, "");
    EXPECT_STREQ(dir, c.dir);
    EXPECT_STREQ(fname, c.fname);
    EXPECT_STREQ(ext, c.ext);
}

INSTANTIATE_TEST_SUITE_P(Table, SplitPath,
                         ::testing::Values(SplitCase{"/x/y/photo.jpg", "/x/y/", "photo", ".jpg"},
                                           SplitCase{"photo.jpg", "", "photo", ".jpg"},
                                           SplitCase{"README", "", "README", ""},
                                           SplitCase{"/x/y/", "/x/y/", "", ""},
                                           SplitCase{"/a.b/file", "/a.b/", "file", ""},
                                           SplitCase{"/a/archive.tar.gz", "/a/", "archive.tar", ".gz"},
                                           SplitCase{"/", "/", "", ""}, SplitCase{"", "", "", ""}));

TEST(SplitPath, NullPathAndShortBuffers)
{
    char drive[4] = "x", dir[8] = "x", fname[8] = "x", ext[8] = "x";
    _splitpath(nullptr, drive, sizeof(drive), dir, sizeof(dir), fname, sizeof(fname), ext, sizeof(ext));
    EXPECT_STREQ(dir, "");
    EXPECT_STREQ(fname, "");
    EXPECT_STREQ(ext, "");

    Guarded<char> gdir(6), gname(4), gext(3), gdrive(1);
    _splitpath("/home/user/holiday.jpeg", gdrive.Get(), gdrive.Size(), gdir.Get(), gdir.Size(), gname.Get(),
               gname.Size(), gext.Get(), gext.Size());
    EXPECT_STREQ(gdir.Get(), "/home");
    EXPECT_STREQ(gname.Get(), "hol");
    EXPECT_STREQ(gext.Get(), ".j");
    EXPECT_STREQ(gdrive.Get(), "");
    EXPECT_TRUE(gdir.Intact() && gname.Intact() && gext.Intact() && gdrive.Intact());
    // A part the caller does not want may be null.
    _splitpath("/a/b.c", nullptr, 0, nullptr, 0, fname, sizeof(fname), nullptr, 0);
    EXPECT_STREQ(fname, "b");
}

TEST(RealFileName, CountsUpToAFreeName)
{
    TempDir dir("names");
    const std::string a = dir.File("a.txt");
    wchar_t out[512];
    GetRealFileName(a.c_str(), out, 512);
    EXPECT_EQ(std::wstring(out), Utf8ToWide(a.c_str()));

    ASSERT_TRUE(WriteImageFile(a, {}));
    ASSERT_TRUE(WriteImageFile(dir.File("a(1).txt"), {}));
    GetRealFileName(a.c_str(), out, 512);
    EXPECT_EQ(std::wstring(out), Utf8ToWide(dir.File("a(2).txt").c_str()));

    // A folder of that name counts as taken too; no extension, no point.
    ASSERT_EQ(mkdir(dir.File("photos").c_str(), 0755), 0);
    GetRealFileName(dir.File("photos").c_str(), out, 512);
    EXPECT_EQ(std::wstring(out), Utf8ToWide(dir.File("photos(1)").c_str()));

    // A point in a folder name is not an extension.
    ASSERT_EQ(mkdir(dir.File("v.1").c_str(), 0755), 0);
    ASSERT_TRUE(WriteImageFile(dir.File("v.1/notes"), {}));
    GetRealFileName(dir.File("v.1/notes").c_str(), out, 512);
    EXPECT_EQ(std::wstring(out), Utf8ToWide(dir.File("v.1/notes(1)").c_str()));

    // A name in GB2312-free Unicode goes through UTF-8 both ways.
    const std::string cn = dir.File("\xE7\x85\xA7\xE7\x89\x87.jpg"); // 照片.jpg
    ASSERT_TRUE(WriteImageFile(cn, {}));
    GetRealFileName(cn.c_str(), out, 512);
    EXPECT_EQ(std::wstring(out), Utf8ToWide(dir.File("\xE7\x85\xA7\xE7\x89\x87(1).jpg").c_str()));
}

TEST(RealFileName, NeverWritesPastTheOutput)
{
    TempDir dir("names");
    Guarded<wchar_t> out(5, L'#');
    GetRealFileName(dir.File("long-name.txt").c_str(), out.Get(), int(out.Size()));
    EXPECT_EQ(std::wstring(out.Get()), Utf8ToWide(dir.File("long-name.txt").substr(0, 4).c_str()));
    EXPECT_TRUE(out.Intact());
}

// --- names read off a disk as target names -----------------------------------

struct SafeNameCase
{
    const char* name;
    const char* safe;
};

class SafeTargetName : public ::testing::TestWithParam<SafeNameCase>
{
};

TEST_P(SafeTargetName, OneComponentInsideTheDestination)
{
    const std::string safe = MakeSafeTargetName(GetParam().name);
    EXPECT_EQ(safe, GetParam().safe);
    // Whatever the name, destination + "/" + safe names an entry directly in
    // the destination: no separator, never "." or "..", never empty.
    EXPECT_EQ(safe.find('/'), std::string::npos);
    EXPECT_EQ(safe.find('\\'), std::string::npos);
    EXPECT_FALSE(safe.empty() || safe == "." || safe == "..");
}

INSTANTIATE_TEST_SUITE_P(
    Table, SafeTargetName,
    ::testing::Values(SafeNameCase{"photo.jpg", "photo.jpg"}, SafeNameCase{"", "_"}, SafeNameCase{".", "_"},
                      SafeNameCase{"..", "__"}, SafeNameCase{"../../etc/passwd", ".._.._etc_passwd"},
                      SafeNameCase{"..\\..\\boot.ini", ".._.._boot.ini"}, SafeNameCase{"/abs", "_abs"},
                      SafeNameCase{"dir/", "dir_"}, SafeNameCase{"...", "..."},
                      SafeNameCase{"!ELETED.TXT", "!ELETED.TXT"},
                      // Two-byte GB2312 characters pass whole: no trail byte is a separator.
                      SafeNameCase{"\xD5\xD5\xC6\xAC.jpg", "\xD5\xD5\xC6\xAC.jpg"}));

TEST(SafeTargetName, NullName)
{
    EXPECT_EQ(MakeSafeTargetName(nullptr), "_");
}

// --- conversions -------------------------------------------------------------

struct ToGbCase
{
    const char* name;
    const wchar_t* src;
    long dstSize;
    long srcLen;
    const char* out;
};

class WideToGb2312 : public ::testing::TestWithParam<ToGbCase>
{
};

TEST_P(WideToGb2312, TruncatesAtCharacterBoundaries)
{
    const ToGbCase& c = GetParam();
    Guarded<char> dst(size_t(c.dstSize));
    EXPECT_EQ(inner_uni2str(dst.Get(), c.src, c.dstSize, c.srcLen), long(strlen(c.out)));
    EXPECT_STREQ(dst.Get(), c.out);
    EXPECT_TRUE(dst.Intact());
}

INSTANTIATE_TEST_SUITE_P(
    Table, WideToGb2312,
    ::testing::Values(ToGbCase{"Ascii", L"photo.jpg", 64, -1, "photo.jpg"},
                      ToGbCase{"Chinese", L"\u4E2D\u6587", 64, -1, "\xD6\xD0\xCE\xC4"},
                      ToGbCase{"ExactFit", L"\u4E2D\u6587", 5, -1, "\xD6\xD0\xCE\xC4"},
                      // Three bytes of room hold one two-byte character, never half of the next.
                      ToGbCase{"CutBeforeHalfACharacter", L"\u4E2D\u6587", 4, -1, "\xD6\xD0"},
                      ToGbCase{"CutAfterAscii", L"a\u4E2D", 3, -1, "a"},
                      ToGbCase{"OnlyTheTerminatorFits", L"abc", 1, -1, ""},
                      ToGbCase{"SourceLengthLimits", L"abcdef", 64, 3, "abc"},
                      // Characters GB2312 cannot hold: Hangul, an emoji, the euro sign.
                      ToGbCase{"Unrepresentable", L"a\uD55Cb\U0001F600c\u20AC", 64, -1, "a?b?c?"},
                      ToGbCase{"UnrepresentableAtTheCut", L"ab\uD55Ccd", 4, -1, "ab?"}),
    [](const ::testing::TestParamInfo<ToGbCase>& i) { return std::string(i.param.name); });

struct FromGbCase
{
    const char* name;
    const char* src;
    long dstSize;
    long srcLen;
    const wchar_t* out;
};

class Gb2312ToWide : public ::testing::TestWithParam<FromGbCase>
{
};

TEST_P(Gb2312ToWide, TruncatesAndMarksBadBytes)
{
    const FromGbCase& c = GetParam();
    Guarded<wchar_t> dst(size_t(c.dstSize), L'#');
    EXPECT_EQ(inner_str2uni(dst.Get(), c.src, c.dstSize, c.srcLen), long(wcslen(c.out)));
    EXPECT_EQ(std::wstring(dst.Get()), c.out);
    EXPECT_TRUE(dst.Intact());
}

INSTANTIATE_TEST_SUITE_P(
    Table, Gb2312ToWide,
    ::testing::Values(FromGbCase{"Ascii", "notes.txt", 64, -1, L"notes.txt"},
                      FromGbCase{"Chinese", "\xD5\xD5\xC6\xAC.jpg", 64, -1, L"\u7167\u7247.jpg"},
                      FromGbCase{"CutToDestination", "\xD6\xD0\xCE\xC4", 2, -1, L"\u4E2D"},
                      FromGbCase{"SourceLengthEndsOnACharacter", "\xD6\xD0\xCE\xC4", 64, 2, L"\u4E2D"},
                      FromGbCase{"ByteStartingNoCharacter",
                                 "a\xFF"
                                 "b",
                                 64, -1, L"a?b"},
                      FromGbCase{"LeadByteCutOff", "a\xD6", 64, -1, L"a?"},
                      FromGbCase{"LeadByteBeforeAscii",
                                 "\xD6"
                                 "A",
                                 64, -1, L"?A"},
                      FromGbCase{"Empty", "", 8, -1, L""}),
    [](const ::testing::TestParamInfo<FromGbCase>& i) { return std::string(i.param.name); });

TEST(Conversions, WholeStringForms)
{
    char a[16];
    EXPECT_EQ(Unicode2Ansi(L"\u4E2Dx", a, sizeof(a)), 0);
    EXPECT_STREQ(a, "\xD6\xD0x");
    EXPECT_EQ(Unicode2Ansi(nullptr, a, sizeof(a)), -1);
    EXPECT_EQ(Unicode2Ansi(L"x", nullptr, 4), -1);
    EXPECT_EQ(Unicode2Ansi(L"x", a, 0), -1);
    wchar_t w[16];
    EXPECT_EQ(Ansi2Unicode("\xD6\xD0x", w, 16), 0);
    EXPECT_EQ(std::wstring(w), L"\u4E2Dx");
    EXPECT_EQ(Ansi2Unicode(nullptr, w, 16), -1);

    // The string-object forms hold the whole text: two bytes per character at most.
    const std::wstring many(300, L'\u6587');
    EXPECT_EQ(Unicode2Ansi(many.c_str()).size(), 600u);
    EXPECT_EQ(Ansi2Unicode(Unicode2Ansi(many.c_str()).c_str()), many);
    EXPECT_EQ(Unicode2Ansi(static_cast<const wchar_t*>(nullptr)), "");
    EXPECT_EQ(Ansi2Unicode(static_cast<const char*>(nullptr)), L"");
}

TEST(Conversions, CopyGb2312CutsAtACharacterBoundary)
{
    struct Case
    {
        const char* src;
        size_t size;
        const char* out;
    } cases[] = {{"ab\xD6\xD0", 4, "ab"},
                 {"ab\xD6\xD0", 5, "ab\xD6\xD0"},
                 {"\xD6\xD0\xCE\xC4", 4, "\xD6\xD0"},
                 {"abc", 1, ""},
                 {"a\xD6", 8, "a"}, // a lead byte without its trail is dropped
                 {"", 4, ""}};
    for (const Case& c : cases)
    {
        Guarded<char> dst(c.size);
        CopyGb2312(dst.Get(), dst.Size(), c.src);
        EXPECT_STREQ(dst.Get(), c.out) << c.src;
        EXPECT_TRUE(dst.Intact()) << c.src;
    }
    Guarded<wchar_t> w(3, L'#');
    CopyWide(w.Get(), w.Size(), L"abcdef");
    EXPECT_EQ(std::wstring(w.Get()), L"ab");
    EXPECT_TRUE(w.Intact());
}

TEST(Conversions, Utf8PathsRoundTrip)
{
    const std::wstring w = L"/media/\u7167\u7247/caf\u00E9 \U0001F600.jpg";
    const std::string u = WideToUtf8(w.c_str());
    EXPECT_EQ(u, "/media/\xE7\x85\xA7\xE7\x89\x87/caf\xC3\xA9 \xF0\x9F\x98\x80.jpg");
    EXPECT_EQ(Utf8ToWide(u.c_str()), w);
    // Broken sequences become U+FFFD and the walk goes on.
    EXPECT_EQ(Utf8ToWide("a\xC3"
                         "b"),
              L"a\uFFFDb");
    EXPECT_EQ(Utf8ToWide("\xE7\x85"), L"\uFFFD");
    EXPECT_EQ(Utf8ToWide("\xFF"
                         "x"),
              L"\uFFFDx");
    EXPECT_EQ(WideToUtf8(L"\xD800"), "\xEF\xBF\xBD");
    // Node names: GB2312 on the volume side, UTF-8 on the file-system side.
    EXPECT_EQ(Gb2312ToUtf8("\xD5\xD5\xC6\xAC.jpg"), "\xE7\x85\xA7\xE7\x89\x87.jpg");
    EXPECT_EQ(Utf8ToGb2312("\xE7\x85\xA7\xE7\x89\x87.jpg"), "\xD5\xD5\xC6\xAC.jpg");
}

TEST(Conversions, InitUnicodeMap)
{
    EXPECT_EQ(inner_initUnicodeMap("UTF-8"), 0);
    EXPECT_EQ(inner_initUnicodeMap("NO-SUCH-CHARSET-AT-ALL"), -1);
    EXPECT_EQ(inner_initUnicodeMap(nullptr), -1);
}

// --- system-call wrappers ----------------------------------------------------

TEST(SystemWrappers, StatAndSizeOfADescriptor)
{
    EXPECT_EQ(rsb_statH(-1, nullptr), -1);
    TempDir dir("sys");
    const std::string path = dir.File("big.img");
    int fd = open(path.c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    // A sparse file past 4 GiB: the size needs both halves.
    ASSERT_EQ(ftruncate(fd, off_t(5) * 1024 * 1024 * 1024 + 123), 0);
    EXPECT_EQ(rsb_statH(fd, nullptr), 0);
    STRUCT_RSB_FILE_ATTR attr;
    memset(&attr, 0, sizeof(attr));
    EXPECT_EQ(rsb_statH(fd, &attr), 0);
    EXPECT_EQ(attr.uSizeHigh, 1u);
    EXPECT_EQ(attr.uSizeLow, 1024u * 1024 * 1024 + 123);
    int low = 0, high = 0;
    EXPECT_EQ(rsb_getFileSizeH(fd, &low, &high), 0);
    EXPECT_EQ(high, 1);
    EXPECT_EQ(low, 1024 * 1024 * 1024 + 123);
    EXPECT_EQ(rsb_getFileSizeH(fd, &low, nullptr), 0);
    close(fd);
    EXPECT_EQ(rsb_statH(fd, &attr), -1);
    EXPECT_EQ(rsb_getFileSizeH(-1, &low, &high), -1);
}

TEST(SystemWrappers, FreeSpaceWalksUpToAnExistingFolder)
{
    TempDir dir("sys");
    unsigned hi = 7, lo = 7;
    char rel[] = "relative/path";
    EXPECT_EQ(rsb_getFreeSpace(rel, int(sizeof(rel)), &hi, &lo), 0);
    EXPECT_EQ(hi, 0u);
    EXPECT_EQ(lo, 0u);

    std::string missing = dir.File("not/yet/made");
    std::vector<char> buf(missing.begin(), missing.end());
    buf.push_back(0);
    EXPECT_EQ(rsb_getFreeSpace(buf.data(), int(buf.size()), &hi, &lo), 0);
    EXPECT_GT(uint64_t(hi) << 32 | lo, 0u);
    // The buffer was cut back to the folder that answered.
    EXPECT_STREQ(buf.data(), dir.Path().c_str());
}

TEST(SystemWrappers, ClocksAgreeWithTheSystem)
{
    SYSTEMTIME t;
    memset(&t, 0, sizeof(t));
    const time_t now = time(nullptr);
    ASSERT_EQ(rsb_getSystemTime(&t), 0);
    struct tm u;
    gmtime_r(&now, &u);
    EXPECT_EQ(t.wYear, u.tm_year + 1900);
    EXPECT_EQ(t.wMonth, u.tm_mon + 1);
    EXPECT_GE(t.wDay, 1);
    EXPECT_LE(t.wDayOfWeek, 6);
    EXPECT_LT(t.wMilliseconds, 1000);
    EXPECT_EQ(rsb_getLocalTime(&t), 0);
    const unsigned long long a = rsb_getTickCount();
    EXPECT_EQ(rsb_msleep(15), 0);
    EXPECT_GE(rsb_getTickCount(), a);
}

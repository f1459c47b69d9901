#include "core/Portability.h"

#include "core/Status.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iconv.h>
#include <unistr.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <sys/times.h>
#include <unistd.h>
#include <vector>

using namespace tessaroo;

// --- system-call wrappers ----------------------------------------------------

int rsb_getFreeSpace(char* path, int pathLen, unsigned int* freeHigh, unsigned int* freeLow)
{
    if (freeHigh)
        *freeHigh = 0;
    if (freeLow)
        *freeLow = 0;
    if (!path || pathLen <= 0 || path[0] != '/')
        return 0;
    path[pathLen - 1] = 0;
    while (true)
    {
        struct statvfs sv;
        if (statvfs(path, &sv) == 0)
        {
            uint64_t bytes = uint64_t(sv.f_bavail) * uint64_t(sv.f_frsize);
            if (freeHigh)
                *freeHigh = unsigned(bytes >> 32);
            if (freeLow)
                *freeLow = unsigned(bytes);
            return 0;
        }
        size_t len = strlen(path);
        if (len <= 1)
            return -1;
        char* slash = strrchr(path, '/');
        if (slash == path)
            path[1] = 0;
        else if (slash)
            *slash = 0;
        else
            return -1;
    }
}

int rsb_msleep(int ms)
{
    if (ms < 0)
        ms = 0;
    struct timespec ts;
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = long(ms % 1000) * 1000000L;
    return nanosleep(&ts, nullptr);
}

namespace
{
int FillSystemTime(SYSTEMTIME* t, bool local)
{
    if (!t)
        return STATUS_INVALID_PARAMETER;
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    struct tm tmv;
    time_t secs = tv.tv_sec;
    if (!(local ? localtime_r(&secs, &tmv) : gmtime_r(&secs, &tmv)))
        return 34;
    t->wYear = uint16_t(tmv.tm_year + 1900);
    t->wMonth = uint16_t(tmv.tm_mon + 1);
    t->wDay = uint16_t(tmv.tm_mday);
    t->wDayOfWeek = uint16_t(tmv.tm_wday);
    t->wHour = uint16_t(tmv.tm_hour);
    t->wMinute = uint16_t(tmv.tm_min);
    t->wSecond = uint16_t(tmv.tm_sec);
    t->wMilliseconds = uint16_t(tv.tv_usec / 1000);
    return 0;
}
} // namespace

int rsb_getLocalTime(SYSTEMTIME* t)
{
    return FillSystemTime(t, true);
}

int rsb_getSystemTime(SYSTEMTIME* t)
{
    return FillSystemTime(t, false);
}

unsigned long long rsb_getTickCount()
{
    struct tms tb;
    clock_t ticks = times(&tb);
    long hz = sysconf(_SC_CLK_TCK);
    if (hz <= 0)
        hz = 100;
    return (unsigned long long)(ticks)*1000ULL / (unsigned long long)hz;
}

// --- text conversions --------------------------------------------------------

namespace
{
// A name cut to fit keeps an extension of at most this many bytes (point
// included); a longer "extension" is part of the name.
constexpr size_t MAX_KEPT_EXTENSION_BYTES = 16;

size_t WideLen(const wchar_t* s, long maxLen)
{
    size_t n = 0;
    while ((maxLen < 0 || long(n) < maxLen) && s[n])
        ++n;
    return n;
}
} // namespace

long inner_uni2str(char* dst, const wchar_t* src, long dstSize, long srcLen)
{
    if (!dst || dstSize <= 0)
        return 0;
    dst[0] = 0;
    if (!src)
        return 0;
    const std::wstring w(src, WideLen(src, srcLen));
    const std::string utf8 = WideToUtf8(w.c_str());
    CopyUtf8(dst, size_t(dstSize), utf8.c_str());
    return long(strlen(dst));
}

long inner_str2uni(wchar_t* dst, const char* src, long dstSize, long srcLen)
{
    if (!dst || dstSize <= 0)
        return 0;
    dst[0] = 0;
    if (!src)
        return 0;
    const size_t bytes = srcLen < 0 ? strlen(src) : strnlen(src, size_t(srcLen));
    // A sequence cut by srcLen decodes as U+FFFD, like any other broken one.
    const std::wstring w = Utf8ToWide(std::string(src, bytes).c_str());
    const size_t n = std::min(w.size(), size_t(dstSize - 1));
    std::copy(w.begin(), w.begin() + long(n), dst);
    dst[n] = 0;
    return long(n);
}

int Unicode2Ansi(const wchar_t* src, char* dst, int dstSize)
{
    if (!src || !dst || dstSize <= 0)
        return -1;
    inner_uni2str(dst, src, dstSize, -1);
    return 0;
}

int Ansi2Unicode(const char* src, wchar_t* dst, int dstSize)
{
    if (!src || !dst || dstSize <= 0)
        return -1;
    inner_str2uni(dst, src, dstSize, -1);
    return 0;
}

std::string Unicode2Ansi(const wchar_t* src)
{
    return WideToUtf8(src);
}

std::wstring Ansi2Unicode(const char* src)
{
    return Utf8ToWide(src);
}

int inner_initUnicodeMap(const char* charset)
{
    // Kept for start-up compatibility: the converters are opened and closed
    // again; every conversion of the system is between UTF-32 and UTF-8.
    if (!charset)
        return -1;
    iconv_t a = iconv_open("UNICODELITTLE", charset);
    if (a == iconv_t(-1))
        return -1;
    iconv_t b = iconv_open(charset, "UNICODELITTLE");
    iconv_close(a);
    if (b == iconv_t(-1))
        return -1;
    iconv_close(b);
    return 0;
}

namespace
{
// One converter per thread and direction: an iconv descriptor carries shift
// state and must not be shared between the user-interface and worker threads.
class CIconv
{
  public:
    CIconv(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~CIconv()
    {
        if (m_cd != iconv_t(-1))
            iconv_close(m_cd);
    }
    CIconv(const CIconv&) = delete;
    CIconv& operator=(const CIconv&) = delete;

    // Converts all of in. A byte sequence that starts no character of the
    // source encoding, or a character the target cannot hold, gives
    // replacement, and the walk goes on after that byte (or, for a UTF-8
    // source, after that whole character).
    std::string Convert(const std::string& in, const char* replacement, bool utf8Source)
    {
        std::string out;
        if (m_cd == iconv_t(-1))
            return out;
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char* src = const_cast<char*>(in.data());
        size_t srcLeft = in.size();
        char chunk[256];
        while (srcLeft > 0)
        {
            char* dst = chunk;
            size_t dstLeft = sizeof(chunk);
            const size_t r = iconv(m_cd, &src, &srcLeft, &dst, &dstLeft);
            out.append(chunk, size_t(dst - chunk));
            if (r != size_t(-1) || errno == E2BIG)
                continue;
            // EILSEQ, or EINVAL for a sequence cut off at the end.
            out += replacement;
            size_t skip = 1;
            if (utf8Source)
            {
                ucs4_t c = 0;
                skip = size_t(u8_mbtouc(&c, reinterpret_cast<const uint8_t*>(src), srcLeft));
            }
            skip = std::min(skip, srcLeft);
            src += skip;
            srcLeft -= skip;
            iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        }
        return out;
    }

  private:
    iconv_t m_cd;
};
} // namespace

namespace tessaroo
{
namespace
{
// Appends one code point as UTF-8; anything that is not a Unicode scalar
// value becomes U+FFFD.
void AppendUtf8(std::string& out, ucs4_t c)
{
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        c = 0xFFFD;
    uint8_t bytes[6];
    const int n = u8_uctomb(bytes, c, sizeof(bytes));
    if (n > 0)
        out.append(reinterpret_cast<const char*>(bytes), size_t(n));
}
} // namespace

std::string WideToUtf8(const wchar_t* src)
{
    std::string out;
    if (!src)
        return out;
    for (; *src; ++src)
        AppendUtf8(out, ucs4_t(uint32_t(*src)));
    return out;
}

std::wstring Utf8ToWide(const char* src)
{
    std::wstring out;
    if (!src)
        return out;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(src);
    size_t left = strlen(src);
    while (left > 0)
    {
        ucs4_t c = 0;
        // An invalid or cut sequence gives U+FFFD and consumes at least one byte.
        const int n = u8_mbtouc(&c, p, left);
        out += wchar_t(c);
        p += n;
        left -= size_t(n);
    }
    return out;
}

std::string Utf16ToUtf8(const uint16_t* units, size_t count)
{
    std::string out;
    if (!units)
        return out;
    out.reserve(count);
    while (count > 0)
    {
        ucs4_t c = 0;
        // A surrogate pair is one character; a lone surrogate gives U+FFFD.
        const int n = u16_mbtouc(&c, units, count);
        AppendUtf8(out, c);
        units += n;
        count -= size_t(n);
    }
    return out;
}

std::string SanitizeUtf8(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    const uint8_t* p = reinterpret_cast<const uint8_t*>(text.data());
    size_t left = text.size();
    while (left > 0)
    {
        ucs4_t c = 0;
        const int n = u8_mbtouc(&c, p, left);
        if (c == 0xFFFD && !(n == 3 && p[0] == 0xEF && p[1] == 0xBF && p[2] == 0xBD))
            AppendUtf8(out, 0xFFFD);
        else
            out.append(reinterpret_cast<const char*>(p), size_t(n));
        p += n;
        left -= size_t(n);
    }
    return out;
}

size_t Utf8PrefixBytes(const char* src, size_t maxBytes)
{
    if (!src)
        return 0;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(src);
    const size_t len = strlen(src);
    size_t used = 0;
    while (used < len)
    {
        ucs4_t c = 0;
        const int n = u8_mbtouc(&c, p + used, len - used);
        if (size_t(n) > maxBytes - used)
            break;
        used += size_t(n);
    }
    return used;
}

void CopyUtf8(char* dst, size_t dstSize, const char* src)
{
    if (!dst || dstSize == 0)
        return;
    const size_t n = Utf8PrefixBytes(src, dstSize - 1);
    if (n)
        memcpy(dst, src, n);
    dst[n] = 0;
}

std::string Gb2312ToUtf8(const char* src)
{
    if (!src)
        return std::string();
    thread_local CIconv fromGb("UTF-8", "GB2312");
    return fromGb.Convert(src, "\xEF\xBF\xBD", false);
}

void CopyUtf8Name(char* dst, size_t dstSize, const std::string& name)
{
    if (!dst || dstSize == 0)
        return;
    if (name.size() < dstSize)
    {
        CopyUtf8(dst, dstSize, name.c_str());
        return;
    }
    // Too long: the extension, which gives the file its kind, is kept and
    // the stem is cut at a character boundary before it.
    std::string ext;
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0 && name.size() - dot <= MAX_KEPT_EXTENSION_BYTES &&
        name.size() - dot < dstSize - 1)
        ext = name.substr(dot);
    const std::string stem = name.substr(0, name.size() - ext.size());
    const size_t keep = Utf8PrefixBytes(stem.c_str(), dstSize - 1 - ext.size());
    const std::string cut = stem.substr(0, keep) + ext;
    CopyUtf8(dst, dstSize, cut.c_str());
}

std::string MakeSafeTargetName(const char* name)
{
    // Invalid UTF-8 first, so that what is left is whole characters: every
    // byte below 0x80 is then a character of its own, never part of one.
    std::string s = SanitizeUtf8(name ? name : "");
    for (char& c : s)
        if (c == '/' || c == '\\' || uint8_t(c) < 0x20 || uint8_t(c) == 0x7F)
            c = '_';
    if (s.empty() || s == ".")
        return "_";
    if (s == "..")
        return "__";
    return s;
}

void CopyWide(wchar_t* dst, size_t dstSize, const wchar_t* src)
{
    if (!dst || dstSize == 0)
        return;
    size_t i = 0;
    if (src)
        for (; src[i] && i < dstSize - 1; ++i)
            dst[i] = src[i];
    dst[i] = 0;
}
} // namespace tessaroo

// --- string and path helpers -------------------------------------------------

int GetPathDirIndex(const wchar_t* path, int& count)
{
    count = 0;
    if (!path)
        return 0;
    size_t len = WideLen(path, -1);
    for (size_t i = 0; i + 1 < len; ++i)
        if (path[i] == L'/' || path[i] == L'\\')
            ++count;
    return 0;
}

char* GetCharLowerA(char* s)
{
    if (s)
        for (char* p = s; *p; ++p)
            if (*p >= 'A' && *p <= 'Z')
                *p = char(*p - 'A' + 'a');
    return s;
}

int Convert2Lowercase(char* s)
{
    if (!s)
        return 0;
    GetCharLowerA(s);
    return int(strlen(s));
}

wchar_t* GetCharLowerW(wchar_t* s)
{
    if (s)
        for (wchar_t* p = s; *p; ++p)
            if (*p >= 65 && *p <= 90)
                *p = wchar_t(*p + 32);
    return s;
}

int GetExtendName(const char* name, char* ext, size_t extSize)
{
    if (!name || !ext)
        return STATUS_INVALID_PARAMETER;
    const char* dot = strrchr(name, '.');
    if (!dot)
        return STATUS_INVALID_PARAMETER;
    CopyUtf8(ext, extSize, dot + 1);
    return 0;
}

std::string GetFileSizeString(long long bytes)
{
    char text[64];
    const double b = double(bytes);
    if (bytes >= 1099511627776LL)
        snprintf(text, sizeof(text), "%.2f TB", b / 1099511627776.0);
    else if (bytes >= 1073741824LL)
        snprintf(text, sizeof(text), "%.2f GB", b / 1073741824.0);
    else if (bytes >= 1048576LL)
        snprintf(text, sizeof(text), "%.2f MB", b / 1048576.0);
    else if (bytes >= 1024LL)
        snprintf(text, sizeof(text), "%.2f KB", b / 1024.0);
    else
        snprintf(text, sizeof(text), "%lld Bytes", bytes);
    return text;
}

std::string GetTimeString(long long seconds)
{
    char text[64];
    if (seconds >= 3600)
        snprintf(text, sizeof(text), "%lld Hour %lld Min", seconds / 3600, (seconds % 3600) / 60);
    else if (seconds >= 60)
        snprintf(text, sizeof(text), "%lld Min %lld Sec", seconds / 60, seconds % 60);
    else
        snprintf(text, sizeof(text), "%lld Sec", seconds);
    return text;
}

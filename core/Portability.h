// Thin portability layer: system-call wrappers (rsb_*), clocks, text
// conversions between wide (UTF-32) and 8-bit text (UTF-8, as file-system
// paths and node names are), and the small string, path and formatting
// helpers the front ends show. Every helper that writes into a caller's buffer takes its size and
// never writes past it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct SYSTEMTIME
{
    uint16_t wYear;
    uint16_t wMonth;
    uint16_t wDay;
    uint16_t wDayOfWeek; // 0 = Sunday
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
};

// --- system-call wrappers ----------------------------------------------------
// Free bytes for unprivileged users on the file system holding path; walks up
// to the parent folder while the path does not exist. Cuts path in place.
int rsb_getFreeSpace(char* path, int pathLen, unsigned int* freeHigh, unsigned int* freeLow);
int rsb_msleep(int ms);
int rsb_getLocalTime(SYSTEMTIME* t);
int rsb_getSystemTime(SYSTEMTIME* t);
unsigned long long rsb_getTickCount();

// --- text conversions --------------------------------------------------------
// Wide (UTF-32) <-> 8-bit (UTF-8). At most dstSize - 1 bytes/units and a NUL
// are written, cut at a character boundary. srcLen < 0 means "up to the
// terminator"; a UTF-8 sequence that srcLen cuts, like any invalid one, and
// a wide unit that is no Unicode scalar value, become U+FFFD. Return the
// length written.
long inner_uni2str(char* dst, const wchar_t* src, long dstSize, long srcLen);
long inner_str2uni(wchar_t* dst, const char* src, long dstSize, long srcLen);
int Unicode2Ansi(const wchar_t* src, char* dst, int dstSize);
int Ansi2Unicode(const char* src, wchar_t* dst, int dstSize);
std::string Unicode2Ansi(const wchar_t* src);
std::wstring Ansi2Unicode(const char* src);
int inner_initUnicodeMap(const char* charset);

namespace tessaroo
{
// File-system paths are UTF-8; these convert them to and from wide strings
// (invalid sequences become U+FFFD / are dropped, never overrun).
std::string WideToUtf8(const wchar_t* src);
std::wstring Utf8ToWide(const char* src);
// count UTF-16 units (NTFS and FAT long names) as UTF-8: surrogate pairs
// joined, a lone surrogate becomes U+FFFD. A NUL unit is kept as a byte 0;
// callers pass the name's length, not a terminated string.
std::string Utf16ToUtf8(const uint16_t* units, size_t count);
// text with every invalid UTF-8 sequence replaced by U+FFFD.
std::string SanitizeUtf8(const std::string& text);
// Bytes of the longest prefix of src that ends on a character boundary and
// is at most maxBytes long (an invalid byte counts as one character).
size_t Utf8PrefixBytes(const char* src, size_t maxBytes);
// Copies src into dst of dstSize bytes, NUL-terminated, cut at a UTF-8
// character boundary.
void CopyUtf8(char* dst, size_t dstSize, const char* src);
// Copies a file name read off a disk into a node's name field of dstSize
// bytes: whole when it fits, otherwise cut at a character boundary with its
// extension kept (the extension gives the file its kind). name is UTF-8.
void CopyUtf8Name(char* dst, size_t dstSize, const std::string& name);
// 8.3 names of FAT volumes written by Chinese systems carry GB2312 bytes
// above 0x7F: their text as UTF-8. A byte that starts no GB2312 character
// becomes U+FFFD.
std::string Gb2312ToUtf8(const char* src);

// A name read off a disk (UTF-8, may be null or invalid) as one safe path
// component for a target file: '/', '\\', bytes below 0x20 and 0x7F become
// '_', invalid UTF-8 becomes U+FFFD, "." and ".." become "_" and "__", an
// empty name "_". A hostile or damaged entry can never lead a copy out of
// the folder the user chose, nor give a name the file system or a terminal
// takes for something else. The stored node keeps its name; only target
// paths are formed through this.
std::string MakeSafeTargetName(const char* name);
// Copies a wide string into dst of dstSize units, NUL-terminated.
void CopyWide(wchar_t* dst, size_t dstSize, const wchar_t* src);
} // namespace tessaroo

// --- string and path helpers -------------------------------------------------
int GetPathDirIndex(const wchar_t* path, int& count);
char* GetCharLowerA(char* s);
int Convert2Lowercase(char* s);
wchar_t* GetCharLowerW(wchar_t* s);
// ext (extSize bytes) receives the text after the last '.'; 87 when an
// argument is null or name has no '.', ext then unchanged.
int GetExtendName(const char* name, char* ext, size_t extSize);
std::string GetFileSizeString(long long bytes);
std::string GetTimeString(long long seconds);

#include "recovery/KindPatterns.h"

#include "store/FileTypeLists.h"

#include <cctype>
#include <cstring>

namespace tessaroo
{
const char* const PHOTO_PATTERNS = PICTURE_TYPE_LIST;
const char* const MUSIC_PATTERNS = MUSIC_TYPE_LIST;
const char* const DOCUMENT_PATTERNS = OFFICE_TYPE_LIST;
const char* const VIDEO_PATTERNS = VIDEO_TYPE_LIST;
const char* const ARCHIVE_PATTERNS = ARCHIVE_TYPE_LIST;
const char* const OFFICE_ARCHIVE_PATTERNS =
    "*.pdf|*.doc|*.dot|*.docx|*.dotx|*.docm|*.dotm|*.rtf|*.odt|*.ppt|*.pptx|*.pptm|*.pps|*.ppsx|*.ppsm|*.odp|"
    "*.xls|*.xlsx|*.xlsm|*.csv|*.odc|*.vsd|*.vsdm|*.vsdx|*.pub|*.mpp|*.ics|*.vcf|*.msg|*.zip|*.rar|*.gzip|*."
    "tar|"
    "*.7z|*.cab|*.arj|*.lzh|*.ace|*.gz|*.uue|*.bz2|*.jar|*.iso";
const char* const OTHER_PATTERNS = OTHER_TYPE_MARKER;

std::string BuildPatternList(unsigned kinds)
{
    std::string s;
    if (kinds & KIND_PHOTO)
        s += PHOTO_PATTERNS;
    if (kinds & KIND_MUSIC)
        s += MUSIC_PATTERNS;
    if (kinds & KIND_DOCUMENT)
        s += DOCUMENT_PATTERNS;
    if (kinds & KIND_VIDEO)
        s += VIDEO_PATTERNS;
    if (kinds & KIND_ARCHIVE)
    {
        s += ARCHIVE_PATTERNS;
        s += OFFICE_ARCHIVE_PATTERNS;
    }
    if (kinds & KIND_OTHER)
        s += OTHER_PATTERNS;
    return s;
}

bool ParseKindList(const std::string& text, unsigned& kinds, std::string& bad)
{
    static const struct
    {
        const char* word;
        unsigned kind;
    } words[] = {
        {"photo", KIND_PHOTO},     {"music", KIND_MUSIC}, {"video", KIND_VIDEO}, {"document", KIND_DOCUMENT},
        {"archive", KIND_ARCHIVE}, {"other", KIND_OTHER}, {"all", KIND_ALL}};
    unsigned out = 0;
    size_t pos = 0;
    bool any = false;
    while (pos <= text.size())
    {
        size_t comma = text.find(',', pos);
        std::string w = text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        for (char& c : w)
            c = char(std::tolower((unsigned char)c));
        bool found = false;
        for (const auto& k : words)
            if (w == k.word)
            {
                out |= k.kind;
                found = true;
            }
        if (!found)
        {
            bad = w;
            return false;
        }
        any = true;
        if (comma == std::string::npos)
            break;
        pos = comma + 1;
    }
    if (!any)
    {
        bad = text;
        return false;
    }
    kinds = out;
    return true;
}

const char* GetDirTypeByFileName(const char* fileName)
{
    if (!fileName)
        return "others";
    const char* dot = strrchr(fileName, '.');
    if (!dot)
        return "others";
    std::string pattern = ".";
    for (const char* p = dot + 1; *p; ++p)
        pattern += char(std::tolower((unsigned char)*p));
    // ".x": a one-letter extension would match half of every list.
    if (pattern.size() < 3)
        return "others";
    if (strstr(PHOTO_PATTERNS, pattern.c_str()))
        return "photo";
    if (strstr(MUSIC_PATTERNS, pattern.c_str()))
        return "audio";
    if (strstr(VIDEO_PATTERNS, pattern.c_str()))
        return "video";
    if (strstr(DOCUMENT_PATTERNS, pattern.c_str()))
        return "document";
    if (strstr(ARCHIVE_PATTERNS, pattern.c_str()) || strstr(OFFICE_ARCHIVE_PATTERNS, pattern.c_str()))
        return "archive";
    return "others";
}

void GetDirTypeByFileName(const char* fileName, char* folder, size_t folderSize)
{
    if (!folder || folderSize == 0)
        return;
    const char* f = GetDirTypeByFileName(fileName);
    size_t n = strlen(f);
    if (n >= folderSize)
        n = folderSize - 1;
    memcpy(folder, f, n);
    folder[n] = 0;
}

const char* KindWordOfFolder(const char* folder)
{
    if (!folder)
        return "other";
    if (!strcmp(folder, "photo"))
        return "photo";
    if (!strcmp(folder, "audio"))
        return "music";
    if (!strcmp(folder, "video"))
        return "video";
    if (!strcmp(folder, "document"))
        return "document";
    if (!strcmp(folder, "archive"))
        return "archive";
    return "other";
}
} // namespace tessaroo

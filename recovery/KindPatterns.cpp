#include "recovery/KindPatterns.h"

#include <cctype>
#include <cstring>

namespace tessaroo
{
namespace
{
const FILE_KIND_ROW* RowOfFolder(const char* folder)
{
    for (const FILE_KIND_ROW& row : FILE_KIND_TABLE)
        if (folder && strcmp(folder, row.szFolder) == 0)
            return &row;
    return nullptr;
}
} // namespace

std::string BuildPatternList(unsigned kinds)
{
    std::string s;
    for (const FILE_KIND_ROW& row : FILE_KIND_TABLE)
    {
        if (!(kinds & row.kind))
            continue;
        s += row.szPatterns;
        if (row.szMorePatterns)
            s += row.szMorePatterns;
    }
    return s;
}

bool ParseKindList(const std::string& text, unsigned& kinds, std::string& bad)
{
    unsigned out = 0;
    size_t pos = 0;
    while (true)
    {
        const size_t comma = text.find(',', pos);
        std::string w = text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        for (char& c : w)
            c = char(std::tolower((unsigned char)c));
        unsigned kind = w == "all" ? unsigned(KIND_ALL) : 0;
        for (const FILE_KIND_ROW& row : FILE_KIND_TABLE)
            if (w == row.szWord)
                kind = row.kind;
        if (kind == 0)
        {
            bad = w;
            return false;
        }
        out |= kind;
        if (comma == std::string::npos)
            break;
        pos = comma + 1;
    }
    kinds = out;
    return true;
}

const char* GetDirTypeByFileName(const char* fileName)
{
    const char* others = RowOfFolder("others")->szFolder;
    const char* dot = fileName ? strrchr(fileName, '.') : nullptr;
    if (!dot)
        return others;
    std::string pattern = ".";
    for (const char* p = dot + 1; *p; ++p)
        pattern += char(std::tolower((unsigned char)*p));
    // ".x": a one-letter extension would match half of every list.
    if (pattern.size() < 3)
        return others;
    const FILE_KIND_ROW* best = nullptr;
    for (const FILE_KIND_ROW& row : FILE_KIND_TABLE)
    {
        if (row.kind == KIND_OTHER || (best && best->nFolderOrder < row.nFolderOrder))
            continue;
        if (strstr(row.szPatterns, pattern.c_str()) ||
            (row.szMorePatterns && strstr(row.szMorePatterns, pattern.c_str())))
            best = &row;
    }
    return best ? best->szFolder : others;
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
    const FILE_KIND_ROW* row = RowOfFolder(folder);
    return row ? row->szWord : "other";
}
} // namespace tessaroo

// Names read off a disk become file names in the user's destination folder.
// A hostile or damaged entry can hold '/', '\\' or be "." or "..": made into
// a path component unchanged, it would lead a copy outside the folder the
// user chose. Every place that forms a target path from a node's name goes
// through this one function; the stored node keeps its name.
#pragma once

#include <string>

namespace tessaroo
{
// name (GB2312, NUL-terminated, may be null) as one safe path component:
// '/' and '\\' become '_', "." and ".." become "_" and "__", and an empty
// name becomes "_". GB2312 trail bytes are 0xA1..0xFE, so no byte of a
// two-byte character is ever taken for a separator.
inline std::string MakeSafeTargetName(const char* name)
{
    std::string s = name ? name : "";
    for (char& c : s)
        if (c == '/' || c == '\\')
            c = '_';
    if (s.empty() || s == ".")
        return "_";
    if (s == "..")
        return "__";
    return s;
}
} // namespace tessaroo

// A small JSON reader for checking what the command line prints: objects,
// arrays, strings (with \u escapes and surrogate pairs), numbers, true,
// false, null. Strict: trailing text, a raw control character in a string
// or a malformed value fails the parse.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace tessaroo
{
namespace test
{
struct MiniJson
{
    bool b = false;
    double num = 0;
    std::string str;
    std::vector<MiniJson> items;
    std::map<std::string, MiniJson> fields;

    // The field, or an empty value when there is none.
    const MiniJson& operator[](const std::string& key) const
    {
        static const MiniJson none;
        auto it = fields.find(key);
        return it == fields.end() ? none : it->second;
    }
};

bool ParseJson(const std::string& text, MiniJson& out, std::string& error);
} // namespace test
} // namespace tessaroo

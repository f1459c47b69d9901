#include "tests/cli/MiniJson.h"

#include <cctype>
#include <cstdlib>

namespace tessaroo
{
namespace test
{
namespace
{
struct Parser
{
    const std::string& s;
    size_t i = 0;
    std::string error;

    bool Fail(const std::string& what)
    {
        if (error.empty())
            error = what + " at " + std::to_string(i);
        return false;
    }
    void Ws()
    {
        while (i < s.size() && std::string(" \t\r\n").find(s[i]) != std::string::npos)
            ++i;
    }
    bool Eat(char c)
    {
        Ws();
        return i < s.size() && s[i] == c ? (++i, true) : false;
    }
    bool Hex4(unsigned& v)
    {
        if (s.size() - i < 4)
            return Fail("short \\u");
        v = unsigned(strtoul(s.substr(i, 4).c_str(), nullptr, 16));
        i += 4;
        return true;
    }
    static void PutUtf8(std::string& o, unsigned cp)
    {
        const int extra = cp < 0x80 ? 0 : cp < 0x800 ? 1 : cp < 0x10000 ? 2 : 3;
        o += char(extra ? ((0xFF00 >> (extra + 1)) & 0xFF) | (cp >> (6 * extra)) : cp);
        for (int k = extra - 1; k >= 0; --k)
            o += char(0x80 | ((cp >> (6 * k)) & 0x3F));
    }
    bool Str(std::string& o)
    {
        if (!Eat('"'))
            return Fail("expected string");
        static const std::string escapes = "\"\\/bfnrt", meanings = "\"\\/\b\f\n\r\t";
        while (i < s.size() && s[i] != '"')
        {
            const unsigned char c = (unsigned char)s[i++];
            if (c < 0x20)
                return Fail("raw control character in string");
            if (c != '\\')
            {
                o += char(c);
                continue;
            }
            const size_t e = i < s.size() ? escapes.find(s[i++]) : std::string::npos;
            unsigned v = 0, lo = 0;
            if (e != std::string::npos)
                o += meanings[e];
            else if (s[i - 1] != 'u' || !Hex4(v))
                return Fail("bad escape");
            else if (v >= 0xD800 && v < 0xDC00 && s.compare(i, 2, "\\u") == 0)
            {
                i += 2;
                if (!Hex4(lo))
                    return false;
                PutUtf8(o, 0x10000 + ((v - 0xD800) << 10) + (lo - 0xDC00));
            }
            else
                PutUtf8(o, v);
        }
        return i < s.size() ? (++i, true) : Fail("unterminated string");
    }
    bool Value(MiniJson& v, int depth)
    {
        if (depth > 64)
            return Fail("too deep");
        const bool object = Eat('{');
        if (object || Eat('['))
        {
            const char close = object ? '}' : ']';
            if (Eat(close))
                return true;
            do
            {
                std::string k;
                if (object && (!Str(k) || !Eat(':')))
                    return Fail("expected a key and ':'");
                if (!object)
                    v.items.emplace_back();
                if (!Value(object ? v.fields[k] : v.items.back(), depth + 1))
                    return false;
            } while (Eat(','));
            return Eat(close) || Fail(std::string("expected ',' or ") + close);
        }
        Ws();
        if (i < s.size() && s[i] == '"')
            return Str(v.str);
        for (const char* lit : {"true", "false", "null"})
            if (s.compare(i, std::string(lit).size(), lit) == 0)
            {
                v.b = lit[0] == 't';
                i += std::string(lit).size();
                return true;
            }
        // A number: an optional minus, then a digit (strtod alone would take
        // "inf", "nan" and hexadecimal).
        char* end = nullptr;
        if (i >= s.size() || !isdigit((unsigned char)s[s[i] == '-' ? i + 1 : i]))
            return Fail("bad value");
        v.num = strtod(s.c_str() + i, &end);
        i = size_t(end - s.c_str());
        return true;
    }
};
} // namespace

bool ParseJson(const std::string& text, MiniJson& out, std::string& error)
{
    Parser p{text, 0, std::string()};
    out = MiniJson();
    if (p.Value(out, 0))
    {
        p.Ws();
        if (p.i == text.size())
            return true;
        p.Fail("trailing text");
    }
    error = p.error;
    return false;
}
} // namespace test
} // namespace tessaroo

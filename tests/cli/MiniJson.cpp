#include "tests/cli/MiniJson.h"

#include <cstdlib>

namespace tessaroo
{
namespace test
{
namespace
{
struct Parser
{
    explicit Parser(const std::string& text) : s(text) {}
    const std::string& s;
    size_t i = 0;
    std::string error;

    void Ws()
    {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\n' || s[i] == '\r' || s[i] == '\t'))
            ++i;
    }
    bool Fail(const std::string& what)
    {
        if (error.empty())
            error = what + " at " + std::to_string(i);
        return false;
    }
    bool Lit(const char* w)
    {
        size_t n = std::string(w).size();
        if (s.compare(i, n, w) != 0)
            return Fail("bad literal");
        i += n;
        return true;
    }
    static void PutUtf8(std::string& o, unsigned cp)
    {
        if (cp < 0x80)
            o += char(cp);
        else if (cp < 0x800)
            o += char(0xC0 | (cp >> 6)), o += char(0x80 | (cp & 0x3F));
        else if (cp < 0x10000)
            o += char(0xE0 | (cp >> 12)), o += char(0x80 | ((cp >> 6) & 0x3F)), o += char(0x80 | (cp & 0x3F));
        else
            o += char(0xF0 | (cp >> 18)), o += char(0x80 | ((cp >> 12) & 0x3F)),
                o += char(0x80 | ((cp >> 6) & 0x3F)), o += char(0x80 | (cp & 0x3F));
    }
    bool Hex4(unsigned& v)
    {
        if (s.size() - i < 4)
            return Fail("short \\u");
        v = unsigned(strtoul(s.substr(i, 4).c_str(), nullptr, 16));
        i += 4;
        return true;
    }
    bool Str(std::string& o)
    {
        if (s[i] != '"')
            return Fail("expected string");
        ++i;
        while (i < s.size() && s[i] != '"')
        {
            unsigned char c = (unsigned char)s[i];
            if (c < 0x20)
                return Fail("raw control character in string");
            if (c != '\\')
            {
                o += char(c);
                ++i;
                continue;
            }
            if (++i >= s.size())
                return Fail("bad escape");
            char e = s[i++];
            switch (e)
            {
            case '"':
                o += '"';
                break;
            case '\\':
                o += '\\';
                break;
            case '/':
                o += '/';
                break;
            case 'b':
                o += '\b';
                break;
            case 'f':
                o += '\f';
                break;
            case 'n':
                o += '\n';
                break;
            case 'r':
                o += '\r';
                break;
            case 't':
                o += '\t';
                break;
            case 'u':
            {
                unsigned v = 0;
                if (!Hex4(v))
                    return false;
                if (v >= 0xD800 && v < 0xDC00 && s.compare(i, 2, "\\u") == 0)
                {
                    i += 2;
                    unsigned lo = 0;
                    if (!Hex4(lo))
                        return false;
                    v = 0x10000 + ((v - 0xD800) << 10) + (lo - 0xDC00);
                }
                PutUtf8(o, v);
                break;
            }
            default:
                return Fail("bad escape");
            }
        }
        if (i >= s.size())
            return Fail("unterminated string");
        ++i;
        return true;
    }
    bool Value(MiniJson& v, int depth)
    {
        if (depth > 64)
            return Fail("too deep");
        Ws();
        if (i >= s.size())
            return Fail("unexpected end");
        char c = s[i];
        if (c == '{')
        {
            v.type = MiniJson::OBJ;
            ++i;
            Ws();
            if (i < s.size() && s[i] == '}')
                return ++i, true;
            while (true)
            {
                Ws();
                std::string k;
                if (i >= s.size() || !Str(k))
                    return Fail("expected key");
                Ws();
                if (i >= s.size() || s[i] != ':')
                    return Fail("expected ':'");
                ++i;
                if (!Value(v.fields[k], depth + 1))
                    return false;
                Ws();
                if (i < s.size() && s[i] == ',')
                {
                    ++i;
                    continue;
                }
                if (i < s.size() && s[i] == '}')
                    return ++i, true;
                return Fail("expected ',' or '}'");
            }
        }
        if (c == '[')
        {
            v.type = MiniJson::ARR;
            ++i;
            Ws();
            if (i < s.size() && s[i] == ']')
                return ++i, true;
            while (true)
            {
                v.items.emplace_back();
                if (!Value(v.items.back(), depth + 1))
                    return false;
                Ws();
                if (i < s.size() && s[i] == ',')
                {
                    ++i;
                    continue;
                }
                if (i < s.size() && s[i] == ']')
                    return ++i, true;
                return Fail("expected ',' or ']'");
            }
        }
        if (c == '"')
        {
            v.type = MiniJson::STR;
            return Str(v.str);
        }
        if (c == 't')
            return v.type = MiniJson::BOOL, v.b = true, Lit("true");
        if (c == 'f')
            return v.type = MiniJson::BOOL, v.b = false, Lit("false");
        if (c == 'n')
            return v.type = MiniJson::NUL, Lit("null");
        size_t start = i;
        if (s[i] == '-')
            ++i;
        while (i < s.size() && ((s[i] >= '0' && s[i] <= '9') || s[i] == '.' || s[i] == 'e' || s[i] == 'E' ||
                                s[i] == '+' || s[i] == '-'))
            ++i;
        if (i == start || (i == start + 1 && s[start] == '-'))
            return Fail("bad value");
        v.type = MiniJson::NUM;
        v.num = strtod(s.substr(start, i - start).c_str(), nullptr);
        return true;
    }
};
} // namespace

bool ParseJson(const std::string& text, MiniJson& out, std::string& error)
{
    Parser p(text);
    out = MiniJson();
    if (!p.Value(out, 0))
    {
        error = p.error;
        return false;
    }
    p.Ws();
    if (p.i != text.size())
    {
        error = "trailing text at " + std::to_string(p.i);
        return false;
    }
    return true;
}
} // namespace test
} // namespace tessaroo

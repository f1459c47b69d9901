#include "cli/CJsonWriter.h"

#include <cstdio>

namespace tessaroo
{
namespace
{
// Length of the valid UTF-8 sequence at s[i], or 0 when it is not one.
size_t Utf8SequenceLength(const std::string& s, size_t i)
{
    const unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = 0;
    uint32_t cp = 0;
    if (c < 0x80)
        return 1;
    if ((c & 0xE0) == 0xC0)
        n = 2, cp = c & 0x1F;
    else if ((c & 0xF0) == 0xE0)
        n = 3, cp = c & 0x0F;
    else if ((c & 0xF8) == 0xF0)
        n = 4, cp = c & 0x07;
    else
        return 0;
    if (s.size() - i < n)
        return 0;
    for (size_t k = 1; k < n; ++k)
    {
        const unsigned char t = static_cast<unsigned char>(s[i + k]);
        if ((t & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (t & 0x3F);
    }
    // Overlong forms, surrogates and values beyond Unicode are not text.
    if ((n == 2 && cp < 0x80) || (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp < 0xE000))
        return 0;
    return n;
}
} // namespace

std::string CJsonWriter::Escape(const std::string& s)
{
    std::string out;
    out.reserve(s.size() + 2);
    for (size_t i = 0; i < s.size();)
    {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '"' || c == '\\')
        {
            out += '\\';
            out += char(c);
            ++i;
        }
        else if (c < 0x20)
        {
            char buf[8];
            snprintf(buf, sizeof(buf), "\\u%04x", c);
            out += buf;
            ++i;
        }
        else
        {
            size_t n = Utf8SequenceLength(s, i);
            if (n == 0)
            {
                out += "\xEF\xBF\xBD";
                ++i;
            }
            else
            {
                out.append(s, i, n);
                i += n;
            }
        }
    }
    return out;
}

void CJsonWriter::Separate()
{
    if (m_bAfterKey)
    {
        m_bAfterKey = false;
        return;
    }
    if (!m_first.empty())
    {
        if (!m_first.back())
            m_text += ',';
        m_first.back() = false;
    }
}

void CJsonWriter::BeginObject()
{
    Separate();
    m_text += '{';
    m_first.push_back(true);
}

void CJsonWriter::EndObject()
{
    m_text += '}';
    if (!m_first.empty())
        m_first.pop_back();
}

void CJsonWriter::BeginArray()
{
    Separate();
    m_text += '[';
    m_first.push_back(true);
}

void CJsonWriter::EndArray()
{
    m_text += ']';
    if (!m_first.empty())
        m_first.pop_back();
}

void CJsonWriter::Key(const std::string& key)
{
    Separate();
    m_text += '"' + Escape(key) + "\":";
    m_bAfterKey = true;
}

void CJsonWriter::String(const std::string& value)
{
    Separate();
    m_text += '"' + Escape(value) + '"';
}

void CJsonWriter::Int(long long value)
{
    Separate();
    m_text += std::to_string(value);
}

void CJsonWriter::Uint(unsigned long long value)
{
    Separate();
    m_text += std::to_string(value);
}

void CJsonWriter::Bool(bool value)
{
    Separate();
    m_text += value ? "true" : "false";
}

void CJsonWriter::Null()
{
    Separate();
    m_text += "null";
}
} // namespace tessaroo

// A small writer of one JSON document. Text values are UTF-8; an invalid
// sequence (a name damaged on disk) is written as U+FFFD, so the document
// always parses.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessaroo
{
class CJsonWriter
{
  public:
    void BeginObject();
    void EndObject();
    void BeginArray();
    void EndArray();
    void Key(const std::string& key);
    void String(const std::string& value);
    void Int(long long value);
    void Uint(unsigned long long value);
    void Bool(bool value);
    void Null();

    // Key followed by a value.
    void Field(const std::string& key, const std::string& value) { Key(key), String(value); }
    void Field(const std::string& key, const char* value) { Key(key), String(value ? value : ""); }
    void Field(const std::string& key, long long value) { Key(key), Int(value); }
    void Field(const std::string& key, int value) { Key(key), Int(value); }
    void Field(const std::string& key, unsigned long long value) { Key(key), Uint(value); }
    void Field(const std::string& key, unsigned int value) { Key(key), Uint(value); }
    void Field(const std::string& key, bool value) { Key(key), Bool(value); }

    const std::string& Text() const { return m_text; }

    static std::string Escape(const std::string& s);

  private:
    void Separate();

    std::string m_text;
    std::vector<bool> m_first; // per open container: nothing written in it yet
    bool m_bAfterKey = false;
};
} // namespace tessaroo

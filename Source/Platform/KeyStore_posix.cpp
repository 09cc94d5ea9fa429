// The store is a UTF-8 text file "keys.txt" in the per-user root: one value per line as
// key TAB name TAB value, where "%", tabs, line breaks and other control characters in a field are
// written as "%XX". Lines that do not read that way are kept unchanged and reported, never dropped.
#include "Platform/KeyStore.h"

#include "Common/Log.h"
#include "Platform/File.h"
#include "Platform/Folders.h"

#include <string>
#include <vector>

namespace Vexel
{

namespace
{

constexpr std::size_t _MAX_STORE_BYTES = 4 * 1024 * 1024;
constexpr const char* _HEADER = "# Vexel per-user keys: key<TAB>name<TAB>value, %XX escapes\n";

struct Line
{
    std::string raw; // as read, for lines that are not records
    bool record = false;
    String key;
    String name;
    String value;
};

std::string Escape(const String& text)
{
    static const char* _HEX = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : ToNativeText(text))
    {
        if (c < 0x20 || c == '%' || c == 0x7F)
        {
            out += '%';
            out += _HEX[c >> 4];
            out += _HEX[c & 15];
        }
        else
            out += static_cast<char>(c);
    }
    return out;
}

bool Unescape(const std::string& field, String& out)
{
    std::string bytes;
    for (std::size_t i = 0; i < field.size(); ++i)
    {
        if (field[i] != '%')
        {
            bytes += field[i];
            continue;
        }
        if (i + 2 >= field.size())
            return false;
        int value = 0;
        for (std::size_t k = 1; k <= 2; ++k)
        {
            char c = field[i + k];
            int digit = (c >= '0' && c <= '9')   ? c - '0'
                        : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                        : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                                                 : -1;
            if (digit < 0)
                return false;
            value = value * 16 + digit;
        }
        bytes += static_cast<char>(value);
        i += 2;
    }
    out = FromNativeText(bytes);
    return true;
}

bool ParseRecord(const std::string& text, Line& line)
{
    std::size_t first = text.find('\t');
    std::size_t second = first == std::string::npos ? first : text.find('\t', first + 1);
    if (second == std::string::npos || text.find('\t', second + 1) != std::string::npos)
        return false;
    return Unescape(text.substr(0, first), line.key) && !line.key.empty() &&
           Unescape(text.substr(first + 1, second - first - 1), line.name) &&
           Unescape(text.substr(second + 1), line.value);
}

// Reads the store; a missing file is an empty store. False when it exists but cannot be used.
bool Load(std::vector<Line>& lines)
{
    lines.clear();
    String path = KeyStorePath();
    if (path.empty())
        return false;
    if (!FileExists(path))
        return true;
    File file;
    if (!file.OpenRead(path))
    {
        LogTrace(u"[FG] Key store %ls cannot be read", path);
        return false;
    }
    if (file.GetSize() > _MAX_STORE_BYTES)
    {
        LogTrace(u"[FG] Key store %ls is larger than %d bytes, left alone", path, int(_MAX_STORE_BYTES));
        return false;
    }
    std::vector<_byte> bytes;
    if (!file.ReadAll(bytes))
        return false;
    std::string text(bytes.begin(), bytes.end());
    std::size_t at = 0;
    int number = 0;
    while (at < text.size())
    {
        std::size_t end = text.find('\n', at);
        std::string raw = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? text.size() : end + 1;
        ++number;
        if (!raw.empty() && raw.back() == '\r')
            raw.pop_back();
        Line line;
        line.raw = raw;
        if (!raw.empty() && raw[0] != '#')
        {
            line.record = ParseRecord(raw, line);
            if (!line.record)
                LogTrace(u"[FG] Key store %ls line %d is not understood, kept as it is", path, number);
        }
        if (raw == std::string(_HEADER, std::char_traits<char>::length(_HEADER) - 1))
            continue;
        lines.push_back(std::move(line));
    }
    return true;
}

bool Save(const std::vector<Line>& lines)
{
    std::string text = _HEADER;
    for (const Line& line : lines)
    {
        if (line.record)
            text += Escape(line.key) + "\t" + Escape(line.name) + "\t" + Escape(line.value);
        else
            text += line.raw;
        text += '\n';
    }
    String root = GetUserRoot();
    if (root.empty() || !CreateFolder(root) || !WriteFile(KeyStorePath(), text.data(), text.size()))
    {
        LogTrace(u"[FG] Key store %ls cannot be written", KeyStorePath());
        return false;
    }
    return true;
}

bool Matches(const Line& line, const String& key, const String& name)
{
    return line.record && line.key.Equals(key, false) && line.name.Equals(name, false);
}

} // namespace

String KeyStorePath()
{
    String root = GetUserRoot();
    return root.empty() ? String() : JoinFolder(root, u"keys.txt");
}

// Keys live through their values here: a key is there while one of its values is.
bool UserKeyExists(const String& key)
{
    std::vector<Line> lines;
    if (key.empty() || !Load(lines))
        return false;
    for (const Line& line : lines)
        if (line.record && line.key.Equals(key, false))
            return true;
    return false;
}

bool GetUserValue(const String& key, const String& name, String& value)
{
    value.clear();
    std::vector<Line> lines;
    if (key.empty() || !Load(lines))
        return false;
    for (const Line& line : lines)
    {
        if (Matches(line, key, name))
        {
            value = line.value;
            return true;
        }
    }
    return false;
}

bool SetUserValue(const String& key, const String& name, const String& value)
{
    std::vector<Line> lines;
    if (key.empty() || !Load(lines))
        return false;
    bool found = false;
    for (auto it = lines.begin(); it != lines.end();)
    {
        if (!Matches(*it, key, name))
        {
            ++it;
            continue;
        }
        if (found)
        {
            it = lines.erase(it);
            continue;
        }
        it->value = value;
        found = true;
        ++it;
    }
    if (!found)
    {
        Line line;
        line.record = true;
        line.key = key;
        line.name = name;
        line.value = value;
        lines.push_back(std::move(line));
    }
    return Save(lines);
}

bool GetUserNumber(const String& key, const String& name, _dword& value)
{
    String text;
    if (!GetUserValue(key, name, text) || text.empty() || text.size() > 10)
        return false;
    unsigned long long number = 0;
    for (char16_t c : text)
    {
        if (c < u'0' || c > u'9')
            return false;
        number = number * 10 + static_cast<unsigned>(c - u'0');
    }
    if (number > 0xFFFFFFFFull)
        return false;
    value = static_cast<_dword>(number);
    return true;
}

bool SetUserNumber(const String& key, const String& name, _dword value)
{
    return SetUserValue(key, name, FromNativeText(std::to_string(value)));
}

bool DeleteUserValue(const String& key, const String& name)
{
    std::vector<Line> lines;
    if (key.empty() || !Load(lines))
        return false;
    std::size_t before = lines.size();
    std::erase_if(lines, [&](const Line& line) { return Matches(line, key, name); });
    return lines.size() == before || Save(lines);
}

bool DeleteUserKey(const String& key)
{
    std::vector<Line> lines;
    if (key.empty() || !Load(lines))
        return false;
    std::size_t before = lines.size();
    std::erase_if(lines, [&](const Line& line) { return line.record && line.key.Equals(key, false); });
    return lines.size() == before || Save(lines);
}

} // namespace Vexel

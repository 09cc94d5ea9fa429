#include "Storage/NameKey.h"

#include "Common/Md5.h"
#include "Common/StringEncoding.h"
#include "Common/StringFormatter.h"

namespace Vexel
{

String NormalizeResourceName(const String& name)
{
    return JoinPath(u"", name);
}

bool IsLiteralKey(const String& name)
{
    return name.find(u'<') != String::npos;
}

NameKey HashName(std::u16string_view name)
{
    _dword h1 = 0x7FED7FED;
    _dword s = 0xEEEEEEEE;
    _dword h2 = 0;
    _byte b[4] = {0, 0, 0, 0};
    for (std::size_t i = 0; i < name.size(); ++i)
    {
        char16_t c = name[i];
        _dword u = (c >= u'a' && c <= u'z') ? static_cast<_dword>(c - (u'a' - u'A')) : static_cast<_dword>(c);
        h1 = (h1 + s) ^ u;
        s = u + h1 + s + (s << 5) + 3;
        h2 = h2 * 31 + u;
        b[i % 4] = static_cast<_byte>(b[i % 4] + (u & 0xFF));
    }
    NameKey key;
    key.w[0] = h1;
    key.w[1] = h2;
    key.w[2] = static_cast<_dword>(b[0]) | static_cast<_dword>(b[1]) << 8 | static_cast<_dword>(b[2]) << 16 |
               static_cast<_dword>(b[3]) << 24;
    key.w[3] = 0;
    return key;
}

NameKey MakeNameKey(const String& folder, const String& name)
{
    // Literal digits are read from the normalised text too, so an entry's stored name always finds it.
    String joined = JoinPath(folder, name);
    std::size_t open = joined.find(u'<');
    if (open != String::npos)
    {
        // The same digit rules as the digest text: groups of eight from the end.
        MD5 words = Md5FromText(std::u16string_view(joined).substr(open + 1));
        NameKey key;
        for (int i = 0; i < 4; ++i)
            key.w[i] = words.w[i];
        return key;
    }
    return HashName(joined);
}

String NameKeyToText(const NameKey& key)
{
    return FormatString(u"<%.8x%.8x%.8x%.8x", key.w[3], key.w[2], key.w[1], key.w[0]);
}

} // namespace Vexel

// Plain text rules of the Windows web view (no system headers: they are tested on their own).
#include "Platform/Ui/Win32/UiWebViewText.h"

#include <algorithm>
#include <string>

namespace Vexel::Ui::WebText
{

namespace
{
char16_t Lower(char16_t c)
{
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

String LowerText(const String& text)
{
    String out = text;
    std::transform(out.begin(), out.end(), out.begin(), Lower);
    return out;
}

bool IsSchemeChar(char16_t c, bool first)
{
    bool letter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
    if (first)
        return letter;
    return letter || (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.';
}
} // namespace

String OriginOf(const String& url)
{
    std::size_t colon = url.find(u':');
    if (colon == String::npos || colon == 0)
        return {};
    for (std::size_t i = 0; i < colon; ++i)
        if (!IsSchemeChar(url[i], i == 0))
            return {};
    String scheme = LowerText(url.substr(0, colon));
    if (scheme == u"file")
        return u"file://";
    if (url.compare(colon + 1, 2, u"//") != 0)
        return {};
    std::size_t start = colon + 3;
    std::size_t end = url.find_first_of(u"/?#\\", start);
    String authority = url.substr(start, end == String::npos ? String::npos : end - start);
    if (std::size_t at = authority.rfind(u'@'); at != String::npos)
        authority = authority.substr(at + 1);
    String host;
    String port;
    if (!authority.empty() && authority.front() == u'[')
    {
        std::size_t close = authority.find(u']');
        if (close == String::npos)
            return {};
        host = authority.substr(0, close + 1);
        String rest = authority.substr(close + 1);
        if (!rest.empty())
        {
            if (rest.front() != u':')
                return {};
            port = rest.substr(1);
        }
    }
    else
    {
        std::size_t portColon = authority.find(u':');
        host = authority.substr(0, portColon);
        if (portColon != String::npos)
            port = authority.substr(portColon + 1);
    }
    if (host.empty() || host.find_first_of(u" \t\r\n<>\"") != String::npos)
        return {};
    if (port.size() > 5 || port.find_first_not_of(u"0123456789") != String::npos)
        return {};
    long number = 0;
    for (char16_t c : port)
        number = number * 10 + (c - u'0');
    if (number > 65535)
        return {};
    bool standard =
        port.empty() || (scheme == u"http" && number == 80) || (scheme == u"https" && number == 443);
    String origin = scheme + u"://" + LowerText(host);
    if (!standard)
    {
        std::string digits = std::to_string(number);
        origin += u":" + String(digits.begin(), digits.end());
    }
    return origin;
}

bool IsInlineAddress(const String& url)
{
    String lower = LowerText(url.substr(0, 6));
    return lower.rfind(u"about:", 0) == 0 || lower.rfind(u"data:", 0) == 0;
}

String Cut(const String& text, std::size_t limit)
{
    return text.size() > limit ? String(text.substr(0, limit)) : text;
}

void AddNamedValue(std::vector<NamedValue>& values, const std::optional<String>& name,
                   const std::optional<String>& value)
{
    if (!name || !value)
        return;
    values.push_back({Cut(*name, _MAX_NAMED_VALUE), Cut(*value, _MAX_NAMED_VALUE)});
}

bool IsEditableElement(const String& tag, const String& type, bool contentEditable)
{
    if (contentEditable)
        return true;
    String name = LowerText(tag);
    if (name == u"textarea" || name == u"select")
        return true;
    if (name != u"input")
        return false;
    static const char16_t* const plain[] = {u"button", u"checkbox", u"radio", u"submit", u"reset",
                                            u"image",  u"file",     u"color", u"range",  u"hidden"};
    String kind = LowerText(type);
    return std::none_of(std::begin(plain), std::end(plain), [&](const char16_t* p) { return kind == p; });
}

std::intptr_t VisitErrorStatus(long status)
{
    return status >= 400 && status <= 599 ? status : 0;
}

} // namespace Vexel::Ui::WebText

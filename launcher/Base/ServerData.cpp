#include "Base/ServerData.h"

#include "Common/Json.h"
#include "Common/Log.h"
#include "Common/StringEncoding.h"

#include <string>
#include <string_view>

namespace Vexel
{

namespace
{

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The position of the "[" that opens the "data" member's list, or npos.
std::size_t ListStart(std::string_view text)
{
    constexpr std::string_view key = "\"data\"";
    for (std::size_t at = text.find(key); at != std::string_view::npos; at = text.find(key, at + 1))
    {
        std::size_t i = at + key.size();
        while (i < text.size() && IsSpace(text[i]))
            ++i;
        if (i >= text.size() || text[i] != ':')
            continue;
        ++i;
        while (i < text.size() && IsSpace(text[i]))
            ++i;
        if (i < text.size() && text[i] == '[')
            return i;
    }
    return std::string_view::npos;
}

// One server object cut from the list: the text up to the next "{", without the separating comma.
std::string_view TrimObject(std::string_view piece)
{
    while (!piece.empty() && IsSpace(piece.back()))
        piece.remove_suffix(1);
    if (!piece.empty() && piece.back() == ',')
        piece.remove_suffix(1);
    while (!piece.empty() && IsSpace(piece.back()))
        piece.remove_suffix(1);
    return piece;
}

// The text of a string or number member; false when the member is missing or of another type.
bool ReadField(const JsonDocument& document, const String& name, String& value)
{
    value.clear();
    if (name.empty())
        return false;
    const JsonNode* node = document.Member(ToUtf8(name));
    if (!node || (node->mType != _JSON_STRING && node->mType != _JSON_NUMBER))
        return false;
    value = unescapeToWide(node->mText);
    return true;
}

void ReadServers(std::string_view text, const ServerDataFields& fields, ServerData& data)
{
    std::size_t open = ListStart(text);
    if (open == std::string_view::npos)
    {
        LogTrace(u"[MC] Server data: \"data\" is not a list");
        return;
    }
    data.mHasList = true;
    std::size_t close = text.find(']', open + 1);
    std::string_view list =
        text.substr(open + 1, close == std::string_view::npos ? text.npos : close - open - 1);
    if (fields.mName.empty() || fields.mUrl.empty())
    {
        LogTrace(u"[MC] Server data: no server fields named (name, id, url: %ls, %ls, %ls)", fields.mName,
                 fields.mId, fields.mUrl);
        return;
    }
    int index = 0;
    for (std::size_t start = list.find('{'); start != std::string_view::npos; ++index)
    {
        std::size_t next = list.find('{', start + 1);
        std::string_view piece = TrimObject(list.substr(start, next == list.npos ? list.npos : next - start));
        start = next;

        JsonDocument object;
        object.Parse(piece);
        String name, id, url;
        const char16_t* problem = nullptr;
        if (!object.IsComplete())
            problem = u"not an object";
        else if (!ReadField(object, fields.mName, name) || name.empty())
            problem = u"no name";
        else if (!ReadField(object, fields.mUrl, url) || !IsWebAddress(url))
            problem = u"no http address";
        if (problem)
        {
            ++data.mSkipped;
            LogTrace(u"[MC] Server data entry %d skipped (%ls): %ls", index, problem,
                     FromUtf8(piece.substr(0, 256)));
            continue;
        }
        ReadField(object, fields.mId, id);
        data.mNames.push_back(std::move(name));
        data.mIds.push_back(std::move(id));
        data.mUrls.push_back(std::move(url));
    }
}

} // namespace

ServerDataFields MakeServerDataFields(const String& currentField, const String& listFields,
                                      const String& userField, const String& imUrlField,
                                      const String& imTitleField)
{
    ServerDataFields fields;
    fields.mCurrent = currentField;
    String* parts[] = {&fields.mName, &fields.mId, &fields.mUrl};
    std::size_t part = 0, begin = 0;
    for (std::size_t i = 0; i <= listFields.size() && part < 3; ++i)
        if (i == listFields.size() || listFields[i] == u'|')
        {
            *parts[part++] = listFields.substr(begin, i - begin);
            begin = i + 1;
        }
    fields.mUser = userField;
    fields.mImUrl = imUrlField;
    fields.mImTitle = imTitleField;
    return fields;
}

bool IsWebAddress(const String& url)
{
    return StartsWith(url, u"http://", false) || StartsWith(url, u"https://", false);
}

bool ReadServerData(const std::vector<_byte>& bytes, const ServerDataFields& fields, ServerData& data,
                    std::size_t limit)
{
    data = ServerData();
    if (bytes.size() > limit)
    {
        LogTrace(u"[MC] Server data refused: %d bytes, more than %d", static_cast<_qword>(bytes.size()),
                 static_cast<_qword>(limit));
        return false;
    }
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    LogTrace(u"[MC] Server data: %ls", FromUtf8(text));

    JsonDocument document;
    document.Parse(text);
    if (!document.IsComplete())
    {
        LogTrace(u"[MC] Server data refused: not a JSON object (%d)", document.Result());
        return false;
    }
    data.mHasCurrent = ReadField(document, fields.mCurrent, data.mCurrent);
    data.mHasUser = ReadField(document, fields.mUser, data.mUser);
    String imUrl, imTitle;
    if (ReadField(document, fields.mImUrl, imUrl) && ReadField(document, fields.mImTitle, imTitle))
    {
        if (IsWebAddress(imUrl))
        {
            data.mHasIm = true;
            data.mImUrl = std::move(imUrl);
            data.mImTitle = std::move(imTitle);
        }
        else
            LogTrace(u"[MC] Server data: IM address is not an http address: %ls", imUrl);
    }
    if (document.Member("data"))
        ReadServers(text, fields, data);
    return true;
}

} // namespace Vexel

#include "Base/TextReader.h"

#include "Common/StringEncoding.h"
#include "Platform/File.h"

namespace Vexel
{

bool TextReader::Open(const String& path)
{
    std::vector<_byte> bytes;
    mText.clear();
    mPosition = 0;
    if (!ReadFile(path, bytes))
        return false;
    SetBytes(bytes);
    return true;
}

void TextReader::SetBytes(const std::vector<_byte>& bytes)
{
    mText.clear();
    mPosition = 0;
    std::size_t size = bytes.size();
    auto wide = [&](std::size_t start)
    {
        for (std::size_t i = start; i + 1 < size; i += 2)
            mText.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
    };
    if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE)
        wide(2);
    else if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF)
        mText = FromUtf8(std::string_view(reinterpret_cast<const char*>(bytes.data()) + 3, size - 3));
    else if (size >= 2 && bytes[0] != 0 && bytes[1] == 0)
        wide(0);
    else
        mText = AnsiToWide(std::string(bytes.begin(), bytes.end()).c_str());
}

String TextReader::ReadLine()
{
    std::size_t end = mPosition;
    while (end < mText.size() && mText[end] != u'\r' && mText[end] != u'\n')
        ++end;
    String line = mText.substr(mPosition, end - mPosition);
    // A CR LF pair ends one line.
    if (end < mText.size() && mText[end] == u'\r' && end + 1 < mText.size() && mText[end + 1] == u'\n')
        ++end;
    mPosition = end < mText.size() ? end + 1 : end;
    return line;
}

String TextReader::ReadRest()
{
    String rest = mText.substr(mPosition);
    mPosition = mText.size();
    return rest;
}

} // namespace Vexel

#include "Common/StringEncoding.h"

namespace Vexel
{

std::string ToUtf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text)
    {
        if (c < 0x80)
            out += static_cast<char>(c);
        else if (c < 0x800)
        {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
        else
        {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

String FromUtf8(std::string_view text)
{
    String out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size())
    {
        unsigned char lead = static_cast<unsigned char>(text[i]);
        std::size_t need = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : 0;
        if (need == 0)
        {
            ++i; // a continuation byte out of place or a four-byte lead produces nothing
            continue;
        }
        if (i + need > text.size())
            break; // a sequence cut off by the end is dropped
        char16_t c;
        if (need == 1)
            c = lead;
        else if (need == 2)
            c = static_cast<char16_t>(((lead & 0x1F) << 6) | (text[i + 1] & 0x3F));
        else
            c = static_cast<char16_t>(((lead & 0x0F) << 12) | ((text[i + 1] & 0x3F) << 6) | (text[i + 2] & 0x3F));
        out += c;
        i += need;
    }
    return out;
}

} // namespace Vexel

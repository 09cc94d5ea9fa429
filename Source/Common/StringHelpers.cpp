#include "StringHelpers.h"

namespace Vexel
{

String Trim(const String& text, const char16_t* characters)
{
    std::size_t begin = text.find_first_not_of(characters);
    if (begin == String::npos)
        return String();
    std::size_t end = text.find_last_not_of(characters);
    return text.substr(begin, end - begin + 1);
}

bool StartsWithAny(const String& text, const std::vector<String>& list)
{
    for (const auto& entry : list)
        if (!entry.empty() && text.compare(0, entry.size(), entry) == 0)
            return true;
    return false;
}

bool ContainsAny(const String& text, const std::vector<String>& list)
{
    for (const auto& entry : list)
        if (!entry.empty() && text.find(entry) != String::npos)
            return true;
    return false;
}

} // namespace Vexel

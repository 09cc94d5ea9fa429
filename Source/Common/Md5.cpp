#include "Common/Md5.h"

#include "Common/StringFormatter.h"

namespace Vexel
{

MD5 Md5Of(const void* data, std::size_t size)
{
    Md5Hasher hasher;
    hasher.Update(data, size);
    return hasher.Final();
}

String Md5ToText(const MD5& digest)
{
    return FormatString(u"%.8x%.8x%.8x%.8x", digest.w[3], digest.w[2], digest.w[1], digest.w[0]);
}

MD5 Md5FromText(std::u16string_view text)
{
    MD5 digest;
    std::size_t end = text.size();
    for (int word = 0; word < 4 && end > 0; ++word)
    {
        std::size_t begin = end >= 8 ? end - 8 : 0;
        _dword value = 0;
        for (std::size_t i = begin; i < end; ++i)
        {
            char16_t c = text[i];
            _dword digit = (c >= u'0' && c <= u'9')   ? c - u'0'
                           : (c >= u'a' && c <= u'f') ? c - u'a' + 10
                           : (c >= u'A' && c <= u'F') ? c - u'A' + 10
                                                      : 0;
            value = (value << 4) | digit;
        }
        digest.w[word] = value;
        end = begin;
    }
    return digest;
}

} // namespace Vexel

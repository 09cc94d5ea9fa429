// Reads the input as an address (UTF-8) and checks the origin the web view derives from it: empty, or a
// lower-case scheme, "://" and a host with no path, query, fragment or user name, and taking the origin
// of an origin gives it back unchanged (the allowed list compares such texts).
#include "Platform/Ui/Win32/UiWebViewText.h"

#include "Common/Log.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace Vexel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    gLogEnabled = false;
    // Bytes become characters one by one, so that every 16-bit value below 256 can appear.
    String url;
    for (size_t i = 0; i < size; ++i)
        url.push_back(static_cast<char16_t>(data[i]));
    const String origin = Ui::WebText::OriginOf(url);
    if (origin.empty())
        return 0;
    std::size_t separator = origin.find(u"://");
    if (separator == String::npos || separator == 0)
        std::abort();
    for (std::size_t i = 0; i < separator; ++i)
        if (origin[i] >= u'A' && origin[i] <= u'Z')
            std::abort();
    if (origin != u"file://" && origin.size() == separator + 3)
        std::abort();
    if (origin.find_first_of(u"/?#@\\", separator + 3) != String::npos)
        std::abort();
    if (Ui::WebText::OriginOf(origin) != origin)
        std::abort();
    return 0;
}

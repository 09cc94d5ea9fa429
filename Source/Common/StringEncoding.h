// Conversions between UTF-16 and UTF-8 or the system code page, ASCII case folding and search,
// splitting, and the path helpers that turn resource names into lookup keys.
#pragma once

#include "Common/String.h"

#include <string>
#include <string_view>

namespace Vexel
{

// Whole-text conversions for callers that just need the other encoding (file system calls, URLs,
// the script boundary). Same per-unit rules as WideToUtf8 / Utf8ToWide.
std::string ToUtf8(std::u16string_view text);
String FromUtf8(std::string_view text);

} // namespace Vexel

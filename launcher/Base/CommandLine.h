// The program's arguments joined back into one command line that splits into the same words again
// (Windows rules: each word with a space, tab or quote is quoted, with its quotes and the backslashes
// before them escaped).
#pragma once

#include "Common/String.h"

#include <string>
#include <vector>

namespace Vexel
{

// What follows the program's own path in a whole command line (as the system hands a Windows program
// its command line), kept exactly as written: the program word ends at the first blank outside quotes,
// quotes in it toggle and backslashes are plain, then the blanks after it are skipped.
String CommandLineTail(const String& commandLine);

std::string QuoteArgument(const std::string& argument);
std::string JoinArguments(const std::vector<std::string>& arguments);

} // namespace Vexel

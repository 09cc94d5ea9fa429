// The program's arguments joined back into one command line that splits into the same words again
// (Windows rules: each word with a space, tab or quote is quoted, with its quotes and the backslashes
// before them escaped).
#pragma once

#include <string>
#include <vector>

namespace Vexel
{

std::string QuoteArgument(const std::string& argument);
std::string JoinArguments(const std::vector<std::string>& arguments);

} // namespace Vexel

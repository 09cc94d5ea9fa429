#include "Base/CommandLine.h"

namespace Vexel
{

String CommandLineTail(const String& commandLine)
{
    auto blank = [](char16_t c) { return c == u' ' || c == u'\t'; };
    std::size_t i = 0;
    const std::size_t n = commandLine.size();
    while (i < n && blank(commandLine[i]))
        ++i;
    bool quoted = false;
    for (; i < n && (quoted || !blank(commandLine[i])); ++i)
        if (commandLine[i] == u'"')
            quoted = !quoted;
    while (i < n && blank(commandLine[i]))
        ++i;
    return commandLine.substr(i);
}

std::string QuoteArgument(const std::string& argument)
{
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos)
        return argument;
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : argument)
    {
        if (c == '\\')
        {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped; elsewhere they are literal.
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    // Before the closing quote they are doubled too.
    quoted.append(backslashes * 2, '\\');
    quoted += '"';
    return quoted;
}

std::string JoinArguments(const std::vector<std::string>& arguments)
{
    std::string line;
    for (const auto& argument : arguments)
    {
        if (!line.empty())
            line += ' ';
        line += QuoteArgument(argument);
    }
    return line;
}

} // namespace Vexel

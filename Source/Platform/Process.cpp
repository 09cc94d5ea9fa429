#include "Platform/Process.h"

namespace Vexel
{

std::vector<String> SplitCommandLine(const String& commandLine)
{
    std::vector<String> words;
    std::size_t i = 0;
    const std::size_t n = commandLine.size();
    auto isBlank = [](char16_t c) { return c == u' ' || c == u'\t'; };

    while (i < n && isBlank(commandLine[i]))
        ++i;
    if (i >= n)
        return words;

    // The program name: quotes toggle, backslashes are plain (it is a path).
    String program;
    bool quoted = false;
    for (; i < n && (quoted || !isBlank(commandLine[i])); ++i)
    {
        if (commandLine[i] == u'"')
            quoted = !quoted;
        else
            program += commandLine[i];
    }
    words.push_back(std::move(program));

    for (;;)
    {
        while (i < n && isBlank(commandLine[i]))
            ++i;
        if (i >= n)
            break;
        String word;
        quoted = false;
        while (i < n && (quoted || !isBlank(commandLine[i])))
        {
            char16_t c = commandLine[i];
            if (c == u'\\')
            {
                std::size_t run = 0;
                while (i < n && commandLine[i] == u'\\')
                {
                    ++run;
                    ++i;
                }
                if (i < n && commandLine[i] == u'"')
                {
                    word.append(run / 2, u'\\');
                    if (run % 2 == 1)
                    {
                        word += u'"';
                        ++i;
                    }
                }
                else
                    word.append(run, u'\\');
                continue;
            }
            if (c == u'"')
            {
                if (quoted && i + 1 < n && commandLine[i + 1] == u'"')
                {
                    word += u'"';
                    i += 2;
                    continue;
                }
                quoted = !quoted;
                ++i;
                continue;
            }
            word += c;
            ++i;
        }
        words.push_back(std::move(word));
    }
    return words;
}

} // namespace Vexel

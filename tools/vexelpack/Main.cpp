// vexelpack: the operator's command-line tool for packed files, digests and (later) archives.
#include "Commands.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace Vexel::Pack
{

namespace
{
std::vector<Command>& Registry()
{
    static std::vector<Command> commands;
    return commands;
}

void PrintUsage(std::FILE* out)
{
    std::fprintf(out, "usage: vexelpack COMMAND [ARGS...]\n"
                      "       vexelpack COMMAND --help\n\ncommands:\n");
    for (const Command& command : Commands())
    {
        std::string line = std::string(command.name) + " " + command.synopsis;
        std::fprintf(out, "  %-34s %s\n", line.c_str(), command.summary);
    }
    std::fprintf(out, "\nexit codes: 0 success, 1 failure, 2 usage error\n");
}
} // namespace

CommandRegistration::CommandRegistration(const Command& command)
{
    auto& commands = Registry();
    auto at =
        std::lower_bound(commands.begin(), commands.end(), command,
                         [](const Command& a, const Command& b) { return std::strcmp(a.name, b.name) < 0; });
    commands.insert(at, command);
}

const std::vector<Command>& Commands()
{
    return Registry();
}

const Command* FindCommand(const std::string& name)
{
    for (const Command& command : Commands())
        if (name == command.name)
            return &command;
    return nullptr;
}

int Fail(const std::string& message)
{
    std::fprintf(stderr, "vexelpack: %s\n", message.c_str());
    return _EXIT_FAILURE;
}

void PrintCommandUsage(const Command& command, bool full, std::FILE* out)
{
    std::fprintf(out, "usage: vexelpack %s %s\n", command.name, command.synopsis);
    if (full)
    {
        std::fprintf(out, "\n%s\n", command.summary);
        if (command.details && *command.details)
            std::fprintf(out, "\n%s", command.details);
    }
}

int UsageError(const Command& command, const std::string& message)
{
    std::fprintf(stderr, "vexelpack %s: %s\n", command.name, message.c_str());
    PrintCommandUsage(command, false, stderr);
    return _EXIT_USAGE;
}

std::string ShowSize(double bytes)
{
    char text[32];
    if (bytes >= 1024.0 * 1024 * 1024)
        std::snprintf(text, sizeof text, "%.2f GiB", bytes / (1024.0 * 1024 * 1024));
    else if (bytes >= 1024.0 * 1024)
        std::snprintf(text, sizeof text, "%.1f MiB", bytes / (1024.0 * 1024));
    else if (bytes >= 1024.0)
        std::snprintf(text, sizeof text, "%.1f KiB", bytes / 1024.0);
    else
        std::snprintf(text, sizeof text, "%.0f B", bytes);
    return text;
}

ParsedArgs ParseArgs(const std::vector<std::string>& args)
{
    ParsedArgs parsed;
    bool optionsDone = false;
    for (const std::string& arg : args)
    {
        if (!optionsDone && arg == "--")
            optionsDone = true;
        else if (!optionsDone && (arg == "--help" || arg == "-h"))
            parsed.help = true;
        else if (!optionsDone && arg.size() > 1 && arg[0] == '-')
            parsed.options.push_back(arg);
        else
            parsed.positional.push_back(arg);
    }
    return parsed;
}

} // namespace Vexel::Pack

int main(int argc, char** argv)
{
    using namespace Vexel::Pack;
    if (argc < 2)
    {
        PrintUsage(stderr);
        return _EXIT_USAGE;
    }
    std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help")
    {
        if (argc > 2)
            if (const Command* command = FindCommand(argv[2]))
            {
                PrintCommandUsage(*command, true, stdout);
                return _EXIT_OK;
            }
        PrintUsage(stdout);
        return _EXIT_OK;
    }
    const Command* command = FindCommand(name);
    if (!command)
    {
        std::fprintf(stderr, "vexelpack: unknown command '%s'\n\n", name.c_str());
        PrintUsage(stderr);
        return _EXIT_USAGE;
    }
    std::vector<std::string> args(argv + 2, argv + argc);
    if (ParseArgs(args).help)
    {
        PrintCommandUsage(*command, true, stdout);
        return _EXIT_OK;
    }
    return command->run(*command, args);
}

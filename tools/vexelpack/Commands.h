// The subcommands of vexelpack. Each command file registers its commands with a file-scope
// CommandRegistration; main() looks them up by name and prints the usage from the same table.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace Vexel::Pack
{

constexpr int _EXIT_OK = 0;
constexpr int _EXIT_FAILURE = 1;
constexpr int _EXIT_USAGE = 2;

struct Command
{
    const char* name;
    // Argument synopsis after the name, e.g. "[--zip|--7z] IN OUT".
    const char* synopsis;
    // One line for the command list.
    const char* summary;
    // Further lines for "vexelpack NAME --help" (may be empty).
    const char* details;
    // Gets the arguments after the command name; returns an exit code.
    int (*run)(const Command& self, const std::vector<std::string>& args);
};

struct CommandRegistration
{
    explicit CommandRegistration(const Command& command);
};

// Every registered command, sorted by name.
const std::vector<Command>& Commands();
const Command* FindCommand(const std::string& name);

// "vexelpack: <message>" on standard error; returns _EXIT_FAILURE.
int Fail(const std::string& message);
// The message and the command's usage on standard error; returns _EXIT_USAGE.
int UsageError(const Command& command, const std::string& message);
void PrintCommandUsage(const Command& command, bool full, std::FILE* out);

// A byte count for people: "512 B", "1.5 KiB", "3.2 MiB", "1.25 GiB".
std::string ShowSize(double bytes);

// Splits args into options (starting with "-", up to a lone "--") and positional arguments.
struct ParsedArgs
{
    std::vector<std::string> options;
    std::vector<std::string> positional;
    bool help = false;
};
ParsedArgs ParseArgs(const std::vector<std::string>& args);

} // namespace Vexel::Pack

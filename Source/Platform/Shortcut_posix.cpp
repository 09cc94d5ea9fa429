#include "Platform/Shortcut.h"

#include "Common/Log.h"
#include "Platform/File.h"
#include "Platform/Folders.h"
#include "Platform/Process.h"

#include <cstdlib>
#include <string>

namespace Vexel
{

namespace
{

// The characters that make an Exec argument need quotes.
constexpr const char* _RESERVED = " \t\n\"'\\><~|&;$*?#()`";

// A value of a desktop entry key: backslashes escaped, line breaks flattened.
std::string EntryValue(const std::string& text)
{
    std::string out;
    for (char c : text)
    {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n' || c == '\r' || c == '\t')
            out += ' ';
        else
            out += c;
    }
    return out;
}

// One Exec argument: quoted when it holds a reserved character, with ", `, $ and \ escaped inside the
// quotes; "%" doubled since it starts field codes.
std::string ExecArgument(const std::string& argument)
{
    std::string out;
    bool quote = argument.empty() || argument.find_first_of(_RESERVED) != std::string::npos;
    if (quote)
        out += '"';
    for (char c : argument)
    {
        if (quote && (c == '"' || c == '`' || c == '$' || c == '\\'))
            out += '\\';
        out += c == '%' ? std::string("%%") : std::string(1, c);
    }
    if (quote)
        out += '"';
    return out;
}

std::string ExecLine(const String& program, const std::vector<String>& arguments)
{
    std::string line = ExecArgument(NativePath(program));
    for (const String& argument : arguments)
        line += ' ' + ExecArgument(ToNativeText(argument));
    return EntryValue(line);
}

// Desktops that keep desktop files untrusted until told otherwise are told through gio, which needs the
// user's session bus; without either there is nothing to ask.
void MarkTrusted(const String& path)
{
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    String gio = FindProgram(u"gio");
    if (!bus || !*bus || gio.empty())
        return;
    StartProgram(gio, {u"set", path, u"metadata::trusted", u"true"});
}

} // namespace

String ShortcutPath(const String& folder, const String& name)
{
    String clean;
    for (char16_t c : name)
        clean += (c < 0x20 || c == u'/' || c == u'\\') ? u'_' : c;
    if (clean.empty() || clean == u"." || clean == u"..")
        clean = u"_" + clean;
    return JoinFolder(folder, clean + u".desktop");
}

bool CreateShortcut(const String& path, const Shortcut& shortcut)
{
    if (path.empty() || shortcut.target.empty())
        return false;
    std::string text =
        "[Desktop Entry]\nType=Application\nVersion=1.0\nName=" + EntryValue(ToNativeText(shortcut.name)) +
        "\nExec=" + ExecLine(shortcut.target, shortcut.arguments) + "\n";
    if (!shortcut.workingFolder.empty())
        text += "Path=" + EntryValue(NativePath(shortcut.workingFolder)) + "\n";
    if (!shortcut.icon.empty())
        text += "Icon=" + EntryValue(NativePath(shortcut.icon)) + "\n";
    text += "Terminal=false\n";
    if (!shortcut.actions.empty())
    {
        text += "Actions=";
        for (const ShortcutAction& action : shortcut.actions)
            text += EntryValue(ToNativeText(action.id)) + ";";
        text += "\n";
        for (const ShortcutAction& action : shortcut.actions)
            text += "\n[Desktop Action " + EntryValue(ToNativeText(action.id)) +
                    "]\nName=" + EntryValue(ToNativeText(action.name)) +
                    "\nExec=" + ExecLine(shortcut.target, action.arguments) + "\n";
    }
    String folder = path.substr(0, path.find_last_of(u"/\\"));
    if (!CreateFolder(folder) || !WriteFile(path, text.data(), text.size()))
    {
        LogTrace(u"[FG] Cannot write the shortcut %ls", path);
        return false;
    }
    SetExecutable(path);
    MarkTrusted(path);
    return true;
}

} // namespace Vexel

// Shortcuts: entries that start a program from the desktop or the applications menu. On Linux they are
// freedesktop desktop entries ("<name>.desktop"), on Windows shell links ("<name>.lnk").
#pragma once

#include "Common/String.h"

#include <vector>

namespace Vexel
{

// A further way to start the program offered beside the entry itself (an "Uninstall" item, say).
struct ShortcutAction
{
    String id; // letters and digits only
    String name;
    std::vector<String> arguments;
};

struct Shortcut
{
    String name;   // what the user sees
    String target; // the program
    std::vector<String> arguments;
    String workingFolder; // empty: none
    String icon;          // a file; empty: none
    std::vector<ShortcutAction> actions;
};

// The file of the shortcut called name in folder; characters a file name cannot hold become "_".
String ShortcutPath(const String& folder, const String& name);
// Writes the shortcut, replacing one already there, creating the folder when needed. The entry may be
// started by the user (executable) and, where the desktop asks for it and can be asked, marked trusted.
bool CreateShortcut(const String& path, const Shortcut& shortcut);

} // namespace Vexel

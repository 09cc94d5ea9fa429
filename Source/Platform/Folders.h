// Folders: creating and removing them, listing files, free space, the current folder, temporary names,
// the special folders of the desktop and the per-user root. Paths follow the rules of Platform/File.h.
#pragma once

#include "Common/String.h"

#include <functional>

namespace Vexel
{

// Creates every missing folder along the path, walking "\" and "/" from the left and skipping a drive
// colon. True when the folder exists afterwards; a path ending in ":" (a drive) is accepted as it is.
bool CreateFolder(const String& path);
// Removes the folder with everything in it (read-only files too). Links inside are removed, never
// followed. False when it does not exist or something could not be removed.
bool RemoveFolder(const String& path);

// Calls callback (may be empty) with the full path of each file in the folder, in name order, and
// returns how many there were; with recursive, files in subfolders too (links to folders are not
// entered). The path is the folder as given, its separator ("\" unless it only uses "/"), the name.
using FileCallback = std::function<void(const String& path)>;
_dword EnumerateFiles(const String& folder, bool recursive, const FileCallback& callback);

// Free bytes available to this user on the volume that holds path (the nearest existing folder along
// it when the path does not exist yet); 0 when unknown.
_qword GetFreeSpace(const String& path);

String GetCurrentFolder();
bool SetCurrentFolder(const String& path);

// Creates a new empty file with a unique name that starts with prefix in folder and returns its path;
// empty on failure (for instance when the folder does not exist).
String GetTempFileName(const String& folder, const String& prefix);
// The system's folder for temporary files.
String GetTempFolder();

// folder + separator + name, using the separator the folder already uses ("\" unless it only has "/").
String JoinFolder(const String& folder, const String& name);

enum class SpecialFolder
{
    Profile,   // the user's home
    Desktop,   // the desktop folder
    StartMenu, // where application entries live
    AppData,   // per-user application data
};
// The folder's path, empty when it cannot be determined.
String GetSpecialFolder(SpecialFolder which);

// The program's per-user root folder (log files, settings, key store). Not created here.
String GetUserRoot();

namespace Detail
{
// Creates one folder whose parent exists; true when it exists afterwards.
bool MakeOneFolder(const String& path);
} // namespace Detail

} // namespace Vexel

// Starting other programs and joining the desktop session: plain and elevated starts, opening documents
// and addresses, and starting with the user's session. Programs are started from an argument vector,
// never through a command interpreter.
#pragma once

#include "Common/String.h"

#include <vector>

namespace Vexel
{

// Splits a command line into the words a started program receives, by the rules programs on Windows
// apply to their own command line: spaces and tabs separate words outside double quotes; a quote
// toggles quoting and is dropped; "" inside quotes is a literal quote; 2n backslashes before a quote
// give n backslashes (the quote toggles), 2n + 1 give n backslashes and a literal quote; other
// backslashes are literal. The first word (the program) takes no backslash escapes. A quoted empty
// word ("") is kept.
std::vector<String> SplitCommandLine(const String& commandLine);

// Starts the program named by the command line's first word with the rest as its arguments, in folder
// when it is not empty; does not wait. A first word without a separator is searched in the PATH. On
// Windows the program receives the command line as written; elsewhere it receives the words
// SplitCommandLine finds in it, so both see the same arguments.
bool StartProcess(const String& commandLine, const String& folder = String());
// The same from the words themselves: the first is the program, the rest its arguments, each passed as
// it is (nothing is split or quoted).
bool StartProgram(const std::vector<String>& words, const String& folder = String());
// The same, waiting for the program to end; exitCode receives its exit code (128 + signal number when
// a signal ended it).
bool RunProcess(const String& commandLine, const String& folder, int* exitCode);
// The same with the arguments as separate items, never split or joined again, so that paths with spaces
// stay whole; the program receives program as its first argument. program is a path, or a bare name
// searched in the PATH.
bool StartProgram(const String& program, const std::vector<String>& arguments,
                  const String& folder = String());
bool RunProgram(const String& program, const std::vector<String>& arguments, const String& folder,
                int* exitCode);
// The file name of the program called name: "name.exe" on Windows, name itself elsewhere.
String ProgramFileName(const String& name);

// Removes the file of the running program: at once where the system lets a running program's file go,
// else when the system next starts (Windows keeps an image in use; the request needs rights an ordinary
// user may lack, and the file then stays until the temporary folder is cleaned). True when done or
// scheduled.
bool RemoveProgramFileAtExit(const String& path);

// The program a bare name stands for in the PATH (a path is checked as it is); empty when none.
String FindProgram(const String& name);

// Blocks until every program started without waiting has ended and been collected.
void WaitForStartedPrograms();

// Runs the first word of the command line with the further words as arguments when it names a
// program; otherwise hands it (a document or an address) to the desktop's opener, which takes no
// further words.
bool OpenWithArguments(const String& commandLine);

// Runs the file with administrator rights where the system offers a way to ask for them, else plainly;
// a file that is not a program is opened instead. True when the start was accepted.
bool RunElevated(const String& path);
// The same with arguments, each passed as one item however it is spelled.
bool RunElevated(const String& path, const std::vector<String>& arguments);

// Starts path with arguments when the user's session starts: stored as "\"path\" arguments" under
// name, replacing an entry of that name.
bool SetAutostart(const String& name, const String& path, const String& arguments);
bool RemoveAutostart(const String& name);
// Where the entry for name is kept (for inspection and clean-up).
String AutostartEntryPath(const String& name);

} // namespace Vexel

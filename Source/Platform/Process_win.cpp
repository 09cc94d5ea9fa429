#include "Platform/Process.h"

#include "Common/Log.h"
#include "Platform/File.h"
#include "Platform/Folders.h"
#include "Platform/System.h"

#include <mutex>
#include <string>
#include <vector>
#include <windows.h>

#include <shellapi.h>

#undef DeleteFile
#undef CopyFile
#undef MoveFile

namespace Vexel
{

namespace
{

constexpr const wchar_t* _RUN_KEY = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

bool HasSeparator(const String& word)
{
    return word.find_first_of(u"\\/") != String::npos;
}

// The program file for a command's first word: a path as given, or the system's search (the program's
// folder, the current folder, the system folders, the PATH) with ".exe" added to a bare name.
std::wstring ResolveProgram(const String& word)
{
    if (word.empty())
        return {};
    std::wstring native = NativePath(word);
    if (HasSeparator(word))
    {
        DWORD attributes = GetFileAttributesW(native.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)
                   ? native
                   : std::wstring();
    }
    wchar_t found[MAX_PATH + 1] = {};
    DWORD length = SearchPathW(nullptr, native.c_str(), L".exe", MAX_PATH + 1, found, nullptr);
    return length == 0 || length > MAX_PATH ? std::wstring() : std::wstring(found, length);
}

// One word of a command line as a started program's start-up code splits it back: quoted when it holds
// blanks or quotes (or is empty), quotes escaped, and backslashes doubled where they precede a quote.
std::wstring QuoteArgument(const std::wstring& word)
{
    if (!word.empty() && word.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return word;
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : word)
    {
        if (c == L'\\')
        {
            ++backslashes;
            continue;
        }
        if (c == L'"')
            out.append(backslashes * 2 + 1, L'\\');
        else
            out.append(backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    out += L'"';
    return out;
}

// The program's name takes no escapes: quoted as it is.
std::wstring CommandLineOf(const std::vector<String>& words)
{
    std::wstring line = L"\"" + ToNativeText(words[0]) + L"\"";
    for (std::size_t i = 1; i < words.size(); ++i)
        line += L" " + QuoteArgument(ToNativeText(words[i]));
    return line;
}

// Handles of programs started without waiting, until they have ended.
class StartedPrograms
{
public:
    void Add(HANDLE process)
    {
        std::lock_guard<std::mutex> lock(mMutex);
        // Programs that ended meanwhile are let go, so the list stays as long as the running ones.
        std::erase_if(mHandles,
                      [](HANDLE h)
                      {
                          if (WaitForSingleObject(h, 0) != WAIT_OBJECT_0)
                              return false;
                          CloseHandle(h);
                          return true;
                      });
        mHandles.push_back(process);
    }

    void WaitAll()
    {
        std::vector<HANDLE> handles;
        {
            std::lock_guard<std::mutex> lock(mMutex);
            handles.swap(mHandles);
        }
        for (HANDLE h : handles)
        {
            WaitForSingleObject(h, INFINITE);
            CloseHandle(h);
        }
    }

private:
    std::mutex mMutex;
    std::vector<HANDLE> mHandles;
};

StartedPrograms& Started()
{
    static StartedPrograms started;
    return started;
}

// Starts the program named by first with the command line exactly as given (the program splits it).
bool SpawnLine(const String& first, std::wstring line, const String& folder, HANDLE& process)
{
    std::wstring program = ResolveProgram(first);
    if (program.empty())
    {
        LogTrace(u"[FG] Cannot start %ls: no such program", first);
        return false;
    }
    std::wstring where = NativePath(folder);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        where.empty() ? nullptr : where.c_str(), &startup, &info))
    {
        LogTrace(u"[FG] CreateProcess %ls fail %x", first, unsigned(GetLastError()));
        return false;
    }
    CloseHandle(info.hThread);
    process = info.hProcess;
    return true;
}

bool SpawnWords(const std::vector<String>& words, const String& folder, HANDLE& process)
{
    return !words.empty() && SpawnLine(words[0], CommandLineOf(words), folder, process);
}

// The command line reaches the program as written: programs that read their command line whole see
// the caller's spacing and quoting.
bool Spawn(const String& commandLine, const String& folder, HANDLE& process)
{
    std::vector<String> words = SplitCommandLine(commandLine);
    return !words.empty() && SpawnLine(words[0], ToNativeText(commandLine), folder, process);
}

bool Finish(HANDLE process, int* exitCode)
{
    WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    bool ok = GetExitCodeProcess(process, &code);
    CloseHandle(process);
    if (ok && exitCode)
        *exitCode = static_cast<int>(code);
    return ok;
}

bool IsProgramFile(const std::wstring& path)
{
    std::size_t dot = path.find_last_of(L'.');
    if (dot == std::wstring::npos || path.find_first_of(L"\\/", dot) != std::wstring::npos)
        return false;
    std::wstring extension = path.substr(dot);
    for (wchar_t& c : extension)
        c = static_cast<wchar_t>(towlower(c));
    return extension == L".exe" || extension == L".com";
}

// The shell runs the file (verb "open" or "runas") or opens it with its associated program.
bool ShellRun(const wchar_t* verb, const std::wstring& file, const std::wstring& parameters)
{
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = verb;
    info.lpFile = file.c_str();
    info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info))
    {
        LogTrace(u"[FG] ShellExecuteEx %ls fail %x", FromNativeText(file), unsigned(GetLastError()));
        return false;
    }
    if (info.hProcess)
        Started().Add(info.hProcess);
    return true;
}

} // namespace

bool StartProcess(const String& commandLine, const String& folder)
{
    HANDLE process = nullptr;
    if (!Spawn(commandLine, folder, process))
        return false;
    Started().Add(process);
    return true;
}

bool StartProgram(const std::vector<String>& words, const String& folder)
{
    HANDLE process = nullptr;
    if (!SpawnWords(words, folder, process))
        return false;
    Started().Add(process);
    return true;
}

bool StartProgram(const String& program, const std::vector<String>& arguments, const String& folder)
{
    std::vector<String> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    return StartProgram(words, folder);
}

bool RunProgram(const String& program, const std::vector<String>& arguments, const String& folder,
                int* exitCode)
{
    if (exitCode)
        *exitCode = -1;
    std::vector<String> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    HANDLE process = nullptr;
    return SpawnWords(words, folder, process) && Finish(process, exitCode);
}

String ProgramFileName(const String& name)
{
    return name + u".exe";
}

bool RemoveProgramFileAtExit(const String& path)
{
    if (DeleteFile(path) || !FileExists(path))
        return true;
    return MoveFileExW(NativePath(path).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
}

String FindProgram(const String& name)
{
    std::wstring found = ResolveProgram(name);
    return found.empty() ? String() : FromNativeText(found);
}

void WaitForStartedPrograms()
{
    Started().WaitAll();
}

bool RunProcess(const String& commandLine, const String& folder, int* exitCode)
{
    if (exitCode)
        *exitCode = -1;
    HANDLE process = nullptr;
    return Spawn(commandLine, folder, process) && Finish(process, exitCode);
}

bool OpenWithArguments(const String& commandLine)
{
    std::vector<String> words = SplitCommandLine(commandLine);
    if (words.empty() || words[0].empty())
        return false;
    std::wstring program = ResolveProgram(words[0]);
    if (!program.empty() && IsProgramFile(program))
    {
        std::wstring parameters;
        for (std::size_t i = 1; i < words.size(); ++i)
            parameters += (i > 1 ? L" " : L"") + QuoteArgument(ToNativeText(words[i]));
        return ShellRun(L"open", program, parameters);
    }
    return ShellRun(L"open", NativePath(words[0]), std::wstring());
}

bool RunElevated(const String& path)
{
    return RunElevated(path, {});
}

bool RunElevated(const String& path, const std::vector<String>& arguments)
{
    std::wstring native = NativePath(path);
    DWORD attributes = native.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(native.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    wchar_t full[MAX_PATH + 1] = {};
    DWORD length = GetFullPathNameW(native.c_str(), MAX_PATH + 1, full, nullptr);
    if (length == 0 || length > MAX_PATH)
        return false;
    // Asking for administrator rights exists from version 6.0 on.
    const bool canElevate = GetOSVersion() >= 4 || GetOSVersion() == 0;
    const wchar_t* verb = IsProgramFile(full) && canElevate ? L"runas" : L"open";
    std::wstring parameters;
    for (const String& argument : arguments)
        parameters += (parameters.empty() ? L"" : L" ") + QuoteArgument(ToNativeText(argument));
    return ShellRun(verb, full, parameters);
}

String AutostartEntryPath(const String& name)
{
    return u"HKEY_CURRENT_USER\\" + FromNativeText(_RUN_KEY) + u"\\" + name;
}

bool SetAutostart(const String& name, const String& path, const String& arguments)
{
    if (name.empty() || path.empty())
        return false;
    std::wstring value = L"\"" + NativePath(path) + L"\"";
    if (!arguments.empty())
        value += L" " + ToNativeText(arguments);
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, _RUN_KEY, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    bool ok = RegSetValueExW(key, ToNativeText(name).c_str(), 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

bool RemoveAutostart(const String& name)
{
    if (name.empty())
        return false;
    HKEY key = nullptr;
    LONG opened = RegOpenKeyExW(HKEY_CURRENT_USER, _RUN_KEY, 0, KEY_SET_VALUE, &key);
    if (opened == ERROR_FILE_NOT_FOUND)
        return true;
    if (opened != ERROR_SUCCESS)
        return false;
    LONG deleted = RegDeleteValueW(key, ToNativeText(name).c_str());
    RegCloseKey(key);
    return deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND;
}

} // namespace Vexel

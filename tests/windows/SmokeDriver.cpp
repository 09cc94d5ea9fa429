// Drives the Windows launcher program from outside, as a person and an operator would, for the smoke test
// under Wine (scripts/test-windows):
//
//   vexel-smoke swap EXE NAME FILE
//       replaces the program file's VEXELRES resource NAME with FILE's bytes (what an operator does with a
//       resource editor).
//   vexel-smoke trust-root PEM
//       adds the PEM certificate to the machine's trusted roots (what an administrator does for a test CA),
//       so that code signed under it verifies.
//   vexel-smoke run EXE TRACE-FOLDER SECONDS SCREENSHOT.bmp LINE...
//       starts EXE, waits for each LINE in turn in its trace log ("<exe name>-mc<pid>-[Trace].log" in
//       TRACE-FOLDER), saves the screen as a bitmap, closes the main window (WM_CLOSE), answers the exit
//       question with OK, and waits for the program to end. Succeeds when the program exits with 0; the
//       whole run is bounded by SECONDS. A LINE "file:PATH" waits for that file to exist instead;
//       "tray:on" and "tray:off" for the game frame's notification-area icon to be there or gone (asked of
//       the notification area itself), "frame:shown" and "frame:hidden" for the game frame's visibility,
//       and "keys:0xVALUE" presses a hot key (a hot-key box value: the key in the low byte, shift 1,
//       control 2 and alt 4 in the next) as a person would, through the system's input.
//   vexel-smoke handover EXE TRACE-FOLDER SECONDS LINE... -- LINE...
//       the self-upgrade's hand-over: starts EXE, waits for the LINEs before "--" in its trace log and for
//       it to end by itself with 0; then finds the copy of the program restarted at EXE's path (another
//       process's trace log of the same name holding the first LINE after "--"), waits there for the
//       other LINEs, and closes it as "run" does. Succeeds when both ended with 0.
//
// Copied as "vexelexelauncher.exe" it stands in for the external game launcher: it writes the words of
// its command line, one a line, and whether the third names a window ("window 1"), to "arguments.txt"
// beside itself (through a temporary name, so the file is whole when it appears), and ends.
//
// Windows are told apart by their size, as the end-to-end tests on Linux do: the main window is
// frameW x frameH of the operator's settings (600 x 400), the question 360 x 200.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>
#include <windows.h>

#include <shellapi.h>
#include <wincrypt.h>

namespace
{

constexpr int _MAIN_W = 600, _MAIN_H = 400, _PROMPT_W = 360, _PROMPT_H = 200;
constexpr const wchar_t* _GAME_FRAME_CLASS = L"Vexel3D Main Window";
constexpr UINT _MSG_CONFIRM = 0x467; // the scripts' confirm message (launcher.lua MSG_CONFIRM)
constexpr DWORD _POLL_MS = 100;      // how often windows are looked at while nothing else wakes us

std::wstring Widen(const char* text)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring out(n > 0 ? n - 1 : 0, L'\0');
    if (n > 1)
        MultiByteToWideChar(CP_UTF8, 0, text, -1, out.data(), n);
    return out;
}

int Swap(const std::wstring& exe, std::wstring name, const char* file)
{
    std::ifstream in(file, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof())
        return std::fprintf(stderr, "vexel-smoke: cannot read %s\n", file), 1;
    // The resource compiler stores names in capitals; the lookup compares that way too.
    CharUpperW(name.data());
    HANDLE update = BeginUpdateResourceW(exe.c_str(), FALSE);
    if (!update)
        return std::fprintf(stderr, "vexel-smoke: cannot open the resources (%lu)\n", GetLastError()), 1;
    bool ok = UpdateResourceW(update, L"VEXELRES", name.c_str(), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                              bytes.data(), static_cast<DWORD>(bytes.size()));
    if (!EndUpdateResourceW(update, !ok) || !ok)
        return std::fprintf(stderr, "vexel-smoke: cannot replace the resource (%lu)\n", GetLastError()), 1;
    return 0;
}

int TrustRoot(const char* file)
{
    std::ifstream in(file, std::ios::binary);
    std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    DWORD size = 0;
    if (pem.empty() || !CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                                             CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr))
        return std::fprintf(stderr, "vexel-smoke: %s holds no PEM certificate\n", file), 1;
    std::vector<BYTE> der(size);
    CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                         &size, nullptr, nullptr);
    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (!store)
        return std::fprintf(stderr, "vexel-smoke: cannot open the trusted roots (%lu)\n", GetLastError()), 1;
    bool ok = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size,
                                               CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    DWORD error = GetLastError();
    CertCloseStore(store, 0);
    if (!ok)
        return std::fprintf(stderr, "vexel-smoke: cannot add %s to the trusted roots (%lu)\n", file, error),
               1;
    return 0;
}

struct Search
{
    DWORD process;
    int width, height;
    bool visibleOnly;
    HWND found;
};

BOOL CALLBACK Visit(HWND window, LPARAM data)
{
    auto* search = reinterpret_cast<Search*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    RECT r;
    if (owner != search->process || !GetWindowRect(window, &r) || r.right - r.left != search->width ||
        r.bottom - r.top != search->height || (search->visibleOnly && !IsWindowVisible(window)))
        return TRUE;
    search->found = window;
    return FALSE;
}

HWND FindWindowOf(DWORD process, int width, int height, bool visibleOnly)
{
    Search search{process, width, height, visibleOnly, nullptr};
    EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string ReadText(const std::wstring& path)
{
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    std::string text;
    char block[65536];
    DWORD got = 0;
    while (ReadFile(file, block, sizeof block, &got, nullptr) && got > 0)
        text.append(block, got);
    CloseHandle(file);
    return text;
}

// The lines looked for are ASCII: zero bytes are dropped, so the log reads the same in UTF-8 and UTF-16.
std::string Narrow(const std::string& bytes)
{
    std::string out;
    for (char c : bytes)
        if (c != 0)
            out += c;
    return out;
}

// Waits for the predicate until the deadline, waking when the folder changes, the process (when there is
// one) ends or a poll interval passes; false when the time ran out or the process ended first.
template <typename Predicate> bool WaitFor(HANDLE process, HANDLE change, ULONGLONG deadline, Predicate ready)
{
    for (;;)
    {
        if (ready())
            return true;
        ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return false;
        HANDLE handles[2];
        DWORD count = 0, changeAt = 2;
        if (process)
            handles[count++] = process;
        if (change != INVALID_HANDLE_VALUE)
            handles[changeAt = count++] = change;
        const DWORD pause = static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, _POLL_MS));
        DWORD woke =
            count ? WaitForMultipleObjects(count, handles, FALSE, pause) : (Sleep(pause), WAIT_TIMEOUT);
        if (process && woke == WAIT_OBJECT_0)
            return ready();
        if (woke == WAIT_OBJECT_0 + changeAt)
            FindNextChangeNotification(change);
    }
}

bool SaveScreen(const std::wstring& path)
{
    int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h; // bottom-up, as bitmap files are
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = bitmap != nullptr;
    if (ok)
    {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, w, h, screen, 0, 0, SRCCOPY);
        GdiFlush();
        SelectObject(memory, old);
    }
    DWORD stride = ((w * 3 + 3) / 4) * 4, size = stride * h;
    if (ok)
    {
        BITMAPFILEHEADER header{};
        header.bfType = 0x4D42;
        header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
        header.bfSize = header.bfOffBits + size;
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        ok = file != INVALID_HANDLE_VALUE && WriteFile(file, &header, sizeof header, &written, nullptr) &&
             WriteFile(file, &info.bmiHeader, sizeof info.bmiHeader, &written, nullptr) &&
             WriteFile(file, bits, size, &written, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
    if (bitmap)
        DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

// The game frame of the process (visible or not), or null.
HWND GameFrameOf(DWORD process)
{
    for (HWND window = FindWindowExW(nullptr, nullptr, _GAME_FRAME_CLASS, nullptr); window;
         window = FindWindowExW(nullptr, window, _GAME_FRAME_CLASS, nullptr))
    {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == process)
            return window;
    }
    return nullptr;
}

// Whether the notification area holds the window's icon 0: a change of nothing is accepted only for an
// icon that is there.
bool HasTrayIcon(HWND window)
{
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = window;
    data.uID = 0;
    data.uFlags = 0;
    return window && Shell_NotifyIconW(NIM_MODIFY, &data);
}

// Presses and releases a hot-key box value's keys through the system's input, modifiers first.
bool PressHotKey(unsigned value)
{
    std::vector<WORD> keys;
    if (value & 0x200)
        keys.push_back(VK_CONTROL);
    if (value & 0x100)
        keys.push_back(VK_SHIFT);
    if (value & 0x400)
        keys.push_back(VK_MENU);
    keys.push_back(static_cast<WORD>(value & 0xFF));
    std::vector<INPUT> inputs;
    for (WORD key : keys)
    {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key;
        input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
        inputs.push_back(input);
    }
    for (auto key = keys.rbegin(); key != keys.rend(); ++key)
    {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = *key;
        input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(*key, MAPVK_VK_TO_VSC));
        input.ki.dwFlags = KEYEVENTF_KEYUP;
        inputs.push_back(input);
    }
    return SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) == inputs.size();
}

std::wstring TraceName(const std::wstring& exe)
{
    std::wstring name = exe.substr(exe.find_last_of(L"\\/") + 1);
    name.resize(name.rfind(L'.'));
    return name;
}

std::wstring TracePath(const std::wstring& folder, const std::wstring& name, DWORD pid)
{
    return folder + L"\\" + name + L"-mc" + std::to_wstring(pid) + L"-[Trace].log";
}

// One started program being watched: its process, its trace log and the folder's change notification.
struct Watched
{
    HANDLE process = nullptr;
    DWORD pid = 0;
    std::wstring trace;
    HANDLE change = INVALID_HANDLE_VALUE;
    ULONGLONG deadline = 0;

    ~Watched()
    {
        if (process)
            CloseHandle(process);
        if (change != INVALID_HANDLE_VALUE)
            FindCloseChangeNotification(change);
    }
    int Fail(const char* what)
    {
        std::fprintf(stderr, "vexel-smoke: %s\n", what);
        if (process)
        {
            TerminateProcess(process, 99);
            WaitForSingleObject(process, 10000);
        }
        return 1;
    }
};

void WatchFolder(Watched& watched, const std::wstring& folder)
{
    CreateDirectoryW(folder.c_str(), nullptr);
    watched.change = FindFirstChangeNotificationW(folder.c_str(), FALSE,
                                                  FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE |
                                                      FILE_NOTIFY_CHANGE_LAST_WRITE);
}

bool Start(const std::wstring& exe, Watched& watched)
{
    std::wstring command = L"\"" + exe + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    // Wine now and then refuses a start that follows others closely with an internal error (1359); the
    // same start succeeds a moment later. Other failures end the run at once.
    for (int attempt = 1; attempt <= 10; ++attempt)
    {
        if (CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                           &startup, &started))
        {
            CloseHandle(started.hThread);
            watched.process = started.hProcess;
            watched.pid = started.dwProcessId;
            return true;
        }
        DWORD error = GetLastError();
        if (error != ERROR_INTERNAL_ERROR || GetTickCount64() >= watched.deadline)
        {
            std::fprintf(stderr, "vexel-smoke: cannot start the program (%lu)\n", error);
            return false;
        }
        std::printf("vexel-smoke: the start failed with %lu, trying again\n", error);
        Sleep(200);
    }
    std::fprintf(stderr, "vexel-smoke: cannot start the program\n");
    return false;
}

// Waits for each line in turn (see the usage above); false with the reason on stderr.
bool WaitLines(Watched& watched, const std::vector<std::string>& lines)
{
    std::size_t from = 0;
    for (const std::string& line : lines)
    {
        auto wait = [&](auto ready)
        { return WaitFor(watched.process, watched.change, watched.deadline, ready); };
        bool seen = false;
        if (line.rfind("file:", 0) == 0)
        {
            const std::wstring path = Widen(line.c_str() + 5);
            seen = wait([&] { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; });
        }
        else if (line == "tray:on" || line == "tray:off")
        {
            const bool on = line == "tray:on";
            seen = wait([&] { return HasTrayIcon(GameFrameOf(watched.pid)) == on; });
        }
        else if (line == "frame:shown" || line == "frame:hidden")
        {
            const bool shown = line == "frame:shown";
            seen = wait(
                [&]
                {
                    HWND frame = GameFrameOf(watched.pid);
                    return frame && (IsWindowVisible(frame) != FALSE) == shown;
                });
        }
        else if (line.rfind("keys:", 0) == 0)
            seen = PressHotKey(static_cast<unsigned>(std::strtoul(line.c_str() + 5, nullptr, 16)));
        else
            seen = wait(
                [&]
                {
                    std::size_t at = Narrow(ReadText(watched.trace)).find(line, from);
                    if (at == std::string::npos)
                        return false;
                    from = at + line.size();
                    return true;
                });
        if (!seen)
        {
            std::fprintf(stderr, "vexel-smoke: not in time: \"%s\"; the trace log:\n%s\n", line.c_str(),
                         Narrow(ReadText(watched.trace)).c_str());
            return false;
        }
        std::printf("vexel-smoke: seen \"%s\"\n", line.c_str());
    }
    return true;
}

int EndsWithZero(Watched& watched)
{
    ULONGLONG now = GetTickCount64();
    if (WaitForSingleObject(watched.process,
                            now < watched.deadline ? static_cast<DWORD>(watched.deadline - now) : 0) !=
        WAIT_OBJECT_0)
        return watched.Fail("the program did not end in time");
    DWORD code = 1;
    GetExitCodeProcess(watched.process, &code);
    std::printf("vexel-smoke: the program ended with %lu\n", code);
    return code == 0 ? 0 : 1;
}

// Closes the main window as a person does (WM_CLOSE, then OK on the exit question) and waits for the
// program's end; 0 when it ended with 0.
int Close(Watched& watched)
{
    HWND main = FindWindowOf(watched.pid, _MAIN_W, _MAIN_H, false);
    if (!main)
        return watched.Fail("no main window of 600 x 400");
    PostMessageW(main, WM_CLOSE, 0, 0);
    HWND prompt = nullptr;
    if (!WaitFor(watched.process, INVALID_HANDLE_VALUE, watched.deadline,
                 [&] { return (prompt = FindWindowOf(watched.pid, _PROMPT_W, _PROMPT_H, true)) != nullptr; }))
        return watched.Fail("the exit question did not show");
    std::printf("vexel-smoke: exit question shown, answering OK\n");
    PostMessageW(prompt, _MSG_CONFIRM, 0, 0);
    return EndsWithZero(watched);
}

int Run(const std::wstring& exe, const std::wstring& folder, int seconds, const std::wstring& shot,
        const std::vector<std::string>& lines)
{
    Watched watched;
    watched.deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    if (!Start(exe, watched))
        return 1;
    watched.trace = TracePath(folder, TraceName(exe), watched.pid);
    WatchFolder(watched, folder);
    if (!WaitLines(watched, lines))
        return watched.Fail("the program did not get there");
    if (!SaveScreen(shot))
        return watched.Fail("cannot save the screen");
    return Close(watched);
}

// The trace logs of the programs named name in the folder.
std::vector<std::wstring> Traces(const std::wstring& folder, const std::wstring& name)
{
    std::vector<std::wstring> paths;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\" + name + L"-mc*-[Trace].log").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return paths;
    do
        paths.push_back(folder + L"\\" + found.cFileName);
    while (FindNextFileW(search, &found));
    FindClose(search);
    return paths;
}

// A trace log of the programs named name that is not among skip and holds line, and its process's
// number; empty when there is none yet.
std::wstring FindTrace(const std::wstring& folder, const std::wstring& name,
                       const std::vector<std::wstring>& skip, const std::string& line, DWORD& pid)
{
    for (const std::wstring& path : Traces(folder, name))
        if (std::find(skip.begin(), skip.end(), path) == skip.end() &&
            Narrow(ReadText(path)).find(line) != std::string::npos)
        {
            pid = wcstoul(path.c_str() + folder.size() + 1 + name.size() + 3, nullptr, 10);
            return path;
        }
    return std::wstring();
}

int Handover(const std::wstring& exe, const std::wstring& folder, int seconds,
             const std::vector<std::string>& before, const std::vector<std::string>& after)
{
    Watched old;
    old.deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    const std::wstring name = TraceName(exe);
    // Logs of earlier runs of the same name are not the restarted program's.
    std::vector<std::wstring> earlier = Traces(folder, name);
    if (!Start(exe, old))
        return 1;
    old.trace = TracePath(folder, name, old.pid);
    WatchFolder(old, folder);
    earlier.push_back(old.trace);
    if (!WaitLines(old, before))
        return old.Fail("the program did not hand over");
    if (EndsWithZero(old) != 0)
        return 1;
    std::printf("vexel-smoke: the program handed over and ended\n");
    if (after.empty())
        return 0;

    Watched next;
    next.deadline = old.deadline;
    WatchFolder(next, folder);
    if (!WaitFor(nullptr, next.change, next.deadline,
                 [&]
                 { return !(next.trace = FindTrace(folder, name, earlier, after[0], next.pid)).empty(); }))
        return next.Fail("no restarted program wrote the first line after the hand-over");
    std::printf("vexel-smoke: restarted as process %lu\n", next.pid);
    next.process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE, next.pid);
    if (!next.process)
        return next.Fail("cannot open the restarted program's process");
    if (!WaitLines(next, std::vector<std::string>(after.begin() + 1, after.end())))
        return next.Fail("the restarted program did not get there");
    return Close(next);
}

int RecordArguments()
{
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!words)
        return 1;
    std::wstring self = words[0];
    std::wstring folder = self.substr(0, self.find_last_of(L"\\/") + 1);
    std::wstring text;
    for (int i = 0; i < count; ++i)
        text += std::wstring(words[i]) + L"\n";
    HWND window =
        count > 2 ? reinterpret_cast<HWND>(static_cast<std::uintptr_t>(_wtoi64(words[2]))) : nullptr;
    text += IsWindow(window) ? L"window 1\n" : L"window 0\n";
    LocalFree(words);
    std::string utf8(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, utf8.data(), static_cast<int>(utf8.size()), nullptr,
                        nullptr);
    utf8.pop_back();
    const std::wstring temp = folder + L"arguments.tmp", done = folder + L"arguments.txt";
    HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    bool ok = file != INVALID_HANDLE_VALUE &&
              WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return ok && MoveFileExW(temp.c_str(), done.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}

bool CalledAs(const wchar_t* name)
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    const wchar_t* base = wcsrchr(path, L'\\');
    return lstrcmpiW(base ? base + 1 : path, name) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (CalledAs(L"vexelexelauncher.exe"))
        return RecordArguments();
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "swap" && argc == 5)
        return Swap(Widen(argv[2]), Widen(argv[3]), argv[4]);
    if (command == "trust-root" && argc == 3)
        return TrustRoot(argv[2]);
    if (command == "run" && argc >= 7)
        return Run(Widen(argv[2]), Widen(argv[3]), std::atoi(argv[4]), Widen(argv[5]),
                   std::vector<std::string>(argv + 6, argv + argc));
    if (command == "handover" && argc >= 6)
    {
        std::vector<std::string> before(argv + 5, argv + argc), after;
        auto split = std::find(before.begin(), before.end(), "--");
        if (split != before.end())
        {
            after.assign(split + 1, before.end());
            before.erase(split, before.end());
        }
        return Handover(Widen(argv[2]), Widen(argv[3]), std::atoi(argv[4]), before, after);
    }
    std::fprintf(stderr, "usage: vexel-smoke swap EXE NAME FILE\n"
                         "       vexel-smoke trust-root PEM\n"
                         "       vexel-smoke run EXE TRACE-FOLDER SECONDS SCREENSHOT.bmp LINE...\n"
                         "       vexel-smoke handover EXE TRACE-FOLDER SECONDS LINE... -- LINE...\n");
    return 2;
}

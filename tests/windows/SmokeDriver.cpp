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
//       whole run is bounded by SECONDS. A LINE "file:PATH" waits for that file to exist instead.
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

// Waits for the predicate until the deadline, waking when the folder changes, the process ends or a
// poll interval passes; false when the time ran out or the process ended first.
template <typename Predicate> bool WaitFor(HANDLE process, HANDLE change, ULONGLONG deadline, Predicate ready)
{
    for (;;)
    {
        if (ready())
            return true;
        ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return false;
        HANDLE handles[2] = {process, change};
        DWORD count = change != INVALID_HANDLE_VALUE ? 2 : 1;
        DWORD woke = WaitForMultipleObjects(
            count, handles, FALSE, static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, _POLL_MS)));
        if (woke == WAIT_OBJECT_0)
            return ready();
        if (woke == WAIT_OBJECT_0 + 1)
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

int Run(const std::wstring& exe, const std::wstring& folder, int seconds, const std::wstring& shot,
        const std::vector<std::string>& lines)
{
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    std::wstring command = L"\"" + exe + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    // Wine now and then refuses a start that follows others closely with an internal error (1359); the
    // same start succeeds a moment later. Other failures end the run at once.
    bool ok = false;
    for (int attempt = 1; attempt <= 10 && !ok; ++attempt)
    {
        ok = CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &started);
        DWORD error = ok ? 0 : GetLastError();
        if (!ok && (error != ERROR_INTERNAL_ERROR || GetTickCount64() >= deadline))
            return std::fprintf(stderr, "vexel-smoke: cannot start the program (%lu)\n", error), 1;
        if (!ok)
        {
            std::printf("vexel-smoke: the start failed with %lu, trying again\n", error);
            Sleep(200);
        }
    }
    if (!ok)
        return std::fprintf(stderr, "vexel-smoke: cannot start the program\n"), 1;
    CloseHandle(started.hThread);
    HANDLE process = started.hProcess;
    auto fail = [&](const char* what)
    {
        std::fprintf(stderr, "vexel-smoke: %s\n", what);
        TerminateProcess(process, 99);
        WaitForSingleObject(process, 10000);
        CloseHandle(process);
        return 1;
    };

    std::wstring name = exe.substr(exe.find_last_of(L"\\/") + 1);
    name.resize(name.rfind(L'.'));
    const std::wstring trace =
        folder + L"\\" + name + L"-mc" + std::to_wstring(started.dwProcessId) + L"-[Trace].log";
    CreateDirectoryW(folder.c_str(), nullptr);
    HANDLE change = FindFirstChangeNotificationW(folder.c_str(), FALSE,
                                                 FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE |
                                                     FILE_NOTIFY_CHANGE_LAST_WRITE);
    std::size_t from = 0;
    for (const std::string& line : lines)
    {
        if (line.rfind("file:", 0) == 0)
        {
            const std::wstring path = Widen(line.c_str() + 5);
            if (!WaitFor(process, change, deadline,
                         [&] { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }))
            {
                std::fprintf(stderr, "vexel-smoke: no file %s in time\n", line.c_str() + 5);
                return fail("the file did not appear");
            }
            std::printf("vexel-smoke: seen %s\n", line.c_str());
            continue;
        }
        bool seen = WaitFor(process, change, deadline,
                            [&]
                            {
                                std::size_t at = Narrow(ReadText(trace)).find(line, from);
                                if (at == std::string::npos)
                                    return false;
                                from = at + line.size();
                                return true;
                            });
        if (!seen)
        {
            std::fprintf(stderr, "vexel-smoke: no trace line \"%s\" in time; the trace log:\n%s\n",
                         line.c_str(), Narrow(ReadText(trace)).c_str());
            return fail("the program did not get there");
        }
        std::printf("vexel-smoke: seen \"%s\"\n", line.c_str());
    }
    if (!SaveScreen(shot))
        return fail("cannot save the screen");

    HWND main = FindWindowOf(started.dwProcessId, _MAIN_W, _MAIN_H, false);
    if (!main)
        return fail("no main window of 600 x 400");
    PostMessageW(main, WM_CLOSE, 0, 0);
    HWND prompt = nullptr;
    if (!WaitFor(process, INVALID_HANDLE_VALUE, deadline,
                 [&] {
                     return (prompt = FindWindowOf(started.dwProcessId, _PROMPT_W, _PROMPT_H, true)) !=
                            nullptr;
                 }))
        return fail("the exit question did not show");
    std::printf("vexel-smoke: exit question shown, answering OK\n");
    PostMessageW(prompt, _MSG_CONFIRM, 0, 0);
    ULONGLONG now = GetTickCount64();
    if (WaitForSingleObject(process, now < deadline ? static_cast<DWORD>(deadline - now) : 0) !=
        WAIT_OBJECT_0)
        return fail("the program did not end in time");
    DWORD code = 1;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    if (change != INVALID_HANDLE_VALUE)
        FindCloseChangeNotification(change);
    std::printf("vexel-smoke: the program ended with %lu\n", code);
    return code == 0 ? 0 : 1;
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
    std::fprintf(stderr, "usage: vexel-smoke swap EXE NAME FILE\n"
                         "       vexel-smoke trust-root PEM\n"
                         "       vexel-smoke run EXE TRACE-FOLDER SECONDS SCREENSHOT.bmp LINE...\n");
    return 2;
}

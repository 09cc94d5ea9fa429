// Helpers shared by the tests: a temporary folder that removes itself, a capture of what the log writes
// to the debugger output, a wait for a condition, the text form of a digest and a limit on file sizes.
#pragma once

#include "Common/Log.h"
#include "Common/String.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace Vexel::Test
{

// How long any test waits for an event before it fails: one generous limit for every suite (a guard
// against hanging on a busy machine, never a measurement), the end-to-end tests' too.
constexpr std::chrono::milliseconds _EVENT_TIMEOUT{60000};

class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return mPath; }
    // The folder (or a file in it) as the engine's wide text.
    String Wide(const std::string& child = {}) const;
    std::filesystem::path operator/(const std::string& child) const { return mPath / child; }

private:
    std::filesystem::path mPath;
};

// Collects every debugger-output call while it lives; each call is one entry.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::vector<std::u16string>& Calls() const;
    // Everything written, joined.
    std::u16string Text() const;
    bool Contains(std::u16string_view needle) const { return Text().find(needle) != std::u16string::npos; }
    void Clear();
};

// Bytes of a file, or empty when it cannot be read.
std::string ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, std::string_view bytes);

// UTF-8 for messages of failed expectations.
std::string Narrow(std::u16string_view text);

// Checks condition every few milliseconds until it holds (true) or timeout passes (false). Window tests
// pump their messages instead (PumpUntil in UiTestSupport.h).
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = _EVENT_TIMEOUT);

// The bytes' MD5 digest as the program writes it (32 lower-case hexadecimal digits).
String DigestText(std::string_view bytes);
std::string DigestHex(std::string_view bytes);

#if !defined(_WIN32)
// While it lives, no file of this process may grow beyond the given size: every write past it fails
// part-way, as on a full disk (the superuser included). The signal such a write raises is ignored.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(unsigned long long bytes = 4);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool On() const { return mOk; }

private:
    unsigned long long mBefore = 0;
    void (*mHandler)(int) = nullptr;
    bool mOk = false;
};
#endif

} // namespace Vexel::Test

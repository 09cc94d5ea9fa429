#include "Common/Log.h"
#include "Common/LogFiles.h"

#include "Common/Assert.h"
#include "Common/StringEncoding.h"

#include <ctime>
#include <filesystem>
#include <mutex>
#include <system_error>

namespace Vexel
{

std::atomic<bool> gLogEnabled{true};
std::atomic<bool> gLogTimeStamp{true};
std::atomic<bool> gLogLineEnd{true};

KernelContext& Kernel()
{
    static KernelContext sContext;
    return sContext;
}

namespace
{

constexpr std::size_t _MESSAGE_CHARS = 8192;
constexpr std::size_t _STAMP_CHARS = 1024;
constexpr std::size_t _PATH_CHARS = 1024;

// Standard error until the platform installs its own debugger output (SetDebugOutput at start-up).
void DefaultDebugOutput(const char16_t* text)
{
    // UTF-8 in pieces through a stack buffer, each unit on its own as the engine's encoder does.
    char chunk[1024];
    std::size_t used = 0;
    for (const char16_t* p = text; *p; ++p)
    {
        if (used + 3 > sizeof chunk)
        {
            std::fwrite(chunk, 1, used, stderr);
            used = 0;
        }
        used += EncodeUtf8(*p, chunk + used);
    }
    if (used)
        std::fwrite(chunk, 1, used, stderr);
    std::fflush(stderr);
}

std::atomic<DebugOutputFunc> gDebugOutput{nullptr};

// The writer installed for both channels once their files are open.
void WriteToFile(const char16_t* text, LogFile file, bool lineEnd)
{
    if (!file)
        return;
    std::size_t length = std::char_traits<char16_t>::length(text);
    if (length)
        std::fwrite(text, sizeof(char16_t), length, file);
    if (lineEnd)
        std::fwrite(u"\r\n", sizeof(char16_t), 2, file);
}

// The opener until the platform installs its own.
LogFile DefaultOpenLogFile(const String& path)
{
    std::u16string text(path);
    for (char16_t& c : text)
        if (c == u'\\')
            c = u'/';
    std::filesystem::path native(text);
    PrepareLogFilePlace(native);
    return std::fopen(native.string().c_str(), "w+b");
}

std::atomic<LogFileOpener> gLogFileOpener{nullptr};

LogFile CreateLogFile(const String& path)
{
    LogFileOpener opener = gLogFileOpener.load();
    LogFile file = (opener ? opener : DefaultOpenLogFile)(path);
    if (!file)
        return nullptr;
    // Unbuffered: every writer call is one write, and nothing is lost if the process dies.
    std::setvbuf(file, nullptr, _IONBF, 0);
    const unsigned char bom[2] = {0xFF, 0xFE};
    std::fwrite(bom, 1, 2, file);
    return file;
}

void CloseFiles()
{
    KernelContext& k = Kernel();
    if (k.traceFile)
    {
        std::fclose(k.traceFile);
        k.traceFile = nullptr;
        k.traceWriter = nullptr;
    }
    if (k.errorFile)
    {
        std::fclose(k.errorFile);
        k.errorFile = nullptr;
        k.errorWriter = nullptr;
    }
}

} // namespace

void SetDebugOutput(DebugOutputFunc func)
{
    gDebugOutput.store(func);
}

void DebugOutput(const char16_t* text)
{
    DebugOutputFunc func = gDebugOutput.load();
    (func ? func : DefaultDebugOutput)(text);
}

void SetLogFileOpener(LogFileOpener opener)
{
    gLogFileOpener.store(opener);
}

void PrepareLogFilePlace(const std::filesystem::path& native)
{
    std::error_code ec;
    if (native.has_parent_path())
        std::filesystem::create_directories(native.parent_path(), ec);
    if (std::filesystem::exists(native, ec))
        std::filesystem::permissions(native, std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add, ec);
}

void FormatTimeStamp(char16_t* buffer, std::size_t length)
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    {
        // std::localtime hands every caller the same result: one caller at a time copies it.
        static std::mutex lock;
        std::lock_guard<std::mutex> guard(lock);
        if (const std::tm* nowLocal = std::localtime(&now))
            local = *nowLocal;
    }
    FormatBuffer(buffer, length, u"%.4d/%.2d/%.2d-%.2d:%.2d:%.2d", local.tm_year + 1900, local.tm_mon + 1,
                 local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
}

void LogWriteArgs(LogChannel channel, const char16_t* format, const FormatArg* args, std::size_t count)
{
    if (!gLogEnabled.load(std::memory_order_relaxed) || !format)
        return;
    char16_t message[_MESSAGE_CHARS];
    FormatArgs(message, _MESSAGE_CHARS, format, args, count);

    const KernelContext& k = Kernel();
    LogWriter writer = channel == LogChannel::Trace ? k.traceWriter : k.errorWriter;
    LogFile file = channel == LogChannel::Trace ? k.traceFile : k.errorFile;
    bool stamp = gLogTimeStamp.load(std::memory_order_relaxed);
    bool lineEnd = gLogLineEnd.load(std::memory_order_relaxed);

    char16_t timeStamp[_STAMP_CHARS];
    if (stamp)
        FormatTimeStamp(timeStamp, _STAMP_CHARS);
    if (!writer)
    {
        if (stamp)
            DebugOutput(timeStamp);
        DebugOutput(message);
        if (lineEnd)
            DebugOutput(u"\r\n");
        return;
    }
    if (stamp)
        writer(timeStamp, file, false);
    writer(message, file, lineEnd);
}

void LogBoth(const char16_t* text)
{
    LogTrace(u"%ls", text);
    if (!LogsShareDestination())
        LogError(u"%ls", text);
}

bool LogsShareDestination()
{
    const KernelContext& k = Kernel();
    return k.traceWriter == k.errorWriter && k.traceFile == k.errorFile;
}

String LogFilePath(const char16_t* tag, const char16_t* folder, const char16_t* name, const char16_t* channel)
{
    String program = Kernel().modulePath;
    std::size_t slash = program.find_last_of(u"\\/");
    String programFolder = slash == String::npos ? String(u".") : String(program.substr(0, slash));
    String programName = slash == String::npos ? program : String(program.substr(slash + 1));
    std::size_t dot = programName.rfind(u'.');
    if (dot != String::npos)
        programName.resize(dot);

    const char16_t* useFolder = folder && *folder ? folder : programFolder.c_str();
    const char16_t* useName = name && *name ? name : programName.c_str();
    const char16_t* useTag = tag ? tag : u"";
    char16_t path[_PATH_CHARS];
    FormatBuffer(path, _PATH_CHARS, u"%ls\\%ls-%ls%ls[%ls].log", useFolder, useName, useTag,
                 *useTag ? u"-" : u"", channel);
    return String(path);
}

void OpenLogFiles(const char16_t* tag, const char16_t* folder, const char16_t* name)
{
    String tracePath = LogFilePath(tag, folder, name, u"Trace");
    String errorPath = LogFilePath(tag, folder, name, u"Error");
    KernelContext& k = Kernel();

    if (k.traceFile)
    {
        std::fclose(k.traceFile);
        k.traceFile = nullptr;
        k.traceWriter = nullptr;
    }
    if (LogFile file = CreateLogFile(tracePath))
    {
        k.traceFile = file;
        k.traceWriter = WriteToFile;
    }

    if (k.errorFile)
    {
        std::fclose(k.errorFile);
        k.errorFile = nullptr;
        k.errorWriter = nullptr;
    }
    if (LogFile file = CreateLogFile(errorPath))
    {
        k.errorFile = file;
        k.errorWriter = WriteToFile;
    }
    k.closeFunction = CloseFiles;
}

void CloseLogFiles()
{
    if (Kernel().closeFunction)
        Kernel().closeFunction();
}

void AssertFailed(const char16_t* expression, const char16_t* file, int line)
{
    if (!gLogEnabled.load(std::memory_order_relaxed))
        return;
    LogError(u"Build Date : %ls\r\nAssertion Failed : %ls\r\n%ls:%d", VEXEL_WIDEN(__DATE__),
             expression ? expression : u"", file ? file : u"", line);
}

} // namespace Vexel

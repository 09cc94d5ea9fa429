#include "Platform/Process.h"

#include "Common/Log.h"
#include "Common/StringEncoding.h"
#include "Platform/File.h"
#include "Platform/Folders.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace Vexel
{

namespace
{

bool IsExecutableFile(const std::string& native)
{
    struct stat st;
    return ::stat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(native.c_str(), X_OK) == 0;
}

bool HasSeparator(const String& word)
{
    return word.find_first_of(u"\\/") != String::npos;
}

// The program file a bare name stands for, searched in the PATH; empty when there is none.
std::string FindInPath(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::string list = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t at = 0;
    while (at <= list.size())
    {
        std::size_t end = list.find(':', at);
        if (end == std::string::npos)
            end = list.size();
        std::string folder = list.substr(at, end - at);
        std::string candidate = (folder.empty() ? std::string(".") : folder) + "/" + name;
        if (IsExecutableFile(candidate))
            return candidate;
        at = end + 1;
    }
    return {};
}

// The file to run for a command's first word: a path as the file system has it, or a PATH search.
std::string ResolveProgram(const String& word)
{
    if (word.empty())
        return {};
    if (HasSeparator(word))
        return NativePath(word);
    return FindInPath(ToNativeText(word));
}

bool Spawn(const std::string& program, const std::vector<std::string>& arguments, const String& folder,
           pid_t& pid)
{
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    std::string nativeFolder;
    if (!folder.empty())
    {
        nativeFolder = NativePath(folder);
        posix_spawn_file_actions_addchdir_np(&actions, nativeFolder.c_str());
    }
    // The child starts with no blocked signals and default handling of those a program commonly changes.
    sigset_t mask;
    sigemptyset(&mask);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGCHLD, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM})
        sigaddset(&defaults, sig);
    posix_spawnattr_setsigmask(&attributes, &mask);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    int error = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
    {
        LogTrace(u"[FG] Cannot start %ls: %hs", FromNativeText(program), std::strerror(error));
        return false;
    }
    return true;
}

// Collects the exit status of programs started without waiting, so none is left a zombie. One thread
// serves every such child, watching their process descriptors, and it runs only while some are alive.
// Only the pids it was given are reaped: other children (the web views' helpers, RunProcess) are
// waited for by their own owners.
class ChildReaper
{
public:
    ChildReaper() : mWake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~ChildReaper()
    {
        {
            std::lock_guard guard(mLock);
            mStopping = true;
        }
        Wake();
        if (mThread.joinable())
            mThread.join();
        for (const Child& child : mChildren)
            if (child.pidfd >= 0)
                ::close(child.pidfd);
        if (mWake >= 0)
            ::close(mWake);
    }
    ChildReaper(const ChildReaper&) = delete;
    ChildReaper& operator=(const ChildReaper&) = delete;

    void Add(pid_t pid)
    {
        int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
        std::lock_guard guard(mLock);
        if (pidfd < 0 || mWake < 0)
        {
            if (pidfd >= 0)
                ::close(pidfd);
            // No process descriptors here: the child is collected by the next start or wait instead.
            mUnwatched.push_back(pid);
            SweepUnwatched();
            return;
        }
        ::fcntl(pidfd, F_SETFD, FD_CLOEXEC);
        mChildren.push_back({pid, pidfd});
        if (mRunning)
        {
            Wake();
            return;
        }
        if (mThread.joinable())
            mThread.join(); // the previous thread has finished its work and is leaving
        mRunning = true;
        mThread = std::thread([this] { Run(); });
    }

    void WaitAll()
    {
        std::unique_lock guard(mLock);
        for (pid_t pid : mUnwatched)
            while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR)
            {
            }
        mUnwatched.clear();
        mIdle.wait(guard, [this] { return !mRunning; });
        if (mThread.joinable())
            mThread.join();
    }

private:
    struct Child
    {
        pid_t pid;
        int pidfd;
    };

    void Wake()
    {
        std::uint64_t one = 1;
        if (mWake >= 0) [[maybe_unused]]
            auto written = ::write(mWake, &one, sizeof one);
    }

    void SweepUnwatched()
    {
        std::erase_if(mUnwatched, [](pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) != 0; });
    }

    void Run()
    {
        std::vector<pollfd> watched;
        for (;;)
        {
            {
                std::lock_guard guard(mLock);
                if (mStopping || mChildren.empty())
                {
                    mRunning = false;
                    mIdle.notify_all();
                    return;
                }
                watched.assign(1, pollfd{mWake, POLLIN, 0});
                for (const Child& child : mChildren)
                    watched.push_back(pollfd{child.pidfd, POLLIN, 0});
            }
            if (::poll(watched.data(), watched.size(), -1) < 0)
                continue; // EINTR: look again
            if (watched[0].revents & POLLIN)
            {
                std::uint64_t count = 0;
                [[maybe_unused]] auto got = ::read(mWake, &count, sizeof count);
            }
            std::lock_guard guard(mLock);
            for (std::size_t i = 1; i < watched.size(); ++i)
            {
                if ((watched[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0)
                    continue;
                auto at = std::find_if(mChildren.begin(), mChildren.end(),
                                       [&](const Child& child) { return child.pidfd == watched[i].fd; });
                if (at == mChildren.end())
                    continue;
                while (::waitpid(at->pid, nullptr, WNOHANG) < 0 && errno == EINTR)
                {
                }
                ::close(at->pidfd);
                mChildren.erase(at);
            }
        }
    }

    std::mutex mLock;
    std::condition_variable mIdle;
    std::vector<Child> mChildren;
    std::vector<pid_t> mUnwatched;
    int mWake;
    bool mRunning = false;
    bool mStopping = false;
    std::thread mThread;
};

ChildReaper& Reaper()
{
    static ChildReaper reaper;
    return reaper;
}

void Detach(pid_t pid)
{
    Reaper().Add(pid);
}

bool SpawnWords(const std::vector<String>& words, const String& folder, pid_t& pid)
{
    if (words.empty())
        return false;
    std::string program = ResolveProgram(words[0]);
    if (program.empty())
    {
        LogTrace(u"[FG] Cannot start %ls: no such program", words[0]);
        return false;
    }
    std::vector<std::string> arguments;
    arguments.push_back(ToNativeText(words[0]));
    for (std::size_t i = 1; i < words.size(); ++i)
        arguments.push_back(ToNativeText(words[i]));
    return Spawn(program, arguments, folder, pid);
}

bool SpawnCommandLine(const String& commandLine, const String& folder, pid_t& pid)
{
    return SpawnWords(SplitCommandLine(commandLine), folder, pid);
}

bool SpawnArguments(const String& program, const std::vector<String>& arguments, const String& folder,
                    pid_t& pid)
{
    std::vector<String> words;
    words.reserve(arguments.size() + 1);
    words.push_back(program);
    words.insert(words.end(), arguments.begin(), arguments.end());
    return SpawnWords(words, folder, pid);
}

bool StartDetached(const std::string& program, const std::vector<std::string>& arguments)
{
    pid_t pid = 0;
    if (!Spawn(program, arguments, String(), pid))
        return false;
    Detach(pid);
    return true;
}

// Hands a document or an address to the desktop's opener.
bool OpenTarget(const String& target)
{
    std::string opener = FindInPath("xdg-open");
    if (opener.empty())
    {
        LogTrace(u"[FG] Cannot open %ls: no xdg-open", target);
        return false;
    }
    // A local file goes by its name on disk; anything else (an address) as it is.
    std::string native = NativePath(target);
    struct stat st;
    std::string argument = ::stat(native.c_str(), &st) == 0 ? native : ToNativeText(target);
    return StartDetached(opener, {"xdg-open", argument});
}

String AutostartName(const String& name)
{
    String clean;
    for (char16_t c : name)
        clean += (c < 0x20 || c == u'/' || c == u'\\') ? u'_' : c;
    return clean;
}

// The value of a desktop entry key: backslashes and line breaks escaped.
std::string DesktopValue(const std::string& text)
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

} // namespace

bool StartProcess(const String& commandLine, const String& folder)
{
    pid_t pid = 0;
    if (!SpawnCommandLine(commandLine, folder, pid))
        return false;
    Detach(pid);
    return true;
}

bool StartProgram(const std::vector<String>& words, const String& folder)
{
    pid_t pid = 0;
    if (!SpawnWords(words, folder, pid))
        return false;
    Detach(pid);
    return true;
}

bool StartProgram(const String& program, const std::vector<String>& arguments, const String& folder)
{
    pid_t pid = 0;
    if (!SpawnArguments(program, arguments, folder, pid))
        return false;
    Detach(pid);
    return true;
}

bool RunProgram(const String& program, const std::vector<String>& arguments, const String& folder,
                int* exitCode)
{
    if (exitCode)
        *exitCode = -1;
    pid_t pid = 0;
    if (!SpawnArguments(program, arguments, folder, pid))
        return false;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
    {
        if (errno != EINTR)
            return false;
    }
    if (exitCode)
        *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

String ProgramFileName(const String& name)
{
    return name;
}

bool RemoveProgramFileAtExit(const String& path)
{
    // The running image stays mapped; only its name goes.
    return DeleteFile(path) || !FileExists(path);
}

String FindProgram(const String& name)
{
    std::string found = ResolveProgram(name);
    return !found.empty() && IsExecutableFile(found) ? FromNativeText(found) : String();
}

void WaitForStartedPrograms()
{
    Reaper().WaitAll();
}

bool RunProcess(const String& commandLine, const String& folder, int* exitCode)
{
    if (exitCode)
        *exitCode = -1;
    pid_t pid = 0;
    if (!SpawnCommandLine(commandLine, folder, pid))
        return false;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
    {
        if (errno != EINTR)
            return false;
    }
    if (exitCode)
        *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

bool OpenWithArguments(const String& commandLine)
{
    std::vector<String> words = SplitCommandLine(commandLine);
    if (words.empty() || words[0].empty())
        return false;
    std::string program = ResolveProgram(words[0]);
    if (!program.empty() && IsExecutableFile(program))
    {
        std::vector<std::string> arguments;
        for (const String& word : words)
            arguments.push_back(ToNativeText(word));
        return StartDetached(program, arguments);
    }
    return OpenTarget(words[0]);
}

bool RunElevated(const String& path)
{
    return RunElevated(path, {});
}

bool RunElevated(const String& path, const std::vector<String>& arguments)
{
    std::string native = NativePath(path);
    char full[PATH_MAX + 1];
    if (native.empty() || !::realpath(native.c_str(), full))
        return false;
    if (!IsExecutableFile(full))
        return OpenTarget(path);
    std::vector<std::string> words;
    std::string elevate = FindInPath("pkexec");
    if (!elevate.empty())
        words.push_back("pkexec");
    words.push_back(full);
    for (const String& argument : arguments)
        words.push_back(ToUtf8(argument));
    return StartDetached(elevate.empty() ? std::string(full) : elevate, words);
}

String AutostartEntryPath(const String& name)
{
    String config = GetSpecialFolder(SpecialFolder::Profile);
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
        config = FromNativeText(xdg);
    else if (!config.empty())
        config += u"/.config";
    if (config.empty())
        return String();
    return config + u"/autostart/" + AutostartName(name) + u".desktop";
}

bool SetAutostart(const String& name, const String& path, const String& arguments)
{
    String entry = AutostartEntryPath(name);
    if (name.empty() || path.empty() || entry.empty())
        return false;
    // Exec: the program in double quotes, where ", `, $ and \ take a backslash, then the arguments as
    // given; % doubles (it starts field codes) everywhere.
    std::string exec = "\"";
    for (char c : NativePath(path))
    {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            exec += '\\';
        exec += c == '%' ? std::string("%%") : std::string(1, c);
    }
    exec += "\"";
    if (!arguments.empty())
    {
        exec += ' ';
        for (char c : ToNativeText(arguments))
            exec += c == '%' ? std::string("%%") : std::string(1, c);
    }
    std::string text = "[Desktop Entry]\nType=Application\nName=" + DesktopValue(ToNativeText(name)) +
                       "\nExec=" + DesktopValue(exec) + "\nX-GNOME-Autostart-enabled=true\n";
    String folder = entry.substr(0, entry.find_last_of(u'/'));
    return CreateFolder(folder) && WriteFile(entry, text.data(), text.size());
}

bool RemoveAutostart(const String& name)
{
    String entry = AutostartEntryPath(name);
    if (name.empty() || entry.empty())
        return false;
    return !FileExists(entry) || DeleteFile(entry);
}

} // namespace Vexel

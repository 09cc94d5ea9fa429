#include "PrivateDisplay.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace Vexel::Test
{

namespace
{

struct DisplayState
{
    bool started = false;
    bool ok = false;
    std::string error;
    pid_t server = 0;
    pid_t owner = 0; // the process that started the server; a forked child never stops it
};

DisplayState& State()
{
    static DisplayState state;
    return state;
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

std::string FindProgram(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t begin = 0;
    while (begin <= dirs.size())
    {
        std::size_t end = dirs.find(':', begin);
        if (end == std::string::npos)
            end = dirs.size();
        std::string candidate = (end > begin ? dirs.substr(begin, end - begin) : ".") + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        begin = end + 1;
    }
    return {};
}

// Ends the server when the test program ends normally; PR_SET_PDEATHSIG covers every other end.
void StopServer()
{
    DisplayState& state = State();
    if (state.server <= 0 || getpid() != state.owner)
        return;
    kill(state.server, SIGTERM);
    waitpid(state.server, nullptr, 0);
    state.server = 0;
}

// Starts Xvfb and returns its display number, or an empty string with the reason in error; server
// receives the process id of a server that opened its display.
std::string StartServer(std::string& error, pid_t& serverPid)
{
    char logPath[] = "/tmp/vexel-xvfb-XXXXXX";
    int logFd = mkstemp(logPath);
    if (logFd < 0)
    {
        error = std::string("no file for the server's output: ") + std::strerror(errno);
        return {};
    }
    int fds[2];
    if (pipe(fds) != 0)
    {
        error = std::string("pipe: ") + std::strerror(errno);
        close(logFd);
        unlink(logPath);
        return {};
    }
    std::string fd = std::to_string(fds[1]);
    const char* argv[] = {"Xvfb",         "-displayfd", fd.c_str(), "-screen",    "0",
                          "1280x1024x24", "-nolisten",  "tcp",      "-terminate", nullptr};
    // The program is looked up before the fork: the child may only make async-signal-safe calls.
    std::string program = FindProgram("Xvfb");
    pid_t parent = getpid();
    pid_t server = program.empty() ? -1 : fork();
    if (server == 0)
    {
        // The server goes with the test program however that ends (a crash, a kill, a time-out).
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(127);
        int devNull = open("/dev/null", O_RDONLY);
        if (devNull >= 0)
            dup2(devNull, 0);
        dup2(logFd, 1);
        dup2(logFd, 2);
        close(fds[0]);
        execv(program.c_str(), const_cast<char* const*>(argv));
        _exit(127);
    }
    int rc = program.empty() ? ENOENT : server < 0 ? errno : 0;
    close(fds[1]);
    close(logFd);
    std::string number;
    if (rc != 0)
        error = std::string("Xvfb could not be started: ") + std::strerror(rc);
    else
    {
        char c = 0;
        while (read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        if (number.empty())
        {
            // The write end closed without a number: the server ended. Its output says why.
            int status = 0;
            waitpid(server, &status, 0);
            error = "Xvfb ended without opening a display";
            if (WIFEXITED(status))
                error += " (exit code " + std::to_string(WEXITSTATUS(status)) + ")";
            std::string output = ReadAll(logPath);
            if (!output.empty())
                error += ":\n" + output;
        }
        else
            serverPid = server;
    }
    close(fds[0]);
    unlink(logPath);
    return number;
}

} // namespace

bool UsePrivateDisplay()
{
    DisplayState& state = State();
    if (state.started)
        return state.ok;
    state.started = true;
    const char* shared = std::getenv("VEXEL_TEST_SHARED_DISPLAY");
    if (shared && std::strcmp(shared, "1") == 0)
    {
        state.ok = std::getenv("DISPLAY") != nullptr;
        if (!state.ok)
            state.error = "VEXEL_TEST_SHARED_DISPLAY=1 but DISPLAY is not set";
        return state.ok;
    }
    std::string number = StartServer(state.error, state.server);
    state.ok = !number.empty();
    if (state.ok)
    {
        state.owner = getpid();
        std::atexit(StopServer);
        setenv("DISPLAY", (":" + number).c_str(), 1);
    }
    else
        unsetenv("DISPLAY"); // never the display of whoever started the tests
    return state.ok;
}

const std::string& PrivateDisplayError()
{
    return State().error;
}

} // namespace Vexel::Test

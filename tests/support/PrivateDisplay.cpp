#include "PrivateDisplay.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace Vexel::Test
{

namespace
{

struct DisplayState
{
    bool started = false;
    bool ok = false;
    std::string error;
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

// Starts Xvfb and returns its display number, or an empty string with the reason in error.
std::string StartServer(std::string& error)
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
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, logFd, 1);
    posix_spawn_file_actions_adddup2(&actions, logFd, 2);
    pid_t server = 0;
    int rc = posix_spawnp(&server, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
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
    std::string number = StartServer(state.error);
    state.ok = !number.empty();
    if (state.ok)
        setenv("DISPLAY", (":" + number).c_str(), 1);
    else
        unsetenv("DISPLAY"); // never the display of whoever started the tests
    return state.ok;
}

const std::string& PrivateDisplayError()
{
    return State().error;
}

} // namespace Vexel::Test

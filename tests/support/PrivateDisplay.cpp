#include "PrivateDisplay.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <unistd.h>

extern char** environ;

namespace Vexel::Test
{

void UsePrivateDisplay()
{
    static bool started = false;
    if (started)
        return;
    started = true;
    const char* shared = std::getenv("VEXEL_TEST_SHARED_DISPLAY");
    if (shared && std::strcmp(shared, "1") == 0)
        return;
    int fds[2];
    if (pipe(fds) != 0)
        return;
    std::string fd = std::to_string(fds[1]);
    const char* argv[] = {"Xvfb",         "-displayfd", fd.c_str(), "-screen",    "0",
                          "1280x1024x24", "-nolisten",  "tcp",      "-terminate", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    // Not the test's output: the test runner waits for those pipes to close.
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t server = 0;
    int rc = posix_spawnp(&server, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0)
    {
        close(fds[0]);
        return; // no Xvfb here: use the display we have
    }
    std::string number;
    char c = 0;
    while (read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    if (!number.empty())
        setenv("DISPLAY", (":" + number).c_str(), 1);
}

} // namespace Vexel::Test

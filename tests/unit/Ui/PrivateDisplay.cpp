// Each window-system test process gets an X server of its own, so that tests run side by side cannot
// move each other's pointer, steal each other's focus or grab each other's keys. Set
// VEXEL_TEST_SHARED_DISPLAY=1 to use the display the tests were started on instead (to watch them).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <unistd.h>

extern char** environ;

namespace
{

class PrivateDisplay : public ::testing::Environment
{
public:
    void SetUp() override
    {
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
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        int rc = posix_spawnp(&mServer, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        if (rc != 0)
        {
            close(fds[0]);
            mServer = 0;
            return; // no Xvfb here: use the display we have
        }
        // The server writes its display number once it accepts connections, and ends by itself (-terminate)
        // when its last client, this process and its web content processes, has gone; stopping it earlier
        // would pull the display from under GTK while the process exits.
        std::string number;
        char c = 0;
        while (read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(fds[0]);
        if (number.empty())
            return;
        setenv("DISPLAY", (":" + number).c_str(), 1);
    }

private:
    pid_t mServer = 0;
};

[[maybe_unused]] ::testing::Environment* const gDisplay =
    ::testing::AddGlobalTestEnvironment(new PrivateDisplay);

} // namespace

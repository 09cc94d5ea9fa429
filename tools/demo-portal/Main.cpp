// The demo operator site on 127.0.0.1.
//
//   demo-portal [--port N] [--game-params full|single|none] [--client PATH]
//
// --port 0 (the default) picks a free port. The bound port is printed on stdout as "port N" once the
// site answers. SIGTERM or SIGINT stops it cleanly. Every request is logged on stderr.
#include "DemoPortal.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace Vexel::Portal;

namespace
{
int Usage()
{
    std::fprintf(stderr, "usage: demo-portal [--port N] [--game-params full|single|none] [--client PATH]\n");
    return 2;
}
} // namespace

int main(int argc, char** argv)
{
    PortalOptions options;
    int port = 0;
    for (int i = 1; i < argc; ++i)
    {
        std::string arg = argv[i];
        if (i + 1 >= argc)
            return Usage();
        std::string value = argv[++i];
        if (arg == "--port")
        {
            char* end = nullptr;
            long number = std::strtol(value.c_str(), &end, 10);
            if (*end || number < 0 || number > 65535)
                return Usage();
            port = static_cast<int>(number);
        }
        else if (arg == "--game-params")
        {
            if (value == "full")
                options.gameParams = GameParams::Full;
            else if (value == "single")
                options.gameParams = GameParams::Single;
            else if (value == "none")
                options.gameParams = GameParams::None;
            else
                return Usage();
        }
        else if (arg == "--client")
            options.clientProgram = value;
        else
            return Usage();
    }

    // The signals are taken by sigwait on this thread only; the server threads never see them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    DemoPortal portal(options);
    if (portal.Start(port) < 0)
    {
        std::fprintf(stderr, "demo-portal: cannot listen on 127.0.0.1:%d\n", port);
        return 1;
    }
    std::printf("port %d\n", portal.Port());
    std::fflush(stdout);
    std::fprintf(stderr, "demo-portal: serving %s\n", portal.Site().c_str());

    int signal = 0;
    sigwait(&stop, &signal);
    std::fprintf(stderr, "demo-portal: stopping (signal %d)\n", signal);
    portal.Stop();
    return 0;
}

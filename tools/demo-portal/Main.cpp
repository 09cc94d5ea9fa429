// The demo operator site on 127.0.0.1.
//
//   demo-portal [--port N] [--game-params full|single|none] [--client PATH] [--module PATH]
//               [--module-md5 HEX] [--stall-first-cdn] [--half-first-cdn] [--ban-module MESSAGE]
//
// --module serves that game module from the site's two CDN addresses (the game pages name both; the
// first is the module address's own host); --module-md5 puts another digest into the game pages;
// --stall-first-cdn makes the first CDN hold every request without an answer; --half-first-cdn makes it
// send half of the module and then hold the connection; --ban-module puts the
// module on the block list (/dev/bl) with the message ("" for none).
// --port 0 (the default) picks a free port. The bound port is printed on stdout as "port N" once the
// site answers, and the two CDN addresses on the next line as "cdn HOST:PORT HOST:PORT". SIGTERM or SIGINT
// stops it cleanly. Every request is logged on stderr.
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
    std::fprintf(stderr, "usage: demo-portal [--port N] [--game-params full|single|none] [--client PATH]\n"
                         "                   [--module PATH] [--module-md5 HEX] [--stall-first-cdn]\n"
                         "                   [--half-first-cdn] [--ban-module MESSAGE]\n");
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
        if (arg == "--stall-first-cdn")
        {
            options.stallFirstCdn = true;
            continue;
        }
        if (arg == "--half-first-cdn")
        {
            options.halfFirstCdn = true;
            continue;
        }
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
        else if (arg == "--module")
            options.module = value;
        else if (arg == "--module-md5")
            options.moduleMd5 = value;
        else if (arg == "--ban-module")
        {
            options.banModule = true;
            options.banMessage = value;
        }
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
    std::printf("port %d\ncdn %s %s\n", portal.Port(), portal.CdnHost(0).c_str(), portal.CdnHost(1).c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "demo-portal: serving %s\n", portal.Site().c_str());

    int signal = 0;
    sigwait(&stop, &signal);
    std::fprintf(stderr, "demo-portal: stopping (signal %d)\n", signal);
    portal.Stop();
    return 0;
}

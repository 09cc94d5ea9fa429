// A real static web server from the system (lighttpd) serving a folder on 127.0.0.1, for tests that must
// see what the servers operators run do with our requests (percent-encoded paths, byte ranges, refusals).
// It runs as the current user with a configuration written to a temporary folder. The test opens the
// listening socket on an ephemeral port first and hands it over (socket activation), so requests made
// at once wait in the backlog until the server accepts them: no waiting for it to come up. Stopped by
// the destructor.
#pragma once

#include "TestSupport.h"

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace Vexel::Test
{

class StaticWebServer
{
public:
    // Serves root; requests of paths starting with one of the denied prefixes ("/private/") get 403.
    explicit StaticWebServer(const std::filesystem::path& root, const std::vector<std::string>& denied = {});
    ~StaticWebServer();
    StaticWebServer(const StaticWebServer&) = delete;
    StaticWebServer& operator=(const StaticWebServer&) = delete;

    // False when the server could not be started; Error says why.
    bool Started() const { return mPid > 0; }
    const std::string& Error() const { return mError; }
    int Port() const { return mPort; }
    // "http://127.0.0.1:<port>" followed by path (which starts with "/").
    std::string Url(const std::string& path) const;
    // What the server wrote to its error log so far.
    std::string Log() const;

private:
    bool Start(const std::filesystem::path& root, const std::vector<std::string>& denied);

    TempDir mDir;
    pid_t mPid = -1;
    int mPort = 0;
    std::string mError;
};

} // namespace Vexel::Test

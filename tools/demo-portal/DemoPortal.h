// The demo operator site: login, server list, server information, game pages, messages, payment and
// video pages, and the small files the client fetches (start report, program digest, plug-in, hall,
// game module). Everything is served on 127.0.0.1 only; every request is logged on stderr.
#pragma once

#include <condition_variable>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib
{
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace Vexel::Portal
{

// What the game pages carry in their param elements.
enum class GameParams
{
    Full,   // libmd5, liburl, size, param1..., cdnip
    Single, // one param only: the client keeps waiting for the rest
    None,   // no param ever comes
};

struct PortalOptions
{
    GameParams gameParams = GameParams::Full;
    // Served at /client/vexel-launcher with its digest at /client/vexel-launcher.md5 (scripts/demo
    // --upgrade names a newer build here). Without it both answer 404: no program is published.
    std::filesystem::path clientProgram;
    // The game module served from the two CDN addresses (/download/vexel3d.lod). Without it a small
    // placeholder is served.
    std::filesystem::path module;
    // The digest the game pages give for the module; empty: the module's own.
    std::string moduleMd5;
    // The first CDN accepts requests and never answers.
    bool stallFirstCdn = false;
    // The first CDN sends the first half of the module (announcing all of it), then holds the connection.
    bool halfFirstCdn = false;
    // The block list (/dev/bl) bans the served module with this message ("" bans it without one).
    bool banModule = false;
    std::string banMessage;
};

struct Server
{
    std::string sid;
    std::string name;
};

// The three game servers of the site, in list order.
const std::vector<Server>& Servers();

// The program's MD5 text form (the usual digest with its 16 bytes reversed) of the bytes.
std::string DigestText(const std::string& bytes);

class DemoPortal
{
public:
    explicit DemoPortal(PortalOptions options);
    ~DemoPortal();
    DemoPortal(const DemoPortal&) = delete;
    DemoPortal& operator=(const DemoPortal&) = delete;

    // Binds 127.0.0.1:port (0 picks a free port) and serves on a thread of its own. The bound port, or
    // -1 when the port cannot be bound.
    int Start(int port);
    void Stop();
    int Port() const { return mPort; }
    // The two CDN addresses ("127.0.0.1:<port>") that serve the module.
    std::string CdnHost(int index) const;
    // "http://127.0.0.1:<port>"
    std::string Site() const;

private:
    struct Session
    {
        std::string user;
        std::string uid;
        std::string serverSid; // the server of the last game page, empty before
    };

    void Route();
    // The session of the request's cookie, or null.
    bool FindSession(const httplib::Request& request, Session& out);
    void SetServer(const httplib::Request& request, const std::string& sid);
    void ServeServerInfo(const httplib::Request& request, httplib::Response& response);
    std::string GameUrl(const Session& session, const Server& server) const;
    std::string ServerInfoJson(const Session& session) const;

    PortalOptions mOptions;
    std::unique_ptr<httplib::Server> mServer;
    std::thread mThread;
    std::unique_ptr<httplib::Server> mCdn[2];
    std::thread mCdnThreads[2];
    int mCdnPorts[2] = {-1, -1};
    std::mutex mStallLock;
    std::condition_variable mStallEnd;
    bool mStopping = false;
    int mPort = -1;
    std::string mModule;
    std::string mClient;

    std::mutex mLock;
    std::map<std::string, Session> mSessions;
};

} // namespace Vexel::Portal

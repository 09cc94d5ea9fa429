#include "DemoPortal.h"

#include "Pages.h"

#include "Common/Md5.h"
#include "Common/StringEncoding.h"

#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>

namespace Vexel::Portal
{

namespace
{
constexpr const char* _COOKIE = "vxsid";
constexpr const char* _HTML = "text/html; charset=utf-8";
constexpr const char* _JSON = "application/json; charset=utf-8";
constexpr const char* _SCRIPT_FILE = "#!/bin/sh\n# Demo %s: does nothing.\nexit 0\n";

std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string NewToken()
{
    static std::mutex lock;
    static std::random_device device;
    static std::mt19937_64 random(device());
    std::lock_guard<std::mutex> guard(lock);
    char text[33];
    std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(random()),
                  static_cast<unsigned long long>(random()));
    return text;
}

// A stable number per user name, so the same player keeps the same id across sessions.
std::string UidOf(const std::string& user)
{
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : user)
        hash = (hash ^ c) * 16777619u;
    return std::to_string(10000 + hash % 90000);
}

// Identifiers may come with the client's "S" prefix.
std::string Unprefixed(const std::string& id)
{
    return !id.empty() && id[0] == 'S' ? id.substr(1) : id;
}

bool AllDigits(const std::string& text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

const Server* FindServer(const std::string& sid)
{
    for (const Server& server : Servers())
        if (server.sid == sid)
            return &server;
    return nullptr;
}

std::string Json(const std::string& text)
{
    return JsonQuote(text, false);
}

void Redirect(httplib::Response& response, const std::string& to)
{
    response.status = 302;
    response.set_header("Location", to);
    response.set_content("", "text/plain");
}

void Forbid(httplib::Response& response, const std::string& error)
{
    response.status = 403;
    response.set_content("{\"error\":" + Json(error) + "}", _JSON);
}

std::string SampleModule()
{
    // A stand-in for the game module until the demo game exists: a recognisable header and some bulk.
    std::string bytes = "VEXEL-DEMO-MODULE\n";
    for (int i = 0; bytes.size() < 16384; ++i)
        bytes += "demo game module placeholder block " + std::to_string(i) + "\n";
    return bytes;
}
} // namespace

const std::vector<Server>& Servers()
{
    static const std::vector<Server> servers = {
        {"1", "一区 青龙"},
        {"2", "二区 白虎"},
        {"3", "三区 朱雀"},
    };
    return servers;
}

std::string DigestText(const std::string& bytes)
{
    String text = Md5ToText(Md5Of(bytes.data(), bytes.size()));
    return std::string(text.begin(), text.end());
}

DemoPortal::DemoPortal(PortalOptions options)
    : mOptions(std::move(options)), mServer(std::make_unique<httplib::Server>()), mModule(SampleModule())
{
    if (!mOptions.module.empty())
    {
        std::string module = ReadFile(mOptions.module);
        if (module.empty())
            std::fprintf(stderr, "demo-portal: cannot read the module %s\n", mOptions.module.c_str());
        else
            mModule = module;
    }
    for (int i = 0; i < 2; ++i)
    {
        mCdn[i] = std::make_unique<httplib::Server>();
        bool stall = i == 0 && mOptions.stallFirstCdn;
        bool half = i == 0 && mOptions.halfFirstCdn;
        mCdn[i]->Get("/download/vexel3d.lod",
                     [this, i, stall, half](const httplib::Request& request, httplib::Response& response)
                     {
                         std::fprintf(stderr, "demo-portal: CDN %d GET %s (Host: %s)%s\n", i + 1,
                                      request.target.c_str(), request.get_header_value("Host").c_str(),
                                      stall  ? " stalled"
                                      : half ? " half"
                                             : "");
                         if (stall)
                         {
                             std::unique_lock<std::mutex> lock(mStallLock);
                             mStallEnd.wait(lock, [this] { return mStopping; });
                             response.status = 503;
                             return;
                         }
                         if (half)
                         {
                             // The whole length is announced; half of it comes, then nothing.
                             response.set_content_provider(
                                 mModule.size(), "application/octet-stream",
                                 [this](std::size_t offset, std::size_t, httplib::DataSink& sink)
                                 {
                                     const std::size_t middle = mModule.size() / 2;
                                     if (offset < middle)
                                         return sink.write(mModule.data() + offset, middle - offset);
                                     std::unique_lock<std::mutex> lock(mStallLock);
                                     mStallEnd.wait(lock, [this] { return mStopping; });
                                     return false;
                                 });
                             return;
                         }
                         response.set_content(mModule, "application/octet-stream");
                     });
    }
    if (!mOptions.clientProgram.empty())
        mClient = ReadFile(mOptions.clientProgram);
    Route();
}

DemoPortal::~DemoPortal()
{
    Stop();
}

std::string DemoPortal::Site() const
{
    return "http://127.0.0.1:" + std::to_string(mPort);
}

int DemoPortal::Start(int port)
{
    if (port == 0)
        mPort = mServer->bind_to_any_port("127.0.0.1");
    else
        mPort = mServer->bind_to_port("127.0.0.1", port) ? port : -1;
    if (mPort <= 0)
        return mPort = -1;
    for (int i = 0; i < 2; ++i)
    {
        mCdnPorts[i] = mCdn[i]->bind_to_any_port("127.0.0.1");
        if (mCdnPorts[i] <= 0)
            return mPort = -1;
    }
    mThread = std::thread([this] { mServer->listen_after_bind(); });
    for (int i = 0; i < 2; ++i)
        mCdnThreads[i] = std::thread([this, i] { mCdn[i]->listen_after_bind(); });
    while (!mServer->is_running() || !mCdn[0]->is_running() || !mCdn[1]->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return mPort;
}

std::string DemoPortal::CdnHost(int index) const
{
    return "127.0.0.1:" + std::to_string(mCdnPorts[index]);
}

void DemoPortal::Stop()
{
    {
        std::lock_guard<std::mutex> lock(mStallLock);
        mStopping = true;
    }
    mStallEnd.notify_all();
    mServer->stop();
    if (mThread.joinable())
        mThread.join();
    for (int i = 0; i < 2; ++i)
    {
        mCdn[i]->stop();
        if (mCdnThreads[i].joinable())
            mCdnThreads[i].join();
    }
}

bool DemoPortal::FindSession(const httplib::Request& request, Session& out)
{
    const std::string cookies = request.get_header_value("Cookie");
    const std::string key = std::string(_COOKIE) + "=";
    for (std::size_t at = 0; at < cookies.size();)
    {
        std::size_t end = cookies.find(';', at);
        if (end == std::string::npos)
            end = cookies.size();
        std::size_t begin = cookies.find_first_not_of(' ', at);
        if (begin < end && cookies.compare(begin, key.size(), key) == 0)
        {
            std::string token = cookies.substr(begin + key.size(), end - begin - key.size());
            std::lock_guard<std::mutex> lock(mLock);
            if (auto found = mSessions.find(token); found != mSessions.end())
            {
                out = found->second;
                return true;
            }
        }
        at = end + 1;
    }
    return false;
}

void DemoPortal::SetServer(const httplib::Request& request, const std::string& sid)
{
    const std::string cookies = request.get_header_value("Cookie");
    std::lock_guard<std::mutex> lock(mLock);
    for (auto& [token, session] : mSessions)
        if (cookies.find(std::string(_COOKIE) + "=" + token) != std::string::npos)
            session.serverSid = sid;
}

std::string DemoPortal::GameUrl(const Session& session, const Server& server) const
{
    std::string url = Site() + "/game?sid=" + server.sid + "&uid=" + session.uid + "&w=1024&h=768";
    if (mOptions.gameParams == GameParams::Single)
        url += "&params=single";
    else if (mOptions.gameParams == GameParams::None)
        url += "&params=none";
    return url;
}

std::string DemoPortal::ServerInfoJson(const Session& session) const
{
    const Server* current = FindServer(session.serverSid);
    std::string json = "{\"gsname\":" + Json(current ? current->name : "") +
                       ",\"nickname\":" + Json(session.user) + ",\"imurl\":" + Json(Site() + "/im") +
                       ",\"imtitle\":\"Messages\",\"data\":[";
    bool first = true;
    for (const Server& server : Servers())
    {
        json += first ? "" : ",";
        first = false;
        json += "{\"name\":" + Json(server.name) + ",\"sid\":" + Json(server.sid) +
                ",\"url\":" + Json(GameUrl(session, server)) + "}";
    }
    return json + "]}";
}

void DemoPortal::ServeServerInfo(const httplib::Request& request, httplib::Response& response)
{
    Session session;
    if (!FindSession(request, session))
        return Forbid(response, "not signed in");
    const std::string uid = Unprefixed(request.get_param_value("uid"));
    const std::string sid = Unprefixed(request.get_param_value("sid"));
    if (!AllDigits(uid) || uid != session.uid)
        return Forbid(response, "bad uid");
    if (!FindServer(sid))
        return Forbid(response, "bad sid");

    // The signature covers the address as the client built it, with "{sign}" where the value goes.
    const std::string& target = request.target;
    std::size_t at = target.find("?sign=");
    if (at == std::string::npos)
        at = target.find("&sign=");
    if (at == std::string::npos)
        return Forbid(response, "no sign");
    std::size_t begin = at + 6;
    std::size_t end = target.find('&', begin);
    if (end == std::string::npos)
        end = target.size();
    const std::string sign = target.substr(begin, end - begin);
    const std::string signedText = Site() + target.substr(0, begin) + "{sign}" + target.substr(end);
    if (sign != DigestText(signedText))
        return Forbid(response, "bad sign");

    session.serverSid = sid;
    SetServer(request, sid);
    response.set_content(ServerInfoJson(session), _JSON);
}

void DemoPortal::Route()
{
    httplib::Server& server = *mServer;
    server.set_logger(
        [](const httplib::Request& request, const httplib::Response& response)
        {
            std::fprintf(stderr, "demo-portal: %s %s %d\n", request.method.c_str(), request.target.c_str(),
                         response.status);
            std::fflush(stderr);
        });

    server.Get("/", [](const httplib::Request&, httplib::Response& response)
               { response.set_content(InfoPage("Vexel 游戏平台", "欢迎来到 Vexel 演示运营站点。"), _HTML); });
    server.Get("/login", [](const httplib::Request&, httplib::Response& response)
               { response.set_content(LoginPage(""), _HTML); });
    server.Post("/login",
                [this](const httplib::Request& request, httplib::Response& response)
                {
                    std::string user = request.get_param_value("user");
                    if (user.find_first_not_of(" \t") == std::string::npos)
                    {
                        response.set_content(LoginPage("请输入用户名 Enter a user name"), _HTML);
                        return;
                    }
                    std::string token = NewToken();
                    {
                        std::lock_guard<std::mutex> lock(mLock);
                        mSessions[token] = Session{user, UidOf(user), {}};
                    }
                    response.set_header("Set-Cookie", std::string(_COOKIE) + "=" + token +
                                                          "; Path=/; HttpOnly; SameSite=Lax");
                    Redirect(response, Site() + "/servers");
                });
    auto servers = [this](const httplib::Request& request, httplib::Response& response)
    {
        Session session;
        if (!FindSession(request, session))
            return Redirect(response, Site() + "/login");
        std::vector<std::string> links;
        for (const Server& server : Servers())
            links.push_back(GameUrl(session, server));
        response.set_content(ServerListPage(session.user, Servers(), links), _HTML);
    };
    server.Get("/servers", servers);
    server.Get("/servers2", servers);
    server.Get("/logout",
               [this](const httplib::Request& request, httplib::Response& response)
               {
                   const std::string cookies = request.get_header_value("Cookie");
                   {
                       std::lock_guard<std::mutex> lock(mLock);
                       std::erase_if(
                           mSessions, [&](const auto& entry)
                           { return cookies.find(_COOKIE + ("=" + entry.first)) != std::string::npos; });
                   }
                   response.set_header("Set-Cookie", std::string(_COOKIE) + "=; Path=/; HttpOnly; Max-Age=0");
                   Redirect(response, Site() + "/login");
               });
    server.Get("/exit", [](const httplib::Request&, httplib::Response& response)
               { response.set_content(GoodbyePage(), _HTML); });
    server.Get("/serverinfo", [this](const httplib::Request& request, httplib::Response& response)
               { ServeServerInfo(request, response); });

    auto game = [this](const httplib::Request& request, httplib::Response& response)
    {
        Session session;
        if (!FindSession(request, session))
            return Redirect(response, Site() + "/login");
        const Server* chosen = FindServer(Unprefixed(request.get_param_value("sid")));
        if (!chosen)
        {
            response.status = 404;
            response.set_content(NotFoundPage(), _HTML);
            return;
        }
        SetServer(request, chosen->sid);
        GameParams kind = mOptions.gameParams;
        if (request.get_param_value("params") == "single")
            kind = GameParams::Single;
        else if (request.get_param_value("params") == "none")
            kind = GameParams::None;
        std::vector<GameParam> params;
        if (kind == GameParams::Single)
            params.push_back({"param1", "server=" + chosen->sid});
        else if (kind == GameParams::Full)
            // The address names the first CDN; the list gives the fall-back order after it.
            params = {{"libmd5", mOptions.moduleMd5.empty() ? DigestText(mModule) : mOptions.moduleMd5},
                      {"liburl", "http://" + CdnHost(0) + "/download/vexel3d.lod"},
                      {"size", "8"},
                      {"param1", "server=" + chosen->sid},
                      {"param2", "cdnip=" + CdnHost(1) + "|" + CdnHost(0)},
                      {"param3", "uid=" + session.uid},
                      {"param4", "nickname=" + session.user}};
        response.set_content(GamePage(chosen->name, params), _HTML);
    };
    server.Get("/game", game);
    server.Get("/game2", game);

    server.Get("/download/vexel3d.lod", [this](const httplib::Request&, httplib::Response& response)
               { response.set_content(mModule, "application/octet-stream"); });
    // The block list: records of a banned module's digest (the program's word order), the length of its
    // message in UTF-16 characters and the message (UTF-16LE).
    server.Get("/dev/bl",
               [this](const httplib::Request&, httplib::Response& response)
               {
                   std::string list;
                   auto word = [&list](std::uint32_t value)
                   {
                       for (int i = 0; i < 4; ++i)
                           list += static_cast<char>((value >> (8 * i)) & 0xFF);
                   };
                   // Some other build is always on the list.
                   MD5 other = Md5Of("an older build", 14);
                   for (auto w : other.w)
                       word(w);
                   word(0);
                   if (mOptions.banModule)
                   {
                       MD5 digest = Md5Of(mModule.data(), mModule.size());
                       for (auto w : digest.w)
                           word(w);
                       String message = FromUtf8(mOptions.banMessage);
                       word(static_cast<std::uint32_t>(message.size()));
                       for (char16_t c : message)
                           list += static_cast<char>(c & 0xFF), list += static_cast<char>(c >> 8);
                   }
                   response.set_content(list, "application/octet-stream");
               });
    server.Get("/report", [](const httplib::Request&, httplib::Response& response)
               { response.set_content("ok", "text/plain"); });
    // Without a program to publish both answer 404, so a client never takes an error page for a build.
    server.Get("/client/vexel-launcher.md5",
               [this](const httplib::Request&, httplib::Response& response)
               {
                   if (mClient.empty())
                       response.status = 404;
                   else
                       response.set_content(DigestText(mClient), "text/plain");
               });
    server.Get("/client/vexel-launcher",
               [this](const httplib::Request&, httplib::Response& response)
               {
                   if (mClient.empty())
                       response.status = 404;
                   else
                       response.set_content(mClient, "application/octet-stream");
               });
    auto script = [](const char* what)
    {
        char text[128];
        std::snprintf(text, sizeof text, _SCRIPT_FILE, what);
        return std::string(text);
    };
    server.Get("/client/vexelsetup.exe", [script](const httplib::Request&, httplib::Response& response)
               { response.set_content(script("plug-in set-up"), "application/octet-stream"); });
    server.Get("/hall/hall.exe", [script](const httplib::Request&, httplib::Response& response)
               { response.set_content(script("game hall"), "application/octet-stream"); });

    server.Get("/im",
               [this](const httplib::Request& request, httplib::Response& response)
               {
                   Session session;
                   bool known = FindSession(request, session);
                   const Server* current = known ? FindServer(session.serverSid) : nullptr;
                   response.set_content(
                       MessagesPage(known ? session.user : "访客", current ? current->name : ""), _HTML);
               });
    auto charge = [this](const httplib::Request& request, httplib::Response& response)
    {
        Session session;
        bool known = FindSession(request, session);
        response.set_content(PaymentPage(known ? session.user : "访客", Site()), _HTML);
    };
    server.Get("/charge", charge);
    server.Get("/video", [](const httplib::Request&, httplib::Response& response)
               { response.set_content(VideoPage(), _HTML); });
    server.Get("/forum", [](const httplib::Request&, httplib::Response& response)
               { response.set_content(InfoPage("玩家论坛 Forum", "攻略、组队与建议都在这里。"), _HTML); });
    server.Get("/more", [](const httplib::Request&, httplib::Response& response)
               { response.set_content(InfoPage("更多服务器 More servers", "新服务器即将开放。"), _HTML); });
    server.set_error_handler(
        [](const httplib::Request&, httplib::Response& response)
        {
            if (response.status == 404)
                response.set_content(NotFoundPage(), _HTML);
        });
}

} // namespace Vexel::Portal

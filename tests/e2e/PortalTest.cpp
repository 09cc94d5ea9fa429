// The demo site as the client meets it: its cookie, its server information signature check, its game
// pages' loader parameters and the files it serves, over real HTTP against the real program.
#include "E2eSupport.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <csignal>

namespace Vexel::E2e
{
namespace
{

using Test::DigestHex;

// Signs in over HTTP and returns the "vxsid=..." cookie, or empty when the site did not let the user in.
std::string SignInOverHttp(httplib::Client& http, const std::string& user)
{
    auto reply = http.Post("/login", "user=" + user + "&password=x", "application/x-www-form-urlencoded");
    if (!reply || reply->status != 302)
        return {};
    std::string cookie = reply->get_header_value("Set-Cookie");
    return cookie.substr(0, cookie.find(';'));
}

int CountOf(const std::string& text, const std::string& needle)
{
    int count = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++count;
    return count;
}

class PortalTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(mPortal.Started()) << "the demo site did not start:\n" << mPortal.Log();
        mHttp.set_connection_timeout(10);
        mHttp.set_read_timeout(10);
    }

    std::string SignIn(const std::string& user) { return SignInOverHttp(mHttp, user); }

    std::string UidOf(const std::string& cookie)
    {
        auto page = mHttp.Get("/servers", {{"Cookie", cookie}});
        std::size_t at = page ? page->body.find("uid=") : std::string::npos;
        if (at == std::string::npos)
            return {};
        at += 4;
        return page->body.substr(at, page->body.find_first_not_of("0123456789", at) - at);
    }

    // The server information address as the client builds it: placeholders filled, then "{sign}"
    // replaced by the digest of the address that still holds it.
    std::string SignedPath(const std::string& uid, const std::string& sid)
    {
        std::string path = "/serverinfo?uid=" + uid + "&sid=" + sid + "&sign={sign}";
        std::string sign = DigestHex(mPortal.Site() + path);
        return path.replace(path.find("{sign}"), 6, sign);
    }

    Portal mPortal;
    httplib::Client mHttp{"127.0.0.1", mPortal.Port()};
};

TEST_F(PortalTest, SignInSetsAnHttpOnlySessionCookieThatOpensTheServerList)
{
    auto empty = mHttp.Post("/login", "user=&password=x", "application/x-www-form-urlencoded");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->status, 200);
    EXPECT_FALSE(empty->has_header("Set-Cookie"));
    EXPECT_NE(empty->body.find("请输入用户名"), std::string::npos);

    auto reply = mHttp.Post("/login", "user=player&password=x", "application/x-www-form-urlencoded");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 302);
    EXPECT_EQ(reply->get_header_value("Location"), mPortal.Site() + "/servers");
    EXPECT_NE(reply->get_header_value("Set-Cookie").find("HttpOnly"), std::string::npos);

    std::string cookie = reply->get_header_value("Set-Cookie");
    cookie = cookie.substr(0, cookie.find(';'));
    auto list = mHttp.Get("/servers", {{"Cookie", cookie}});
    ASSERT_TRUE(list);
    EXPECT_EQ(list->status, 200);
    EXPECT_EQ(CountOf(list->body, "href=\"" + mPortal.Site() + "/game?sid="), 3);
    EXPECT_NE(list->body.find("一区 青龙"), std::string::npos);
    EXPECT_NE(list->body.find("player"), std::string::npos);

    auto stranger = mHttp.Get("/servers");
    ASSERT_TRUE(stranger);
    EXPECT_EQ(stranger->status, 302);
    EXPECT_EQ(stranger->get_header_value("Location"), mPortal.Site() + "/login");

    auto off = mHttp.Get("/logout", {{"Cookie", cookie}});
    ASSERT_TRUE(off);
    EXPECT_EQ(off->get_header_value("Location"), mPortal.Site() + "/login");
    EXPECT_NE(off->get_header_value("Set-Cookie").find("Max-Age=0"), std::string::npos);
    auto after = mHttp.Get("/servers", {{"Cookie", cookie}});
    ASSERT_TRUE(after);
    EXPECT_EQ(after->status, 302) << "the session must end at log-off";
}

TEST_F(PortalTest, ServerInformationNeedsTheSessionFilledPlaceholdersAndTheSignature)
{
    const std::string cookie = SignIn("player");
    const std::string uid = UidOf(cookie);
    ASSERT_FALSE(uid.empty());

    for (const std::string& id : {uid, "S" + uid})
    {
        auto reply = mHttp.Get(SignedPath(id, "S2"), {{"Cookie", cookie}});
        ASSERT_TRUE(reply);
        ASSERT_EQ(reply->status, 200) << reply->body;
        EXPECT_NE(reply->body.find("\"gsname\":\"二区 白虎\""), std::string::npos) << reply->body;
        EXPECT_NE(reply->body.find("\"nickname\":\"player\""), std::string::npos);
        EXPECT_NE(reply->body.find("\"imurl\":\"" + mPortal.Site() + "/im\""), std::string::npos);
        EXPECT_EQ(CountOf(reply->body, "\"url\":\"" + mPortal.Site() + "/game?sid="), 3) << reply->body;
        // The client splits the list at braces and brackets: none may occur inside the entries.
        std::string data = reply->body.substr(reply->body.find('[') + 1);
        EXPECT_EQ(CountOf(data, "{"), 3);
        EXPECT_EQ(data.find(']'), data.size() - 2);
    }

    std::string good = SignedPath(uid, "S2");
    std::string upper = good;
    for (std::size_t i = upper.find("sign=") + 5; i < upper.size(); ++i)
        upper[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(upper[i])));
    std::string overValue = "/serverinfo?uid=" + uid + "&sid=S2&sign=";
    overValue += DigestHex(mPortal.Site() + overValue + std::string(32, '0'));
    const std::vector<std::pair<std::string, std::string>> refused = {
        {good, ""},                                     // no session cookie
        {upper, cookie},                                // upper-case digits
        {overValue, cookie},                            // signed over the value instead of "{sign}"
        {SignedPath("", "S2"), cookie},                 // uid placeholder left empty
        {SignedPath(uid, "S9"), cookie},                // no such server
        {SignedPath("12345", "S2"), cookie},            // another player's id
        {"/serverinfo?uid=" + uid + "&sid=S2", cookie}, // no signature at all
    };
    for (const auto& [path, withCookie] : refused)
    {
        httplib::Headers headers;
        if (!withCookie.empty())
            headers.emplace("Cookie", withCookie);
        auto reply = mHttp.Get(path, headers);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, 403) << path;
        EXPECT_EQ(reply->body.rfind("{\"error\":", 0), 0u) << path;
    }
}

TEST_F(PortalTest, GamePagesCarryTheLoaderParametersOfTheServedModule)
{
    const std::string cookie = SignIn("player");
    auto module = mHttp.Get("/download/vexel3d.lod");
    ASSERT_TRUE(module);
    ASSERT_EQ(module->status, 200);
    ASSERT_FALSE(module->body.empty());

    for (const char* page : {"/game?sid=1&uid=1&w=1024&h=768", "/game2?sid=S3"})
    {
        auto game = mHttp.Get(page, {{"Cookie", cookie}});
        ASSERT_TRUE(game);
        ASSERT_EQ(game->status, 200) << page;
        const std::string& html = game->body;
        EXPECT_NE(html.find("<param name=\"libmd5\" value=\"" + DigestHex(module->body) + "\">"),
                  std::string::npos);
        // The module's address is the first CDN; the CDN list names the second, then the first.
        auto value = [&html](const std::string& name)
        {
            const std::string start = "<param name=\"" + name + "\" value=\"";
            std::size_t at = html.find(start);
            if (at == std::string::npos)
                return std::string();
            at += start.size();
            return html.substr(at, html.find('"', at) - at);
        };
        const std::string url = value("liburl");
        const std::string prefix = "http://127.0.0.1:", suffix = "/download/vexel3d.lod";
        ASSERT_EQ(url.rfind(prefix, 0), 0u) << url;
        ASSERT_GT(url.size(), prefix.size() + suffix.size());
        EXPECT_EQ(url.substr(url.size() - suffix.size()), suffix);
        const std::string first = url.substr(7, url.size() - 7 - suffix.size());
        EXPECT_NE(first, "127.0.0.1:" + std::to_string(mPortal.Port()));
        EXPECT_NE(html.find("<param name=\"size\" value=\"8\">"), std::string::npos);
        const std::string cdn = value("param2");
        ASSERT_EQ(cdn.rfind("cdnip=127.0.0.1:", 0), 0u) << cdn;
        EXPECT_EQ(cdn.substr(cdn.size() - first.size() - 1), "|" + first) << cdn;
        // The CDN serves the same module.
        httplib::Client cdnClient("127.0.0.1", std::stoi(first.substr(first.find(':') + 1)));
        auto served = cdnClient.Get(suffix + "?pv=10004");
        ASSERT_TRUE(served);
        EXPECT_EQ(served->body, module->body);
    }

    auto single = mHttp.Get("/game?sid=1&params=single", {{"Cookie", cookie}});
    ASSERT_TRUE(single);
    EXPECT_EQ(CountOf(single->body, "<param "), 1);
    auto none = mHttp.Get("/game?sid=1&params=none", {{"Cookie", cookie}});
    ASSERT_TRUE(none);
    EXPECT_EQ(CountOf(none->body, "<param "), 0);

    auto stranger = mHttp.Get("/game?sid=1");
    ASSERT_TRUE(stranger);
    EXPECT_EQ(stranger->status, 302);
    auto unknown = mHttp.Get("/game?sid=7", {{"Cookie", cookie}});
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->status, 404);
}

TEST_F(PortalTest, ClientFilesAreServedAndTheDigestMatchesTheProgram)
{
    // Nothing published without --client.
    auto none = mHttp.Get("/client/vexel-launcher.md5");
    ASSERT_TRUE(none);
    EXPECT_EQ(none->status, 404);
    Portal publishing({"--client", VEXEL_LAUNCHER_PATH});
    ASSERT_TRUE(publishing.Started());
    httplib::Client http("127.0.0.1", publishing.Port());
    auto program = http.Get("/client/vexel-launcher");
    auto digest = http.Get("/client/vexel-launcher.md5");
    ASSERT_TRUE(program && digest);
    EXPECT_EQ(program->body, Vexel::Test::ReadBytes(VEXEL_LAUNCHER_PATH));
    EXPECT_EQ(digest->body, DigestHex(program->body));
    for (const char* path : {"/report", "/client/vexelsetup.exe", "/hall/hall.exe", "/im", "/charge",
                             "/video", "/exit", "/login", "/forum", "/more", "/"})
    {
        auto reply = mHttp.Get(path);
        ASSERT_TRUE(reply) << path;
        EXPECT_EQ(reply->status, 200) << path;
        EXPECT_FALSE(reply->body.empty()) << path;
    }
    auto missing = mHttp.Get("/nowhere");
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 404);
    // Pages stay self-contained: nothing is fetched from elsewhere.
    for (const char* path : {"/login", "/im", "/charge"})
        EXPECT_EQ(mHttp.Get(path)->body.find("src=\"http"), std::string::npos) << path;
    EXPECT_GE(mPortal.CountRequests("GET /nowhere 404"), 1) << mPortal.Log();
}

TEST(PortalProcessTest, ServerListLinksFollowTheGameParameterModeAndSigtermStopsCleanly)
{
    Portal portal({"--game-params", "single"});
    ASSERT_TRUE(portal.Started()) << portal.Log();
    httplib::Client http("127.0.0.1", portal.Port());
    std::string cookie = SignInOverHttp(http, "p");
    ASSERT_FALSE(cookie.empty());
    auto list = http.Get("/servers", {{"Cookie", cookie}});
    ASSERT_TRUE(list);
    EXPECT_EQ(CountOf(list->body, "params=single"), 3);
    EXPECT_EQ(portal.Stop(), 0);
    EXPECT_NE(portal.Log().find("stopping"), std::string::npos);
}

} // namespace
} // namespace Vexel::E2e

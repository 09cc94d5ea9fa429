// The launcher's remote fetches against HTTP servers on 127.0.0.1: downloads written (and unpacked),
// a plug-in already there, the stall rule on an injected clock (a silent server, an HTTP error), a new
// fetch cancelling the running one, the hall download; the server information request's placeholders,
// signature and cookies; the server data into lists, menus and the combo box, and bad server data.
#include "Services/RemoteFetch.h"
#include "LauncherTestSupport.h"
#include "TestServer.h"
#include "UiTestSupport.h"

#include "Common/Compression.h"
#include "Common/StringEncoding.h"
#include "Platform/Folders.h"
#include "Platform/Ui/WebView.h"

#include <httplib.h>
#if defined(_WIN32)
#include <windows.h>

#include <wincrypt.h>
#else
#include <openssl/evp.h>
#endif

#include <algorithm>
#include <cstdio>
#include <string>

namespace Vexel::Test
{
namespace
{

std::vector<_byte> Bytes(const std::string& text)
{
    return std::vector<_byte>(text.begin(), text.end());
}

// The program's digest text, computed apart from the program: the usual MD5 with its bytes reversed.
std::string ReversedMd5Hex(const std::string& text)
{
    unsigned char digest[64] = {};
    unsigned int length = 0;
#if defined(_WIN32)
    // The older CryptoAPI: not the program's own digest code, which takes BCrypt.
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    DWORD size = sizeof digest;
    if (CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
    {
        if (CryptCreateHash(provider, CALG_MD5, 0, 0, &hash))
        {
            if (CryptHashData(hash, reinterpret_cast<const BYTE*>(text.data()),
                              static_cast<DWORD>(text.size()), 0) &&
                CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0))
                length = size;
            CryptDestroyHash(hash);
        }
        CryptReleaseContext(provider, 0);
    }
#else
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
#endif
    std::string hex;
    char two[3];
    for (unsigned int i = length; i-- > 0;)
    {
        std::snprintf(two, sizeof two, "%.2x", digest[i]);
        hex += two;
    }
    return hex;
}

class RemoteFetchTest : public LauncherTest
{
protected:
    void SetUp() override
    {
        LauncherTest::SetUp();
        mState->mFetchClock = [this] { return mNow; };
    }
    void TearDown() override
    {
        CancelMainFetch(*mState);
        mState->mHallFetch.mTask.reset();
        LauncherTest::TearDown();
    }
    // Waits until the main record's transfer has completed.
    bool WaitDone(FetchRecord& record)
    {
        return WaitUntil([&] { return record.mProgress.load() == 1.0f; });
    }
    String Temp(const std::string& name) const { return mTemp.Wide(name); }

    _qword mNow = 1000000;
    TempDir mTemp;
    TestServer mServer;
};

TEST_F(RemoteFetchTest, PluginIsWrittenUnpackedAndNotFetchedAgain)
{
    const std::string body = "plug-in program bytes " + std::string(5000, 'p');
    ByteBuffer packed = Bytes(body);
    bool changed = false;
    ASSERT_TRUE(CompressBuffer(packed, changed, false) && changed);
    mServer.AddFile("/setup.exe", std::string(packed.begin(), packed.end()));
    const String target = Temp("vexelsetup.exe");

    StartPluginDownload(*mState, mServer.WideUrl("/setup.exe"), target);
    EXPECT_TRUE(Logged(u"[MC] Start download plugin from " + mServer.WideUrl("/setup.exe")));
    ASSERT_TRUE(WaitDone(mState->mMainFetch));
    EXPECT_FALSE(PollFetch(*mState, mState->mMainFetch)); // a plug-in is nobody's finish
    EXPECT_FALSE(mState->mMainFetch.mTask);
    EXPECT_EQ(ReadBytes(mTemp / "vexelsetup.exe"), body);
    EXPECT_TRUE(Logged(u"[MC] Save file to " + target + u", 1"));

    StartPluginDownload(*mState, mServer.WideUrl("/setup.exe"), target);
    EXPECT_TRUE(Logged(u"[MC] Plugin file exists " + target));
    EXPECT_FALSE(mState->mMainFetch.mTask);
    EXPECT_EQ(mServer.Requests("/setup.exe"), 1);

    // No address, nothing at all.
    StartPluginDownload(*mState, u"", Temp("other.exe"));
    EXPECT_FALSE(mState->mMainFetch.mTask);
}

TEST_F(RemoteFetchTest, ProgramDownloadFinishesOnceAndKeepsPlainBytes)
{
    mServer.AddFile("/mc.exe", "plain program");
    const String target = Temp("new.exe");
    StartProgramDownload(*mState, mServer.WideUrl("/mc.exe"), target);
    EXPECT_TRUE(Logged(u"[MC] Start download mc from "));
    ASSERT_TRUE(WaitDone(mState->mMainFetch));
    EXPECT_TRUE(PollFetch(*mState, mState->mMainFetch));
    EXPECT_EQ(ReadBytes(mTemp / "new.exe"), "plain program");
    EXPECT_FALSE(PollFetch(*mState, mState->mMainFetch)); // idle again
}

TEST_F(RemoteFetchTest, SilentServerIsAbandonedAfterFiveSecondsOfTheClock)
{
    StartProgramDownload(*mState, mServer.WideUrl("/silent"), Temp("never.exe"));
    ASSERT_TRUE(WaitUntil([&] { return mServer.HeldConnections() == 1; }));
    EXPECT_FALSE(PollFetch(*mState, mState->mMainFetch)); // the stall period starts
    mNow += _FETCH_STALL_MS;
    EXPECT_FALSE(PollFetch(*mState, mState->mMainFetch));
    EXPECT_TRUE(mState->mMainFetch.mTask);
    mNow += 1;
    EXPECT_TRUE(PollFetch(*mState, mState->mMainFetch)); // a program download counts as finished
    EXPECT_FALSE(mState->mMainFetch.mTask);
    EXPECT_TRUE(Logged(u"[MC] Fetch of kind 5 abandoned"));
    EXPECT_FALSE(std::filesystem::exists(mTemp / "never.exe"));
}

TEST_F(RemoteFetchTest, FetchRecordsApartFromTheStateRunOnTheirOwnClock)
{
    // Records kept apart from the launcher state: their stall rule reads their clock, never the state's,
    // and the state's main record stays idle.
    _qword ownNow = 5000;
    FetchRecords fetches;
    fetches.mFetchClock = [&] { return ownNow; };
    StartProgramDownload(fetches, mServer.WideUrl("/silent"), Temp("apart.exe"));
    ASSERT_TRUE(WaitUntil([&] { return mServer.HeldConnections() == 1; }));
    EXPECT_FALSE(mState->mMainFetch.mTask);
    EXPECT_FALSE(PollFetch(fetches, fetches.mMainFetch)); // the stall period starts
    mNow += _FETCH_STALL_MS + 1;
    EXPECT_FALSE(PollFetch(fetches, fetches.mMainFetch));
    EXPECT_TRUE(fetches.mMainFetch.mTask);
    ownNow += _FETCH_STALL_MS + 1;
    EXPECT_TRUE(PollFetch(fetches, fetches.mMainFetch));
    EXPECT_FALSE(fetches.mMainFetch.mTask);
    StartServerInfoRequest(fetches, mServer.WideUrl("/silent"), u"", u"", u"", u"");
    EXPECT_EQ(fetches.mMainFetch.mKind, _FETCH_SERVER_INFO);
    CancelMainFetch(fetches);
    EXPECT_FALSE(fetches.mMainFetch.mTask);
}

TEST_F(RemoteFetchTest, HttpErrorIsAbandonedLikeSilence)
{
    StartPluginDownload(*mState, mServer.WideUrl("/status/500"), Temp("plugin.exe"));
    // The transfer retries the error every second; its body must never count as progress, or the stall
    // period would start over whenever a poll met one of those bodies arriving.
    ASSERT_TRUE(WaitUntil([&] { return mServer.Requests("/status/500") >= 2; }));
    EXPECT_FALSE(PollFetch(*mState, mState->mMainFetch));
    mNow += _FETCH_STALL_MS + 1;
    EXPECT_FALSE(PollFetch(*mState, mState->mMainFetch)); // plug-ins are never anyone's finish
    EXPECT_FALSE(mState->mMainFetch.mTask);
    EXPECT_TRUE(Logged(u"[MC] Fetch of kind 2 abandoned"));
    EXPECT_FALSE(std::filesystem::exists(mTemp / "plugin.exe"));
}

TEST_F(RemoteFetchTest, ProgressClearsTheStallPeriod)
{
    mServer.AddGeneratedFile("/slow.exe", 200000, 7);
    mServer.SetMode("/slow.exe", TestServer::Mode::Trickle);
    StartPluginDownload(*mState, mServer.WideUrl("/slow.exe"), Temp("slow.exe"));
    EXPECT_FALSE(PollFetch(*mState, mState->mMainFetch));
    ASSERT_TRUE(WaitUntil([&] { return mState->mMainFetch.mProgress.load() > 0.0f; }));
    mNow += _FETCH_STALL_MS + 1;
    EXPECT_FALSE(PollFetch(*mState, mState->mMainFetch));
    EXPECT_TRUE(mState->mMainFetch.mTask); // data is coming: not abandoned
    EXPECT_EQ(mState->mMainFetch.mStallStart, 0u);
}

TEST_F(RemoteFetchTest, HallDownloadReplacesTheOldFileAndReportsOnce)
{
    mServer.AddFile("/hall.exe", "hall program");
    WriteBytes(mTemp / "hall.exe", "old hall");
    std::filesystem::permissions(mTemp / "hall.exe", std::filesystem::perms::owner_read);
    StartHallDownload(*mState, mServer.WideUrl("/hall.exe"), Temp("hall.exe"));
    EXPECT_FALSE(std::filesystem::exists(mTemp / "hall.exe"));
    EXPECT_TRUE(Logged(u"[MC] Start download hall from "));
    EXPECT_FALSE(mState->mMainFetch.mTask); // the main record is not involved
    ASSERT_TRUE(WaitDone(mState->mHallFetch));
    EXPECT_TRUE(PollHallDownload(*mState));
    EXPECT_EQ(ReadBytes(mTemp / "hall.exe"), "hall program");
    EXPECT_FALSE(PollHallDownload(*mState));
}

TEST_F(RemoteFetchTest, ReportAndDigestAreSynchronous)
{
    SendStartReport(*mState, mServer.WideUrl("/report"));
    EXPECT_EQ(mServer.Requests("/report"), 1);
    EXPECT_TRUE(Logged(u"[MC] Report to url " + mServer.WideUrl("/report")));
    SendStartReport(*mState, u"");
    EXPECT_EQ(mServer.TotalRequests(), 1);

    mServer.AddFile("/mc.md5", "727fe1287d3f96d6b04fd23c98500190\r\n");
    EXPECT_EQ(FetchProgramDigest(*mState, mServer.WideUrl("/mc.md5")), u"727fe1287d3f96d6b04fd23c98500190");
    EXPECT_TRUE(Logged(u"[MC] Start download mc md5 from "));
    EXPECT_EQ(FetchProgramDigest(*mState, mServer.WideUrl("/status/404")), u"");
    EXPECT_EQ(FetchProgramDigest(*mState, u""), u"");
}

TEST(RemoteFetchParameters, ExtractParameterReadsTheWordAfterTheName)
{
    const String page = u"http://portal/list?userid=7&uid=42&x=1";
    EXPECT_EQ(ExtractParameter(page, u"uid", u""), u"42"); // not the tail of userid
    EXPECT_EQ(ExtractParameter(page, u"userid", u"uid"), u"7");
    EXPECT_EQ(ExtractParameter(page, u"sid", u"uid"), u"42"); // the second name
    EXPECT_EQ(ExtractParameter(page, u"sid", u""), u"");
    EXPECT_EQ(ExtractParameter(u"a?uid=&b=1", u"uid", u""), u""); // no word characters
    EXPECT_EQ(ExtractParameter(u"a?uid=ab_9-z", u"uid", u""), u"ab_9");
    EXPECT_EQ(ExtractParameter(u"a?axb=1", u"a.b", u""), u""); // the name is literal text
    EXPECT_EQ(ExtractParameter(u"a?x=1", u"", u""), u"");
}

// Server data read into a launcher state without windows.
class ServerDataTest : public RemoteFetchTest
{
protected:
    void SetUp() override
    {
        RemoteFetchTest::SetUp();
        mState->mInfoServer = {u"", u"uid", u"userid", u"gsname", u"name|sid|url", u"sid"};
        mState->mUserMenuTexts = {u"nickname", u""};
        mState->mImMenuTexts = {u"imurl", u"imtitle"};
    }
    const std::string mGood =
        R"({"gsname":"Azure Coast","nickname":"player42","imurl":"http://host/im","imtitle":"Messages",)"
        R"("data":[{"name":"Stone Bay","sid":"s0","url":"http://host/game?sid=s0"},)"
        R"( {"name":"Azure Coast","sid":7,"url":"https://host/game?sid=s1"} ]})";
};

TEST_F(ServerDataTest, GoodDataFillsTheLists)
{
    ASSERT_TRUE(ApplyServerData(*mState, Bytes(mGood)));
    EXPECT_TRUE(Logged(u"[MC] Server data done"));
    EXPECT_TRUE(Logged(u"[MC] Server data: {\"gsname\""));
    EXPECT_EQ(mState->mServerNames, (std::vector<String>{u"Stone Bay", u"Azure Coast"}));
    EXPECT_EQ(mState->mServerIds, (std::vector<String>{u"s0", u"7"}));
    EXPECT_EQ(mState->mServerUrls,
              (std::vector<String>{u"http://host/game?sid=s0", u"https://host/game?sid=s1"}));
    EXPECT_EQ(mState->mCurrentServer, u"Azure Coast");
    EXPECT_EQ(mState->mImUrl, u"http://host/im");
    EXPECT_EQ(mState->mImTitle, u"Messages");

    // A second answer replaces the list rather than adding to it.
    ASSERT_TRUE(ApplyServerData(*mState, Bytes(mGood)));
    EXPECT_EQ(mState->mServerNames.size(), 2u);
}

TEST_F(ServerDataTest, BadDataIsRefusedAndTheListsStay)
{
    ASSERT_TRUE(ApplyServerData(*mState, Bytes(mGood)));
    const auto names = mState->mServerNames;

    EXPECT_FALSE(ApplyServerData(*mState, Bytes("<html>502 Bad Gateway</html>")));
    EXPECT_TRUE(Logged(u"[MC] Server data refused: not a JSON object"));
    EXPECT_FALSE(ApplyServerData(*mState, Bytes(R"({"gsname":"x","data":[{"name":"a")")));
    EXPECT_FALSE(ApplyServerData(*mState, Bytes(R"(["not","an","object"])")));
    EXPECT_FALSE(ApplyServerData(*mState, Bytes(std::string("{\"gsname\":\"a\0b\"}", 16))));
    EXPECT_FALSE(ApplyServerData(*mState, {}));

    std::string huge = R"({"gsname":")" + std::string(_MAX_SERVER_DATA, 'x') + R"("})";
    mCapture->Clear();
    EXPECT_FALSE(ApplyServerData(*mState, Bytes(huge)));
    EXPECT_TRUE(Logged(u"[MC] Server data refused: "));
    EXPECT_TRUE(Logged(u"more than 1048576"));

    EXPECT_EQ(mState->mServerNames, names);
    EXPECT_EQ(mState->mCurrentServer, u"Azure Coast");
}

TEST_F(ServerDataTest, BrokenServerObjectsAreSkippedOneByOne)
{
    // Nested objects and braces inside texts break the cut; missing names and foreign addresses are
    // refused; the rest stays.
    const std::string data = R"({"gsname":"Good","data":[{"name":"Good","sid":"1","url":"http://h/1"},)"
                             R"({"name":"Nested","meta":{"x":1},"sid":"2","url":"http://h/2"},)"
                             R"({"sid":"3","url":"http://h/3"},)"
                             R"({"name":"Script","sid":"4","url":"javascript:go"},)"
                             R"({"name":"Brace {a}","sid":"5","url":"http://h/5"},)"
                             R"({"name":"Last","sid":"6","url":"http://h/6"}]})";
    ASSERT_TRUE(ApplyServerData(*mState, Bytes(data)));
    EXPECT_EQ(mState->mServerNames, (std::vector<String>{u"Good", u"Last"}));
    EXPECT_EQ(mState->mServerUrls, (std::vector<String>{u"http://h/1", u"http://h/6"}));
    EXPECT_TRUE(Logged(u"skipped (not an object)"));
    EXPECT_TRUE(Logged(u"skipped (no name)"));
    EXPECT_TRUE(Logged(u"skipped (no http address)"));

    // Nothing usable: the old list stays; no list at all: likewise.
    ASSERT_TRUE(ApplyServerData(*mState, Bytes(R"({"gsname":"Good","data":[{"name":1}]})")));
    EXPECT_TRUE(Logged(u"[MC] Server data holds no usable server; keeping 2"));
    ASSERT_TRUE(ApplyServerData(*mState, Bytes(R"({"gsname":"Good","data":"none"})")));
    EXPECT_TRUE(Logged(u"[MC] Server data: \"data\" is not a list"));
    EXPECT_EQ(mState->mServerNames.size(), 2u);

    // The list is the data member's, whatever brackets come before it.
    ASSERT_TRUE(ApplyServerData(
        *mState, Bytes(R"({"nickname":"[GM] x","data":[{"name":"A","sid":"a","url":"http://h/a"}]})")));
    EXPECT_EQ(mState->mServerNames, (std::vector<String>{u"A"}));
}

TEST_F(ServerDataTest, ImNeedsBothFieldsAndAWebAddress)
{
    ASSERT_TRUE(ApplyServerData(*mState, Bytes(R"({"imurl":"http://host/im"})")));
    EXPECT_EQ(mState->mImUrl, u"");
    ASSERT_TRUE(ApplyServerData(*mState, Bytes(R"({"imurl":"file:///etc/passwd","imtitle":"t"})")));
    EXPECT_EQ(mState->mImUrl, u"");
    EXPECT_TRUE(Logged(u"IM address is not an http address"));
}

TEST_F(ServerDataTest, MenuEntriesTakeTheServerTexts)
{
    mState->mGameFrame = std::make_unique<GameFrame>();
    GameFrame& frame = *mState->mGameFrame;
    for (_dword id : {_CMD_IM, _CMD_DROPDOWN, _CMD_USER})
        frame.AddMenuEntry(false, id, u"", static_cast<int>(id), u"", u"", u"", 0, u"", 0, u"", u"");
    const std::string longName(300, 'n');
    ASSERT_TRUE(ApplyServerData(
        *mState, Bytes(R"({"gsname":")" + longName +
                       R"(","nickname":"player42","imurl":"http://host/im","imtitle":"Messages"})")));
    auto entry = [&](_dword id) -> ImageMenuEntry&
    {
        for (auto& e : frame.mMenuLists[0])
            if (e.mId == id)
                return e;
        return frame.mMenuLists[0].front();
    };
    EXPECT_EQ(entry(_CMD_DROPDOWN).mText, String(255, u'n'));
    EXPECT_EQ(entry(_CMD_DROPDOWN).mMask, 255);
    EXPECT_EQ(entry(_CMD_USER).mText, u"player42");
    EXPECT_EQ(entry(_CMD_USER).mMask, 255);
    EXPECT_EQ(entry(_CMD_IM).mText, u"Messages");
    EXPECT_EQ(entry(_CMD_IM).mUrl, u"http://host/im");
    EXPECT_EQ(entry(_CMD_IM).mMask, 255);
}

TEST_F(ServerDataTest, PluginDownloadFollowsTheServerData)
{
    mServer.AddFile("/setup.exe", "setup");
    mState->mPluginUrl = mServer.WideUrl("/setup.exe");
    const String folder = GetCurrentFolder();
    ASSERT_TRUE(SetCurrentFolder(mTemp.Wide()));
    ASSERT_TRUE(ApplyServerData(*mState, Bytes(mGood)));
    EXPECT_EQ(mState->mMainFetch.mKind, _FETCH_PLUGIN);
    ASSERT_TRUE(WaitDone(mState->mMainFetch));
    PollServerData(*mState);
    EXPECT_EQ(ReadBytes(mTemp / "vexelsetup.exe"), "setup");
    SetCurrentFolder(folder);
}

// Tests that ask the web views' cookie store need the window system.
class RemoteFetchWindowTest : public ServerDataTest
{
protected:
    void SetUp() override
    {
        UsePrivateDisplay();
        ASSERT_TRUE(Ui::InitUi()) << "no display";
        ServerDataTest::SetUp();
    }
    // Shows a page of a server of this test in a web view, so its cookies land in the store.
    void Visit(const String& url, const std::function<bool()>& done)
    {
        Ui::WindowParams p;
        p.style = Ui::_WS_POPUP;
        p.width = 200;
        p.height = 100;
        p.handler = [](Ui::WindowId w, _dword m, Ui::WParam wp, Ui::LParam lp)
        { return Ui::DefaultHandler(w, m, wp, lp); };
        Ui::WindowId window = Ui::NewWindow(p);
        ASSERT_NE(window, 0u);
        ASSERT_TRUE(Ui::NewWebView(window));
        ASSERT_EQ(Ui::WebNavigate(window, url), 0);
        EXPECT_TRUE(PumpUntil(done));
        Ui::DestroyUiWindow(window);
    }
};

// Cookies set by a page of a loopback server; the store keys them by host, whatever the port.
class CookiePages
{
public:
    CookiePages()
    {
        mServer.AddHandler("/login",
                           [](const httplib::Request&, httplib::Response& res)
                           {
                               // Three cookies of 3,000 characters each: more than 8,192 together.
                               for (char c : {'a', 'b', 'c'})
                                   res.set_header("Set-Cookie", std::string("long_") + c + "=" +
                                                                    std::string(3000, c) + "; Path=/");
                               res.set_content("<html><body>in</body></html>", "text/html");
                           });
        mServer.AddHandler("/short",
                           [](const httplib::Request&, httplib::Response& res)
                           {
                               res.set_header("Set-Cookie", "session=s42; Path=/");
                               res.set_content("<html><body>in</body></html>", "text/html");
                           });
    }
    // The store keeps cookies for the process, and the long ones are too long for the loopback servers'
    // header limit: they go to the host "localhost", which no other test visits.
    String Url(const std::string& path, const std::string& host = "127.0.0.1") const
    {
        std::string url = "http://" + host + ":" + std::to_string(mServer.Port()) + path;
        return String(url.begin(), url.end());
    }

private:
    TestServer mServer{TestServer::Connections::OnePerRequest};
};

TEST_F(RemoteFetchWindowTest, LongerThan8192CharactersCookieTextIsReadWhole)
{
    CookiePages pages;
    Visit(pages.Url("/login", "localhost"),
          [&] { return Ui::WebGetCookies(pages.Url("/", "localhost")).size() > 9000; });
    String cookies = GetCookies(pages.Url("/serverinfo?uid=1", "localhost"));
    EXPECT_GT(cookies.size(), 9000u);
    for (char16_t c : {u'a', u'b', u'c'})
        EXPECT_NE(cookies.find(String(u"long_") + c + u"=" + String(3000, c)), String::npos);
    EXPECT_TRUE(Logged(u"[MC] Got cookie of " + pages.Url("/serverinfo?uid=1", "localhost") + u": "));
    EXPECT_EQ(GetCookies(u"http://127.0.0.2:1/none"), u"");
}

TEST_F(RemoteFetchWindowTest, ServerInfoUrlIsFilledSignedAndCarriesTheCookies)
{
    CookiePages pages;
    Visit(pages.Url("/short"),
          [&] { return Ui::WebGetCookies(pages.Url("/")).find(u"session=s42") != String::npos; });
    mServer.AddFile("/serverinfo", mGood);
    const std::string base = mServer.Url("/serverinfo?uid=");
    const String tmpl = mServer.WideUrl("/serverinfo?uid={uid}&sid={sid}&sign={sign}");

    // With key 3: "S" in front of the user's value; the signature covers the URL with "{sign}" in it.
    StartServerInfoRequest(*mState, tmpl, u"uid", u"userid", u"http://portal/list?uid=42&sid=7&x=1", u"sid");
    const std::string filled = base + "S42&sid=7&sign={sign}";
    ASSERT_EQ(ReversedMd5Hex("abc"), "727fe1287d3f96d6b04fd23c98500190"); // the helper's own check
    const std::string expected = base + "S42&sid=7&sign=" + ReversedMd5Hex(filled);
    EXPECT_TRUE(Logged(u"[MC] Start download server info from " + FromUtf8(expected)))
        << Narrow(mCapture->Text());
    EXPECT_EQ(mState->mMainFetch.mKind, _FETCH_SERVER_INFO);
    ASSERT_TRUE(WaitDone(mState->mMainFetch));
    ASSERT_EQ(mServer.Cookies("/serverinfo").size(), 1u);
    EXPECT_NE(mServer.Cookies("/serverinfo")[0].find("session=s42"), std::string::npos);

    // Polled from the game loop: the data is applied once.
    PollServerData(*mState);
    EXPECT_EQ(mState->mServerNames.size(), 2u);
    EXPECT_FALSE(mState->mMainFetch.mTask);
    EXPECT_EQ(mState->mMainFetch.mKind, _FETCH_NONE);

    // Already "S": left as it is; the second name when the first is missing.
    mCapture->Clear();
    StartServerInfoRequest(*mState, tmpl, u"uid", u"userid", u"http://portal/list?userid=S9&sid=7", u"sid");
    EXPECT_TRUE(Logged(u"serverinfo?uid=S9&sid=7&sign="));
    // Without key 3: the bare value, "{sid}" stays, and the signature is still made.
    mCapture->Clear();
    StartServerInfoRequest(*mState, mServer.WideUrl("/serverinfo?uid={uid}&sign={sign}"), u"uid", u"",
                           u"http://portal/list?uid=42&x=1", u"");
    const std::string bare = base + "42&sign={sign}";
    EXPECT_TRUE(Logged(u"from " + FromUtf8(base + "42&sign=" + ReversedMd5Hex(bare))));
    // No value in the page: the placeholder becomes empty.
    mCapture->Clear();
    StartServerInfoRequest(*mState, mServer.WideUrl("/serverinfo?uid={uid}"), u"uid", u"",
                           u"http://portal/list", u"");
    const auto& calls = mCapture->Calls();
    EXPECT_NE(
        std::find(calls.begin(), calls.end(), u"[MC] Start download server info from " + FromUtf8(base)),
        calls.end())
        << Narrow(mCapture->Text());
}

TEST_F(RemoteFetchWindowTest, ServerInfoRequestCancelsTheRunningProgramDownload)
{
    mServer.AddFile("/serverinfo", mGood);
    StartProgramDownload(*mState, mServer.WideUrl("/silent"), Temp("mc.exe"));
    ASSERT_TRUE(WaitUntil([&] { return mServer.HeldConnections() == 1; }));
    StartServerInfoRequest(*mState, mServer.WideUrl("/serverinfo"), u"", u"", u"", u"");
    EXPECT_TRUE(Logged(u"[WS] Web download aborted"));
    EXPECT_EQ(mState->mMainFetch.mKind, _FETCH_SERVER_INFO);
    ASSERT_TRUE(WaitDone(mState->mMainFetch));
    EXPECT_TRUE(PollFetch(*mState, mState->mMainFetch));
    EXPECT_FALSE(std::filesystem::exists(mTemp / "mc.exe"));
    EXPECT_NE(
        std::string(mState->mMainFetch.mBuffer.begin(), mState->mMainFetch.mBuffer.end()).find("gsname"),
        std::string::npos);
}

TEST_F(RemoteFetchWindowTest, ServerComboIsFilledAndTheCurrentServerSelected)
{
    ASSERT_TRUE(CreateFrameWindow(*mState, 1, u"servers", 50, 50, 200, 100, 1));
    FrameWindow& frame = *mState->mFrames[1];
    frame.AddComboBox(0, 10, 10, 150, 24, u"", 0, 12, 0);
    ASSERT_NE(frame.FindComboBox(0)->mControl, 0u);
    Ui::WindowId combo = frame.FindComboBox(0)->mControl;
    Ui::ComboAddItem(combo, u"stale");

    ASSERT_TRUE(ApplyServerData(*mState, Bytes(mGood)));
    ASSERT_EQ(Ui::ComboGetCount(combo), 2);
    EXPECT_EQ(Ui::ComboGetItem(combo, 0), u"Stone Bay");
    EXPECT_EQ(Ui::ComboGetItem(combo, 1), u"Azure Coast");
    EXPECT_EQ(Ui::ComboGetSelection(combo), 1);

    // A current server that is not in the list selects the first.
    ASSERT_TRUE(ApplyServerData(*mState,
                                Bytes(R"({"gsname":"Elsewhere","data":[{"name":"A","sid":"a",)"
                                      R"("url":"http://h/a"},{"name":"B","sid":"b","url":"http://h/b"}]})")));
    EXPECT_EQ(Ui::ComboGetCount(combo), 2);
    EXPECT_EQ(Ui::ComboGetSelection(combo), 0);
}

} // namespace
} // namespace Vexel::Test

// The loader host's acquisition and checks: the module download with its Host header and version query,
// the stall rotation over the CDN list on an injected clock (at any progress), the instant rotation on a
// wrong digest, the refusal after a round of wrong digests, the growing pause between rounds of stalls,
// packed downloads, cached and local files, the temporary name beside a loaded module, the signature and
// digest refusals (untrusted root, a copied signer name, bytes altered after signing, an unknown unsigned
// module, damaged files), and the block list.
#include "LoaderTestSupport.h"

#include "Services/GameModule.h"
#include "Services/LoaderHost.h"
#include "TestServer.h"

#include "Common/Compression.h"
#include "Common/Md5.h"
#include "Common/StringFormatter.h"
#include "Platform/File.h"
#include "Platform/Folders.h"
#include "Platform/System.h"

#include <httplib.h>

#include <fstream>
#include <thread>

#if defined(VEXEL_DEMO_GAME_DIR) && defined(VEXEL_TEST_MODULE_DIR)

namespace Vexel::Test
{
namespace
{

const std::string _DEMO = VEXEL_DEMO_GAME_DIR;
const std::string _MODULES = VEXEL_TEST_MODULE_DIR;
const std::string _PATH = "/game/vexel3d.lod";

// A module server on 127.0.0.1: serves one body at every path, or holds every request without a byte (a
// stalled CDN), and remembers each request's target and Host header.
class ModuleServer
{
public:
    enum class Mode
    {
        Serve,
        Stall,
    };
    explicit ModuleServer(std::string body = std::string(), Mode mode = Mode::Serve)
    {
        mServer.SetFallback(
            [this, body = std::move(body), mode](const httplib::Request&, httplib::Response& response)
            {
                if (mode == Mode::Stall)
                {
                    mServer.HoldUntilStopped();
                    response.status = 503;
                    return;
                }
                response.set_content(body, "application/octet-stream");
            });
    }
    String Host() const { return FromNative("127.0.0.1:" + std::to_string(mServer.Port())); }
    String Url(const std::string& path) const { return u"http://" + Host() + FromNative(path); }
    int Requests() const { return mServer.TotalRequests(); }
    std::vector<std::string> Targets() const { return mServer.Targets(); }
    std::vector<std::string> Hosts() const { return mServer.Hosts(); }

private:
    static String FromNative(const std::string& text) { return String(text.begin(), text.end()); }
    TestServer mServer{TestServer::Connections::OnePerRequest};
};

class LoaderHostTest : public LoaderHostWindowTest
{
protected:
    void SetUp() override
    {
        LoaderHostWindowTest::SetUp();
        if (HasFatalFailure())
            return;
        mState->mLoader.mPath = mData.Wide("vexel3d.lod");
    }
    void Source(const String& url, const String& md5, std::vector<String> cdn = {})
    {
        mHost->SetLoaderSource(url, md5);
        mState->mLoader.mCdn = std::move(cdn);
    }
    // Polls until the download is done (true) or the condition holds (false).
    bool PollUntil(const std::function<bool()>& condition)
    {
        bool ready = false;
        EXPECT_TRUE(WaitUntil(
            [&]
            {
                ready = mHost->PollLoaderDownload();
                return ready || condition();
            }));
        return ready;
    }
    bool PollUntilReady()
    {
        return PollUntil([] { return false; });
    }
};

TEST_F(LoaderHostTest, DownloadFallsBackOverStalledAndWrongCdnsAndKeepsTheUrlsHost)
{
    std::string module = ReadBytes(_DEMO + "/vexel3d.lod");
    ModuleServer origin(module, ModuleServer::Mode::Stall);
    ModuleServer wrong(module.substr(0, module.size() / 2));
    ModuleServer right(module);
    Source(origin.Url(_PATH), DigestText(module), {wrong.Host(), right.Host()});

    EXPECT_FALSE(mHost->StartLoaderHost(mWindow));
    ASSERT_TRUE(WaitUntil([&] { return origin.Requests() == 1; }));
    EXPECT_EQ(origin.Targets()[0], _PATH + "?pv=10004");
    // Silence for just under five seconds keeps the address; five seconds moves on.
    EXPECT_FALSE(mHost->PollLoaderDownload());
    mNow += _LOADER_STALL_MS - 1;
    EXPECT_FALSE(mHost->PollLoaderDownload());
    EXPECT_EQ(mHost->CdnIndex(), 0);
    mNow += 1;
    EXPECT_FALSE(mHost->PollLoaderDownload());
    EXPECT_EQ(mHost->CdnIndex(), 1);
    // The wrong bytes arrive complete and rotate at once, without waiting for any clock.
    ASSERT_TRUE(PollUntilReady());
    EXPECT_EQ(mHost->CdnIndex(), 2);
    EXPECT_EQ(wrong.Requests(), 1);
    ASSERT_EQ(right.Requests(), 1);
    // Every address is asked as the URL's own host.
    EXPECT_EQ(wrong.Hosts()[0], Narrow(origin.Host()));
    EXPECT_EQ(right.Hosts()[0], Narrow(origin.Host()));
    EXPECT_EQ(right.Targets()[0], _PATH + "?pv=10004");
    EXPECT_EQ(mHost->Progress(), 1.0f);
    EXPECT_EQ(ReadBytes((mData / "vexel3d.lod").string()), module);
    EXPECT_FALSE(mHost->UsesTemporaryName());
}

TEST_F(LoaderHostTest, StalledAddressesRotateThroughTheCdnListAndBackToTheUrlsHost)
{
    ModuleServer origin(std::string(), ModuleServer::Mode::Stall);
    ModuleServer first(std::string(), ModuleServer::Mode::Stall);
    ModuleServer second(std::string(), ModuleServer::Mode::Stall);
    Source(origin.Url(_PATH), u"00000000000000000000000000000001", {first.Host(), second.Host()});
    EXPECT_FALSE(mHost->StartLoaderHost(mWindow));
    const ModuleServer* order[] = {&origin, &first, &second, &origin};
    for (int step = 0; step < 4; ++step)
    {
        EXPECT_EQ(mHost->CdnIndex(), step % 3);
        EXPECT_EQ(mHost->RequestAddress(), order[step]->Url(_PATH) + u"?pv=10004");
        ASSERT_TRUE(WaitUntil([&] { return order[step]->Requests() == (step == 3 ? 2 : 1); }));
        mHost->PollLoaderDownload();
        mNow += _LOADER_STALL_MS;
        mHost->PollLoaderDownload();
        if (step == 2)
        {
            // A whole round without the module: a pause before the URL's own host is asked again.
            EXPECT_TRUE(mHost->IsWaiting());
            mNow += _LOADER_BACKOFF_FIRST_MS;
            mHost->PollLoaderDownload();
            EXPECT_FALSE(mHost->IsWaiting());
        }
    }
}

TEST_F(LoaderHostTest, AHostThatStopsHalfWayLosesTheDownloadAfterFiveSecondsWithoutProgress)
{
    std::string module = ReadBytes(_DEMO + "/vexel3d.lod");
    TestServer holding;
    holding.AddFile(_PATH, module);
    holding.SetMode(_PATH, TestServer::Mode::Stall); // the first 100 bytes, then nothing
    ModuleServer right(module);
    Source(holding.WideUrl(_PATH), DigestText(module), {right.Host()});
    EXPECT_FALSE(mHost->StartLoaderHost(mWindow));
    ASSERT_TRUE(WaitUntil([&] { return !mHost->PollLoaderDownload() && mHost->Progress() > 0.0f; }));
    float held = mHost->Progress();
    EXPECT_LT(held, 0.5f);
    // The clock counts from the last step forward, not from the start.
    mNow += _LOADER_STALL_MS - 1;
    EXPECT_FALSE(mHost->PollLoaderDownload());
    EXPECT_EQ(mHost->CdnIndex(), 0);
    mNow += 1;
    EXPECT_FALSE(mHost->PollLoaderDownload());
    EXPECT_EQ(mHost->CdnIndex(), 1);
    EXPECT_TRUE(Logged(u"[MC] No progress from " + holding.WideUrl(_PATH) + u"?pv=10004, next address"));
    ASSERT_TRUE(PollUntilReady());
    EXPECT_EQ(holding.Requests(_PATH), 1);
    EXPECT_EQ(right.Requests(), 1);
    EXPECT_EQ(ReadBytes((mData / "vexel3d.lod").string()), module);
}

TEST_F(LoaderHostTest, TheNextAddressContinuesWhereTheLastStoppedUnlessItCannotOrTheFileChanged)
{
    std::string module = ReadBytes(_DEMO + "/vexel3d.lod");
    std::string changed = module;
    changed[changed.size() - 200] ^= 0x33; // the same length, other bytes past the first host's share
    struct Case
    {
        const char* name;
        TestServer::Mode mode;
        bool fileChanged;
        bool continued; // the next address was asked for the rest and sent it
        bool saved;
    } cases[] = {
        {"range served", TestServer::Mode::Normal, false, true, true},
        {"range ignored", TestServer::Mode::IgnoreRange, false, false, true},
        {"file changed", TestServer::Mode::Normal, true, true, false},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        TestServer holding, next;
        holding.AddFile(_PATH, module);
        holding.SetMode(_PATH, TestServer::Mode::Stall);
        next.AddFile(_PATH, c.fileChanged ? changed : module);
        next.SetMode(_PATH, c.mode);
        mState->mLoader.mPath = mData.Wide("vexel3d.lod");
        std::filesystem::remove(mData / "vexel3d.lod");
        Source(holding.WideUrl(_PATH), DigestText(module),
               {Wide("127.0.0.1:" + std::to_string(next.Port()))});
        EXPECT_FALSE(mHost->StartLoaderHost(mWindow));
        ASSERT_TRUE(WaitUntil([&] { return !mHost->PollLoaderDownload() && mHost->Progress() > 0.0f; }));
        mNow += _LOADER_STALL_MS;
        EXPECT_FALSE(mHost->PollLoaderDownload());
        const std::size_t kept = mHost->KeptBytes();
        ASSERT_GT(kept, 0u);
        EXPECT_GE(mHost->Progress(), static_cast<float>(kept) / static_cast<float>(module.size()) - 1e-6f);
        // A second's pause where the same host is asked again; the round's end shows as its log line.
        bool ready = PollUntil(
            [&]
            {
                if (mHost->IsWaiting() && next.Requests(_PATH) < 2)
                    mNow += _LOADER_ASK_INTERVAL_MS;
                return Logged(u"next round in");
            });
        EXPECT_EQ(ready, c.saved);
        const std::string rest = "bytes=" + std::to_string(kept) + "-" + std::to_string(module.size() - 1);
        // Whatever went wrong with the pieces, the next try is the whole file from byte 0.
        std::vector<std::string> ranges = {rest};
        if (!c.continued || c.fileChanged)
            ranges.push_back("");
        EXPECT_EQ(next.Ranges(_PATH), ranges);
        EXPECT_EQ(holding.Requests(_PATH), 1);
        if (c.saved)
        {
            EXPECT_EQ(ReadBytes((mData / "vexel3d.lod").string()), module);
        }
        else
        {
            EXPECT_FALSE(FileExists(mState->mLoader.mPath));
            EXPECT_TRUE(Logged(u"again from the start"));
        }
        mHost->ResetLoaderHost();
        mCapture->Clear();
    }
}

TEST_F(LoaderHostTest, ARoundOfWrongDigestsEndsInTheRefusalWithOneRequestPerAddress)
{
    std::string module = ReadBytes(_DEMO + "/vexel3d.lod");
    ModuleServer origin(module);
    ModuleServer cdn(module);
    // The list names the URL's own host again, as operators' pages do.
    Source(origin.Url(_PATH), u"0123456789abcdef0123456789abcdef", {cdn.Host(), origin.Host()});
    EXPECT_FALSE(mHost->StartLoaderHost(mWindow));
    EXPECT_FALSE(PollUntil([&] { return mHost->IsWaiting(); }));
    // The origin was asked a moment ago: its second turn waits a second on the clock.
    EXPECT_EQ(mHost->CdnIndex(), 2);
    EXPECT_EQ(origin.Requests(), 1);
    EXPECT_EQ(cdn.Requests(), 1);
    mNow += _LOADER_ASK_INTERVAL_MS - 1;
    EXPECT_FALSE(mHost->PollLoaderDownload());
    EXPECT_TRUE(mHost->IsWaiting());
    mNow += 1;
    EXPECT_FALSE(PollUntil([&] { return mHost->DownloadRefused(); }));
    EXPECT_EQ(origin.Requests(), 2);
    EXPECT_EQ(mHost->ErrorText(), u"Invalid loader, contact help@vexel.test");
    EXPECT_TRUE(Logged(u"[MC] Loader error: Invalid loader, contact help@vexel.test"));
    EXPECT_EQ(mHost->Progress(), 1.0f);
    // Nothing more is asked, however long the player waits.
    for (int i = 0; i < 10; ++i)
    {
        mNow += _LOADER_BACKOFF_MAX_MS;
        EXPECT_FALSE(mHost->PollLoaderDownload());
        mHost->LoaderFrame();
    }
    EXPECT_EQ(origin.Requests() + cdn.Requests(), 3);
    EXPECT_FALSE(FileExists(mState->mLoader.mPath));

    // A fresh start (the player's Refresh) tries again.
    mHost->ResetLoaderHost();
    mState->mLoader.mPath = mData.Wide("vexel3d.lod");
    Source(origin.Url(_PATH), DigestText(module), {cdn.Host()});
    EXPECT_FALSE(mHost->StartLoaderHost(mWindow));
    ASSERT_TRUE(PollUntilReady());
    EXPECT_FALSE(mHost->DownloadRefused());
}

TEST_F(LoaderHostTest, RoundsOfStallsWaitLongerEachTimeUpToHalfAMinute)
{
    TestServer failing; // every request answered at once with an error: no progress ever
    Source(failing.WideUrl("/status/503"), u"0123456789abcdef0123456789abcdef");
    EXPECT_FALSE(mHost->StartLoaderHost(mWindow));
    const _qword waits[] = {1000, 2000, 4000, 8000, 16000, 30000, 30000};
    for (_qword wait : waits)
    {
        SCOPED_TRACE(wait);
        EXPECT_FALSE(mHost->PollLoaderDownload());
        EXPECT_FALSE(mHost->IsWaiting());
        mNow += _LOADER_STALL_MS;
        EXPECT_FALSE(mHost->PollLoaderDownload());
        EXPECT_TRUE(mHost->IsWaiting());
        mNow += wait - 1;
        EXPECT_FALSE(mHost->PollLoaderDownload());
        EXPECT_TRUE(mHost->IsWaiting());
        mNow += 1;
        EXPECT_FALSE(mHost->PollLoaderDownload());
    }
    // Stalls are not a verdict on the module: no refusal, the rounds go on.
    EXPECT_FALSE(mHost->DownloadRefused());
    EXPECT_TRUE(mHost->ErrorText().empty());
}

TEST_F(LoaderHostTest, CachedOrLocalFilesNeedNoDownloadAndPackedDownloadsAreUnpacked)
{
    std::string module = ReadBytes(_DEMO + "/vexel3d.lod");
    ModuleServer server(ReadBytes(_DEMO + "/vexel3d.lod.packed"));
    // The cached file with the page's digest (in other letter case) is taken as it is.
    ASSERT_TRUE(WriteFile(mState->mLoader.mPath, std::vector<_byte>(module.begin(), module.end())));
    String digest = DigestText(module);
    for (auto& c : digest)
        c = (c >= u'a' && c <= u'f') ? static_cast<char16_t>(c - 32) : c;
    Source(server.Url(_PATH), digest);
    EXPECT_TRUE(mHost->StartLoaderHost(mWindow));
    EXPECT_TRUE(mHost->PollLoaderDownload());
    EXPECT_EQ(mHost->Progress(), 1.0f);
    mHost->ResetLoaderHost();

    // A local file named by the URL, whatever the digest says.
    mState->mLoader.mPath = mData.Wide("elsewhere.lod");
    Source(u"LOCAL://" + Wide(_DEMO + "/vexel3d-unsigned.lod"), u"0");
    EXPECT_TRUE(mHost->StartLoaderHost(mWindow));
    EXPECT_EQ(mHost->LoaderPath(), Wide(_DEMO + "/vexel3d-unsigned.lod"));
    mHost->ResetLoaderHost();
    EXPECT_EQ(server.Requests(), 0);

    // A cached file with another digest is replaced by the download, which arrives packed.
    mState->mLoader.mPath = mData.Wide("vexel3d.lod");
    ASSERT_TRUE(WriteFile(mState->mLoader.mPath, std::vector<_byte>{1, 2, 3}));
    Source(server.Url(_PATH), DigestText(module));
    EXPECT_FALSE(mHost->StartLoaderHost(mWindow));
    ASSERT_TRUE(PollUntilReady());
    EXPECT_EQ(server.Requests(), 1);
    EXPECT_EQ(ReadBytes((mData / "vexel3d.lod").string()), module);
}

// A download that starts as a packed module but cannot be unpacked (cut short, or its body damaged) is
// another address's turn, as a wrong digest is; nothing of it is kept.
TEST_F(LoaderHostTest, APackedDownloadThatCannotBeUnpackedGoesToTheNextAddress)
{
    std::string module = ReadBytes(_DEMO + "/vexel3d.lod");
    std::string packed = ReadBytes(_DEMO + "/vexel3d.lod.packed");
    std::string damaged = packed;
    for (std::size_t i = 64; i < damaged.size(); i += 97)
        damaged[i] = static_cast<char>(damaged[i] ^ 0x5A);
    for (const std::string& broken : {packed.substr(0, packed.size() / 2), damaged})
    {
        mCapture->Clear();
        ModuleServer bad(broken);
        ModuleServer good(packed);
        std::filesystem::remove(mData / "vexel3d.lod"); // (no cached copy from the row before)
        mState->mLoader.mPath = mData.Wide("vexel3d.lod");
        Source(bad.Url(_PATH), DigestText(module), {good.Host()});
        EXPECT_FALSE(mHost->StartLoaderHost(mWindow));
        ASSERT_TRUE(PollUntilReady());
        EXPECT_TRUE(Logged(u"is packed but cannot be unpacked, next address"));
        EXPECT_EQ(bad.Requests(), 1);
        EXPECT_EQ(good.Requests(), 1);
        EXPECT_EQ(ReadBytes((mData / "vexel3d.lod").string()), module);
        mHost->ResetLoaderHost();
    }
}

TEST_F(LoaderHostTest, AFileOfALoadedModuleIsNotReplacedButWrittenBesideAndDeletedAtReset)
{
    std::string module = ReadBytes(_MODULES + "/complete" VEXEL_TEST_MODULE_SUFFIX);
    mHost->mSettings.mPolicy.acceptedDigests = {Md5Of(module.data(), module.size())};
    ASSERT_TRUE(WriteFile(mState->mLoader.mPath, std::vector<_byte>(module.begin(), module.end())));
    Source(u"local:\\" + mState->mLoader.mPath, String());
    ASSERT_TRUE(mHost->StartLoaderHost(mWindow));
    ASSERT_TRUE(mHost->VerifyAndLoad()) << Narrow(mHost->ErrorText());
    EXPECT_TRUE(IsLoadedModuleFile(mData.Wide("vexel3d.lod")));

    // A second host downloads another build for the same path while the first runs this one.
    std::string update = ReadBytes(_MODULES + "/no-progress" VEXEL_TEST_MODULE_SUFFIX);
    LoaderSource source;
    source.mPath = mData.Wide("vexel3d.lod");
    LoaderHost other(source);
    other.mClock = [this] { return mNow; };
    ModuleServer server(update);
    other.SetLoaderSource(server.Url(_PATH), DigestText(update));
    source.mCdn.clear();
    EXPECT_FALSE(other.StartLoaderHost(mWindow));
    ASSERT_TRUE(WaitUntil([&] { return other.PollLoaderDownload(); }));
    EXPECT_TRUE(other.UsesTemporaryName());
    String temporary = other.LoaderPath();
    auto thread = static_cast<_dword>(std::hash<std::thread::id>()(std::this_thread::get_id()));
    EXPECT_EQ(temporary, TemporaryModulePath(mData.Wide("vexel3d.lod"), thread));
    EXPECT_EQ(temporary.substr(temporary.size() - 13), FormatString(u"-%.8x.lod", thread));
    EXPECT_TRUE(FileExists(temporary));
    other.ResetLoaderHost();
    EXPECT_FALSE(FileExists(temporary));
    EXPECT_EQ(ReadBytes((mData / "vexel3d.lod").string()), module);

    // Once unloaded, the file is free to replace again.
    mHost->UnloadModule();
    EXPECT_FALSE(IsLoadedModuleFile(mData.Wide("vexel3d.lod")));
}

TEST_F(LoaderHostTest, ModulesThatMayNotRunAreRefusedWithTheOperatorsText)
{
    std::string module = ReadBytes(_DEMO + "/vexel3d.lod");
    std::string altered = module;
    altered[altered.size() / 3] ^= 0x5A; // inside the module's bytes, before the signature
    std::string lying = module;
    lying[lying.size() - 9] = '\x7f'; // the length field claims more than the file holds
    std::string notElf(4096, 'x');
    struct Case
    {
        std::string name;
        std::string bytes;
        bool withCa;
        const char16_t* error;
    } cases[] = {
        {"untrusted.lod", ReadBytes(_DEMO + "/vexel3d-untrusted.lod"), true,
         u"Invalid signature of loader, contact help@vexel.test"},
        {"no-ca.lod", module, false, u"Invalid signature of loader, contact help@vexel.test"},
        {"altered.lod", altered, true, u"Invalid signature of loader, contact help@vexel.test"},
        {"lying.lod", lying, true, u"Invalid signature of loader, contact help@vexel.test"},
        {"truncated.lod", module.substr(0, module.size() - 5), true,
         u"Invalid loader, contact help@vexel.test"},
        {"unsigned.lod", ReadBytes(_DEMO + "/vexel3d-unsigned.lod"), true,
         u"Invalid loader, contact help@vexel.test"},
        {"text.lod", notElf, true, u"Invalid loader, contact help@vexel.test"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        String path = mData.Wide(c.name);
        ASSERT_TRUE(WriteFile(path, std::vector<_byte>(c.bytes.begin(), c.bytes.end())));
        mHost->mSettings.mCaFile = c.withCa ? Wide(_DEMO + "/test-ca/root.pem") : String();
        Source(u"local://" + path, String());
        ASSERT_TRUE(mHost->StartLoaderHost(mWindow));
        EXPECT_FALSE(mHost->VerifyAndLoad());
        EXPECT_EQ(mHost->ErrorText(), c.error);
        EXPECT_FALSE(mHost->IsLoaded());
        // The file counts as tried: the next frames do not check it again.
        EXPECT_FALSE(mHost->PollLoaderDownload());
        mHost->ResetLoaderHost();
    }

    // A file that is not a module but whose digest the operator accepted: refused by the loader itself.
    String path = mData.Wide("text.lod");
    mHost->mSettings.mPolicy.acceptedDigests = {Md5Of(notElf.data(), notElf.size())};
    Source(u"local://" + path, String());
    ASSERT_TRUE(mHost->StartLoaderHost(mWindow));
    EXPECT_FALSE(mHost->VerifyAndLoad());
    EXPECT_EQ(mHost->ErrorText(), u"Loader cannot be loaded, contact help@vexel.test");

    // A signer name that differs only in letter case is not the accepted one.
    mHost->ResetLoaderHost();
    mHost->mSettings.mPolicy.acceptedSigners = {u"vexel studio ltd."};
    Source(u"local://" + Wide(_DEMO + "/vexel3d.lod"), String());
    ASSERT_TRUE(mHost->StartLoaderHost(mWindow));
    EXPECT_FALSE(mHost->VerifyAndLoad());
    EXPECT_EQ(mHost->ErrorText(), u"Invalid signature of loader, contact help@vexel.test");
}

// The block list's bytes: records of a digest, a message length and the message.
std::string Record(const MD5& digest, const std::u16string& message, bool withLength = true)
{
    std::string bytes;
    for (_dword word : digest.w)
        for (int i = 0; i < 4; ++i)
            bytes += static_cast<char>((word >> (8 * i)) & 0xFF);
    if (!withLength)
        return bytes;
    _dword length = static_cast<_dword>(message.size());
    for (int i = 0; i < 4; ++i)
        bytes += static_cast<char>((length >> (8 * i)) & 0xFF);
    for (char16_t c : message)
        bytes += static_cast<char>(c & 0xFF), bytes += static_cast<char>(c >> 8);
    return bytes;
}

TEST_F(LoaderHostTest, TheBlockListUnloadsABannedModuleAndIgnoresShortAnswers)
{
    std::string module = ReadBytes(_MODULES + "/complete" VEXEL_TEST_MODULE_SUFFIX);
    MD5 digest = Md5Of(module.data(), module.size());
    MD5 other = digest;
    other.w[2] ^= 1;
    mHost->mSettings.mPolicy.acceptedDigests = {digest};
    String path = mState->mLoader.mPath;
    ASSERT_TRUE(WriteFile(path, std::vector<_byte>(module.begin(), module.end())));
    struct Case
    {
        std::string answer;
        bool banned;
        std::u16string error;
    } cases[] = {
        {Record(digest, u"", false).substr(0, 15), false, u""},
        {Record(other, u"not you") + Record(digest, u"Banned build, update please"), true,
         u"Banned build, update please"},
        {Record(digest, u"", false), true, u"Illegle loader, contact help@vexel.test"},
        {Record(other, u"someone else"), false, u""},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(Narrow(c.error));
        ModuleServer list(c.answer);
        mHost->mSettings.mBlockListUrl = list.Url("/dev/bl");
        Source(u"local:\\" + path, String());
        ASSERT_TRUE(mHost->StartLoaderHost(mWindow));
        ASSERT_TRUE(mHost->VerifyAndLoad());
        ASSERT_TRUE(WaitUntil([&] { return list.Requests() == 1 && mHost->Progress() >= 1.0f; }));
        mHost->LoaderFrame();
        EXPECT_EQ(list.Targets()[0], "/dev/bl");
        EXPECT_EQ(mHost->IsBlocked(), c.banned);
        EXPECT_EQ(mHost->IsLoaded(), !c.banned);
        EXPECT_EQ(mHost->ErrorText(), c.error);
        // A banned module gets no more frames or messages.
        if (c.banned)
        {
            EXPECT_EQ(mHost->ForwardMessage(Ui::_WM_KEYDOWN, 1, 0), 0);
        }
        mHost->ResetLoaderHost();
    }
}

} // namespace
} // namespace Vexel::Test

#else

TEST(LoaderHostTest, IsBuilt)
{
    FAIL() << "the demo game and the test modules were not built (needs x11, cairo and the openssl program)";
}

#endif

// The loader download in segments: a module above the threshold on a page with several hosts goes to a
// file beside the module's in parts fetched from up to three hosts at once. A silent host loses the rest
// of its part to an idle one, or to the others by the stall rule; a host that answers a range with the
// whole file is left out; a host whose file changed between two of its ranges spoils the digest, and the
// module is then fetched whole from one address at a time, so nothing of the other file is kept. The
// servers' bytes stay close to the module's length. A module longer than memory may hold goes into the
// file even from one host, and its download ends when no host can serve it.
#include "LoaderTestSupport.h"

#include "Services/LoaderHost.h"
#include "TestServer.h"

#include "Platform/File.h"
#include "Storage/Download/SegmentedTransfer.h"

#include <fstream>

#if defined(VEXEL_DEMO_GAME_DIR) && defined(VEXEL_TEST_MODULE_DIR)

namespace Vexel::Test
{
namespace
{

const std::string _PATH = "/game/vexel3d.lod";
constexpr std::size_t _SIZE = std::size_t(12) << 20;
// The first request's 100 bytes (a stalled first reply) are the file's start; the rest is cut in three.
constexpr std::int64_t _HEAD = 100;
constexpr std::int64_t _REST = static_cast<std::int64_t>(_SIZE) - _HEAD;

std::string ReadBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Range(std::int64_t first, std::int64_t end)
{
    return "bytes=" + std::to_string(first) + "-" + std::to_string(end - 1);
}

// The bounds of the three first parts after the head.
std::int64_t PartStart(int i)
{
    return _HEAD + _REST * i / 3;
}

class LoaderSegmentsTest : public LoaderHostWindowTest
{
protected:
    void SetUp() override
    {
        LoaderHostWindowTest::SetUp();
        if (HasFatalFailure())
            return;
        mState->mLoader.mPath = mData.Wide("vexel3d.lod");
        mModule = TestServer::GeneratedBytes(24, 0, _SIZE);
        for (TestServer* server : {&mFirst, &mSecond, &mThird})
            server->AddFile(_PATH, mModule);
        // The first reply stops after 100 bytes: the length is known, the rest comes in segments.
        mFirst.SetMode(_PATH, TestServer::Mode::Stall, 1);
    }
    String Host(const TestServer& server) const { return Wide("127.0.0.1:" + std::to_string(server.Port())); }
    std::string UrlHost() const { return "127.0.0.1:" + std::to_string(mFirst.Port()); }
    void Start()
    {
        mHost->SetLoaderSource(mFirst.WideUrl(_PATH), DigestText(mModule));
        mState->mLoader.mCdn = {Host(mSecond), Host(mThird)};
        EXPECT_FALSE(mHost->StartLoaderHost(mWindow));
        ASSERT_TRUE(WaitUntil([&] { return !mHost->PollLoaderDownload() && mHost->InSegments(); }));
        EXPECT_TRUE(Logged(u"[MC] Loader of 12582912 bytes, in segments from 3 addresses"));
        EXPECT_TRUE(FileExists(mData.Wide("vexel3d.lod.part")));
    }
    // Polls until the file holds this many bytes and this many requests still run.
    void PollUntilHeld(std::int64_t received, int requesting)
    {
        ASSERT_TRUE(WaitUntil(
            [&]
            {
                mHost->PollLoaderDownload();
                const SegmentedTransfer* segments = mHost->Segments();
                return segments != nullptr && segments->Received() == received &&
                       segments->Requesting() == requesting;
            }));
    }
    bool PollUntilReady(const std::function<void()>& step = {})
    {
        return WaitUntil(
            [&]
            {
                if (step)
                    step();
                return mHost->PollLoaderDownload();
            });
    }
    std::uint64_t Sent() const
    {
        return mFirst.BytesSent(_PATH) + mSecond.BytesSent(_PATH) + mThird.BytesSent(_PATH);
    }
    void ExpectTheModuleSaved()
    {
        EXPECT_EQ(ReadBytes(mData / "vexel3d.lod"), mModule);
        EXPECT_FALSE(FileExists(mData.Wide("vexel3d.lod.part")));
        EXPECT_FALSE(mHost->InSegments());
        EXPECT_EQ(mHost->Progress(), 1.0f);
    }

    TestServer mFirst, mSecond, mThird;
    std::string mModule;
};

TEST_F(LoaderSegmentsTest, ThreeHostsShareTheModuleEachAskedOnceAsTheUrlsHost)
{
    Start();
    const String line = mHost->ProgressDetail();
    EXPECT_NE(line.find(u" / 12.0 MB"), String::npos) << Narrow(line);
    // The first host was asked a moment ago; the others take the first two parts at once, and the one
    // before the part nobody could take runs on into it.
    ASSERT_TRUE(PollUntilReady()) << Narrow(mCapture->Text());
    ExpectTheModuleSaved();
    EXPECT_EQ(mSecond.Ranges(_PATH), std::vector<std::string>{Range(PartStart(0), PartStart(1))});
    EXPECT_EQ(mThird.Ranges(_PATH), std::vector<std::string>{Range(PartStart(1), _SIZE)});
    EXPECT_EQ(mFirst.Ranges(_PATH), std::vector<std::string>{""});
    for (const TestServer* server : {&mFirst, &mSecond, &mThird})
        for (const std::string& host : server->Hosts(_PATH))
            EXPECT_EQ(host, UrlHost());
    // The module once: the first reply's 100 bytes are its start.
    EXPECT_EQ(Sent(), _SIZE);
    EXPECT_EQ(mHost->SegmentBytesFetched(), static_cast<std::int64_t>(_SIZE));
    EXPECT_TRUE(mHost->ProgressDetail().empty());
}

TEST_F(LoaderSegmentsTest, AStallingHostLosesItsPartToAnIdleOneOrByTheStallRule)
{
    struct Case
    {
        const char* name;
        _qword wait;    // the clock's step once the third host is done
        bool stallRule; // the stall rule gave the part up, rather than an idle host taking it over
    } cases[] = {
        {"an idle host takes over", _LOADER_ASK_INTERVAL_MS, false},
        {"stall rule", _LOADER_STALL_MS, true},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        mSecond.SetMode(_PATH, TestServer::Mode::Stall); // 100 bytes of its part, then silence
        const std::uint64_t before = Sent();
        const int asked = mSecond.Requests(_PATH);
        Start();
        PollUntilHeld(_HEAD + 100 + _SIZE - PartStart(1), 1);
        mNow += c.wait;
        ASSERT_TRUE(PollUntilReady());
        ExpectTheModuleSaved();
        EXPECT_EQ(Logged(u"for 5000 ms, its segment goes to the other addresses"), c.stallRule);
        EXPECT_EQ(Logged(u"takes over"), !c.stallRule);
        // The silent host was asked once; its part went on from where it stopped.
        EXPECT_EQ(mSecond.Requests(_PATH), asked + 1);
        std::vector<std::string> rest = mFirst.Ranges(_PATH);
        for (const std::string& range : mThird.Ranges(_PATH))
            rest.push_back(range);
        EXPECT_NE(std::find(rest.begin(), rest.end(), Range(PartStart(0) + 100, PartStart(1))), rest.end());
        EXPECT_LE(static_cast<double>(Sent() - before), 1.05 * _SIZE);
        EXPECT_LE(static_cast<double>(mHost->SegmentBytesFetched()), 1.05 * _SIZE);

        mHost->ResetLoaderHost();
        mCapture->Clear();
        mState->mLoader.mPath = mData.Wide("vexel3d.lod");
        DeleteFile(mState->mLoader.mPath);
        for (TestServer* server : {&mFirst, &mSecond, &mThird})
            server->SetMode(_PATH, TestServer::Mode::Normal);
        mFirst.SetMode(_PATH, TestServer::Mode::Stall, 1);
        mSecond.SetMode(_PATH, TestServer::Mode::Normal);
        mNow += _LOADER_BACKOFF_MAX_MS;
    }
}

TEST_F(LoaderSegmentsTest, HostsThatCannotServeRangesOfTheFileAreLeftOutAndNothingOfThemIsKept)
{
    struct Case
    {
        const char* name;
        std::vector<TestServer*> ignoring; // answer a range with the whole file (200)
        bool longer;                       // the second host serves a file one byte longer
        const char16_t* refusal;
    } cases[] = {
        {"ranges ignored",
         {&mSecond},
         false,
         u"[WS] Range of a resource of 12582912 bytes asked, the reply is HTTP 200"},
        {"another length", {}, true, u"the reply is a range of 12582913 bytes"},
        {"no host serves ranges", {&mFirst, &mSecond, &mThird}, false, u"the reply is HTTP 200"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        const bool allOut = c.ignoring.size() == 3;
        mFirst.SetMode(_PATH, TestServer::Mode::Stall, 1);
        for (TestServer* server : c.ignoring)
            if (server != &mFirst)
                server->SetMode(_PATH, TestServer::Mode::IgnoreRange);
        if (c.longer)
            mSecond.AddFile(_PATH, mModule + "x");
        const int asked = mSecond.Requests(_PATH);
        Start();
        // The first host's next request is a range, once its second is up.
        if (allOut)
            mFirst.SetMode(_PATH, TestServer::Mode::IgnoreRange);
        PollUntilHeld(_HEAD + (allOut ? 0 : _SIZE - PartStart(1)), 0);
        EXPECT_TRUE(Logged(c.refusal));
        EXPECT_TRUE(Logged(u"does not serve ranges of this resource, left out"));
        mNow += _LOADER_ASK_INTERVAL_MS;
        ASSERT_TRUE(PollUntilReady(
            [&]
            {
                if (mHost->IsWaiting())
                    mNow += _LOADER_ASK_INTERVAL_MS;
            }));
        ExpectTheModuleSaved();
        EXPECT_EQ(mSecond.Requests(_PATH), asked + 1);
        // Without any host for ranges, the whole file from the first address, as without segments.
        EXPECT_EQ(Logged(u"[MC] The loader cannot be fetched in segments, the whole file from"), allOut);

        mHost->ResetLoaderHost();
        mCapture->Clear();
        mState->mLoader.mPath = mData.Wide("vexel3d.lod");
        DeleteFile(mState->mLoader.mPath);
        for (TestServer* server : {&mFirst, &mSecond, &mThird})
        {
            server->SetMode(_PATH, TestServer::Mode::Normal);
            server->AddFile(_PATH, mModule);
        }
        mNow += _LOADER_BACKOFF_MAX_MS;
    }
}

TEST_F(LoaderSegmentsTest, AFileChangedBetweenTwoRangesIsCaughtByTheDigestAndFetchedWholeAgain)
{
    std::string changed = mModule;
    // Inside the silent second host's part, which the first host is asked for later.
    changed[static_cast<std::size_t>(PartStart(1)) - 1000] ^= 0x40;
    mSecond.SetMode(_PATH, TestServer::Mode::Stall, 1);
    Start();
    PollUntilHeld(_HEAD + 100 + _SIZE - PartStart(1), 1);
    mFirst.AddFile(_PATH, changed);
    mNow += _LOADER_ASK_INTERVAL_MS;
    bool ready = PollUntilReady(
        [&]
        {
            if (mHost->IsWaiting())
                mNow += _LOADER_ASK_INTERVAL_MS;
        });
    ASSERT_TRUE(ready);
    EXPECT_TRUE(Logged(u"[MC] Loader pieced together from 3 requests has digest"));
    // Whole files from then on: the first host's changed one is refused, the second host's kept.
    EXPECT_EQ(mFirst.Ranges(_PATH), (std::vector<std::string>{"", Range(_HEAD + 100, PartStart(1)), ""}));
    EXPECT_EQ(mSecond.Ranges(_PATH).back(), "");
    EXPECT_TRUE(Logged(u"expected " + DigestText(mModule) + u", next address"));
    ExpectTheModuleSaved();
    EXPECT_FALSE(mHost->DownloadRefused());
}

// One host, and a memory limit under the module's length.
class LoaderBeyondMemoryTest : public LoaderHostWindowTest
{
protected:
    void SetUp() override
    {
        LoaderHostWindowTest::SetUp();
        if (HasFatalFailure())
            return;
        mHost->mMemoryLimit = std::size_t(1) << 20;
        mModule = TestServer::GeneratedBytes(25, 0, std::size_t(3) << 20);
        mServer.AddFile(_PATH, mModule);
    }
    // Polls until the module is ready or the download ended without it.
    bool Run()
    {
        mState->mLoader.mPath = mData.Wide("vexel3d.lod");
        mHost->SetLoaderSource(mServer.WideUrl(_PATH), Md5ToText(Md5Of(mModule.data(), mModule.size())));
        EXPECT_FALSE(mHost->StartLoaderHost(mWindow));
        bool ready = false;
        EXPECT_TRUE(WaitUntil(
            [&]
            {
                ready = mHost->PollLoaderDownload();
                // The clock moves on only while nothing runs: a pause between rounds, or the one host
                // asked a moment ago.
                if (mHost->IsWaiting())
                    mNow += _LOADER_BACKOFF_MAX_MS;
                else if (mHost->InSegments() && mHost->Segments()->Requesting() == 0)
                    mNow += _LOADER_ASK_INTERVAL_MS;
                return ready || mHost->DownloadRefused() || !mHost->ErrorText().empty();
            }))
            << Narrow(mCapture->Text());
        return ready;
    }

    TestServer mServer;
    std::string mModule;
};

TEST_F(LoaderBeyondMemoryTest, GoesIntoTheFileFromTheOneHost)
{
    ASSERT_TRUE(Run());
    EXPECT_TRUE(Logged(u"[MC] Loader of 3145728 bytes, in segments from 1 addresses"));
    EXPECT_EQ(ReadBytes(mData / "vexel3d.lod"), mModule);
    EXPECT_FALSE(FileExists(mData.Wide("vexel3d.lod.part")));
    EXPECT_EQ(mHost->Progress(), 1.0f);
}

TEST_F(LoaderBeyondMemoryTest, EndsWhenNoHostServesItInsteadOfRetryingForEver)
{
    struct Case
    {
        TestServer::Mode mode;
        const char16_t* line;
    };
    for (const Case& c : {
             // Without its length it cannot be fetched in parts.
             Case{TestServer::Mode::Chunked, u"is over 1048576 bytes and its length is not told"},
             // Wrong bytes in parts, then once more from the one address: the round's refusal.
             Case{TestServer::Mode::Corrupt, u"[MC] No address serves the loader with digest"},
         })
    {
        SCOPED_TRACE(Narrow(c.line));
        mHost->ResetLoaderHost();
        mCapture->Clear();
        mServer.SetMode(_PATH, c.mode);
        EXPECT_FALSE(Run());
        EXPECT_TRUE(mHost->DownloadRefused());
        EXPECT_TRUE(Logged(c.line)) << Narrow(mCapture->Text());
        EXPECT_FALSE(FileExists(mData.Wide("vexel3d.lod")));
        EXPECT_FALSE(FileExists(mData.Wide("vexel3d.lod.part")));
    }
}

} // namespace
} // namespace Vexel::Test

#endif

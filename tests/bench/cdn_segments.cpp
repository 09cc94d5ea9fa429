// A large signed module from three CDNs at once, to the first game frame.
//   - BM_SegmentsToFirstFrame: the loader host, from the game page's parameters (the address on the first
//     CDN, its digest, the other two CDNs) to the module's first frame: the download in segments into a
//     file beside the module, its digest, the signature check, the load, the first update. The first CDN
//     sends half of every reply and then holds the connection silent; the second is throttled to a quarter
//     of the third's rate (the servers' bandwidth, shared by all their connections).
//   - BM_PeerToolsTwoGoodCdns: aria2c fetching the same file from the two good CDNs (one connection each,
//     pieces of at least 1 MiB), then md5sum and openssl cms -verify of the detached signature over the
//     module's bytes (written beside it beforehand, as the game_frame benchmark does).
// Goal: within 1.1 times the peers, and bytes sent by the servers at most 1.05 times the module's size
// (the counter "sent/size"; the client's own count of bytes received is "fetched/size").
// VEXEL_BENCH_MODULE_MIB (default 256) and VEXEL_BENCH_CDN_MIBS (the third CDN's rate in MiB/s, default
// 64) change the sizes. Needs a display (a private X server is started when there is none).
#include "Services/LoaderHost.h"

#include "Common/Md5.h"
#include "Common/StringEncoding.h"
#include "Platform/CodeTrust.h"
#include "Platform/CodeTrust_posix.h"
#include "Platform/File.h"
#include "Platform/Folders.h"
#include "Platform/Ui/Ui.h"
#include "PrivateDisplay.h"
#include "TestServer.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <thread>

using namespace Vexel;

namespace
{

const std::string _CA = VEXEL_DEMO_GAME_DIR "/test-ca";
const std::string _PATH = "/game/vexel3d.lod";

std::uint64_t EnvironmentNumber(const char* name, std::uint64_t fallback)
{
    const char* text = std::getenv(name);
    return text != nullptr && std::atoll(text) > 0 ? static_cast<std::uint64_t>(std::atoll(text)) : fallback;
}

// The complete test module padded to the size (bytes after an ELF image are not loaded), signed by the
// demo game's test signer, served by a server that answers no request (the CDNs share its contents).
struct BigModule
{
    Test::TestServer contents;
    std::uint64_t size = 0;
    String digest;
    std::string folder;
};
BigModule& Module()
{
    static BigModule* module = []
    {
        auto* m = new BigModule;
        std::vector<_byte> bytes;
        ReadFile(u"" VEXEL_TEST_MODULE_DIR "/complete.so", bytes);
        bytes.resize(static_cast<std::size_t>(EnvironmentNumber("VEXEL_BENCH_MODULE_MIB", 256)) << 20, 0x5A);
        std::vector<_byte> signature;
        String error;
        SignModuleBytes(bytes.data(), bytes.size(), FromUtf8(_CA + "/signer.key"),
                        FromUtf8(_CA + "/signer.pem"), String(), signature, error);
        std::vector<_byte> whole =
            AppendSignature(bytes.data(), bytes.size(), signature.data(), signature.size());
        m->size = whole.size();
        m->digest = Md5ToText(Md5Of(whole.data(), whole.size()));
        m->folder = ToUtf8(GetTempFolder()) + "/vexel-segments-bench";
        CreateFolder(FromUtf8(m->folder));
        std::ofstream(m->folder + "/signature.der", std::ios::binary)
            .write(reinterpret_cast<const char*>(signature.data()),
                   static_cast<std::streamsize>(signature.size()));
        std::ofstream(m->folder + "/module.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        m->contents.AddFile(_PATH, std::string(whole.begin(), whole.end()));
        return m;
    }();
    return *module;
}

Ui::WindowId GameWindow()
{
    static Ui::WindowId window = []
    {
        Test::UsePrivateDisplay();
        Ui::InitUi();
        Ui::WindowParams params;
        params.title = u"game";
        params.width = 320;
        params.height = 240;
        params.style = Ui::_WS_OVERLAPPED | Ui::_WS_VISIBLE;
        return Ui::NewWindow(params);
    }();
    return window;
}

// The three CDNs of one run: the first sends half of each reply then holds, the second runs at a quarter
// of the third's rate.
struct Cdns
{
    Test::TestServer halfThenStall, slow, fast;
    explicit Cdns(const BigModule& module)
    {
        const std::uint64_t rate = EnvironmentNumber("VEXEL_BENCH_CDN_MIBS", 64) << 20;
        for (Test::TestServer* server : {&halfThenStall, &slow, &fast})
            server->ShareFile(_PATH, module.contents);
        halfThenStall.SetMode(_PATH, Test::TestServer::Mode::HalfThenStall);
        halfThenStall.SetRate(_PATH, rate);
        slow.SetRate(_PATH, rate / 4);
        fast.SetRate(_PATH, rate);
    }
    std::uint64_t Sent() const
    {
        return halfThenStall.BytesSent(_PATH) + slow.BytesSent(_PATH) + fast.BytesSent(_PATH);
    }
};

String Host(const Test::TestServer& server)
{
    return FromUtf8("127.0.0.1:" + std::to_string(server.Port()));
}

void BM_SegmentsToFirstFrame(benchmark::State& state)
{
    BigModule& module = Module();
    Ui::WindowId window = GameWindow();
    double sent = 0, fetched = 0;
    for (auto _ : state)
    {
        state.PauseTiming();
        auto cdns = std::make_unique<Cdns>(module);
        LoaderSource source;
        source.mPath = FromUtf8(module.folder + "/vexel3d.lod");
        DeleteFile(source.mPath);
        auto host = std::make_unique<LoaderHost>(source);
        host->mSleep = [](_dword) {};
        host->mSettings.mCaFile = FromUtf8(_CA + "/root.pem");
        state.ResumeTiming();

        host->SetLoaderSource(cdns->halfThenStall.WideUrl(_PATH), module.digest);
        source.mCdn = {Host(cdns->slow), Host(cdns->fast)};
        host->StartLoaderHost(window);
        while (!host->PollLoaderDownload())
        {
            if (!host->ErrorText().empty())
                break;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        if (!host->VerifyAndLoad())
        {
            state.SkipWithError("refused");
            break;
        }
        host->LoaderFrame();
        if (!host->FirstFrameDone())
            state.SkipWithError("no frame");

        state.PauseTiming();
        sent += static_cast<double>(cdns->Sent()) / static_cast<double>(module.size);
        fetched += static_cast<double>(host->SegmentBytesFetched()) / static_cast<double>(module.size);
        host.reset();
        cdns.reset();
        state.ResumeTiming();
    }
    state.counters["sent/size"] = benchmark::Counter(sent, benchmark::Counter::kAvgIterations);
    state.counters["fetched/size"] = benchmark::Counter(fetched, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_SegmentsToFirstFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// How aria2c splits the file over the two CDNs (VEXEL_BENCH_ARIA2 replaces it).
std::string Aria2Options()
{
    const char* options = std::getenv("VEXEL_BENCH_ARIA2");
    return options != nullptr ? options : "-x4 -s8 -k1M";
}

void BM_PeerToolsTwoGoodCdns(benchmark::State& state)
{
    BigModule& module = Module();
    double sent = 0;
    for (auto _ : state)
    {
        state.PauseTiming();
        auto cdns = std::make_unique<Cdns>(module);
        std::remove((module.folder + "/peer.lod").c_str());
        const std::string command =
            "cd '" + module.folder + "' && aria2c -q " + Aria2Options() +
            " --file-allocation=none --allow-overwrite=true --auto-file-renaming=false -d . -o peer.lod '" +
            cdns->slow.Url(_PATH) + "?pv=10004' '" + cdns->fast.Url(_PATH) +
            "?pv=10004' && md5sum peer.lod >/dev/null && openssl cms -verify -binary -inform DER "
            "-in signature.der -content module.bin -CAfile '" +
            _CA + "/root.pem' -purpose any -out /dev/null 2>/dev/null";
        state.ResumeTiming();
        if (std::system(command.c_str()) != 0)
        {
            state.SkipWithError("a peer tool failed (aria2c, md5sum, openssl)");
            break;
        }
        state.PauseTiming();
        sent += static_cast<double>(cdns->Sent()) / static_cast<double>(module.size);
        cdns.reset();
        state.ResumeTiming();
    }
    state.counters["sent/size"] = benchmark::Counter(sent, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_PeerToolsTwoGoodCdns)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace

BENCHMARK_MAIN();

// The game's start and frames through the loader host.
//   - BM_LoaderFrameLauncherCost: the launcher's own cost per game frame: LoaderFrame with a module whose
//     update and render do nothing (tests/modules, the complete build), after its first frame, so what is
//     measured is the launcher's part (focus check, clock, block-list poll). Goal: under 50 microseconds.
//   - BM_ModuleToFirstFrame / BM_PeerToolsSameWork: a 32 MiB signed module from loopback to its first
//     frame (download into memory with the digest check, written, signature verified, loaded, created,
//     first update), side by side with the same work by the command-line peers: curl into a file, md5sum,
//     openssl cms -verify of the detached signature. Goal: within 1.2 times the peers.
// Needs a display (a private X server is started when there is none).
#include "Services/LoaderHost.h"

#include "Common/Md5.h"
#include "Common/StringEncoding.h"
#include "Common/StringFormatter.h"
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

void BM_LoaderFrameLauncherCost(benchmark::State& state)
{
    Test::UsePrivateDisplay();
    if (!Ui::InitUi())
    {
        state.SkipWithError("no display");
        return;
    }
    Ui::WindowParams params;
    params.title = u"game";
    params.width = 320;
    params.height = 240;
    params.style = Ui::_WS_OVERLAPPED | Ui::_WS_VISIBLE;
    Ui::WindowId window = Ui::NewWindow(params);
    String path = u"" VEXEL_TEST_MODULE_DIR "/complete.so";
    std::vector<_byte> bytes;
    ReadFile(path, bytes);
    LoaderSource source;
    {
        LoaderHost host(source);
        host.mSleep = [](_dword) {};
        host.mSettings.mPolicy.acceptedDigests = {Md5Of(bytes.data(), bytes.size())};
        host.SetLoaderSource(u"local:\\" + path, String());
        if (!host.StartLoaderHost(window) || !host.VerifyAndLoad())
        {
            state.SkipWithError("the test module did not load");
            return;
        }
        host.LoaderFrame();
        for (auto _ : state)
            host.LoaderFrame();
        if (!host.FirstFrameDone())
            state.SkipWithError("no frame");
    }
    Ui::DestroyUiWindow(window);
}
BENCHMARK(BM_LoaderFrameLauncherCost)->Unit(benchmark::kMicrosecond);

const std::string _CA = VEXEL_DEMO_GAME_DIR "/test-ca";

// The complete test module padded to 32 MiB (bytes after an ELF image are not loaded) and signed by the
// demo game's test signer; the signature alone in signature.der beside it, for the peers.
struct BigModule
{
    std::string signedBytes;
    std::string folder;
};
const BigModule& Module()
{
    static BigModule module = []
    {
        BigModule m;
        std::vector<_byte> bytes;
        ReadFile(u"" VEXEL_TEST_MODULE_DIR "/complete.so", bytes);
        bytes.resize(std::size_t(32) << 20, 0x5A);
        std::vector<_byte> signature;
        String error;
        SignModuleBytes(bytes.data(), bytes.size(), FromUtf8(_CA + "/signer.key"),
                        FromUtf8(_CA + "/signer.pem"), String(), signature, error);
        std::vector<_byte> whole =
            AppendSignature(bytes.data(), bytes.size(), signature.data(), signature.size());
        m.signedBytes.assign(whole.begin(), whole.end());
        m.folder = ToUtf8(GetTempFolder()) + "/vexel-game-bench";
        CreateFolder(FromUtf8(m.folder));
        std::ofstream(m.folder + "/signature.der", std::ios::binary)
            .write(reinterpret_cast<const char*>(signature.data()),
                   static_cast<std::streamsize>(signature.size()));
        std::ofstream(m.folder + "/module.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return m;
    }();
    return module;
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

void BM_ModuleToFirstFrame(benchmark::State& state)
{
    const BigModule& module = Module();
    Test::TestServer server;
    server.AddFile("/vexel3d.lod", module.signedBytes);
    String digest = Md5ToText(Md5Of(module.signedBytes.data(), module.signedBytes.size()));
    Ui::WindowId window = GameWindow();
    for (auto _ : state)
    {
        LoaderSource source;
        source.mPath = FromUtf8(module.folder + "/vexel3d.lod");
        DeleteFile(source.mPath);
        LoaderHost host(source);
        host.mSleep = [](_dword) {};
        host.mSettings.mCaFile = FromUtf8(_CA + "/root.pem");
        host.SetLoaderSource(server.WideUrl("/vexel3d.lod"), digest);
        host.StartLoaderHost(window);
        while (!host.PollLoaderDownload())
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        if (!host.VerifyAndLoad())
        {
            state.SkipWithError("refused");
            break;
        }
        host.LoaderFrame();
        if (!host.FirstFrameDone())
            state.SkipWithError("no frame");
    }
}
BENCHMARK(BM_ModuleToFirstFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_PeerToolsSameWork(benchmark::State& state)
{
    const BigModule& module = Module();
    Test::TestServer server;
    server.AddFile("/vexel3d.lod", module.signedBytes);
    std::string url = server.Url("/vexel3d.lod");
    std::string command =
        "cd '" + module.folder + "' && curl -s -o peer.lod '" + url +
        "?pv=10004' && md5sum peer.lod >/dev/null && openssl cms -verify -binary -inform DER "
        "-in signature.der -content module.bin -CAfile '" +
        _CA + "/root.pem' -purpose any -out /dev/null 2>/dev/null";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0)
        {
            state.SkipWithError("a peer tool failed (curl, md5sum, openssl)");
            break;
        }
}
BENCHMARK(BM_PeerToolsSameWork)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

} // namespace

BENCHMARK_MAIN();

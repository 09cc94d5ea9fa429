// The launcher's own cost per game frame: LoaderHost::LoaderFrame with a module whose update and render do
// nothing (tests/modules, the complete build), after its first frame, so what is measured is the
// launcher's part (focus check, clock, block-list poll). Goal: under 50 microseconds. Needs a display
// (a private X server is started when there is none).
#include "LoaderHost.h"

#include "Common/Md5.h"
#include "Platform/File.h"
#include "Platform/Ui/Ui.h"
#include "PrivateDisplay.h"

#include <benchmark/benchmark.h>

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

} // namespace

BENCHMARK_MAIN();

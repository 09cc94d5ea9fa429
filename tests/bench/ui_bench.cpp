// The window-system layer's two speed goals:
//   - time from creating a web view to its first document-complete for a small page on loopback;
//   - processor time the message pump uses in 5 s while its window is minimised (goal: under 1% of one
//     core), pumping as the launcher does: peek and dispatch, then an idle wait of 200 ms when the window
//     is minimised.
// Needs a display (run under xvfb-run).
#include "Platform/Ui/Ui.h"
#include "Platform/Ui/WebView.h"

#include <benchmark/benchmark.h>
#include <httplib.h>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <thread>

using namespace Vexel;
using namespace Vexel::Ui;

namespace
{
double ProcessCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void BM_WebViewToFirstDocumentComplete(benchmark::State& state)
{
    httplib::Server server;
    server.set_keep_alive_max_count(1);
    server.Get("/",
               [](const httplib::Request&, httplib::Response& res) {
                   res.set_content("<html><body><p>first page</p><param name='a' value='1'></body></html>",
                                   "text/html");
               });
    int port = server.bind_to_any_port("127.0.0.1");
    std::thread thread([&] { server.listen_after_bind(); });
    while (!server.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::string url = "http://127.0.0.1:" + std::to_string(port) + "/";

    for (auto _ : state)
    {
        bool complete = false;
        auto start = std::chrono::steady_clock::now();
        WindowParams p;
        p.style = _WS_POPUP | _WS_VISIBLE;
        p.width = 400;
        p.height = 300;
        p.handler = [&](WindowId w, _dword m, WParam wp, LParam lp) -> LResult
        {
            if (m == _WM_WEB_DOCUMENTCOMPLETE)
                complete = true;
            return DefaultHandler(w, m, wp, lp);
        };
        WindowId window = NewWindow(p);
        NewWebView(window);
        WebNavigate(window, String(url.begin(), url.end()));
        auto deadline = start + std::chrono::seconds(30);
        while (!complete && std::chrono::steady_clock::now() < deadline)
        {
            Message m;
            if (PeekUiMessage(m, true))
                DispatchUiMessage(m);
            else
                WaitUiMessage(5);
        }
        auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(elapsed);
        if (!complete)
            state.SkipWithError("no document-complete within 30 s");
        DestroyUiWindow(window);
    }
    server.stop();
    thread.join();
}
BENCHMARK(BM_WebViewToFirstDocumentComplete)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_PumpWhileMinimised(benchmark::State& state)
{
    WindowParams p;
    p.style = _WS_POPUP | _WS_VISIBLE;
    p.width = 300;
    p.height = 200;
    p.handler = DefaultHandler;
    WindowId window = NewWindow(p);
    ShowUiWindow(window, _SW_MINIMIZE);
    double cpu = 0;
    for (auto _ : state)
    {
        double before = ProcessCpuSeconds();
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < end)
        {
            Message m;
            if (PeekUiMessage(m, true))
            {
                TranslateUiMessage(m);
                DispatchUiMessage(m);
                continue;
            }
            WaitUiMessage(IsUiWindowMinimized(window) ? 200 : 10);
        }
        cpu = ProcessCpuSeconds() - before;
    }
    state.counters["cpu_percent_of_core"] = cpu / 5.0 * 100.0;
    DestroyUiWindow(window);
}
BENCHMARK(BM_PumpWhileMinimised)->Iterations(1)->Unit(benchmark::kSecond);
} // namespace

int main(int argc, char** argv)
{
    if (!InitUi())
    {
        std::fprintf(stderr, "ui_bench: no display\n");
        return 1;
    }
    InitWebViews(String());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

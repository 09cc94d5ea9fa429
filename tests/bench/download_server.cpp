// Helpers of the download benchmark, and a Google Benchmark of its own when run without arguments.
//   bench_download_server --serve FILE PATH   serves FILE at PATH on 127.0.0.1, prints the port, and
//                                            stops when standard input closes
//   bench_download_server --fetch URL         one WebDownload of URL into memory; prints its size
//   bench_download_server --stream URL        the same through WebDownloadStream, keeping nothing
//   bench_download_server                     WebDownload of a generated file from an in-process server
#include "Common/Log.h"
#include "Common/StringEncoding.h"
#include "Storage/Download/WebTransfer.h"
#include "TestServer.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

using namespace Vexel;

namespace
{

void WebDownloadFromLoopback(benchmark::State& state)
{
    Test::TestServer server;
    const auto size = static_cast<std::uint64_t>(state.range(0)) << 20;
    server.AddFile("/file.bin", Test::TestServer::GeneratedBytes(5, 0, size));
    const String url = server.WideUrl("/file.bin");
    for (auto _ : state)
    {
        ByteBuffer buffer;
        bool ok = false;
        WebDownload(url, &buffer, _WEB_NO_TIMEOUT, 0, _WEB_OPEN, nullptr, String(), nullptr, &ok);
        if (!ok || buffer.size() != size)
            state.SkipWithError("transfer failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}
BENCHMARK(WebDownloadFromLoopback)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();

int Serve(const char* file, const char* path)
{
    Test::TestServer server;
    if (server.Port() <= 0 || !server.AddDiskFile(path, file))
    {
        std::fprintf(stderr, "bench_download_server: cannot serve %s\n", file);
        return 1;
    }
    std::printf("%d\n", server.Port());
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line))
    {
    }
    return 0;
}

int Fetch(const char* url, bool stream)
{
    gLogEnabled = false;
    ByteBuffer buffer;
    std::size_t received = 0;
    bool ok = false;
    if (stream)
        WebDownloadStream(
            FromUtf8(url), [&](const _byte*, std::size_t size, _qword) { received += size; }, _WEB_NO_TIMEOUT,
            0, _WEB_OPEN, nullptr, String(), nullptr, &ok);
    else
        WebDownload(FromUtf8(url), &buffer, _WEB_NO_TIMEOUT, 0, _WEB_OPEN, nullptr, String(), nullptr, &ok);
    if (!ok)
    {
        std::fprintf(stderr, "bench_download_server: %s failed\n", url);
        return 1;
    }
    std::printf("%zu\n", stream ? received : buffer.size());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--serve") == 0)
        return Serve(argv[2], argv[3]);
    if (argc == 3 && std::strcmp(argv[1], "--fetch") == 0)
        return Fetch(argv[2], false);
    if (argc == 3 && std::strcmp(argv[1], "--stream") == 0)
        return Fetch(argv[2], true);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

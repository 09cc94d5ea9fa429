// An HTTP server on 127.0.0.1 for tests and benchmarks: an ephemeral port, its own thread, stopped by
// its destructor. It serves files from memory or disk and generated packages, all with byte ranges,
// and has misbehaving modes for the failure paths of the download code: short, lying and wrong range
// replies, servers that ignore ranges, corrupt bytes, connections that send nothing or trickle, error
// codes, redirect chains and loops, and echoes of the request's cookie and headers.
//
// Pages for the web windows and routes a test answers itself (a handler) share it.
//
// Fixed routes besides the added files:
//   /status/<code>      replies with that code and the body "status <code>"
//   /redirect/<n>       302 to /redirect/<n-1>; /redirect/0 replies "arrived"
//   /loop               302 to itself
//   /silent             accepts the request and sends nothing until the server stops
//   /cookie             the request's Cookie header as the body
//   /headers            every request header as "Name: value" lines
#pragma once

#include "Common/String.h"
#include "TestSupport.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib
{
class Server;
class Request;
class Response;
} // namespace httplib

namespace Vexel::Test
{

class TestServer
{
public:
    // How a file's path answers. Every mode but Normal can be limited to the first n requests of the
    // path (see SetMode); later requests are served normally.
    enum class Mode
    {
        Normal,
        ShortRanges, // a range request gets an honest 206 for only the first half of what was asked
        LieLength,   // announces the full length, sends half of it and closes the connection
        WrongRange,  // a range request gets a 206 whose Content-Range starts 1 byte later than asked
        IgnoreRange, // a range request gets 200 and the whole file
        Corrupt,     // correct lengths, every byte of the body inverted
        Trickle,     // 256 bytes every 20 ms
        Stall,       // headers and the first 100 bytes, then nothing until the server stops
        HugeLength,  // announces a length of 1 TiB (4 GiB - 1 in 32-bit programs), sends the file and closes
                     // the connection
        Chunked,     // no length announced: the file in chunks of 64 KiB
        HalfThenStall, // the first half of what the reply carries, then nothing until the server stops
    };

    // Reused connections suit the download code; a web view keeps idle connections open, which would
    // hold the server's stop until they time out, so servers of pages take one request a connection.
    enum class Connections
    {
        Reused,
        OnePerRequest,
    };
    // Answers a request itself (after the statistics have counted it).
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    explicit TestServer(Connections connections = Connections::Reused);
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    int Port() const { return mPort; }
    // "http://127.0.0.1:<port>" followed by path (which starts with "/").
    std::string Url(const std::string& path) const;
    String WideUrl(const std::string& path) const;

    // Paths start with "/". Adding a path again replaces its contents.
    void AddFile(const std::string& path, std::string bytes);
    // Serves a file from disk; it is read into memory once.
    bool AddDiskFile(const std::string& path, const std::filesystem::path& file);
    // Size bytes made by GeneratedBytes(seed, ...), produced on demand so large packages cost no memory.
    void AddGeneratedFile(const std::string& path, std::uint64_t size, std::uint32_t seed);
    // An HTML page (text/html, UTF-8).
    void AddPage(const std::string& path, std::string html);
    // The path answered by handler; a handler may wait with HoldUntilStopped.
    void AddHandler(const std::string& path, Handler handler);
    // Every request no added path answers goes to handler (the fixed routes then answer nothing).
    void SetFallback(Handler handler);
    // For a handler: holds its connection until the server stops (counted in HeldConnections).
    void HoldUntilStopped();
    // Requests of the path get code and a Location header.
    void AddRedirect(const std::string& path, const std::string& location, int code = 302);
    // count < 0: every request; otherwise the next count requests of the path.
    void SetMode(const std::string& path, Mode mode, int count = -1);
    // The replies of the path together send at most this many bytes a second (0: as fast as they can).
    void SetRate(const std::string& path, std::uint64_t bytesPerSecond);
    // Serves the contents another server has under the same path, without a copy.
    void ShareFile(const std::string& path, const TestServer& other);

    // Statistics of one path (every route counts, added or fixed).
    int Requests(const std::string& path) const;
    int TotalRequests() const;
    // Bytes of the path's contents handed to connections (every request, cut-off replies included).
    std::uint64_t BytesSent(const std::string& path) const;
    // The Range header of each request of the path, in arrival order ("" when there was none).
    std::vector<std::string> Ranges(const std::string& path) const;
    std::vector<std::string> Cookies(const std::string& path) const;
    // The Host header of each request of the path.
    std::vector<std::string> Hosts(const std::string& path) const;
    // Every request's target (path and query) and Host header, in arrival order.
    std::vector<std::string> Targets() const;
    std::vector<std::string> Hosts() const;
    // Requests now being held by /silent or a stalled file.
    int HeldConnections() const;

    // The bytes of a generated file: a fast generator of the seed and the absolute offset, so any
    // range can be made alone.
    static void GeneratedBytes(std::uint32_t seed, std::uint64_t offset, void* out, std::size_t size);
    static std::string GeneratedBytes(std::uint32_t seed, std::uint64_t offset, std::size_t size);

private:
    struct Content;
    struct Stats
    {
        int requests = 0;
        std::uint64_t sent = 0;
        std::vector<std::string> ranges;
        std::vector<std::string> cookies;
        std::vector<std::string> hosts;
    };

    void Handle(const httplib::Request& request, httplib::Response& response);
    void ServeContent(const httplib::Request& request, httplib::Response& response,
                      std::shared_ptr<const Content> content, Mode mode);
    // Waits until the server stops or ms pass; false when stopping.
    bool Pause(int ms);
    bool PauseUntil(std::chrono::steady_clock::time_point until);

    std::unique_ptr<httplib::Server> mServer;
    std::thread mThread;
    int mPort = 0;

    mutable std::mutex mLock;
    std::condition_variable mStopped;
    bool mStopping = false;
    int mHeld = 0;
    std::map<std::string, std::shared_ptr<const Content>> mContents;
    std::map<std::string, Handler> mHandlers;
    Handler mFallback;
    std::vector<std::string> mTargets;
    std::vector<std::string> mAllHosts;
    struct ModeEntry
    {
        Mode mode = Mode::Normal;
        int count = -1;
    };
    std::map<std::string, ModeEntry> mModes;
    std::map<std::string, std::pair<std::string, int>> mRedirects;
    std::map<std::string, std::uint64_t> mRates;
    // When the next piece of a rate-limited path may go.
    std::map<std::string, std::chrono::steady_clock::time_point> mRateNext;
    std::map<std::string, Stats> mStats;
    int mTotal = 0;
};

} // namespace Vexel::Test

#include "TestServer.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>

namespace Vexel::Test
{

namespace
{
// Longest a held connection waits for the server to stop, so a forgotten client cannot pin a thread.
constexpr int _HOLD_LIMIT_MS = 120000;
constexpr std::size_t _PIECE = 1 << 20;
constexpr std::size_t _TRICKLE_BYTES = 256;
constexpr int _TRICKLE_MS = 20;
constexpr std::size_t _STALL_AFTER = 100;
// 1 TiB, or the most a 32-bit program's lengths can say.
constexpr std::size_t _HUGE_LENGTH =
    static_cast<std::size_t>(std::min<std::uint64_t>(std::uint64_t(1) << 40, SIZE_MAX));

std::uint64_t Mix(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}
} // namespace

struct TestServer::Content
{
    std::string bytes;
    bool generated = false;
    std::uint32_t seed = 0;
    std::uint64_t size = 0;
    const char* type = "application/octet-stream";

    void Copy(std::uint64_t offset, char* out, std::size_t length) const
    {
        if (generated)
            GeneratedBytes(seed, offset, out, length);
        else
            std::memcpy(out, bytes.data() + offset, length);
    }
};

TestServer::TestServer(Connections connections) : mServer(std::make_unique<httplib::Server>())
{
    mServer->set_keep_alive_max_count(connections == Connections::Reused ? 100000 : 1);
    mServer->set_keep_alive_timeout(1);
    mServer->set_tcp_nodelay(true);
    mServer->Get(".*", [this](const httplib::Request& request, httplib::Response& response)
                 { Handle(request, response); });
    mPort = mServer->bind_to_any_port("127.0.0.1");
    if (mPort > 0)
    {
        mThread = std::thread([this] { mServer->listen_after_bind(); });
        while (!mServer->is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

TestServer::~TestServer()
{
    {
        std::lock_guard<std::mutex> lock(mLock);
        mStopping = true;
    }
    mStopped.notify_all();
    mServer->stop();
    if (mThread.joinable())
        mThread.join();
}

std::string TestServer::Url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(mPort) + path;
}

String TestServer::WideUrl(const std::string& path) const
{
    std::string url = Url(path);
    return String(url.begin(), url.end());
}

void TestServer::AddFile(const std::string& path, std::string bytes)
{
    auto content = std::make_shared<Content>();
    content->size = bytes.size();
    content->bytes = std::move(bytes);
    std::lock_guard<std::mutex> lock(mLock);
    mContents[path] = std::move(content);
}

bool TestServer::AddDiskFile(const std::string& path, const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    if (!in || error)
        return false;
    std::string bytes(static_cast<std::size_t>(size), '\0');
    if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size())))
        return false;
    AddFile(path, std::move(bytes));
    return true;
}

void TestServer::AddGeneratedFile(const std::string& path, std::uint64_t size, std::uint32_t seed)
{
    auto content = std::make_shared<Content>();
    content->generated = true;
    content->seed = seed;
    content->size = size;
    std::lock_guard<std::mutex> lock(mLock);
    mContents[path] = std::move(content);
}

void TestServer::AddPage(const std::string& path, std::string html)
{
    auto content = std::make_shared<Content>();
    content->size = html.size();
    content->bytes = std::move(html);
    content->type = "text/html; charset=utf-8";
    std::lock_guard<std::mutex> lock(mLock);
    mContents[path] = std::move(content);
}

void TestServer::AddHandler(const std::string& path, Handler handler)
{
    std::lock_guard<std::mutex> lock(mLock);
    mHandlers[path] = std::move(handler);
}

void TestServer::SetFallback(Handler handler)
{
    std::lock_guard<std::mutex> lock(mLock);
    mFallback = std::move(handler);
}

std::vector<std::string> TestServer::Targets() const
{
    std::lock_guard<std::mutex> lock(mLock);
    return mTargets;
}

std::vector<std::string> TestServer::Hosts() const
{
    std::lock_guard<std::mutex> lock(mLock);
    return mAllHosts;
}

void TestServer::AddRedirect(const std::string& path, const std::string& location, int code)
{
    std::lock_guard<std::mutex> lock(mLock);
    mRedirects[path] = {location, code};
}

void TestServer::SetMode(const std::string& path, Mode mode, int count)
{
    std::lock_guard<std::mutex> lock(mLock);
    mModes[path] = {mode, count};
}

int TestServer::Requests(const std::string& path) const
{
    std::lock_guard<std::mutex> lock(mLock);
    auto at = mStats.find(path);
    return at == mStats.end() ? 0 : at->second.requests;
}

void TestServer::SetRate(const std::string& path, std::uint64_t bytesPerSecond)
{
    std::lock_guard<std::mutex> lock(mLock);
    mRates[path] = bytesPerSecond;
}

void TestServer::ShareFile(const std::string& path, const TestServer& other)
{
    std::shared_ptr<const Content> content;
    {
        std::lock_guard<std::mutex> lock(other.mLock);
        if (auto at = other.mContents.find(path); at != other.mContents.end())
            content = at->second;
    }
    std::lock_guard<std::mutex> lock(mLock);
    mContents[path] = std::move(content);
}

std::uint64_t TestServer::BytesSent(const std::string& path) const
{
    std::lock_guard<std::mutex> lock(mLock);
    auto at = mStats.find(path);
    return at == mStats.end() ? 0 : at->second.sent;
}

int TestServer::TotalRequests() const
{
    std::lock_guard<std::mutex> lock(mLock);
    return mTotal;
}

std::vector<std::string> TestServer::Ranges(const std::string& path) const
{
    std::lock_guard<std::mutex> lock(mLock);
    auto at = mStats.find(path);
    return at == mStats.end() ? std::vector<std::string>() : at->second.ranges;
}

std::vector<std::string> TestServer::Cookies(const std::string& path) const
{
    std::lock_guard<std::mutex> lock(mLock);
    auto at = mStats.find(path);
    return at == mStats.end() ? std::vector<std::string>() : at->second.cookies;
}

std::vector<std::string> TestServer::Hosts(const std::string& path) const
{
    std::lock_guard<std::mutex> lock(mLock);
    auto at = mStats.find(path);
    return at == mStats.end() ? std::vector<std::string>() : at->second.hosts;
}

int TestServer::HeldConnections() const
{
    std::lock_guard<std::mutex> lock(mLock);
    return mHeld;
}

void TestServer::GeneratedBytes(std::uint32_t seed, std::uint64_t offset, void* out, std::size_t size)
{
    auto* to = static_cast<unsigned char*>(out);
    const std::uint64_t base = static_cast<std::uint64_t>(seed) << 40;
    while (size > 0)
    {
        std::uint64_t block = offset / 8;
        std::uint64_t value = Mix(base ^ block);
        unsigned skip = static_cast<unsigned>(offset % 8);
        std::size_t take = std::min<std::size_t>(8 - skip, size);
        for (std::size_t i = 0; i < take; ++i)
            to[i] = static_cast<unsigned char>(value >> (8 * (skip + i)));
        to += take;
        offset += take;
        size -= take;
    }
}

std::string TestServer::GeneratedBytes(std::uint32_t seed, std::uint64_t offset, std::size_t size)
{
    std::string bytes(size, '\0');
    GeneratedBytes(seed, offset, bytes.data(), size);
    return bytes;
}

bool TestServer::Pause(int ms)
{
    std::unique_lock<std::mutex> lock(mLock);
    return !mStopped.wait_for(lock, std::chrono::milliseconds(ms), [this] { return mStopping; });
}

bool TestServer::PauseUntil(std::chrono::steady_clock::time_point until)
{
    std::unique_lock<std::mutex> lock(mLock);
    return !mStopped.wait_until(lock, until, [this] { return mStopping; });
}

void TestServer::HoldUntilStopped()
{
    {
        std::lock_guard<std::mutex> lock(mLock);
        ++mHeld;
    }
    Pause(_HOLD_LIMIT_MS);
    std::lock_guard<std::mutex> lock(mLock);
    --mHeld;
}

void TestServer::Handle(const httplib::Request& request, httplib::Response& response)
{
    const std::string& path = request.path;
    std::shared_ptr<const Content> content;
    Mode mode = Mode::Normal;
    std::pair<std::string, int> redirect;
    Handler handler;
    {
        std::lock_guard<std::mutex> lock(mLock);
        mTargets.push_back(request.target);
        mAllHosts.push_back(request.get_header_value("Host"));
        Stats& stats = mStats[path];
        ++stats.requests;
        ++mTotal;
        stats.ranges.push_back(request.get_header_value("Range"));
        stats.cookies.push_back(request.get_header_value("Cookie"));
        stats.hosts.push_back(request.get_header_value("Host"));
        if (auto at = mRedirects.find(path); at != mRedirects.end())
            redirect = at->second;
        if (auto at = mContents.find(path); at != mContents.end())
            content = at->second;
        if (auto at = mHandlers.find(path); at != mHandlers.end())
            handler = at->second;
        else if (!content && redirect.first.empty())
            handler = mFallback;
        if (auto at = mModes.find(path); at != mModes.end() && at->second.count != 0)
        {
            mode = at->second.mode;
            if (at->second.count > 0)
                --at->second.count;
        }
    }

    if (handler)
    {
        handler(request, response);
        return;
    }
    if (!redirect.first.empty())
    {
        response.status = redirect.second;
        response.set_header("Location", redirect.first);
        response.set_content("moved", "text/plain");
        return;
    }
    if (content)
    {
        ServeContent(request, response, std::move(content), mode);
        return;
    }
    if (path.rfind("/status/", 0) == 0)
    {
        response.status = std::atoi(path.c_str() + 8);
        response.set_content("status " + path.substr(8), "text/plain");
        return;
    }
    if (path.rfind("/redirect/", 0) == 0)
    {
        int left = std::atoi(path.c_str() + 10);
        if (left <= 0)
        {
            response.set_content("arrived", "text/plain");
            return;
        }
        response.status = 302;
        response.set_header("Location", Url("/redirect/" + std::to_string(left - 1)));
        response.set_content("moved", "text/plain");
        return;
    }
    if (path == "/loop")
    {
        response.status = 302;
        response.set_header("Location", Url("/loop"));
        response.set_content("moved", "text/plain");
        return;
    }
    if (path == "/silent")
    {
        HoldUntilStopped();
        response.status = 503;
        return;
    }
    if (path == "/cookie")
    {
        response.set_content(request.get_header_value("Cookie"), "text/plain");
        return;
    }
    if (path == "/headers")
    {
        std::string text;
        for (const auto& [name, value] : request.headers)
            text += name + ": " + value + "\n";
        response.set_content(text, "text/plain");
        return;
    }
    response.status = 404;
    response.set_content("not found", "text/plain");
}

void TestServer::ServeContent(const httplib::Request& request, httplib::Response& response,
                              std::shared_ptr<const Content> content, Mode mode)
{
    // The misbehaving modes reshape the parsed range, which the library then answers honestly (or not
    // at all, once the range is gone).
    auto& ranges = const_cast<httplib::Request&>(request).ranges;
    const auto size = static_cast<std::int64_t>(content->size);
    if (!ranges.empty() && ranges[0].first >= 0)
    {
        auto& range = ranges[0];
        std::int64_t last = range.second < 0 || range.second >= size ? size - 1 : range.second;
        if (mode == Mode::ShortRanges && last > range.first)
            range.second = range.first + (last - range.first + 1) / 2 - 1;
        else if (mode == Mode::WrongRange && range.first + 1 < size)
            range.first += 1;
        else if (mode == Mode::IgnoreRange)
            ranges.clear();
    }

    // The library calls the provider with the first offset and the length still to send, then again
    // after each write until everything was sent or the provider returns false.
    struct Progress
    {
        std::uint64_t total = 0;
        std::uint64_t sent = 0;
        std::uint64_t rate = 0;
    };
    auto progress = std::make_shared<Progress>();
    {
        std::lock_guard<std::mutex> lock(mLock);
        if (auto at = mRates.find(request.path); at != mRates.end())
            progress->rate = at->second;
    }
    auto provider = [this, content, mode, progress,
                     path = request.path](std::size_t offset, std::size_t length, httplib::DataSink& sink)
    {
        if (progress->total == 0)
            progress->total = length;
        std::size_t piece = std::min(length, _PIECE);
        if (progress->rate > 0)
        {
            // Small pieces on one schedule for all the path's replies: the server's bandwidth.
            piece = std::min<std::size_t>(piece, std::max<std::uint64_t>(progress->rate / 50, 4096));
            std::chrono::steady_clock::time_point due;
            {
                std::lock_guard<std::mutex> lock(mLock);
                auto& next = mRateNext[path];
                due = std::max(next, std::chrono::steady_clock::now());
                next = due + std::chrono::microseconds(piece * 1000000 / progress->rate);
            }
            if (!PauseUntil(due))
                return false;
        }
        if (mode == Mode::HalfThenStall)
        {
            std::uint64_t half = progress->total / 2;
            if (progress->sent >= half)
            {
                HoldUntilStopped();
                return false;
            }
            piece = static_cast<std::size_t>(std::min<std::uint64_t>(piece, half - progress->sent));
        }
        if (mode == Mode::LieLength)
        {
            std::uint64_t half = progress->total / 2;
            if (progress->sent >= half)
                return false;
            piece = static_cast<std::size_t>(std::min<std::uint64_t>(piece, half - progress->sent));
        }
        else if (mode == Mode::Trickle)
            piece = std::min(piece, _TRICKLE_BYTES);
        else if (mode == Mode::Stall)
        {
            if (progress->sent >= _STALL_AFTER)
            {
                {
                    std::lock_guard<std::mutex> lock(mLock);
                    ++mHeld;
                }
                Pause(_HOLD_LIMIT_MS);
                std::lock_guard<std::mutex> lock(mLock);
                --mHeld;
                return false;
            }
            piece = std::min(piece, _STALL_AFTER);
        }
        bool written;
        if (!content->generated && mode != Mode::Corrupt)
            written = sink.write(content->bytes.data() + offset, piece); // no copy for plain files
        else
        {
            std::string buffer(piece, '\0');
            content->Copy(offset, buffer.data(), piece);
            if (mode == Mode::Corrupt)
                for (char& c : buffer)
                    c = static_cast<char>(~c);
            written = sink.write(buffer.data(), buffer.size());
        }
        if (!written)
            return false;
        progress->sent += piece;
        {
            std::lock_guard<std::mutex> lock(mLock);
            mStats[path].sent += piece;
        }
        if (mode == Mode::Trickle)
            return Pause(_TRICKLE_MS);
        return true;
    };
    if (mode == Mode::HugeLength || mode == Mode::Chunked)
    {
        // The whole file in small pieces, whatever the announced length; then the connection ends.
        auto whole = [content](std::size_t offset, httplib::DataSink& sink)
        {
            if (offset >= content->size)
                return false;
            std::string piece(
                static_cast<std::size_t>(std::min<std::uint64_t>(content->size - offset, 65536)), '\0');
            content->Copy(offset, piece.data(), piece.size());
            return sink.write(piece.data(), piece.size());
        };
        if (mode == Mode::HugeLength)
            response.set_content_provider(_HUGE_LENGTH, "application/octet-stream",
                                          [whole](std::size_t offset, std::size_t, httplib::DataSink& sink)
                                          { return whole(offset, sink); });
        else
            response.set_chunked_content_provider("application/octet-stream",
                                                  [whole](std::size_t offset, httplib::DataSink& sink)
                                                  {
                                                      if (!whole(offset, sink))
                                                          sink.done();
                                                      return true;
                                                  });
        return;
    }
    response.set_content_provider(static_cast<std::size_t>(content->size), content->type,
                                  std::move(provider));
}

} // namespace Vexel::Test

#include "TestSupport.h"

#include "Common/Md5.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <thread>

#if !defined(_WIN32)
#include <csignal>
#include <sys/resource.h>
#endif

namespace Vexel::Test
{

TempDir::TempDir()
{
    std::random_device random;
    auto base = std::filesystem::temp_directory_path();
    for (;;)
    {
        auto candidate = base / ("vexel-test-" + std::to_string(random()));
        std::error_code ec;
        if (std::filesystem::create_directory(candidate, ec))
        {
            mPath = candidate;
            break;
        }
    }
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(mPath, ec);
}

String TempDir::Wide(const std::string& child) const
{
    auto path = child.empty() ? mPath : mPath / child;
#if defined(_WIN32)
    // With "/" throughout, as the POSIX tests write paths; Windows takes either separator.
    return String(path.generic_u16string());
#else
    return String(path.u16string());
#endif
}

namespace
{
std::mutex gCaptureLock;
std::vector<std::u16string> gCalls;

void Capture(const char16_t* text)
{
    std::lock_guard<std::mutex> lock(gCaptureLock);
    gCalls.emplace_back(text);
}
} // namespace

LogCapture::LogCapture()
{
    Clear();
    SetDebugOutput(Capture);
}

LogCapture::~LogCapture()
{
    SetDebugOutput(nullptr);
}

const std::vector<std::u16string>& LogCapture::Calls() const
{
    return gCalls;
}

std::u16string LogCapture::Text() const
{
    std::lock_guard<std::mutex> lock(gCaptureLock);
    std::u16string all;
    for (const auto& call : gCalls)
        all += call;
    return all;
}

void LogCapture::Clear()
{
    std::lock_guard<std::mutex> lock(gCaptureLock);
    gCalls.clear();
}

std::string ReadBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::filesystem::path& path, std::string_view bytes)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Narrow(std::u16string_view text)
{
    std::string out;
    for (char16_t c : text)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    auto until = std::chrono::steady_clock::now() + timeout;
    while (!condition())
    {
        if (std::chrono::steady_clock::now() >= until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

String DigestText(std::string_view bytes)
{
    return Md5ToText(Md5Of(bytes.data(), bytes.size()));
}

std::string DigestHex(std::string_view bytes)
{
    String text = DigestText(bytes);
    return std::string(text.begin(), text.end());
}

#if !defined(_WIN32)
FileSizeLimit::FileSizeLimit(unsigned long long bytes)
{
    rlimit limit = {};
    mOk = ::getrlimit(RLIMIT_FSIZE, &limit) == 0;
    mBefore = limit.rlim_cur;
    mHandler = std::signal(SIGXFSZ, SIG_IGN);
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    mOk = mOk && ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

FileSizeLimit::~FileSizeLimit()
{
    rlimit limit = {};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0)
    {
        limit.rlim_cur = static_cast<rlim_t>(mBefore);
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::signal(SIGXFSZ, mHandler);
}
#endif

} // namespace Vexel::Test

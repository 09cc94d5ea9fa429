#include "ToolFile.h"

#include "Platform/File.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace Vexel::Pack
{

namespace
{
std::string Describe(const std::filesystem::path& path, const char* what, int error)
{
    return Shown(path) + ": " + what + (error ? std::string(": ") + std::strerror(error) : std::string());
}
// The temporary files of the outputs being written, so that an interrupted run removes them too: a slot
// holds a path while its ready flag is set. Fixed storage, because the signal handler may not allocate.
constexpr std::size_t _TEMPORARY_SLOTS = 8;
constexpr std::size_t _TEMPORARY_PATH = 4096;
struct TemporarySlot
{
    std::atomic<bool> used{false};
    std::atomic<bool> ready{false};
    char path[_TEMPORARY_PATH];
};
TemporarySlot gTemporaries[_TEMPORARY_SLOTS];

extern "C" void RemoveTemporariesAndStop(int signal)
{
    for (TemporarySlot& slot : gTemporaries)
        if (slot.ready.load())
            std::remove(slot.path);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void CatchInterrupts()
{
    static std::once_flag once;
    std::call_once(once,
                   []
                   {
                       std::signal(SIGINT, RemoveTemporariesAndStop);
                       std::signal(SIGTERM, RemoveTemporariesAndStop);
#ifdef SIGHUP
                       std::signal(SIGHUP, RemoveTemporariesAndStop);
#endif
                   });
}

int ClaimTemporarySlot(const std::string& path)
{
    if (path.size() >= _TEMPORARY_PATH)
        return -1;
    CatchInterrupts();
    for (std::size_t i = 0; i < _TEMPORARY_SLOTS; ++i)
    {
        bool expected = false;
        if (gTemporaries[i].used.compare_exchange_strong(expected, true))
        {
            std::memcpy(gTemporaries[i].path, path.c_str(), path.size() + 1);
            gTemporaries[i].ready.store(true);
            return static_cast<int>(i);
        }
    }
    return -1;
}

void ReleaseTemporarySlot(int& slot)
{
    if (slot < 0)
        return;
    gTemporaries[slot].ready.store(false);
    gTemporaries[slot].used.store(false);
    slot = -1;
}

} // namespace

std::string Shown(const std::filesystem::path& path)
{
    return path.string();
}

InputFile::~InputFile()
{
    if (mFile)
        std::fclose(mFile);
}

bool InputFile::Open(const std::filesystem::path& path)
{
    mPath = path;
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
    {
        mError = Shown(path) + ": is a folder";
        return false;
    }
    mFile = std::fopen(path.string().c_str(), "rb");
    if (!mFile)
    {
        mError = Describe(path, "cannot open", errno);
        return false;
    }
    auto size = std::filesystem::file_size(path, ec);
    if (ec)
    {
        mError = Shown(path) + ": cannot read its size: " + ec.message();
        return false;
    }
    mSize = size;
    return true;
}

std::size_t InputFile::Read(void* destination, std::size_t size)
{
    if (!mFile || mFailed)
        return 0;
    std::size_t got = std::fread(destination, 1, size, mFile);
    if (got < size && std::ferror(mFile))
    {
        mFailed = true;
        mError = Describe(mPath, "read error", errno);
    }
    return got;
}

bool InputFile::Rewind()
{
    if (!mFile || std::fseek(mFile, 0, SEEK_SET) != 0)
    {
        mFailed = true;
        mError = Describe(mPath, "cannot seek", errno);
        return false;
    }
    return true;
}

namespace
{
int SyncToDisk(std::FILE* file)
{
#if defined(_WIN32)
    return _commit(_fileno(file));
#else
    return ::fsync(::fileno(file));
#endif
}
} // namespace

OutputFile::~OutputFile()
{
    Discard();
}

void OutputFile::Discard()
{
    if (mFile)
    {
        std::fclose(mFile);
        mFile = nullptr;
    }
    if (!mTemporary.empty())
    {
        std::error_code ec;
        std::filesystem::remove(mTemporary, ec);
        mTemporary.clear();
    }
    ReleaseTemporarySlot(mSlot);
}

bool OutputFile::Open(const std::filesystem::path& target)
{
    mTarget = target;
    std::error_code ec;
    if (std::filesystem::is_directory(target, ec))
    {
        mError = Shown(target) + ": is a folder";
        return false;
    }
    // Beside the target, so the final rename stays on one file system.
    std::random_device random;
    for (int attempt = 0; attempt < 16 && !mFile; ++attempt)
    {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".vexelpack-%08x.tmp", static_cast<unsigned>(random()));
        std::filesystem::path candidate = target;
        candidate += suffix;
        // "x": never take over a file that already exists.
        mFile = std::fopen(candidate.string().c_str(), "wbx");
        if (mFile)
        {
            mTemporary = candidate;
            mSlot = ClaimTemporarySlot(candidate.string());
        }
        else if (errno != EEXIST)
            break;
    }
    if (!mFile)
    {
        mError = Describe(target, "cannot create a file beside it", errno);
        return false;
    }
    return true;
}

bool OutputFile::Write(const void* source, std::size_t size)
{
    if (!mFile || mFailed)
        return false;
    if (size && std::fwrite(source, 1, size, mFile) != size)
    {
        mFailed = true;
        mError = Describe(mTarget, "write error", errno);
        return false;
    }
    return true;
}

bool OutputFile::Commit()
{
    if (!mFile || mFailed)
        return false;
    int flushed = std::fflush(mFile);
    // On the disk before the rename: otherwise a crash soon after could leave the target name on an
    // empty or partial file.
    if (flushed == 0)
        flushed = SyncToDisk(mFile);
    int error = errno;
    int closed = std::fclose(mFile);
    mFile = nullptr;
    if (flushed != 0 || closed != 0)
    {
        mError = Describe(mTarget, "write error", flushed != 0 ? error : errno);
        Discard();
        return false;
    }
    std::error_code ec;
    std::filesystem::rename(mTemporary, mTarget, ec);
    if (ec)
    {
        mError = Shown(mTarget) + ": cannot replace: " + ec.message();
        Discard();
        return false;
    }
    mTemporary.clear();
    ReleaseTemporarySlot(mSlot);
    return true;
}

ReadAhead::ReadAhead(InputFile& input, std::size_t blockSize, std::size_t blocks)
    : mInput(input), mBlockSize(blockSize), mSizes(blocks, 0)
{
    for (std::size_t i = 0; i < blocks; ++i)
        mBlocks.emplace_back(new _byte[blockSize]);
    mThread = std::thread([this] { Run(); });
}

ReadAhead::~ReadAhead()
{
    {
        std::lock_guard<std::mutex> lock(mLock);
        mStop = true;
    }
    mChanged.notify_all();
    mThread.join();
}

void ReadAhead::Run()
{
    std::size_t producer = 0;
    for (;;)
    {
        {
            std::unique_lock<std::mutex> lock(mLock);
            mChanged.wait(lock, [this] { return mStop || mFilled < mBlocks.size(); });
            if (mStop)
                return;
        }
        // The block at producer is free: the consumer never holds more than mFilled blocks.
        std::size_t got = mInput.Read(mBlocks[producer].get(), mBlockSize);
        std::lock_guard<std::mutex> lock(mLock);
        if (got == 0)
        {
            mEnd = true;
            mChanged.notify_all();
            return;
        }
        mSizes[producer] = got;
        ++mFilled;
        producer = (producer + 1) % mBlocks.size();
        mChanged.notify_all();
    }
}

std::pair<const _byte*, std::size_t> ReadAhead::Next()
{
    std::unique_lock<std::mutex> lock(mLock);
    if (mHolding)
    {
        mHolding = false;
        --mFilled;
        mChanged.notify_all();
    }
    mChanged.wait(lock, [this] { return mFilled > 0 || mEnd; });
    if (mFilled == 0)
        return {nullptr, 0};
    std::size_t index = mConsumer;
    mConsumer = (mConsumer + 1) % mBlocks.size();
    mHolding = true;
    return {mBlocks[index].get(), mSizes[index]};
}

bool ReadInputFile(void* readdata, void* destination, _dword* length)
{
    auto* input = static_cast<InputFile*>(readdata);
    *length = static_cast<_dword>(input->Read(destination, *length));
    return !input->Failed();
}

bool WriteOutputFile(void* writedata, const void* source, _dword* length)
{
    return static_cast<OutputFile*>(writedata)->Write(source, *length);
}

String ArgumentText(const std::string& text)
{
#if defined(_WIN32)
    return String(std::filesystem::path(text).u16string());
#else
    return FromNativeText(text);
#endif
}

bool ParseValuedOptions(const std::vector<std::string>& args, const std::vector<std::string>& known,
                        ValuedOptions& out, std::string& message)
{
    bool optionsDone = false;
    for (std::size_t i = 0; i < args.size(); ++i)
    {
        const std::string& arg = args[i];
        if (!optionsDone && arg == "--")
            optionsDone = true;
        else if (!optionsDone && arg.size() > 1 && arg[0] == '-')
        {
            bool isKnown = false;
            for (const std::string& name : known)
                isKnown = isKnown || name == arg;
            if (!isKnown)
                return message = "unknown option '" + arg + "'", false;
            if (i + 1 >= args.size())
                return message = arg + " needs a value", false;
            out.valued.emplace_back(arg, args[++i]);
        }
        else
            out.positional.push_back(arg);
    }
    return true;
}

} // namespace Vexel::Pack

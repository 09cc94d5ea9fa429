// Files for the tool's commands: inputs read in large pieces, and outputs written to a temporary file
// beside the target that replaces it only when everything was written, so a failure never leaves a
// partial output behind. An interruption (SIGINT, SIGTERM, SIGHUP) removes the temporary files too.
#pragma once

#include "Common/String.h"

#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Vexel::Pack
{

class InputFile
{
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // On failure error() says why.
    bool Open(const std::filesystem::path& path);
    // Fills up to size bytes; fewer only at the end of the file. Check Failed() after a short read.
    std::size_t Read(void* destination, std::size_t size);
    bool Rewind();
    bool Failed() const { return mFailed; }
    std::uint64_t Size() const { return mSize; }
    const std::string& Error() const { return mError; }
    const std::filesystem::path& Path() const { return mPath; }

private:
    std::FILE* mFile = nullptr;
    std::filesystem::path mPath;
    std::uint64_t mSize = 0;
    bool mFailed = false;
    std::string mError;
};

class OutputFile
{
public:
    OutputFile() = default;
    // Removes the temporary file unless Commit succeeded.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool Open(const std::filesystem::path& target);
    bool Write(const void* source, std::size_t size);
    // Flushes, closes and renames the temporary file over the target.
    bool Commit();
    const std::string& Error() const { return mError; }

private:
    void Discard();

    std::FILE* mFile = nullptr;
    std::filesystem::path mTarget;
    std::filesystem::path mTemporary;
    int mSlot = -1; // where an interruption finds the temporary file
    bool mFailed = false;
    std::string mError;
};

// Reads an input on a second thread, a few blocks ahead of the consumer, so that reading and the work
// on the blocks (hashing) overlap.
class ReadAhead
{
public:
    explicit ReadAhead(InputFile& input, std::size_t blockSize = 256 * 1024, std::size_t blocks = 4);
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The next block, valid until the next call; an empty block at the end of the input or after a read
    // error (see InputFile::Failed).
    std::pair<const _byte*, std::size_t> Next();

private:
    void Run();

    InputFile& mInput;
    std::size_t mBlockSize;
    std::vector<std::unique_ptr<_byte[]>> mBlocks;
    std::vector<std::size_t> mSizes;
    std::mutex mLock;
    std::condition_variable mChanged;
    std::size_t mFilled = 0;   // blocks read and not yet given back, including the one held by the consumer
    std::size_t mConsumer = 0; // next block to hand out
    bool mHolding = false;     // the consumer holds the block before mConsumer
    bool mEnd = false;
    bool mStop = false;
    std::thread mThread;
};

// Adapters for the packing stream functions (readdata is an InputFile, writedata an OutputFile).
bool ReadInputFile(void* readdata, void* destination, _dword* length);
bool WriteOutputFile(void* writedata, const void* source, _dword* length);

// The path as the user typed it, for messages.
std::string Shown(const std::filesystem::path& path);

// An argument as the program's text. On Windows the arguments arrive in the system's code page, which is
// also how std::filesystem reads a narrow path there.
String ArgumentText(const std::string& text);

// Options that take a value ("--key K", and may repeat: "--cdn A --cdn B") in the order given, then
// positional arguments; "--" ends the options.
struct ValuedOptions
{
    std::vector<std::pair<std::string, std::string>> valued;
    std::vector<std::string> positional;
};

// False with message on an unknown option or one without its value.
bool ParseValuedOptions(const std::vector<std::string>& args, const std::vector<std::string>& known,
                        ValuedOptions& out, std::string& message);

} // namespace Vexel::Pack

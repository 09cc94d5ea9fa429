// Files for the tool's commands: inputs read in large pieces, and outputs written to a temporary file
// beside the target that replaces it only when everything was written, so a failure never leaves a
// partial output behind.
#pragma once

#include "Common/String.h"

#include <cstdio>
#include <filesystem>
#include <string>

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
    bool mFailed = false;
    std::string mError;
};

// Adapters for the packing stream functions (readdata is an InputFile, writedata an OutputFile).
bool ReadInputFile(void* readdata, void* destination, _dword* length);
bool WriteOutputFile(void* writedata, const void* source, _dword* length);

// The path as the user typed it, for messages.
std::string Shown(const std::filesystem::path& path);

} // namespace Vexel::Pack

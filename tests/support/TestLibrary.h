// A shared library a test holds loaded itself (dlopen on POSIX systems, LoadLibraryW on Windows), for
// reading a stand-in's exports beside the code under test, which loads the same file.
#pragma once

#include <filesystem>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace Vexel::Test
{

class TestLibrary
{
public:
    TestLibrary() = default;
    ~TestLibrary() { Close(); }
    TestLibrary(const TestLibrary&) = delete;
    TestLibrary& operator=(const TestLibrary&) = delete;

    // False with Error() set when the system cannot load the file.
    bool Open(const std::filesystem::path& path)
    {
        Close();
#if defined(_WIN32)
        mHandle = ::LoadLibraryW(path.wstring().c_str());
        if (!mHandle)
            mError = "LoadLibraryW failed with " + std::to_string(::GetLastError());
#else
        mHandle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!mHandle)
            mError = ::dlerror();
#endif
        return mHandle != nullptr;
    }
    void* Symbol(const char* name) const
    {
        if (!mHandle)
            return nullptr;
#if defined(_WIN32)
        return reinterpret_cast<void*>(::GetProcAddress(mHandle, name));
#else
        return ::dlsym(mHandle, name);
#endif
    }
    void Close()
    {
        if (!mHandle)
            return;
#if defined(_WIN32)
        ::FreeLibrary(mHandle);
#else
        ::dlclose(mHandle);
#endif
        mHandle = nullptr;
    }
    const std::string& Error() const
    {
        return mError;
    }

private:
#if defined(_WIN32)
    HMODULE mHandle = nullptr;
#else
    void* mHandle = nullptr;
#endif
    std::string mError;
};

} // namespace Vexel::Test

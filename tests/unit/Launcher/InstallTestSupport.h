// What the install and upgrade tests share: the user's folders (HOME, XDG_*, TMPDIR) moved into a
// temporary folder so nothing reaches the real desktop, menu or autostart; a program file that records the
// arguments it was started with; files the system refuses to change (the immutable attribute) standing
// in for files another program keeps busy; and a retry clock that moves only when the code waits.
#pragma once

#include "../Platform/ScopedEnvironment.h"
#include "LauncherTestSupport.h"
#include "Services/Upgrade.h"
#include "TestServer.h"

#include "Platform/Folders.h"

#include <fcntl.h>
#include <filesystem>
#include <linux/fs.h>
#include <memory>
#include <sys/ioctl.h>
#include <unistd.h>

namespace Vexel::Test
{

// Sets or clears the immutable attribute: not even the superuser may then delete, rename or write the
// file, or change what a folder holds.
inline bool SetImmutable(const std::filesystem::path& path, bool on)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok)
    {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}

// Keeps a file or folder immutable until released or destroyed.
class Busy
{
public:
    explicit Busy(std::filesystem::path path) : mPath(std::move(path)) { mOn = SetImmutable(mPath, true); }
    ~Busy() { Release(); }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;
    bool On() const { return mOn; }
    void Release()
    {
        if (mOn)
            SetImmutable(mPath, false);
        mOn = false;
    }

private:
    std::filesystem::path mPath;
    bool mOn = false;
};

// The user's folders in dir; restored when it goes.
class UserFolders
{
public:
    explicit UserFolders(const std::filesystem::path& dir)
        : mHome("HOME", (dir / "home").c_str()), mData("XDG_DATA_HOME", (dir / "data").c_str()),
          mConfig("XDG_CONFIG_HOME", (dir / "config").c_str()), mTemp("TMPDIR", (dir / "tmp").c_str()),
          mBus("DBUS_SESSION_BUS_ADDRESS", nullptr)
    {
        for (const char* sub : {"home", "data", "config", "tmp"})
            std::filesystem::create_directories(dir / sub);
    }

private:
    ScopedEnvironment mHome, mData, mConfig, mTemp, mBus;
};

// A shell program that appends each argument it gets, one per line, to record, then a line "end".
inline std::string RecordingProgram(const std::filesystem::path& record, const std::string& version = "A")
{
    return "#!/bin/sh\n# build " + version + "\nfor a in \"$@\"; do printf '%s\\n' \"$a\" >> '" +
           record.string() + "'; done\necho end >> '" + record.string() + "'\nexit 0\n";
}

// The retry clock: time moves by the pause the code asks for; onPause runs at each pause.
class FakeRetryClock
{
public:
    FakeRetryClock()
    {
        SetRetryClock({[this] { return mNow; },
                       [this](_dword ms)
                       {
                           mNow += ms;
                           if (mOnPause)
                               mOnPause(mNow);
                       }});
    }
    ~FakeRetryClock() { SetRetryClock({}); }
    FakeRetryClock(const FakeRetryClock&) = delete;
    FakeRetryClock& operator=(const FakeRetryClock&) = delete;

    _qword mNow = 1000;
    std::function<void(_qword now)> mOnPause;
};

} // namespace Vexel::Test

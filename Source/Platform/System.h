// The system's identity and the running program: module path, main thread, environment, OS version,
// network adapter address and time.
#pragma once

#include "Common/String.h"

#include <cstddef>

namespace Vexel
{

// Installs the platform's debugger output and code page converters in the kernel layer, records the
// program's path in the kernel context and the calling thread as the main thread.
// Call once at start, before other threads exist.
void InitializePlatform();

// True on the thread that called InitializePlatform (false everywhere before it is called).
bool IsMainThread();

// Full path of the running program, empty on failure.
String GetModulePath();

// The running process's id (what the log file tag of each process is made from).
_dword GetCurrentProcessNumber();

// The system family as a small code: 5.0 -> 1, 5.1 -> 2, 5.2 -> 3, 6.0 -> 4, 6.1 -> 5, 6.2 -> 6,
// 6.3 -> 7, 10.x -> 8, anything else 0. Callers only use it to choose behaviour for newer systems.
int GetOSVersion();
// The code of a Windows-style version number (the table above).
int OsVersionCode(_dword major, _dword minor);

// The value of an environment variable; false when it is not set or longer than 1024 characters.
bool GetEnvironment(const String& name, String& value);
// Sets the variable to the number as eight lowercase hexadecimal digits ("%.8x").
bool SetEnvironment(const String& name, _dword number);
// Sets the variable to the text (used by scripts).
bool SetEnvironmentText(const String& name, const String& value);

// The hardware address of the adapter that carries the host name's first IPv4 address, as
// "%.2X:%.2X:%.2X:%.2X:%.2X:%.2X". Where no adapter carries it (on Linux the host name usually
// resolves to a loopback address), the first adapter by name that is up with an IPv4 address and a
// hardware address, then the first with a hardware address. Empty when there is none.
String GetMACAddress();

// Milliseconds since the first call in the process, from a monotonic clock (wraps after 49 days).
_dword GetTime();

// A hint that the memory [data, data + size), not yet touched, is about to be filled front to back:
// where the system allows, it is backed by large pages as it is touched, so filling it costs a fraction of
// the page faults. Nothing is committed by the hint itself.
void PrepareBufferForFill(void* data, std::size_t size);

namespace Detail
{
// The system's side of the environment, one per system; System.cpp checks the names and the length. The
// name is not empty and holds no '='. The value comes back whole, however long.
bool NativeGetEnvironment(const String& name, String& value);
bool NativeSetEnvironment(const String& name, const String& value);
} // namespace Detail

} // namespace Vexel

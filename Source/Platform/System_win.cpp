#include "Platform/System.h"

#include "Common/StringFormatter.h"
#include "Platform/File.h"

#include <cstring>
#include <string>
#include <vector>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <iphlpapi.h>

namespace Vexel
{

namespace
{

// The host name's first IPv4 address, through the socket library (version 2.2).
bool HostAddress(in_addr& out)
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return false;
    bool found = false;
    char host[1025] = {};
    if (gethostname(host, sizeof host - 1) == 0)
    {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        addrinfo* list = nullptr;
        if (getaddrinfo(host, nullptr, &hints, &list) == 0 && list)
        {
            out = reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_addr;
            found = true;
            freeaddrinfo(list);
        }
    }
    WSACleanup();
    return found;
}

String FormatMac(const BYTE* mac)
{
    return FormatString(u"%.2X:%.2X:%.2X:%.2X:%.2X:%.2X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
}

bool UsableMac(const IP_ADAPTER_INFO& adapter)
{
    if (adapter.AddressLength != 6 || adapter.Type == MIB_IF_TYPE_LOOPBACK)
        return false;
    for (UINT i = 0; i < 6; ++i)
        if (adapter.Address[i] != 0)
            return true;
    return false;
}

bool HasIpv4(const IP_ADAPTER_INFO& adapter)
{
    const char* first = adapter.IpAddressList.IpAddress.String;
    return first[0] != '\0' && std::strcmp(first, "0.0.0.0") != 0;
}

} // namespace

String GetModulePath()
{
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;)
    {
        DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return String();
        if (length < buffer.size())
        {
            buffer.resize(length);
            return FromNativeText(buffer);
        }
        if (buffer.size() >= 32768)
            return String();
        buffer.resize(buffer.size() * 2);
    }
}

// The version the system really runs: the compatibility layer makes GetVersionEx report an older one to
// programs without a manifest that names the newer systems.
int GetOSVersion()
{
    using RtlGetVersionProc = LONG(WINAPI*)(OSVERSIONINFOW*);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto rtlGetVersion = ntdll ? reinterpret_cast<RtlGetVersionProc>(
                                     reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")))
                               : nullptr;
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!rtlGetVersion || rtlGetVersion(&info) != 0)
        return 0;
    return OsVersionCode(info.dwMajorVersion, info.dwMinorVersion);
}

bool Detail::NativeGetEnvironment(const String& name, String& value)
{
    std::wstring key = ToNativeText(name);
    std::wstring buffer(256, L'\0');
    for (;;)
    {
        SetLastError(ERROR_SUCCESS);
        DWORD length = GetEnvironmentVariableW(key.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND)
            return false;
        if (length < buffer.size())
        {
            buffer.resize(length);
            value = FromNativeText(buffer);
            return true;
        }
        buffer.assign(length, L'\0'); // too small: the answer is the size needed, with the terminator
    }
}

bool Detail::NativeSetEnvironment(const String& name, const String& value)
{
    std::wstring key = ToNativeText(name);
    // The C library keeps its own copy of the environment: both learn the value.
    return _wputenv_s(key.c_str(), ToNativeText(value).c_str()) == 0 &&
           SetEnvironmentVariableW(key.c_str(), ToNativeText(value).c_str());
}

String GetMACAddress()
{
    ULONG size = 0;
    if (GetAdaptersInfo(nullptr, &size) != ERROR_BUFFER_OVERFLOW || size == 0)
        return String();
    std::vector<unsigned char> buffer(size);
    auto* list = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
    if (GetAdaptersInfo(list, &size) != ERROR_SUCCESS)
        return String();

    in_addr host{};
    if (HostAddress(host))
    {
        for (const IP_ADAPTER_INFO* it = list; it; it = it->Next)
        {
            in_addr first{};
            if (HasIpv4(*it) && inet_pton(AF_INET, it->IpAddressList.IpAddress.String, &first) == 1 &&
                first.s_addr == host.s_addr && UsableMac(*it))
                return FormatMac(it->Address);
        }
    }
    // When no adapter carries the host name's address (it resolves to loopback on some machines), the
    // same fall-backs as elsewhere: the first adapter with an address and a hardware address, then any.
    for (const IP_ADAPTER_INFO* it = list; it; it = it->Next)
        if (HasIpv4(*it) && UsableMac(*it))
            return FormatMac(it->Address);
    for (const IP_ADAPTER_INFO* it = list; it; it = it->Next)
        if (UsableMac(*it))
            return FormatMac(it->Address);
    return String();
}

_dword GetCurrentProcessNumber()
{
    return static_cast<_dword>(GetCurrentProcessId());
}

// Large pages exist here only for memory allocated with them from the start (and for users holding the
// "lock pages in memory" right), so a hint on memory already reserved has nothing to ask for.
void PrepareBufferForFill(void* data, std::size_t size)
{
    (void)data;
    (void)size;
}

} // namespace Vexel

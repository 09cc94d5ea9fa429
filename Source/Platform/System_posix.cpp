#include "Platform/System.h"

#include "Common/StringFormatter.h"
#include "Platform/File.h"

#include <arpa/inet.h>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ifaddrs.h>
#include <limits.h>
#include <map>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <sys/mman.h>
#include <unistd.h>

namespace Vexel
{

namespace
{

struct Adapter
{
    _byte mac[6] = {0, 0, 0, 0, 0, 0};
    bool hasMac = false;
    bool hasIpv4 = false;
    in_addr firstIpv4{};
    unsigned flags = 0;
};

bool HostAddress(in_addr& out)
{
    char host[1025] = {};
    if (::gethostname(host, sizeof host - 1) != 0)
        return false;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &list) != 0 || !list)
        return false;
    out = reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_addr;
    ::freeaddrinfo(list);
    return true;
}

String FormatMac(const _byte* mac)
{
    return FormatString(u"%.2X:%.2X:%.2X:%.2X:%.2X:%.2X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
}

bool UsableMac(const Adapter& adapter)
{
    if (!adapter.hasMac || (adapter.flags & IFF_LOOPBACK))
        return false;
    for (_byte b : adapter.mac)
        if (b != 0)
            return true;
    return false;
}

} // namespace

String GetModulePath()
{
    char buffer[PATH_MAX + 1];
    ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
    return n <= 0 ? String() : FromNativeText(std::string(buffer, static_cast<std::size_t>(n)));
}

// Linux has no version numbers of that family. The code only steers choices the launcher makes for
// older systems (such as whether elevation is available), and a current Linux desktop has everything the
// newest family has, so it reports as that one.
int GetOSVersion()
{
    return OsVersionCode(10, 0);
}

bool Detail::NativeGetEnvironment(const String& name, String& value)
{
    const char* text = std::getenv(ToNativeText(name).c_str());
    if (!text)
        return false;
    value = FromNativeText(text);
    return true;
}

bool Detail::NativeSetEnvironment(const String& name, const String& value)
{
    return ::setenv(ToNativeText(name).c_str(), ToNativeText(value).c_str(), 1) == 0;
}

String GetMACAddress()
{
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return String();
    std::map<std::string, Adapter> adapters; // by name, so the fall-back choice is stable
    for (ifaddrs* it = list; it; it = it->ifa_next)
    {
        if (!it->ifa_name || !it->ifa_addr)
            continue;
        Adapter& adapter = adapters[it->ifa_name];
        adapter.flags = it->ifa_flags;
        if (it->ifa_addr->sa_family == AF_PACKET)
        {
            const auto* link = reinterpret_cast<const sockaddr_ll*>(it->ifa_addr);
            if (link->sll_halen == 6)
            {
                std::memcpy(adapter.mac, link->sll_addr, 6);
                adapter.hasMac = true;
            }
        }
        else if (it->ifa_addr->sa_family == AF_INET && !adapter.hasIpv4)
        {
            adapter.firstIpv4 = reinterpret_cast<const sockaddr_in*>(it->ifa_addr)->sin_addr;
            adapter.hasIpv4 = true;
        }
    }
    ::freeifaddrs(list);

    in_addr host{};
    if (HostAddress(host))
    {
        for (const auto& [name, adapter] : adapters)
            if (adapter.hasIpv4 && adapter.firstIpv4.s_addr == host.s_addr && UsableMac(adapter))
                return FormatMac(adapter.mac);
    }
    // The host name often resolves to a loopback address here, which no hardware adapter carries: take
    // the first adapter (by name) that is up, has an IPv4 address and a hardware address, then any
    // adapter with a hardware address.
    for (const auto& [name, adapter] : adapters)
        if ((adapter.flags & IFF_UP) && adapter.hasIpv4 && UsableMac(adapter))
            return FormatMac(adapter.mac);
    for (const auto& [name, adapter] : adapters)
        if (UsableMac(adapter))
            return FormatMac(adapter.mac);
    return String();
}

_dword GetCurrentProcessNumber()
{
    return static_cast<_dword>(getpid());
}

void PrepareBufferForFill(void* data, std::size_t size)
{
#if defined(MADV_HUGEPAGE)
    // Only the whole large pages inside the buffer; the system takes the hint or leaves it.
    constexpr std::uintptr_t _LARGE_PAGE = std::uintptr_t(2) << 20;
    const auto first = (reinterpret_cast<std::uintptr_t>(data) + _LARGE_PAGE - 1) & ~(_LARGE_PAGE - 1);
    const auto last = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(_LARGE_PAGE - 1);
    if (data != nullptr && last > first)
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)data;
    (void)size;
#endif
}

} // namespace Vexel

#include "Common/Memory.h"

#include "Common/Assert.h"
#include "Common/Log.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace Vexel
{

namespace
{
constexpr std::size_t _HEADER = 8;

_dword* HeaderOf(void* payload)
{
    return reinterpret_cast<_dword*>(static_cast<_byte*>(payload) - _HEADER);
}

bool CheckHeader(_dword* realbuffer)
{
    // Both checks report with the program's own texts; a block that fails either is left alone.
    bool ok =
        VEXEL_ASSERT_TEXT(realbuffer[0] == _SHARED_SIGNATURE, u"( (_dword*) realbuffer )[0] == 0x4642544E");
    ok = ok && VEXEL_ASSERT_TEXT(realbuffer[1] >= 1, u"( (_dword*) realbuffer )[1] >= 1");
    return ok;
}
} // namespace

void* Allocate(std::size_t size)
{
    if (size == 0 || size > _MAX_ALLOCATION)
        return nullptr;
    void* pointer = std::malloc(size);
    if (!pointer)
    {
        LogBoth(u"[KL] Out of memory");
        VEXEL_ASSERT_TEXT(pointer != nullptr, u"pointer != _null");
    }
    return pointer;
}

void Free(void* pointer)
{
    std::free(pointer);
}

void* AllocateShared(std::size_t size)
{
    if (size == 0 || size > _MAX_ALLOCATION)
        return nullptr;
    _byte* block = new (std::nothrow) _byte[size + _HEADER];
    if (!block)
    {
        LogBoth(u"[KL] Out of memory");
        VEXEL_ASSERT_TEXT(block != nullptr, u"pointer != _null");
        return nullptr;
    }
    _dword* header = reinterpret_cast<_dword*>(block);
    header[0] = _SHARED_SIGNATURE;
    header[1] = 1;
    return block + _HEADER;
}

void* AllocateShared(const void* source, std::size_t size)
{
    void* payload = AllocateShared(size);
    if (payload && source)
        std::memcpy(payload, source, size);
    return payload;
}

void* AddRef(void* payload)
{
    if (!payload)
        return nullptr;
    _dword* header = HeaderOf(payload);
    if (CheckHeader(header))
        ++header[1];
    return payload;
}

bool Release(void* payload)
{
    if (!payload)
        return true;
    _dword* header = HeaderOf(payload);
    if (!CheckHeader(header))
        return false;
    if (--header[1] != 0)
        return false;
    // Clear the signature so a stale pointer fails the check instead of passing it.
    header[0] = 0;
    delete[] reinterpret_cast<_byte*>(header);
    return true;
}

_dword SharedRefCount(const void* payload)
{
    if (!payload)
        return 0;
    return reinterpret_cast<const _dword*>(static_cast<const _byte*>(payload) - _HEADER)[1];
}

void Copy(void* destination, const void* source, std::size_t size)
{
    if (size)
        std::memmove(destination, source, size);
}

void Fill(void* destination, _byte value, std::size_t size)
{
    if (size)
        std::memset(destination, value, size);
}

bool Equal(const void* a, const void* b, std::size_t size)
{
    return size == 0 || std::memcmp(a, b, size) == 0;
}

} // namespace Vexel

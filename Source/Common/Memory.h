// Raw memory: plain blocks from the process heap, and shared blocks that carry an 8-byte header
// {signature 0x4642544E, reference count} ahead of the payload so one block of resource data can be
// handed between owners without copying.
#pragma once

#include "Common/String.h"

#include <cstddef>

namespace Vexel
{

constexpr _dword _SHARED_SIGNATURE = 0x4642544E;
constexpr std::size_t _MAX_ALLOCATION = 0x7FFFFFFE;

// A plain block; null for 0 bytes or more than 0x7FFFFFFE. Out of memory is reported on both channels.
void* Allocate(std::size_t size);
void Free(void* pointer);

// A shared block with a count of 1, optionally filled from source; null for 0 or oversized requests.
void* AllocateShared(std::size_t size);
void* AllocateShared(const void* source, std::size_t size);
void* AddRef(void* payload);
// Drops one reference; true when the block was freed (or payload was null), false while owners remain.
bool Release(void* payload);
// The current count of a shared block (0 for null), for owners that report leaks.
_dword SharedRefCount(const void* payload);

void Copy(void* destination, const void* source, std::size_t size);
void Fill(void* destination, _byte value, std::size_t size);
bool Equal(const void* a, const void* b, std::size_t size);

} // namespace Vexel

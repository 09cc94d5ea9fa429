// One process-wide instance per class: a second construction is a reported assertion and does not
// replace the first; the destructor of the registered instance clears the slot.
#pragma once

#include "Common/Assert.h"

#include <cstddef>

namespace Vexel
{

template <typename T> class Singleton
{
public:
    static T* Instance() noexcept { return sSingleton; }

protected:
    Singleton()
    {
        if (VEXEL_ASSERT(sSingleton == _null))
            sSingleton = static_cast<T*>(this);
    }
    ~Singleton()
    {
        if (sSingleton == static_cast<T*>(this))
            sSingleton = nullptr;
    }
    Singleton(const Singleton&) = delete;
    Singleton& operator=(const Singleton&) = delete;

private:
    static constexpr std::nullptr_t _null = nullptr;
    static inline T* sSingleton = nullptr;
};

} // namespace Vexel

// Growable array over std::vector with the engine's rules: capacities run 16, 32, 64, ... and an index
// outside the elements is a reported assertion that leaves the array alone.
#pragma once

#include "Common/Assert.h"

#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

namespace Vexel
{

template <typename T> class Array
{
public:
    Array() = default;
    Array(std::initializer_list<T> init) : mItems(init) {}

    // Appends and returns the new element's index.
    std::size_t Append(const T& value)
    {
        if (mItems.size() == mItems.capacity() && IsOwnElement(value))
        {
            // Growing would free the element being appended before it is copied.
            T copy(value);
            Grow();
            mItems.push_back(std::move(copy));
            return mItems.size() - 1;
        }
        Grow();
        mItems.push_back(value);
        return mItems.size() - 1;
    }
    std::size_t Append(T&& value)
    {
        Grow();
        mItems.push_back(std::move(value));
        return mItems.size() - 1;
    }
    template <typename... Args> T& Emplace(Args&&... args)
    {
        Grow();
        return mItems.emplace_back(std::forward<Args>(args)...);
    }

    bool IsIndexValid(std::size_t index) const noexcept { return index < mItems.size(); }

    bool RemoveAt(std::size_t index)
    {
        if (!VEXEL_ASSERT_TEXT(IsIndexValid(index), u"IsIndexValid( index )"))
            return false;
        mItems.erase(mItems.begin() + static_cast<std::ptrdiff_t>(index));
        return true;
    }

    T& operator[](std::size_t index)
    {
        if (VEXEL_ASSERT_TEXT(IsIndexValid(index), u"IsIndexValid( index )"))
            return mItems[index];
        return Dummy();
    }
    const T& operator[](std::size_t index) const
    {
        if (VEXEL_ASSERT_TEXT(IsIndexValid(index), u"IsIndexValid( index )"))
            return mItems[index];
        return Dummy();
    }

    std::size_t Number() const noexcept { return mItems.size(); }
    std::size_t Capacity() const noexcept { return mItems.capacity(); }
    bool IsEmpty() const noexcept { return mItems.empty(); }
    void Clear() { mItems.clear(); }

    auto begin() noexcept { return mItems.begin(); }
    auto end() noexcept { return mItems.end(); }
    auto begin() const noexcept { return mItems.begin(); }
    auto end() const noexcept { return mItems.end(); }
    std::vector<T>& Items() noexcept { return mItems; }
    const std::vector<T>& Items() const noexcept { return mItems; }

private:
    bool IsOwnElement(const T& value) const noexcept
    {
        std::less<const T*> before;
        const T* first = mItems.data();
        return !before(&value, first) && before(&value, first + mItems.size());
    }
    void Grow()
    {
        if (mItems.size() == mItems.capacity())
            mItems.reserve(mItems.capacity() == 0 ? 16 : mItems.capacity() * 2);
    }
    // What a failed index check hands back: a fresh default element that belongs to nobody.
    static T& Dummy()
    {
        static thread_local T sDummy{};
        sDummy = T{};
        return sDummy;
    }

    std::vector<T> mItems;
};

} // namespace Vexel

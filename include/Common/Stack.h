// Last-in first-out stack over std::vector; popping or reading an empty stack is a reported assertion.
#pragma once

#include "Common/Assert.h"

#include <cstddef>
#include <utility>
#include <vector>

namespace Vexel
{

template <typename T> class Stack
{
public:
    void Push(const T& value) { mItems.push_back(value); }
    void Push(T&& value) { mItems.push_back(std::move(value)); }

    bool Pop(T* out = nullptr)
    {
        if (!VEXEL_ASSERT_TEXT(!mItems.empty(), u"mLength > 0"))
            return false;
        if (out)
            *out = std::move(mItems.back());
        mItems.pop_back();
        return true;
    }
    T* Top() { return VEXEL_ASSERT_TEXT(!mItems.empty(), u"mLength > 0") ? &mItems.back() : nullptr; }

    std::size_t Number() const noexcept { return mItems.size(); }
    bool IsEmpty() const noexcept { return mItems.empty(); }
    void Clear() { mItems.clear(); }
    auto begin() noexcept { return mItems.begin(); }
    auto end() noexcept { return mItems.end(); }

private:
    std::vector<T> mItems;
};

} // namespace Vexel

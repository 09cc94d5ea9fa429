// First-in first-out queue over std::deque; reading or popping an empty queue is a reported assertion.
#pragma once

#include "Common/Assert.h"

#include <cstddef>
#include <deque>
#include <utility>

namespace Vexel
{

template <typename T> class Queue
{
public:
    void Push(const T& value) { mItems.push_back(value); }
    void Push(T&& value) { mItems.push_back(std::move(value)); }

    // Removes the front element into out; false (and a report) on an empty queue.
    bool Pop(T& out)
    {
        if (!VEXEL_ASSERT_TEXT(!mItems.empty(), u"IsIndexValid( mFront )"))
            return false;
        out = std::move(mItems.front());
        mItems.pop_front();
        return true;
    }
    T* Front()
    {
        return VEXEL_ASSERT_TEXT(!mItems.empty(), u"IsIndexValid( mFront )") ? &mItems.front() : nullptr;
    }

    std::size_t Number() const noexcept { return mItems.size(); }
    bool IsEmpty() const noexcept { return mItems.empty(); }
    void Clear() { mItems.clear(); }
    auto begin() noexcept { return mItems.begin(); }
    auto end() noexcept { return mItems.end(); }

private:
    std::deque<T> mItems;
};

} // namespace Vexel

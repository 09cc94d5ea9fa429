// Doubly linked list over std::list. Nodes are the list's iterators; they stay valid until removed.
#pragma once

#include "Common/Assert.h"

#include <cstddef>
#include <list>
#include <utility>

namespace Vexel
{

template <typename T> class Link
{
public:
    using Node = typename std::list<T>::iterator;

    Node InsertHead(T value) { return mItems.insert(mItems.begin(), std::move(value)); }
    Node InsertTail(T value) { return mItems.insert(mItems.end(), std::move(value)); }
    Node InsertBefore(Node node, T value) { return mItems.insert(node, std::move(value)); }
    void Remove(Node node) { mItems.erase(node); }

    std::size_t Number() const noexcept { return mItems.size(); }
    bool IsEmpty() const noexcept { return mItems.empty(); }
    void Clear() { mItems.clear(); }
    auto begin() noexcept { return mItems.begin(); }
    auto end() noexcept { return mItems.end(); }
    auto begin() const noexcept { return mItems.begin(); }
    auto end() const noexcept { return mItems.end(); }

private:
    std::list<T> mItems;
};

} // namespace Vexel

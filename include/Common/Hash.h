// Hash table with a fixed bucket count chosen at construction, over std::unordered_map.
#pragma once

#include "Common/Assert.h"

#include <cstddef>
#include <functional>
#include <unordered_map>
#include <utility>

namespace Vexel
{

template <typename Key, typename Value, typename HashFn = std::hash<Key>, typename Eq = std::equal_to<Key>>
class Hash
{
public:
    explicit Hash(std::size_t divisor = 64) : mItems(VEXEL_ASSERT(divisor > 0) ? divisor : 1) {}

    // Inserts or replaces; returns the stored value.
    Value& Insert(const Key& key, Value value)
    {
        return mItems.insert_or_assign(key, std::move(value)).first->second;
    }
    Value* Find(const Key& key)
    {
        auto it = mItems.find(key);
        return it == mItems.end() ? nullptr : &it->second;
    }
    const Value* Find(const Key& key) const
    {
        auto it = mItems.find(key);
        return it == mItems.end() ? nullptr : &it->second;
    }
    bool Remove(const Key& key) { return mItems.erase(key) != 0; }

    std::size_t Number() const noexcept { return mItems.size(); }
    void Clear() { mItems.clear(); }
    auto begin() noexcept { return mItems.begin(); }
    auto end() noexcept { return mItems.end(); }
    auto begin() const noexcept { return mItems.begin(); }
    auto end() const noexcept { return mItems.end(); }

private:
    std::unordered_map<Key, Value, HashFn, Eq> mItems;
};

} // namespace Vexel

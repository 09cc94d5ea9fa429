// The one owner of an object whose type its owner need not know in full: the deletion is fixed where the
// object is made (from a std::unique_ptr of the complete type), so a record can hold and release objects
// declared in files above its own.
#pragma once

#include <cstddef>
#include <memory>
#include <utility>

namespace Vexel
{

template <typename T> class Owned
{
public:
    Owned() = default;
    Owned(std::nullptr_t) {}
    template <typename U>
    Owned(std::unique_ptr<U> object)
        : mObject(object.release()), mDelete([](T* p) { delete static_cast<U*>(p); })
    {
    }
    Owned(Owned&& other) noexcept
        : mObject(std::exchange(other.mObject, nullptr)), mDelete(std::exchange(other.mDelete, nullptr))
    {
    }
    Owned& operator=(Owned&& other) noexcept
    {
        if (this != &other)
        {
            reset();
            mObject = std::exchange(other.mObject, nullptr);
            mDelete = std::exchange(other.mDelete, nullptr);
        }
        return *this;
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() { reset(); }

    // Deletes the object; the owner is empty from the moment the deletion starts, so code the deletion
    // runs finds no half-deleted object here.
    void reset()
    {
        T* object = std::exchange(mObject, nullptr);
        if (object)
            mDelete(object);
        mDelete = nullptr;
    }
    T* get() const { return mObject; }
    T* operator->() const { return mObject; }
    T& operator*() const { return *mObject; }
    explicit operator bool() const { return mObject != nullptr; }
    bool operator==(std::nullptr_t) const { return mObject == nullptr; }

private:
    T* mObject = nullptr;
    void (*mDelete)(T*) = nullptr;
};

} // namespace Vexel

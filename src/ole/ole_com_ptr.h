#pragma once
// ole_com_ptr<T>: owns one reference to an engine interface (T derives from ref_counted_object) and
// releases it when it goes. Engine factories write into out(), so the pointer takes over the reference
// they return. Movable, not copyable.
#include <utility>

#include "platform/com_object.h"

namespace ole_com_ptr_detail {
[[noreturn]] void null_access();
void log_release(unsigned long refs_left) noexcept;
}  // namespace ole_com_ptr_detail

template <class T>
class ole_com_ptr {
public:
    ole_com_ptr() noexcept = default;
    /// Takes over one reference the caller holds.
    explicit ole_com_ptr(T* adopted) noexcept : p_(adopted) {}
    ole_com_ptr(const ole_com_ptr&) = delete;
    ole_com_ptr& operator=(const ole_com_ptr&) = delete;
    ole_com_ptr(ole_com_ptr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ole_com_ptr& operator=(ole_com_ptr&& other) noexcept
    {
        if (this != &other) {
            release();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    virtual ~ole_com_ptr() { release(); }

    /// Null is an internal error.
    T* operator->() const
    {
        if (!p_) ole_com_ptr_detail::null_access();
        return p_;
    }
    T* get() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    /// Releases what is held and gives the member's address for a factory to fill.
    T** out() noexcept
    {
        release();
        return &p_;
    }

    /// Gives up the reference to the caller.
    T* detach() noexcept { return std::exchange(p_, nullptr); }

    void release() noexcept
    {
        if (T* p = std::exchange(p_, nullptr)) ole_com_ptr_detail::log_release(p->Release());
    }

private:
    T* p_ = nullptr;
};

/// Takes one more reference to `p` for the caller (null stays null).
template <class T>
ole_com_ptr<T> ole_share(T* p) noexcept
{
    if (p) p->AddRef();
    return ole_com_ptr<T>(p);
}

/// The reference count of an interface (the count before this call); null is an internal error.
int ole_get_ref_count(ref_counted_object* object);

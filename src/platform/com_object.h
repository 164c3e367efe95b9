#pragma once
// Stand-ins for the component object model: an intrusively reference-counted object base and the
// per-thread start/stop counters of the component library.
#include <atomic>

#include "platform/auto_types.h"

/// Base of every interface the engines hand out. A new object holds one reference for its receiver;
/// AddRef and Release return the new count and the last Release deletes the object.
class ref_counted_object {
public:
    ref_counted_object(const ref_counted_object&) = delete;
    ref_counted_object& operator=(const ref_counted_object&) = delete;

    unsigned long AddRef() noexcept { return ++refs_; }
    unsigned long Release() noexcept
    {
        const unsigned long left = --refs_;
        if (left == 0) delete this;
        return left;
    }

protected:
    ref_counted_object() = default;
    virtual ~ref_counted_object() = default;

private:
    std::atomic<unsigned long> refs_{1};
};

namespace platform {

/// Starts the component library on this thread: S_OK the first time, S_FALSE when already started.
HRESULT com_initialize() noexcept;
/// Ends one com_initialize of this thread; an unmatched call does nothing.
void com_uninitialize() noexcept;
/// How many com_initialize calls of this thread are not yet ended.
int com_init_count() noexcept;

}  // namespace platform

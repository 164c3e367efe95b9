#pragma once
// Gives a class one registered, process-wide instance that lives where its
// owner put it (usually on main's stack). The pointer is written on the main
// thread before workers start and read from every thread afterwards.

#include <atomic>

#include "tk/tk_exception.h"

void tk_singleton_log_missing() noexcept;  // the destructor's level-3 line

template <class T>
class tk_singleton {
 public:
  tk_singleton(const tk_singleton&) = delete;
  tk_singleton& operator=(const tk_singleton&) = delete;

  /// The instance; none registered is an internal error.
  static T& instance() {
    T* p = instance_ptr();
    if (!p) TK_ASSERT_SITE("..\\TK/tk_singl", 59);
    return *p;
  }
  /// The same, for the logger and the shell's own services (their own site).
  static T& get_instance() {
    T* p = instance_ptr();
    if (!p) TK_ASSERT_SITE("..\\TK/tk_singl", 66);
    return *p;
  }
  /// Whether an instance exists: for callers where absence is normal.
  static bool has_instance() noexcept { return s_instance.load(std::memory_order_acquire) != nullptr; }
  /// The instance or null.
  static T* instance_ptr() noexcept {
    // Stored as the base: the derived object is not yet built when it registers.
    return static_cast<T*>(s_instance.load(std::memory_order_acquire));
  }

 protected:
  tk_singleton() {
    tk_singleton* expected = nullptr;
    if (!s_instance.compare_exchange_strong(expected, this, std::memory_order_acq_rel))
      TK_ASSERT_SITE("..\\TK/tk_singl", 35);
  }
  virtual ~tk_singleton() {
    // A destructor never throws: a missing registration is only logged.
    tk_singleton* expected = this;
    if (!s_instance.compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel))
      tk_singleton_log_missing();
  }

 private:
  inline static std::atomic<tk_singleton*> s_instance{nullptr};
};

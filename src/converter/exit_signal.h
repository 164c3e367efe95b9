#pragma once

#include <atomic>
#include <mutex>
#include <optional>

/// Ends the program with a status, in order: thrown where the program must stop (an internal error,
/// or an error that ends the agent), caught by `main`, which returns the status.
/** Deliberately outside the std::exception family, so that no `catch (std::exception&)` or
    `catch (tk_exception&)` on the way up can swallow it; destructors run as the stack unwinds. */
class tmd_exit_signal {
public:
  /// The status the program ends with where a plain `exit(-1)` would have been.
  static constexpr int failure_status = 255;

  explicit tmd_exit_signal(int status = failure_status) noexcept : m_status(status) {}
  int status() const noexcept { return m_status; }

private:
  int m_status;
};

/// Carries an exit signal from a worker thread to the thread that owns the program's end.
/** The worker's entry point catches the signal and stores it here; the main thread asks after
    joining (or while waiting) and rethrows it, so `main` sees it as if it had been thrown there. */
class tmd_exit_relay {
public:
  void store(const tmd_exit_signal& signal) noexcept {
    std::lock_guard lock(m_mutex);
    if (!m_signal) m_signal = signal;  // the first one decides the status
    m_pending.store(true, std::memory_order_release);
  }
  bool pending() const noexcept { return m_pending.load(std::memory_order_acquire); }
  std::optional<tmd_exit_signal> signal() const {
    std::lock_guard lock(m_mutex);
    return m_signal;
  }
  /// Throws the stored signal, if any.
  void rethrow_if_pending() const {
    if (auto s = signal()) throw *s;
  }

private:
  mutable std::mutex m_mutex;
  std::optional<tmd_exit_signal> m_signal;
  std::atomic<bool> m_pending{false};
};

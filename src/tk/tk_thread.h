#pragma once
// A worker thread running a work object. There is no forced termination: a
// thread is stopped by a request that the work object polls, then joined.

#include <atomic>
#include <exception>
#include <thread>

/// The work a tk_thread runs. The default run loops step() (100 ms pauses)
/// until is_done() or a stop request, then calls finish() once.
class tk_thread_functor {
 public:
  tk_thread_functor() = default;
  tk_thread_functor(const tk_thread_functor&) = delete;
  tk_thread_functor& operator=(const tk_thread_functor&) = delete;
  virtual ~tk_thread_functor();

  /// Overrides that replace the loop must poll stop_requested() often:
  /// stopping a thread waits for run to return, without a time-out.
  virtual void run();
  virtual bool is_done();
  virtual void step();
  virtual void finish();

  /// Asks run to end; overrides may also cancel work under way (then call this).
  virtual void request_stop();
  bool stop_requested() const noexcept { return m_stop.load(); }
  void clear_stop_request() noexcept { m_stop.store(false); }

 private:
  std::atomic<bool> m_stop{false};
};

class tk_thread {
 public:
  explicit tk_thread(bool owns_functor = true);
  tk_thread(const tk_thread&) = delete;
  tk_thread& operator=(const tk_thread&) = delete;
  /// Stops a running thread (request, join) and frees an owned functor.
  virtual ~tk_thread();

  /// Starts a new thread on a fresh functor from create_functor. Running is an
  /// internal error; a finished thread is closed first. A thread that cannot
  /// be created throws tk_exception_ex level 1.
  void start();
  /// Joins a finished thread and frees an owned functor. Running: internal error.
  void close();
  /// Requests a stop, waits for the thread, closes. Not running: internal error.
  void terminate();

  bool is_running() const noexcept;
  tk_thread_functor* functor() const noexcept { return m_functor; }
  bool owns_functor() const noexcept { return m_owns_functor; }

  /// The exception that escaped the last run, if any (taken once). The
  /// thread's owner decides whether to rethrow it (e.g. the program's exit signal).
  std::exception_ptr take_exception() noexcept;

 protected:
  /// Default: a plain tk_thread_functor, owned by this thread.
  virtual tk_thread_functor* create_functor();
  void set_owns_functor(bool owns) noexcept { m_owns_functor = owns; }

 private:
  static int start_routine(tk_thread_functor* functor, std::atomic<bool>* ended,
                           std::exception_ptr* escaped) noexcept;

  std::thread m_thread;
  bool m_owns_functor;
  tk_thread_functor* m_functor = nullptr;
  std::atomic<bool> m_ended{false};
  std::exception_ptr m_escaped;
};

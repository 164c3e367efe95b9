#pragma once
// Brackets one conversion run: the dated start and end lines of the log, the component library of
// the running thread, the wizard's progress timer, and the finished flag the GUI thread polls.
#include <atomic>

class frame_services;

class init_conversion {
 public:
  /// `com_ready` non-zero: the component library is already started on this thread, so it is
  /// neither started nor ended here. A `timer_frame` gets its progress timer started (200 ms).
  init_conversion(std::atomic<bool>* finished, int com_ready, frame_services* timer_frame = nullptr);
  /// Logs the end and sets the finished flag, last.
  ~init_conversion();
  init_conversion(const init_conversion&) = delete;
  init_conversion& operator=(const init_conversion&) = delete;

  static constexpr unsigned timer_period_ms = 200;

 private:
  int com_ready;
  std::atomic<bool>* finished;
};

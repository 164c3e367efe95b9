#pragma once
// The root of every conversion object: the work a worker thread runs, with
// the few settings every converter has (source, destination, log file).

#include <atomic>
#include <string>

#include "tk/tk_thread.h"

class tk_converter : public tk_thread_functor {
 public:
  tk_converter();
  ~tk_converter() override;

  virtual void set_silent(bool silent);
  bool is_silent() const noexcept { return silent.load(); }
  bool is_finished() const noexcept { return finished.load(); }
  void set_finished(bool value) noexcept { finished.store(value); }

  /// Checks the log file and, when a logger exists, switches the log to it.
  /// Throws tk_exception level 1 for a FIFO, a socket or a device, a read-only
  /// file or a missing folder,
  /// and tk_exception_ex level 1 for any other name no line could reach; a
  /// refused name is not stored. An empty name is stored and changes nothing.
  void set_logfile(const std::string& file_name);
  const std::string& get_logfile() const noexcept { return logfile; }

  const std::wstring& get_src() const noexcept { return src; }
  const std::wstring& get_dest() const noexcept { return dest; }

 protected:
  // Set by the worker when a run has ended and polled by the GUI thread.
  std::atomic<bool> finished{false};
  std::atomic<bool> silent{false};
  std::wstring src;
  std::wstring dest;
  std::string logfile;
};

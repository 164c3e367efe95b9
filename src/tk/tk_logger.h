#pragma once
// The process-wide text log. Only the console agent creates a tk_logger; with
// none every log call returns after one pointer test. Each line is appended
// with its own open-write-close, so the log survives a crash up to the last
// line. Lines are written whole (one lock), also from several threads.
//
//   tk_log(2, "xls_reader::open_xls(%s)", path);   // narrow or wide args
//   tk_wlog(3, L"Cannot open %s", name);
//
// The level is tested before the line is formatted. A log call never throws.

#include <atomic>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "tk/tk_format.h"
#include "tk/tk_singleton.h"

class tk_logger : public tk_singleton<tk_logger> {
 public:
  /// A null file name means the program's path with the extension ".log".
  /// When enabled, the file is emptied at once.
  explicit tk_logger(const char* file_name = nullptr, bool enabled = false, int threshold = 3,
                     bool time_prefix = false);
  ~tk_logger() override;

  /// The instance; none is an internal error.
  static tk_logger& instance() { return get_instance(); }

  /// Stores the name; the enabled and truncated flags stay as they are.
  void set_file_name(const char* name);  // null: internal error
  void set_file_name(const std::string& name);
  std::string file_name() const;

  void set_enabled(bool enabled) noexcept { m_enabled.store(enabled); }
  bool is_enabled() const noexcept { return m_enabled.load(); }
  void set_threshold(int threshold) noexcept { m_threshold.store(threshold); }
  int threshold() const noexcept { return m_threshold.load(); }
  void set_time_prefix(bool on) noexcept { m_time_prefix.store(on); }
  bool time_prefix() const noexcept { return m_time_prefix.load(); }
  void set_append_crlf(bool on) noexcept { m_append_crlf.store(on); }
  bool append_crlf() const noexcept { return m_append_crlf.load(); }
  bool is_truncated() const noexcept { return m_truncated.load(); }

  /// Empties the file once per process, when enabled (a failed open counts).
  void truncate_once() noexcept;

  /// Steps before formatting: enabled test, one-time truncation, threshold.
  bool accepts(int level) noexcept;
  /// Appends one already formatted line (with prefix and CRLF as set).
  void write_line(std::string_view text) noexcept;

  /// The local time used for the prefix; tests inject a fixed clock.
  using clock_function = std::function<std::tm()>;
  void set_clock(clock_function clock);

  /// The program's path with the extension replaced by ".log".
  static std::string make_log_name();

 private:
  mutable std::mutex m_mutex;  // guards the name, the file and the clock
  std::string m_file_name;
  std::atomic<int> m_threshold;
  std::atomic<bool> m_append_crlf{true};
  std::atomic<bool> m_enabled;
  std::atomic<bool> m_truncated{false};
  std::atomic<bool> m_time_prefix;
  clock_function m_clock;
};

namespace tk_log_detail {
/// The logger when a line of this level is to be written, else null.
tk_logger* accepting_logger(int level) noexcept;
void write_failed_format(tk_logger& logger, std::string_view format) noexcept;
void write_failed_format(tk_logger& logger, std::wstring_view format) noexcept;
}  // namespace tk_log_detail

/// Writes one line at this level; a narrow format.
template <class... Args>
void tk_log(int level, std::string_view format, const Args&... args) noexcept {
  tk_logger* logger = tk_log_detail::accepting_logger(level);
  if (!logger) return;
  try {
    logger->write_line(tk_format(format, args...));
  } catch (...) {
    tk_log_detail::write_failed_format(*logger, format);
  }
}

/// Writes one line at this level; a wide format (stored as UTF-8).
template <class... Args>
void tk_wlog(int level, std::wstring_view format, const Args&... args) noexcept {
  tk_logger* logger = tk_log_detail::accepting_logger(level);
  if (!logger) return;
  try {
    logger->write_line(tk_format(format, args...));
  } catch (...) {
    tk_log_detail::write_failed_format(*logger, format);
  }
}

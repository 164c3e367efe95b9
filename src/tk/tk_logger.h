#pragma once
// The process-wide text log. Only the console agent creates a tk_logger; with
// none every log call returns after one pointer test. Each line is appended
// with its own open-write-close, so the log survives a crash up to the last
// line. Lines are written whole (one lock), also from several threads.
// A line that cannot be written is never reported by the log call: the first
// failure is kept (write_error) and ends the writing, so the log is cut at
// one place and its owner reports the failure once.
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

  /// Empties the file once per process, when enabled and not held (a failed
  /// open counts, and is kept as the write error).
  void truncate_once() noexcept;

  /// From now on lines are kept in memory and the file is left untouched (not
  /// even emptied) until release or discard: the owner may still refuse it.
  void hold() noexcept;
  /// Ends holding: empties the file (once, when enabled) and writes the kept lines.
  void release() noexcept;
  /// Ends holding and disables the log: the kept lines are dropped, the file is never touched.
  void discard() noexcept;
  bool is_held() const noexcept { return m_held.load(); }

  /// errno of the first failure to empty or write the file (0 when none). After it no
  /// further line is written.
  int write_error() const noexcept { return m_write_error.load(); }

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
  std::atomic<bool> m_held{false};
  std::atomic<int> m_write_error{0};
  std::string m_held_lines;  // guarded by m_mutex
  clock_function m_clock;

  void truncate_locked() noexcept;
  void append_locked(std::string_view bytes) noexcept;
};

namespace tk_log_detail {
/// The logger when a line of this level is to be written, else null.
tk_logger* accepting_logger(int level) noexcept;
void write_failed_format(tk_logger& logger, std::string_view format) noexcept;
void write_failed_format(tk_logger& logger, std::wstring_view format) noexcept;

/// accepting_logger with the common answers given inline: log calls sit on per-value paths, and
/// without a logger, or with one disabled or above this level, they must cost next to nothing.
inline tk_logger* accepting_logger_fast(int level) noexcept {
  tk_logger* logger = tk_logger::instance_ptr();
  if (!logger || !logger->is_enabled()) return nullptr;
  // Once the file is emptied, accepting is the threshold test alone.
  if (logger->is_truncated() && level < logger->threshold()) return nullptr;
  return accepting_logger(level);
}
}  // namespace tk_log_detail

/// True when a line of this level would be written. Callers whose log arguments cost something to
/// build (a value's text, a conversion) test it first.
inline bool tk_log_enabled(int level) noexcept { return tk_log_detail::accepting_logger_fast(level) != nullptr; }

namespace tk_log_detail {
/// Formats and writes one line (kept out of line: the callers inline only the level test).
template <class Char, class... Args>
[[gnu::noinline, gnu::cold]] void write_formatted(tk_logger& logger, std::basic_string_view<Char> format,
                                                  const Args&... args) noexcept {
  try {
    logger.write_line(tk_format(format, args...));
  } catch (...) {
    write_failed_format(logger, format);
  }
}
}  // namespace tk_log_detail

/// Writes one line at this level; a narrow format.
template <class... Args>
inline void tk_log(int level, std::string_view format, const Args&... args) noexcept {
  if (tk_logger* logger = tk_log_detail::accepting_logger_fast(level))
    tk_log_detail::write_formatted(*logger, format, args...);
}

/// Writes one line at this level; a wide format (stored as UTF-8).
template <class... Args>
inline void tk_wlog(int level, std::wstring_view format, const Args&... args) noexcept {
  if (tk_logger* logger = tk_log_detail::accepting_logger_fast(level))
    tk_log_detail::write_formatted(*logger, format, args...);
}

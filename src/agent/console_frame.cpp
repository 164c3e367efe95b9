#include "agent/console_frame.h"

#include "tk/tk_format.h"
#include "tk/tk_string.h"

void console_write(std::FILE* stream, const std::string& text) noexcept {
  if (!stream) return;
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

void console_write_line(std::FILE* stream, const std::string& text) noexcept {
  if (!stream) return;
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

console_frame::console_frame(std::FILE* out, std::FILE* err, std::function<bool()> silent)
    : m_out(out), m_err(err), m_silent(std::move(silent)) {}

bool console_frame::is_silent() const { return m_silent && m_silent(); }

void console_frame::write_log(const std::wstring& text) {
  if (is_silent() || text.empty()) return;
  std::string line = tk_to_utf8(text);
  if (line.back() != '\n') line += '\n';
  console_write(m_out, line);
}

void console_frame::message(const std::wstring& text) {
  if (!is_silent()) console_write_line(m_out, tk_to_utf8(text));
}

void console_frame::error(const std::wstring& text) {
  // The run's own failures (outside the error handler) end up here: the error stream.
  if (!is_silent()) console_write_line(m_err, tk_to_utf8(text));
}

bool console_frame::question(const std::wstring&, bool default_no) { return !default_no; }

void console_frame::spreadsheet_started(const std::wstring& source, int sheet_count) {
  // No blank stands between the path and the parenthesis.
  if (!is_silent()) console_write_line(m_out, tk_format("Converting spreadsheet %s(%d worksheets)", source, sheet_count));
}

void console_frame::worksheet_started(const std::wstring& name) {
  if (!is_silent()) console_write_line(m_out, "Converting worksheet " + tk_to_utf8(name));
}

void console_frame::worksheets_not_found(const std::vector<std::wstring>& names) {
  if (is_silent()) return;
  for (const std::wstring& name : names) console_write_line(m_err, "Worksheet " + tk_to_utf8(name) + " not found");
}

void console_frame::run_finished() {
  if (m_out) std::fflush(m_out);
  if (m_err) std::fflush(m_err);
}

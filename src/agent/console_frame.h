#pragma once
// The agent's frame: what the wizard shows in windows, the agent writes as console lines.
// Progress lines go to the output stream; a failure that ends the run outside the error handler
// and worksheets missing from the selection go to the error stream; nothing is written while the
// run is silent.
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "converter/frame_services.h"

class console_frame : public frame_services {
 public:
  /// `silent` says whether output is suppressed now (the converter's silent option); none: never.
  console_frame(std::FILE* out, std::FILE* err, std::function<bool()> silent = {});

  /// The console keeps no list of errors for a final report.
  bool is_initialized() const override { return false; }
  void start_timer(unsigned) override {}
  void stop_timer() override {}
  /// The run's log lines (the schema line) bring their own line feed.
  void write_log(const std::wstring& text) override;
  void message(const std::wstring& text) override;
  using frame_services::error;
  void error(const std::wstring& text) override;
  /// No one can answer on the console: the default button is taken.
  bool question(const std::wstring& text, bool default_no) override;
  void display_help(int) override {}

  void spreadsheet_started(const std::wstring& source, int sheet_count) override;
  void worksheet_started(const std::wstring& name) override;
  void worksheets_not_found(const std::vector<std::wstring>& names) override;
  void run_finished() override;

 private:
  bool is_silent() const;

  std::FILE* m_out;
  std::FILE* m_err;
  std::function<bool()> m_silent;
};

/// Writes the text and a line feed, then flushes (piped output is otherwise block-buffered and
/// would interleave wrongly with the error stream). Never throws.
void console_write_line(std::FILE* stream, const std::string& text) noexcept;
/// Writes the text as it is, then flushes. Never throws.
void console_write(std::FILE* stream, const std::string& text) noexcept;

#pragma once
// The frame the converter and the error handler see: every operation forwards to the shell.
#include "converter/frame_services.h"

class wizard_shell;

class shell_frame : public frame_services {
 public:
  explicit shell_frame(wizard_shell& shell) : m_shell(shell) {}

  bool is_initialized() const override;
  void start_timer(unsigned period_ms) override;
  void stop_timer() override;
  void write_log(const std::wstring& text) override;
  void message(const std::wstring& text) override;
  using frame_services::error;
  void error(const std::wstring& text) override;
  bool question(const std::wstring& text, bool default_no) override;
  void display_help(int context_id) override;

  void spreadsheet_started(const std::wstring& source, int sheet_count) override;
  void worksheet_started(const std::wstring& name) override;
  /// One box: "These worksheets were not found in the workbook:" and one name a line.
  void worksheets_not_found(const std::vector<std::wstring>& names) override;
  void run_finished() override;
  void show_finish_page() override;

 private:
  wizard_shell& m_shell;
};

/// The text of the box that names worksheets missing from the workbook.
std::wstring missing_worksheets_text(const std::vector<std::wstring>& names);

#include "wizard/shell/shell_frame.h"

#include "wizard/shell/wizard_shell.h"
#include "converter/error_handler.h"
#include "tk/tk_format.h"
#include "tk/tk_logger.h"

bool shell_frame::is_initialized() const { return wizard_shell::is_initialized(); }
void shell_frame::start_timer(unsigned period_ms) { m_shell.start_timer(period_ms); }
void shell_frame::stop_timer() { m_shell.stop_timer(); }
void shell_frame::write_log(const std::wstring& text) { m_shell.write_log(text); }
void shell_frame::message(const std::wstring& text) { wizard_shell::message(text); }
void shell_frame::error(const std::wstring& text) { wizard_shell::error(text); }
bool shell_frame::question(const std::wstring& text, bool default_no) {
  return wizard_shell::question(text, default_no);
}
void shell_frame::display_help(int context_id) { wizard_shell::display_help(context_id); }

// The wizard shows progress from its timer, not from these events.
void shell_frame::spreadsheet_started(const std::wstring& source, int sheet_count) {
  tk_log(1, "Converting spreadsheet %s(%d worksheets)", source, sheet_count);
}
void shell_frame::worksheet_started(const std::wstring& name) { tk_log(1, "Converting worksheet %s", name); }
void shell_frame::run_finished() {}

std::wstring missing_worksheets_text(const std::vector<std::wstring>& names) {
  std::wstring text = L"These worksheets were not found in the workbook:";
  for (const std::wstring& name : names) text += L"\n" + name;
  return text;
}

void shell_frame::worksheets_not_found(const std::vector<std::wstring>& names) {
  if (names.empty()) return;
  // Each name was counted as an error: the finish page lists it as well.
  if (error_handler* handler = error_handler::instance_ptr())
    for (const std::wstring& name : names) handler->list_report(tk_format("Worksheet %s not found", name));
  wizard_shell::error(missing_worksheets_text(names));
}

void shell_frame::show_finish_page() { m_shell.show_finish_page(); }

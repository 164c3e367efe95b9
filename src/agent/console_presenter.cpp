#include "agent/console_presenter.h"

#include "agent/console_frame.h"

void console_presenter::internal_error(const std::string& message) {
  console_write_line(m_out, "Internal error: " + message);
}

void console_presenter::error(const std::string& text) { console_write_line(m_out, "Error:\n" + text); }

error_presenter::continue_answer console_presenter::ask_continue(const std::string& text) {
  error(text);
  return {};
}

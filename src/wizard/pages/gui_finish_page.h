#pragma once
// The last page: the outcome of the run (the success text, or the error text with the list of
// reported errors) and, in this wizard, "&Save Settings..." to keep the run's settings in a
// profile file.
#include <string>

#include "wizard/page/wizard_page.h"

class gui_finish_page : public wizard_page<116, wiz_finish, psp_hide_header> {
 public:
  static constexpr int id_title = 1313;
  static constexpr int id_text = 1314;
  static constexpr int id_errors = 1016;
  static constexpr int id_save = 1116;

  gui_finish_page(std::wstring success_text, std::wstring error_text, QWidget* parent = nullptr);

  /// Shows the outcome: the error text when errors were listed or counted during the run, or the
  /// log file lost lines (the list only when there are texts), else the success text. Cancel and Help are disabled from
  /// here on, Finish takes the focus.
  bool page_init() override;
  /// The line after the listed errors: how many more were reported, and the log file that holds
  /// them all when one was written (empty `log_file`: none).
  static std::string further_errors_line(unsigned further, const std::string& log_file);

  const std::wstring& success_text() const noexcept { return m_success_text; }
  const std::wstring& error_text() const noexcept { return m_error_text; }

 private:
  std::wstring m_success_text;
  std::wstring m_error_text;
};

/// The finish page with "&Save Settings...".
class gui_finish_page_t : public gui_finish_page {
 public:
  gui_finish_page_t(std::wstring success_text, std::wstring error_text, QWidget* parent = nullptr);

  void set_profile_ext(const std::wstring& ext) { m_profile_ext = ext; }
  const std::wstring& profile_ext() const noexcept { return m_profile_ext; }

  /// Asks for a profile file and saves the converter's settings in it; Cancel writes nothing. An
  /// extension that is not 3 or 4 characters long is the assertion "..\GUI2/g_finish" line 141.
  int on_store();

 private:
  std::wstring m_profile_ext = L"*";
};

#pragma once
// The first page: greets the user and offers "&Load Settings", which loads a profile file into
// the converter so that the following pages start filled in (each shows the values when it next
// becomes active).
#include <string>

#include "wizard/page/wizard_page.h"

class QLabel;

class welcome_page : public wizard_page<103, wiz_next, psp_hide_header | psp_has_help> {
 public:
  static constexpr int id_title = 1337;
  static constexpr int id_load = 1115;
  static constexpr int id_link = 1320;
  static constexpr int help_context = 1014;
  /// The maker's web site, behind the link.
  static constexpr const char* maker_site = "https://www.hollowmere.example/";

  explicit welcome_page(QWidget* parent = nullptr);

  /// The profile files' extension ("tmd"), without its dot.
  void set_profile_ext(const std::wstring& ext) { m_profile_ext = ext; }
  const std::wstring& profile_ext() const noexcept { return m_profile_ext; }

  /// Title font and the link, set up once.
  bool show();
  bool page_init() override;
  void on_help() override;

  /// "&Load Settings": a profile chosen by the user is loaded into the converter; the page stays.
  /** A profile that does not load is reported ("Cannot load profile file '%s'."); an error
      raised by the load goes to the error handler. The extension must be 3 or 4 characters long. */
  int on_load();

 private:
  std::wstring m_profile_ext;
  QLabel* m_link = nullptr;
  bool m_link_attached = false;
};

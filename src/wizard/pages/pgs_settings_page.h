#pragma once
// "Step 1 of 4": the PostgreSQL connection settings. Next stores them and connects, off the GUI
// thread (Cancel abandons the attempt); the page is left forwards only with a working connection.
#include <string>

#include "wizard/page/wizard_page.h"

class pgs_settings_page : public wizard_page<134, wiz_back | wiz_next, psp_has_help> {
 public:
  static constexpr int id_user = 1012;
  static constexpr int id_password = 1013;
  static constexpr int id_host = 1014;
  static constexpr int id_port = 1015;
  static constexpr int id_local = 1329;
  static constexpr int id_remote = 1330;
  static constexpr int help_context = 1010;

  explicit pgs_settings_page(QWidget* parent = nullptr);

  /// Fills the controls from the converter (every activation): a stored host means "&Remote".
  bool page_init() override;
  /// Stores the settings and connects; a failed connection is told in one box and the page stays.
  int on_next() override;
  /// Stores the settings without connecting.
  int on_back() override;
  void on_help() override;
  /// While a connection attempt is awaited, Cancel (or Escape, or the close box) abandons it and
  /// the page stays, so the user can correct the host; otherwise the usual question.
  bool on_cancel() override;
  /// The wizard closes: a connection attempt under way is abandoned.
  void stop_work() noexcept override;

  /// The controls into the converter: the host only under "&Remote", the port as its leading
  /// digits (0 when there are none or the number is too large).
  void store_settings();

  /// The text the connection failure shows: the PostgreSQL table's text for the code, else the
  /// exception's own text (without libpq's tab indents).
  static std::string connect_error_text(int code, const char* what);

 private:
  void on_local();
  void on_remote();
};

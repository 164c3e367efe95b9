#pragma once
// "Step 2 of 4": the workbook to convert and the PostgreSQL database to write into. Next checks
// the entries, opens the workbook, and asks what to do with a destination that already exists:
// the answer becomes the converter's mode, and the run carries it out (nothing is dropped on this
// page). A CSV source, chosen only by the stored settings or a profile, asks for a table name
// instead and what to do with an existing table; since only workbooks can be converted, its file
// must be one too.
#include <string>

#include "wizard/page/wizard_page.h"

class sel_file_page : public wizard_page<105, wiz_back | wiz_next, psp_has_help> {
 public:
  static constexpr int id_description = 1307;
  static constexpr int id_source_label = 1333;
  static constexpr int id_source = 1003;
  static constexpr int id_browse = 1103;
  static constexpr int id_dest_label = 1311;
  static constexpr int id_dest = 1004;
  static constexpr int id_field_names = 1222;
  static constexpr int id_refine_types = 1203;
  static constexpr int id_table_label = 1310;
  static constexpr int id_table = 1005;
  static constexpr int help_context = 1015;
  /// Help context of both overwrite warnings.
  static constexpr int overwrite_help_context = 1019;

  explicit sel_file_page(QWidget* parent = nullptr);

  /// Fills the controls from the converter (every activation).
  bool page_init() override;
  /// The checks in order; the first that fails tells the user and the page stays (-1).
  int on_next() override;
  /// Stores the entries without any check.
  int on_back() override;
  void on_help() override;

  /// Shows the controls of a workbook or of a CSV source.
  void show_source_kind(bool workbook);
  /// The controls into the converter: source, destination, and the workbook's two options or the
  /// CSV table name.
  void store_file_info();
  /// "Browse...": a workbook chosen by the user goes into the source box.
  int on_browse();
  /// True when the workbook opens and its worksheets can be listed with the current field-name
  /// setting; false when the engine cannot read it (`reason`, when given, gets the engine's
  /// words). No engine at all is a level-1 error.
  bool check_xls(const std::wstring& file, std::string* reason = nullptr);
  /// The message for a source that is missing, unreadable or a folder; empty for a readable file.
  static std::wstring source_problem(const std::wstring& file);
  /// "doesn't comply" followed by the engine's reason on a line of its own, when it gave one.
  static std::wstring not_a_workbook_text(const std::string& reason);

  /// What the destination box shows for the stored settings: the destination as stored, else the
  /// name of the source without folder and extension, else nothing (`keep` is false then).
  static std::wstring dest_display(const std::wstring& src, const std::wstring& dest, bool& keep);

 private:
  int next_for_workbook(bool db_exists);
  int next_for_csv(bool db_exists);

  /// The database option the user took on this page, or the mode of settings loaded since (-1:
  /// none yet); offered again on the next visit.
  int m_chosen_mode = -1;
  /// The converter's count of loaded profiles when this page last took the mode from it.
  unsigned m_profile_loads_seen = 0;
};

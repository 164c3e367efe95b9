#pragma once
// The worksheet page's two lists: entries offered on the left, chosen ones on the right, moved
// one at a time or all at once, and the chosen worksheets collected when the user goes on.
#include <map>
#include <string>
#include <vector>

#include "wizard/page/wizard_page.h"

class QListWidget;
class QListWidgetItem;

/// Two sorted single-selection lists (available 1317, selected 1318) and the buttons between them.
/** Both lists keep the order of a case-insensitive comparison, as a sorted list box does. Derived
    pages add query entries (entries that stand for a SELECT statement instead of a worksheet). */
class sel_tables_page : public wizard_page<127, wiz_back | wiz_next, psp_has_help> {
 public:
  using name_map = std::map<std::wstring, std::wstring>;

  static constexpr int id_description = 1337;
  static constexpr int id_available_label = 1334;
  static constexpr int id_available = 1317;
  static constexpr int id_add = 1101;
  static constexpr int id_add_all = 1102;
  static constexpr int id_remove = 1111;
  static constexpr int id_remove_all = 1110;
  static constexpr int id_add_query = 1114;
  static constexpr int id_selected_label = 1312;
  static constexpr int id_selected = 1318;

  /// `no_selection_question`: asked on Next when entries are offered and none is chosen (empty:
  /// nothing is asked).
  explicit sel_tables_page(std::wstring no_selection_question = {}, QWidget* parent = nullptr);

  /// Moves each named entry (exact name) from the available to the selected list, in key order.
  virtual void select_names(const name_map& names);
  /// Whether the entry stands for a query rather than a worksheet.
  virtual bool is_query(const std::wstring& name) const;
  /// An entry has just moved to the selected list / back to the available list.
  virtual void do_add_query(const std::wstring& name);
  virtual void do_remove_query(const std::wstring& name);

  void on_add();
  void on_add_all();
  void on_delete();
  void on_del_all();

  /// Fills the available list from names() and empties the selected list.
  void do_page_init();
  /// On Next: asks the no-selection question when it applies (No gives false), then makes
  /// names() the selected worksheets (query entries left out) in list order.
  bool collect_selection();

  /// The worksheets to offer; after collect_selection the chosen ones.
  const std::vector<std::wstring>& names() const noexcept { return m_names; }

  /// Entry texts of a list, top to bottom.
  static std::vector<std::wstring> entries(const QListWidget& list);

 protected:
  QListWidget& available_list() const;
  QListWidget& selected_list() const;

  void move_to_selected(int row);
  void move_to_available(int row);

  /// Inserts where the case-insensitive order puts it (after equal entries); returns the row.
  static int insert_sorted(QListWidget& list, const std::wstring& text);
  /// The row whose text equals `text` exactly, or -1.
  static int find_exact(const QListWidget& list, const std::wstring& text);
  /// Whether a row other than `except_row` equals `text` ignoring case.
  static bool contains_no_case(const QListWidget& list, const std::wstring& text, int except_row = -1);
  static std::wstring entry_text(const QListWidgetItem& item);

  /// A double click on the selected list (a derived page edits queries there).
  virtual void on_selected_double_click();

  std::vector<std::wstring> m_names;

 private:
  /// Selects a row of `list` and gives it the focus.
  static void focus_row(QListWidget& list, int row);

  std::wstring m_no_selection_question;
  QListWidget* m_available = nullptr;
  QListWidget* m_selected = nullptr;
};

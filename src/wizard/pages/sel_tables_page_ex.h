#pragma once
// The worksheet page with query entries: an entry may name a SELECT statement instead of a
// worksheet. Its text lives in one of two maps, by the list the entry is in.
#include "wizard/pages/sel_tables_page.h"

class sel_tables_page_ex : public sel_tables_page {
 public:
  explicit sel_tables_page_ex(QWidget* parent = nullptr);

  /// Worksheets move as on the plain page; a query (non-empty text) found in neither list
  /// (ignoring case) is added to the selected list with its text.
  void select_names(const name_map& names) override;
  /// The available-queries map becomes `queries`; each query with a text found in neither list
  /// (ignoring case) is offered in the available list.
  void load_available_queries(const name_map& queries);

  bool is_query(const std::wstring& name) const override;
  void do_add_query(const std::wstring& name) override;
  void do_remove_query(const std::wstring& name) override;
  /// Worksheets have no type mapping to show here.
  virtual void show_type_mapping(const std::wstring& name);

  /// Runs the query dialog for a new entry of the selected list.
  void on_add_query();
  /// Runs the query dialog on the current entry of the selected list (a worksheet: nothing).
  void on_edit_query();

  const name_map& selected_queries() const noexcept { return m_selected_queries; }
  const name_map& available_queries() const noexcept { return m_available_queries; }

 protected:
  /// Empties both lists and both maps' view of them before they are filled again.
  void clear_queries();
  void on_selected_double_click() override;

  /// Runs the dialog until the name is free (`except_row`: the selected entry being edited);
  /// false when cancelled. Name and text hold the initial values and receive the result.
  bool ask_query(std::wstring& name, std::wstring& text, int except_row);

 private:
  name_map m_selected_queries;
  name_map m_available_queries;
};

#include "wizard/pages/sel_tables_page_ex.h"

#include <QListWidget>
#include <QPushButton>

#include "wizard/app/ui_messages.h"
#include "tk/tk_logger.h"
#include "wizard/pages/set_query_dlg.h"
#include "wizard/shell/wizard_guard.h"
#include "wizard/shell/wizard_shell.h"

sel_tables_page_ex::sel_tables_page_ex(QWidget* parent) : sel_tables_page(ui_messages[33], parent) {
  auto* add_query = ctrl_as<QPushButton>(id_add_query);
  connect(add_query, &QPushButton::clicked, this, [this] { wizard_guard([this] { on_add_query(); }); });
}

void sel_tables_page_ex::clear_queries() {
  m_selected_queries.clear();
  m_available_queries.clear();
}

void sel_tables_page_ex::select_names(const name_map& names) {
  for (const auto& [name, text] : names) {
    if (!text.empty() && !contains_no_case(available_list(), name) && !contains_no_case(selected_list(), name)) {
      insert_sorted(selected_list(), name);
      m_selected_queries[name] = text;
      continue;
    }
    const int row = find_exact(available_list(), name);
    if (row >= 0) move_to_selected(row);
  }
}

void sel_tables_page_ex::load_available_queries(const name_map& queries) {
  m_available_queries = queries;
  for (const auto& [name, text] : queries) {
    // A query already chosen stays on the right only: one name, one entry.
    if (!text.empty() && !contains_no_case(available_list(), name) && !contains_no_case(selected_list(), name))
      insert_sorted(available_list(), name);
  }
}

bool sel_tables_page_ex::is_query(const std::wstring& name) const {
  return m_selected_queries.count(name) != 0 || m_available_queries.count(name) != 0;
}

void sel_tables_page_ex::do_add_query(const std::wstring& name) {
  tk_log(2, "sel_tables_page_ex::do_add_query(%s)", name);
  if (m_selected_queries.count(name)) return;
  const auto found = m_available_queries.find(name);
  if (found == m_available_queries.end()) return;
  tk_log(2, "Adding pair: '%s','%s'", found->first, found->second);
  m_selected_queries.insert(*found);
  m_available_queries.erase(found);
}

void sel_tables_page_ex::do_remove_query(const std::wstring& name) {
  const auto found = m_selected_queries.find(name);
  if (found == m_selected_queries.end()) return;
  m_available_queries[found->first] = found->second;
  m_selected_queries.erase(found);
}

void sel_tables_page_ex::show_type_mapping(const std::wstring&) {}

void sel_tables_page_ex::on_selected_double_click() { on_edit_query(); }

bool sel_tables_page_ex::ask_query(std::wstring& name, std::wstring& text, int except_row) {
  for (;;) {
    set_query_dlg dialog(name, text, window());
    if (dialog.exec() != 1) return false;
    name = dialog.name();
    text = dialog.text();
    // A name taken by another entry would put two entries under one key, or turn a worksheet
    // into a query that the run leaves out.
    if (!contains_no_case(available_list(), name) && !contains_no_case(selected_list(), name, except_row))
      return true;
    wizard_shell::message(L"Duplicate table name. Try again.");
  }
}

void sel_tables_page_ex::on_add_query() {
  tk_log(2, "sel_tables_page::on_add_query");
  std::wstring name, text;
  if (!ask_query(name, text, -1)) return;
  insert_sorted(selected_list(), name);
  m_selected_queries[name] = text;
}

void sel_tables_page_ex::on_edit_query() {
  tk_log(2, "sel_tables_page_ex::on_edit_query");
  QListWidget& selected = selected_list();
  const int row = selected.currentRow();
  if (row < 0 || !selected.item(row)->isSelected()) {
    tk_log(1, "Nothing is selected!");
    return;
  }
  const std::wstring old_name = entry_text(*selected.item(row));
  const auto found = m_selected_queries.find(old_name);
  if (found == m_selected_queries.end()) {
    tk_log(2, "It's not a query, show type mapping");
    show_type_mapping(old_name);
    return;
  }
  std::wstring name = old_name;
  std::wstring text = found->second;
  if (!ask_query(name, text, row)) return;
  m_selected_queries.erase(found);
  m_selected_queries[name] = text;
  delete selected.takeItem(row);
  selected.setCurrentRow(insert_sorted(selected, name));
}

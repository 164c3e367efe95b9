#include "wizard/pages/tmd_sel_tables_page.h"

#include <QLabel>

#include "converter/tamarind_convertor.h"
#include "tk/tk_logger.h"
#include "wizard/app/ui_messages.h"
#include "wizard/page/wait_cursor.h"
#include "wizard/shell/wizard_shell.h"

tmd_sel_tables_page::tmd_sel_tables_page(QWidget* parent) : sel_tables_page_ex(parent) {}

bool tmd_sel_tables_page::page_init() {
  tk_log(2, "tmd_sel_tables_page::page_init");
  ctrl_as<QLabel>(id_description)->setText(QString::fromStdWString(ui_messages[23]));
  ctrl_as<QLabel>(id_available_label)->setText(QString::fromStdWString(ui_messages[21]));
  ctrl_as<QLabel>(id_selected_label)->setText(QString::fromStdWString(ui_messages[22]));
  tamarind_convertor& converter = tamarind_convertor::instance();
  m_names.clear();
  {
    wait_cursor busy;
    converter.get_all_sheets(m_names);
  }
  clear_queries();
  do_page_init();
  show_ctrl(id_add_query, false);
  select_names(converter.get_selected());
  // A profile that names no worksheet converts every one: the page shows it so.
  if (converter.every_worksheet_by_profile()) on_add_all();
  load_available_queries(converter.get_available_queries());
  return true;
}

void tmd_sel_tables_page::on_help() { wizard_shell::display_help(help_context); }

int tmd_sel_tables_page::on_next() {
  tk_log(2, "tmd_sel_tables_page::on_next");
  if (!collect_selection()) return -1;
  tamarind_convertor& converter = tamarind_convertor::instance();
  // No worksheet on the right, confirmed: nothing is converted (never "every worksheet").
  if (names().empty())
    converter.choose_no_worksheet();
  else
    converter.set_sel_sheets(names());
  store_queries(converter);
  return 0;
}

void tmd_sel_tables_page::store_queries(tamarind_convertor& converter) const {
  converter.store_query_entries(selected_queries(), available_queries());
}

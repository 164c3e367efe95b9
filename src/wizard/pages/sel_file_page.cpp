#include "wizard/pages/sel_file_page.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <memory>
#include <vector>

#include "converter/tamarind_convertor.h"
#include "dao/dao_database.h"
#include "dao/dao_engine.h"
#include "dao/dao_exception.h"
#include "pgs/pgs_database.h"
#include "tk/tk_exception.h"
#include "tk/tk_file_name.h"
#include "tk/tk_format.h"
#include "tk/tk_logger.h"
#include "tk/tk_path.h"
#include "tk/tk_string.h"
#include "wizard/app/ui_messages.h"
#include "wizard/dialogs/file_dialog.h"
#include "wizard/page/wait_cursor.h"
#include "wizard/pages/overwrite_dlg.h"
#include "wizard/shell/wizard_guard.h"
#include "wizard/shell/wizard_shell.h"

namespace {

QLabel* make_static(QWidget* parent, int id, const QString& text = QString()) {
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);
  if (id) wizard_page_base::set_ctrl_id(label, id);
  return label;
}

QString qt_text(const wchar_t* text) { return QString::fromWCharArray(text); }

/// The window a modal warning belongs to: the active one, as the system would pick it.
QWidget* dialog_owner(QWidget* page) {
  if (QWidget* active = QApplication::activeWindow()) return active;
  return page->window();
}

/// The converter; none is the assertion of the calling site.
tamarind_convertor& required_converter(int line) {
  tamarind_convertor* converter = tamarind_convertor::instance_ptr();
  if (!converter) tk_throw_assertion("tmd_shel", line);
  return *converter;
}

}  // namespace

sel_file_page::sel_file_page(QWidget* parent) : wizard_page(parent) {
  tk_log(2, "sel_file_page::ctor");
  set_header(ui_messages[4], ui_messages[5]);

  QLabel* description = make_static(this, id_description);
  description->setWordWrap(true);
  QLabel* source_label = make_static(this, id_source_label);
  auto* source = new QLineEdit(this);
  set_ctrl_id(source, id_source);
  source_label->setBuddy(source);
  auto* browse = new QPushButton(QStringLiteral("Browse..."), this);
  set_ctrl_id(browse, id_browse);
  connect(browse, &QPushButton::clicked, this, [this] { wizard_guard([this] { on_browse(); }); });

  QLabel* dest_label = make_static(this, id_dest_label, QStringLiteral("&PostgreSQL database name:"));
  auto* dest = new QLineEdit(this);
  set_ctrl_id(dest, id_dest);
  dest_label->setBuddy(dest);

  // Ordinary check boxes: they toggle themselves; Next and Back store their state.
  auto* field_names = new QCheckBox(QStringLiteral("E&xtract field names from the first row"), this);
  set_ctrl_id(field_names, id_field_names);
  auto* refine = new QCheckBox(QStringLiteral("&Refine type conversion"), this);
  set_ctrl_id(refine, id_refine_types);

  QLabel* table_label = make_static(this, id_table_label, QStringLiteral("PostgreSQL &table name:"));
  auto* table = new QLineEdit(this);
  set_ctrl_id(table, id_table);
  table_label->setBuddy(table);

  auto* source_row = new QHBoxLayout;
  source_row->addWidget(source, 1);
  source_row->addWidget(browse);

  auto* column = new QVBoxLayout(this);
  column->addWidget(description);
  column->addSpacing(8);
  column->addWidget(source_label);
  column->addLayout(source_row);
  column->addWidget(dest_label);
  column->addWidget(dest);
  column->addWidget(field_names);
  column->addWidget(refine);
  column->addWidget(table_label);
  column->addWidget(table);
  column->addStretch(1);
}

void sel_file_page::show_source_kind(bool workbook) {
  show_ctrl(id_table_label, !workbook);
  show_ctrl(id_table, !workbook);
  show_ctrl(id_field_names, workbook);
  show_ctrl(id_refine_types, workbook);
  ctrl_as<QLabel>(id_description)->setText(qt_text(ui_messages[workbook ? 17 : 18]));
  ctrl_as<QLabel>(id_source_label)->setText(qt_text(ui_messages[workbook ? 10 : 11]));
}

std::wstring sel_file_page::dest_display(const std::wstring& src, const std::wstring& dest, bool& keep) {
  keep = false;
  // The destination is shown as stored: its name part would turn "sales.2020" into "sales" and
  // Next would then convert into another database.
  if (!dest.empty()) return dest;
  if (!src.empty()) return tk_file_wname(src).name();
  keep = true;
  return std::wstring();
}

bool sel_file_page::page_init() {
  tk_log(2, "sel_file_page::page_init");
  tamarind_convertor& converter = required_converter(271);
  const bool workbook = converter.get_from_xls();
  // Settings loaded since the last visit bring their mode: the overwrite question offers it as it
  // offers an answer given earlier on this page.
  if (converter.profile_loads() != m_profile_loads_seen) {
    m_profile_loads_seen = converter.profile_loads();
    m_chosen_mode = converter.get_mode();
  }
  show_source_kind(workbook);
  const std::wstring& src = converter.get_src();
  if (!src.empty())
    ctrl_as<QLineEdit>(id_source)->setText(QString::fromStdWString(tk_file_wname(src).get_full_name()));
  bool keep = false;
  const std::wstring dest = dest_display(src, converter.get_dest(), keep);
  if (!keep) ctrl_as<QLineEdit>(id_dest)->setText(QString::fromStdWString(dest));
  if (workbook) {
    ctrl_as<QCheckBox>(id_field_names)->setChecked(converter.get_x_fnames());
    ctrl_as<QCheckBox>(id_refine_types)->setChecked(converter.get_refine_types());
  } else if (!converter.get_tab_name().empty()) {
    ctrl_as<QLineEdit>(id_table)->setText(QString::fromStdWString(converter.get_tab_name()));
  }
  return true;
}

void sel_file_page::store_file_info() {
  tk_log(2, "sel_file_page::store_file_info");
  tamarind_convertor& converter = required_converter(326);
  converter.set_src(ctrl_as<QLineEdit>(id_source)->text().toStdWString());
  converter.set_dest(ctrl_as<QLineEdit>(id_dest)->text().toStdWString());
  // Only the controls of the source kind shown are read: hidden ones were never filled.
  if (converter.get_from_xls()) {
    converter.set_x_fnames(ctrl_as<QCheckBox>(id_field_names)->isChecked());
    converter.set_refine_types(ctrl_as<QCheckBox>(id_refine_types)->isChecked());
  } else {
    converter.set_tab_name(ctrl_as<QLineEdit>(id_table)->text().toStdWString());
  }
}

int sel_file_page::on_browse() {
  QLineEdit* source = ctrl_as<QLineEdit>(id_source);
  open_file_dialog dialog(window(), L"MS Excel Workbooks (.xls;.xlsx)|*.xls;*.xlsx|All Files (*.*)|*.*|",
                          L"Select data source to convert", source->text().toStdWString());
  // A name that opens as it stands: Enter in the dialog must not answer "File not found".
  dialog.keep_extension();
  if (dialog.run()) source->setText(QString::fromStdWString(dialog.get_file_name()));
  return 0;
}

bool sel_file_page::check_xls(const std::wstring& file, std::string* reason) {
  tk_log(2, "sel_file_page::check_xls");
  tamarind_convertor& converter = tamarind_convertor::instance();
  wait_cursor cursor;
  dao_engine engine(0);
  if (!engine.set_version_if(3) && !engine.set_version_if(0)) throw tk_exception(ui_messages[2], tk_level_error);
  try {
    // Opened and listed as the run will, so a workbook the run cannot read is refused here.
    std::unique_ptr<dao_database> database = xls_reader::open_xls(engine, file, converter.get_x_fnames());
    std::vector<std::wstring> sheets;
    converter.get_all_sheets(*database, sheets);
  } catch (const dao_exception& e) {
    tk_log(2, "Not a workbook the engine reads: %s", e.what());
    if (reason) *reason = e.what();
    return false;
  }
  return true;
}

std::wstring sel_file_page::source_problem(const std::wstring& file) {
  const QFileInfo info(QString::fromStdWString(file));
  if (info.isDir()) return tk_wformat(ui_msg_source_is_folder, file);
  if (!info.exists() || !tk_is_file_exist(file, tk_file_readable)) return ui_messages[8];
  return std::wstring();
}

std::wstring sel_file_page::not_a_workbook_text(const std::string& reason) {
  std::wstring text = ui_messages[12];
  // The engine's own words on a line of their own: what the user can act on.
  if (!reason.empty()) text += L"\n" + tk_utf8_to_unicode(reason);
  return text;
}

int sel_file_page::on_next() {
  tk_log(2, "sel_file_page::on_next");
  store_file_info();
  tamarind_convertor& converter = tamarind_convertor::instance();
  const std::wstring src = converter.get_src();
  const std::wstring dest = converter.get_dest();
  if (src.empty()) {
    wizard_shell::message(ui_messages[6]);
    return -1;
  }
  if (dest.empty()) {
    wizard_shell::message(ui_messages[7]);
    return -1;
  }
  const bool workbook = converter.get_from_xls();
  if (!workbook && converter.get_tab_name().empty()) {
    wizard_shell::message(ui_messages[13]);
    return -1;
  }
  // A missing file and a folder are told as such before the engine is asked; only workbooks are
  // converted, so a CSV source must be one as well.
  if (const std::wstring problem = source_problem(src); !problem.empty()) {
    wizard_shell::error(problem);
    return -1;
  }
  std::string reason;
  if (!check_xls(src, &reason)) {
    wizard_shell::error(not_a_workbook_text(reason));
    return -1;
  }
  bool exists = false;
  {
    wait_cursor cursor;
    exists = converter.get_engine().is_db_exist(dest);
  }
  return workbook ? next_for_workbook(exists) : next_for_csv(exists);
}

int sel_file_page::next_for_workbook(bool db_exists) {
  tamarind_convertor& converter = tamarind_convertor::instance();
  converter.set_replace_only(std::wstring());
  if (!db_exists) {
    // Nothing was asked: the run creates the database, and a profile saved afterwards must not
    // hold a replacement of the whole database that nobody chose.
    converter.set_mode(1);
    converter.check_dest();
    return 0;
  }
  tk_log(2, "PostgreSQL DB exists...");
  overwrite_dlg2 dialog(overwrite_help_context, ui_messages[1], dialog_owner(this));
  if (m_chosen_mode >= 0) dialog.preselect(m_chosen_mode);
  if (dialog.exec() != overwrite_dlg2::id_ok) return -1;
  m_chosen_mode = dialog.choice();
  // Only recorded: the run replaces the database once it has read the workbook, and a Cancel
  // before then leaves it as it is.
  converter.set_mode(m_chosen_mode);
  converter.check_dest();
  return 0;
}

int sel_file_page::next_for_csv(bool db_exists) {
  tamarind_convertor& converter = tamarind_convertor::instance();
  const std::wstring table = converter.get_tab_name();
  tk_log(2, "GOT TABLE '%s'", table);
  converter.set_replace_only(std::wstring());
  if (!db_exists) {
    tk_log(2, "PostgreSQL DB not exists...");
    if (!wizard_shell::question(ui_messages[14], true)) return -1;
    converter.set_mode(1);
    converter.check_dest();
    return 0;
  }
  std::unique_ptr<pgs_database> database;
  {
    wait_cursor cursor;
    database = converter.get_engine().open_db(converter.get_dest(), 4, std::wstring());
  }
  if (!database->is_table_exist(pgs_base_db::get_full_name(table))) {
    // Nothing was asked: the run writes this table and leaves any other existing one alone.
    converter.set_mode(1);
    converter.set_replace_only(table);
    converter.check_dest();
    return 0;
  }
  overwrite_dlg dialog(overwrite_help_context, ui_messages[9], dialog_owner(this));
  dialog.exec();
  switch (dialog.choice()) {
    case 1:
      // The answer was about this table: it is replaced by the run, as it writes; any other
      // table that already exists is left as it is.
      converter.set_mode(1);
      converter.set_replace_only(table);
      break;
    case 2:
      converter.set_mode(3);
      break;
    default:
      return -1;
  }
  converter.check_dest();
  return 0;
}

int sel_file_page::on_back() {
  store_file_info();
  return 0;
}

void sel_file_page::on_help() { wizard_shell::display_help(help_context); }

#include "wizard/pages/set_query_dlg.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "converter/tamarind_convertor.h"
#include "tk/tk_logger.h"
#include "wizard/page/wizard_page.h"
#include "wizard/shell/wizard_guard.h"
#include "tk/tk_string.h"
#include "wizard/shell/wizard_shell.h"

namespace {

constexpr std::wstring_view skipped_lead = L"\t\n\r ";
constexpr const wchar_t* not_select_text = L"The query must start with SELECT.";
constexpr const wchar_t* empty_query_text = L"Query is empty!";

QPushButton* add_button(QBoxLayout* row, const QString& text, int id) {
  auto* button = new QPushButton(text);
  wizard_page_base::set_ctrl_id(button, id);
  button->setAutoDefault(false);
  row->addWidget(button);
  return button;
}

}  // namespace

set_query_dlg::set_query_dlg(const std::wstring& name, const std::wstring& text, QWidget* parent)
    : QDialog(parent), m_name(name), m_text(text) {
  tk_log(2, "set_query_dlg::set_query_dlg");
  wizard_page_base::set_ctrl_id(this, dialog_id);
  setWindowTitle(QStringLiteral("Add Query"));
  setModal(true);

  auto* grid = new QGridLayout;
  auto* name_label = new QLabel(QStringLiteral("&Store as Table:"));
  m_name_edit = new QLineEdit;
  wizard_page_base::set_ctrl_id(m_name_edit, id_name);
  name_label->setBuddy(m_name_edit);
  auto* query_label = new QLabel(QStringLiteral("&Query:"));
  m_query_edit = new QPlainTextEdit;
  wizard_page_base::set_ctrl_id(m_query_edit, id_query);
  m_query_edit->setTabChangesFocus(true);
  query_label->setBuddy(m_query_edit);
  grid->addWidget(name_label, 0, 0);
  grid->addWidget(m_name_edit, 0, 1);
  grid->addWidget(query_label, 1, 0, Qt::AlignTop);
  grid->addWidget(m_query_edit, 1, 1);

  auto* buttons = new QHBoxLayout;
  QPushButton* test = add_button(buttons, QStringLiteral("&Test Query"), id_test);
  buttons->addStretch(1);
  QPushButton* ok = add_button(buttons, QStringLiteral("OK"), 1);
  ok->setDefault(true);
  QPushButton* cancel = add_button(buttons, QStringLiteral("Cancel"), 2);
  QPushButton* help = add_button(buttons, QStringLiteral("Help"), id_help);

  auto* outer = new QVBoxLayout(this);
  outer->addLayout(grid);
  outer->addLayout(buttons);

  connect(ok, &QPushButton::clicked, this, [this] { wizard_guard([this] { on_ok(); }); });
  connect(cancel, &QPushButton::clicked, this, [this] { reject(); });
  connect(test, &QPushButton::clicked, this, [this] { wizard_guard([this] { on_test(); }); });
  connect(help, &QPushButton::clicked, this, [this] { wizard_guard([this] { on_help(); }); });
  wizard_shell::bind_help_key(this, [this] { wizard_guard([this] { on_help(); }); });
  on_init();
}

void set_query_dlg::on_init() {
  tk_log(2, "set_query_dlg::on_init");
  m_name_edit->setText(QString::fromStdWString(m_name));
  m_query_edit->setPlainText(QString::fromStdWString(m_text));
  m_name_edit->setFocus();
}

std::wstring set_query_dlg::entered_name() const { return m_name_edit->text().toStdWString(); }
std::wstring set_query_dlg::entered_text() const { return m_query_edit->toPlainText().toStdWString(); }

bool set_query_dlg::check_query_text(const std::wstring& entered, std::wstring& text) {
  text = entered;
  if (text.empty()) return false;
  const std::size_t start = text.find_first_not_of(skipped_lead);
  if (start != std::wstring::npos) text.erase(0, start);
  if (text.size() < 6) return true;
  return tk_compare_no_case(std::wstring_view(text).substr(0, 6), L"SELECT") != 0;
}

void set_query_dlg::on_test() {
  const std::wstring entered = entered_text();
  std::wstring trimmed;
  if (check_query_text(entered, trimmed)) {
    wizard_shell::error(not_select_text);
    return;
  }
  // Testing nothing would confirm an empty query as correct.
  if (trimmed.empty()) {
    wizard_shell::error(empty_query_text);
    return;
  }
  tamarind_convertor::instance().test_query(entered);
  wizard_shell::message(L"The query is correct.");
}

void set_query_dlg::on_ok() {
  tk_log(2, "set_query_dlg::on_ok");
  const std::wstring name = entered_name();
  if (name.empty()) {
    wizard_shell::message(L"Table name is empty!");
    return;
  }
  std::wstring text;
  if (check_query_text(entered_text(), text)) {
    wizard_shell::error(not_select_text);
    return;
  }
  if (text.empty()) {
    wizard_shell::error(empty_query_text);
    return;
  }
  m_name = name;
  m_text = text;
  done(1);
}

void set_query_dlg::reject() {
  tk_log(2, "set_query_dlg::on_cancel");
  done(2);
}

void set_query_dlg::on_help() { wizard_shell::display_help(help_context); }

#include "wizard/pages/sel_tables_page.h"

#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "tk/tk_logger.h"
#include "tk/tk_string.h"
#include "wizard/shell/wizard_guard.h"
#include "wizard/shell/wizard_shell.h"

namespace {

QListWidget* make_list(int id) {
  auto* list = new QListWidget;
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  wizard_page_base::set_ctrl_id(list, id);
  return list;
}

QPushButton* make_button(const char* text, int id) {
  auto* button = new QPushButton(QString::fromUtf8(text));
  button->setAutoDefault(false);
  // Never narrower than its text ("< Re&move all" was cut).
  button->setMinimumWidth(button->sizeHint().width());
  wizard_page_base::set_ctrl_id(button, id);
  return button;
}

QLabel* make_label(int id, QWidget* buddy = nullptr) {
  auto* label = new QLabel;
  wizard_page_base::set_ctrl_id(label, id);
  if (buddy) label->setBuddy(buddy);
  return label;
}

}  // namespace

sel_tables_page::sel_tables_page(std::wstring no_selection_question, QWidget* parent)
    : wizard_page(parent), m_no_selection_question(std::move(no_selection_question)) {
  tk_log(2, "sel_tables_page::ctor");
  m_available = make_list(id_available);
  m_selected = make_list(id_selected);
  QLabel* description = make_label(id_description);
  description->setWordWrap(true);
  QLabel* available_label = make_label(id_available_label, m_available);
  QLabel* selected_label = make_label(id_selected_label, m_selected);

  QPushButton* add = make_button("A&dd >", id_add);
  QPushButton* add_all = make_button("Add a&ll >", id_add_all);
  QPushButton* remove = make_button("< &Remove", id_remove);
  QPushButton* remove_all = make_button("< Re&move all", id_remove_all);
  QPushButton* add_query = make_button("&Add Query", id_add_query);
  add_query->hide();  // the wizard adds no query: entries come from a profile

  auto* buttons = new QVBoxLayout;
  buttons->addStretch(1);
  for (QPushButton* button : {add, add_all, remove, remove_all, add_query}) buttons->addWidget(button);
  buttons->addStretch(1);

  auto* grid = new QGridLayout(this);
  grid->addWidget(description, 0, 0, 1, 3);
  grid->addWidget(available_label, 1, 0);
  grid->addWidget(selected_label, 1, 2);
  grid->addWidget(m_available, 2, 0);
  grid->addLayout(buttons, 2, 1);
  grid->addWidget(m_selected, 2, 2);
  grid->setColumnStretch(0, 1);
  grid->setColumnStretch(2, 1);

  const auto guarded = [this](void (sel_tables_page::*handler)()) {
    return [this, handler] { wizard_guard([this, handler] { (this->*handler)(); }); };
  };
  connect(add, &QPushButton::clicked, this, guarded(&sel_tables_page::on_add));
  connect(add_all, &QPushButton::clicked, this, guarded(&sel_tables_page::on_add_all));
  connect(remove, &QPushButton::clicked, this, guarded(&sel_tables_page::on_delete));
  connect(remove_all, &QPushButton::clicked, this, guarded(&sel_tables_page::on_del_all));
  connect(m_available, &QListWidget::itemDoubleClicked, this, guarded(&sel_tables_page::on_add));
  connect(m_selected, &QListWidget::itemDoubleClicked, this,
          guarded(&sel_tables_page::on_selected_double_click));
}

QListWidget& sel_tables_page::available_list() const { return *m_available; }
QListWidget& sel_tables_page::selected_list() const { return *m_selected; }

std::wstring sel_tables_page::entry_text(const QListWidgetItem& item) { return item.text().toStdWString(); }

std::vector<std::wstring> sel_tables_page::entries(const QListWidget& list) {
  std::vector<std::wstring> result;
  result.reserve(static_cast<std::size_t>(list.count()));
  for (int row = 0; row < list.count(); ++row) result.push_back(entry_text(*list.item(row)));
  return result;
}

int sel_tables_page::insert_sorted(QListWidget& list, const std::wstring& text) {
  int row = 0;
  while (row < list.count() && tk_compare_no_case(entry_text(*list.item(row)), text) <= 0) ++row;
  list.insertItem(row, QString::fromStdWString(text));
  return row;
}

int sel_tables_page::find_exact(const QListWidget& list, const std::wstring& text) {
  for (int row = 0; row < list.count(); ++row)
    if (entry_text(*list.item(row)) == text) return row;
  return -1;
}

bool sel_tables_page::contains_no_case(const QListWidget& list, const std::wstring& text, int except_row) {
  for (int row = 0; row < list.count(); ++row)
    if (row != except_row && tk_compare_no_case(entry_text(*list.item(row)), text) == 0) return true;
  return false;
}

void sel_tables_page::focus_row(QListWidget& list, int row) {
  list.setFocus(Qt::OtherFocusReason);
  if (row >= 0 && row < list.count()) list.setCurrentRow(row);
}

// ---- virtual operations of the plain page --------------------------------------------------

void sel_tables_page::select_names(const name_map& names) {
  for (const auto& entry : names) {
    const int row = find_exact(*m_available, entry.first);
    if (row >= 0) move_to_selected(row);
  }
}

bool sel_tables_page::is_query(const std::wstring&) const { return false; }
void sel_tables_page::do_add_query(const std::wstring&) {}
void sel_tables_page::do_remove_query(const std::wstring&) {}
void sel_tables_page::on_selected_double_click() {}

// ---- moving entries ------------------------------------------------------------------------

void sel_tables_page::move_to_selected(int row) {
  QListWidgetItem* item = m_available->item(row);
  if (!item) return;
  const std::wstring text = entry_text(*item);
  insert_sorted(*m_selected, text);
  delete m_available->takeItem(row);
  if (is_query(text)) do_add_query(text);
}

void sel_tables_page::move_to_available(int row) {
  QListWidgetItem* item = m_selected->item(row);
  if (!item) return;
  const std::wstring text = entry_text(*item);
  insert_sorted(*m_available, text);
  delete m_selected->takeItem(row);
  if (is_query(text)) do_remove_query(text);
}

void sel_tables_page::on_add() {
  tk_log(2, "sel_tables_page::on_add");
  const int row = m_available->currentRow();
  if (row < 0 || !m_available->item(row)->isSelected()) return;
  move_to_selected(row);
  if (m_available->count() > 0)
    m_available->setCurrentRow(std::min(row, m_available->count() - 1));
  else
    focus_row(*m_selected, 0);
}

void sel_tables_page::on_add_all() {
  tk_log(2, "sel_tables_page::on_add_all");
  while (m_available->count() > 0) move_to_selected(0);
  focus_row(*m_selected, 0);
}

void sel_tables_page::on_delete() {
  tk_log(2, "sel_tables_page::on_delete");
  const int row = m_selected->currentRow();
  if (row < 0 || !m_selected->item(row)->isSelected()) return;
  move_to_available(row);
  if (m_selected->count() > 0)
    m_selected->setCurrentRow(std::min(row, m_selected->count() - 1));
  else
    focus_row(*m_available, 0);
}

void sel_tables_page::on_del_all() {
  tk_log(2, "sel_tables_page::on_del_all");
  while (m_selected->count() > 0) move_to_available(0);
  focus_row(*m_available, 0);
}

// ---- filling and collecting ----------------------------------------------------------------

void sel_tables_page::do_page_init() {
  tk_log(2, "sel_tables_page::do_page_init");
  m_available->clear();
  m_selected->clear();
  for (const std::wstring& name : m_names) insert_sorted(*m_available, name);
  if (m_available->count() > 0) m_available->setCurrentRow(0);
}

bool sel_tables_page::collect_selection() {
  if (m_available->count() > 0 && m_selected->count() == 0 && !m_no_selection_question.empty() &&
      !wizard_shell::question(m_no_selection_question, true))
    return false;
  m_names.clear();
  for (const std::wstring& name : entries(*m_selected))
    if (!is_query(name)) m_names.push_back(name);
  return true;
}

#include "wizard/pages/gui_finish_page.h"

#include <QAbstractButton>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QVBoxLayout>
#include <QWizard>
#include <algorithm>

#include "converter/run_log.h"
#include "converter/tamarind_convertor.h"
#include "tk/tk_exception.h"
#include "tk/tk_format.h"
#include "tk/tk_logger.h"
#include "wizard/app/ui_messages.h"
#include "wizard/dialogs/file_dialog.h"
#include "wizard/shell/wizard_guard.h"
#include "wizard/shell/wizard_shell.h"

namespace {

void set_sheet_button(QWizard* sheet, QWizard::WizardButton which, bool enable) {
  if (!sheet) return;
  if (QAbstractButton* button = sheet->button(which)) {
    tk_log(2, "wizard_shell::enable_button(%08X)", static_cast<unsigned>(which));
    button->setEnabled(enable);
  }
}

}  // namespace

gui_finish_page::gui_finish_page(std::wstring success_text, std::wstring error_text, QWidget* parent)
    : wizard_page(parent), m_success_text(std::move(success_text)), m_error_text(std::move(error_text)) {
  tk_log(2, "gui_finish_page::ctor");
  auto* title = new QLabel(QString::fromUtf8(ui_msg_finish_title));
  set_ctrl_id(title, id_title);
  auto* text = new QLabel;
  text->setWordWrap(true);
  set_ctrl_id(text, id_text);
  auto* errors = new QPlainTextEdit;
  errors->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  errors->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  errors->hide();
  set_ctrl_id(errors, id_errors);
  auto* save = new QPushButton(QStringLiteral("&Save Settings..."));
  save->setAutoDefault(false);
  set_ctrl_id(save, id_save);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(title);
  layout->addSpacing(12);
  layout->addWidget(text);
  layout->addWidget(errors, 1);
  layout->addStretch(0);
  auto* save_row = new QHBoxLayout;
  save_row->addWidget(save);
  save_row->addStretch(1);
  layout->addLayout(save_row);
}

bool gui_finish_page::page_init() {
  tk_log(2, "gui_finish_page::page_init");
  auto* title = ctrl_as<QLabel>(id_title);
  QFont& font = page_font();
  if (font.pointSize() != 13) {
    font = title->font();
    font.setPointSize(13);
    font.setWeight(QFont::Normal);
  }
  title->setFont(font);

  QWizard* sheet = wizard();
  set_sheet_button(sheet, QWizard::CancelButton, false);
  set_sheet_button(sheet, QWizard::HelpButton, false);

  wizard_shell* shell = wizard_shell::instance_ptr();
  const std::vector<std::string> errors = shell ? shell->errors() : std::vector<std::string>();
  // Some errors were told in a box of their own and never listed (worksheets not found, a
  // failure outside the handler): the count tells of them.
  const unsigned counted = shell ? shell->errors_since_run_start() : 0u;
  // A log file named in the settings that lost lines is an error of the run as well.
  const std::string log_failure = log_failure_text();
  const bool failed = !errors.empty() || counted > 0 || !log_failure.empty();
  const tamarind_convertor* converter = tamarind_convertor::instance_ptr();
  auto* text = ctrl_as<QLabel>(id_text);
  auto* list = ctrl_as<QPlainTextEdit>(id_errors);
  if (!failed) {
    const bool nothing = converter && converter->no_worksheet_chosen();
    tk_log(2, nothing ? "Display nothing-converted message" : "Display success-message");
    title->setText(QString::fromUtf8(nothing ? ui_msg_finish_title_nothing : ui_msg_finish_title));
    text->setText(QString::fromStdWString(nothing ? std::wstring(ui_msg_nothing_converted) : m_success_text));
    list->hide();
  } else {
    tk_log(2, "Display errors");
    title->setText(QString::fromUtf8(ui_msg_finish_title_errors));
    text->setText(QString::fromStdWString(m_error_text));
    list->setVisible(!errors.empty() || !log_failure.empty());
    // An entry is its message, and the reason on a line of its own when one follows. Without a
    // log file the list holds every error of the run: built whole, then set once.
    QString entries;
    for (const std::string& error : errors) entries += QString::fromUtf8(error.c_str()) + QStringLiteral("\n\n");
    if (!log_failure.empty()) entries += QString::fromUtf8(log_failure.c_str()) + QStringLiteral("\n\n");
    if (!errors.empty() && counted > errors.size())
      entries += QString::fromUtf8(
          further_errors_line(counted - static_cast<unsigned>(errors.size()), written_log_file()).c_str());
    list->setPlainText(entries);
    list->setReadOnly(true);
    // The list never starts out selected or scrolled to its end.
    list->moveCursor(QTextCursor::Start);
  }
  if (sheet)
    if (QAbstractButton* finish = sheet->button(QWizard::FinishButton)) finish->setFocus(Qt::OtherFocusReason);
  return true;
}

std::string gui_finish_page::further_errors_line(unsigned further, const std::string& log_file) {
  if (log_file.empty()) return tk_format(ui_msg_further_errors, further);
  return tk_format(ui_msg_further_errors_log, further, log_file);
}

// ---- with "&Save Settings..." --------------------------------------------------------------

gui_finish_page_t::gui_finish_page_t(std::wstring success_text, std::wstring error_text, QWidget* parent)
    : gui_finish_page(std::move(success_text), std::move(error_text), parent) {
  connect(ctrl_as<QPushButton>(id_save), &QPushButton::clicked, this, [this] { wizard_guard([this] { on_store(); }); });
}

int gui_finish_page_t::on_store() {
  const std::wstring filter = file_dialog::profile_filter(m_profile_ext);
  tk_log(2, "gui_finish_page_t::on_store(%s)", filter);
  if (m_profile_ext.size() < 3 || m_profile_ext.size() > 4) TK_ASSERT_SITE("..\\GUI2/g_finish", 141);
  // A profile without worksheets converts every worksheet: it would do more than this run did.
  if (tamarind_convertor::instance().no_worksheet_chosen()) {
    wizard_shell::message(ui_msg_nothing_to_save);
    return 0;
  }
  save_file_dialog dialog(window(), filter, L"Select Profile File", L"", m_profile_ext);
  if (!dialog.run()) return 0;
  const std::wstring path = dialog.get_file_name();
  if (!tamarind_convertor::instance().save_profile_file(path))
    wizard_shell::error(tk_format(ui_msg_cannot_save_profile, path));
  return 0;
}

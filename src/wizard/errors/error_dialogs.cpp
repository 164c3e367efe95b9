#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "wizard/errors/dlg_error_continue.h"
#include "wizard/errors/dlg_error_ex.h"
#include "wizard/page/wizard_page.h"
#include "wizard/shell/wizard_guard.h"
#include "wizard/shell/wizard_shell.h"
#include "tk/tk_logger.h"
#include "tk/tk_send_bug.h"
#include "tk/tk_string.h"

QString error_dialog_caption() {
  if (wizard_shell* shell = wizard_shell::initialized_instance())
    return QString::fromStdWString(shell->title()) + QStringLiteral(" Error");
  return QStringLiteral("Error");
}

namespace {

/// The common frame of both dialogs: the error icon beside the message, the buttons below.
QHBoxLayout* build_frame(QDialog& dialog, const std::wstring& message) {
  dialog.setWindowTitle(error_dialog_caption());
  dialog.setWindowModality(Qt::ApplicationModal);
  auto* outer = new QVBoxLayout(&dialog);
  auto* top = new QHBoxLayout;
  auto* icon = new QLabel(&dialog);
  const int size = dialog.style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, &dialog);
  icon->setPixmap(dialog.style()->standardIcon(QStyle::SP_MessageBoxCritical, nullptr, &dialog).pixmap(size, size));
  icon->setAlignment(Qt::AlignTop);
  auto* text = new QLabel(QString::fromStdWString(message), &dialog);
  wizard_page_base::set_ctrl_id(text, 1320);
  text->setTextFormat(Qt::PlainText);
  text->setWordWrap(true);
  text->setTextInteractionFlags(Qt::TextSelectableByMouse);
  top->addWidget(icon);
  top->addWidget(text, 1);
  outer->addLayout(top);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  outer->addLayout(buttons);
  return buttons;
}

QPushButton* add_button(QDialog& dialog, QHBoxLayout* row, const QString& text, int id) {
  auto* button = new QPushButton(text, &dialog);
  wizard_page_base::set_ctrl_id(button, id);
  button->setAutoDefault(false);
  row->addWidget(button);
  return button;
}

}  // namespace

// ---- internal error ------------------------------------------------------------------------

dlg_error_ex::dlg_error_ex(const std::wstring& message, QWidget* parent) : QDialog(parent), m_message(message) {
  tk_log(1, "dlg_error_ex::ctor");
  setObjectName(QStringLiteral("dlg_error_ex"));
  QHBoxLayout* row = build_frame(*this, message);
  QPushButton* send = add_button(*this, row, QStringLiteral("Send bug"), id_send_bug);
  QPushButton* ok = add_button(*this, row, QStringLiteral("OK"), id_ok);
  QPushButton* copy = add_button(*this, row, QStringLiteral("Copy to clipboard"), id_copy);
  send->setDefault(true);
  connect(send, &QPushButton::clicked, this, [this] { wizard_guard([this] { send_bug(); }); });
  connect(ok, &QPushButton::clicked, this, [this] { done(id_ok); });
  connect(copy, &QPushButton::clicked, this, [this] { wizard_guard([this] { copy_to_clipboard(); }); });
  tk_log(1, "dlg_error_ex::on_init");
}

void dlg_error_ex::reject() { done(id_ok); }

void dlg_error_ex::copy_to_clipboard() {
  if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->setText(QString::fromStdWString(m_message));
  done(id_copy);
}

void dlg_error_ex::send_bug() {
  // The subject names the wizard only once its window is set up, as the caption does.
  wizard_shell* shell = wizard_shell::initialized_instance();
  const std::string subject = shell ? tk_to_utf8(shell->title()) : std::string();
  tk_send_bug(subject, tk_to_utf8(m_message));
  done(id_send_bug);
}

// ---- recoverable error ---------------------------------------------------------------------

dlg_error_continue::dlg_error_continue(const std::wstring& message, QWidget* parent)
    : QDialog(parent), m_message(message) {
  tk_log(1, "dlg_error_continue::ctor");
  setObjectName(QStringLiteral("dlg_error_continue"));
  QHBoxLayout* row = build_frame(*this, message);
  // The box is not automatic: the click handler sets its state, as the dialog keeps it.
  auto* box = new QCheckBox(QStringLiteral("&Do not show this dialog box again"), this);
  wizard_page_base::set_ctrl_id(box, id_do_not_show);
  box->setCheckable(true);
  static_cast<QVBoxLayout*>(layout())->insertWidget(1, box);
  connect(box, &QCheckBox::toggled, this, [this](bool) { toggle_do_not_show(); });
  QPushButton* go_on = add_button(*this, row, QStringLiteral("Continue"), id_continue);
  QPushButton* abort = add_button(*this, row, QStringLiteral("Abort"), id_abort);
  go_on->setDefault(true);
  go_on->setFocus();
  connect(go_on, &QPushButton::clicked, this, [this] { done(id_continue); });
  connect(abort, &QPushButton::clicked, this, [this] { done(id_abort); });
  tk_log(1, "dlg_error_continue::on_init");
}

void dlg_error_continue::reject() { done(id_continue); }

void dlg_error_continue::toggle_do_not_show() {
  auto* box = findChild<QCheckBox*>(wizard_page_base::ctrl_name(id_do_not_show));
  m_do_not_show = box && box->isChecked();
}

#include "wizard/pages/overwrite_dlg.h"

#include <QApplication>
#include <QAbstractButton>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "wizard/page/wizard_page.h"
#include "wizard/shell/wizard_guard.h"
#include "wizard/shell/wizard_shell.h"

// ---- shared look -------------------------------------------------------------------------

overwrite_dlg_base::overwrite_dlg_base(int dialog_id, int help_context, const std::wstring& text, QWidget* parent)
    : QDialog(parent), m_help_context(help_context), m_text(text) {
  wizard_page_base::set_ctrl_id(this, dialog_id);
  setModal(true);
  setWindowModality(Qt::ApplicationModal);
  // The caption needs the shell; asking for it here lets a missing shell reach the caller's
  // handler instead of escaping from an event of the dialog.
  setWindowTitle(QString::fromStdWString(wizard_shell::instance().title() + L" Warning"));

  auto* icon = new QLabel(this);
  icon->setObjectName(QStringLiteral("warning_icon"));
  const int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
  icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this).pixmap(size, size));
  icon->setAlignment(Qt::AlignTop);

  m_text_label = new QLabel(QString::fromStdWString(m_text), this);
  wizard_page_base::set_ctrl_id(m_text_label, 1320);
  m_text_label->setTextFormat(Qt::PlainText);
  m_text_label->setWordWrap(false);

  auto* top = new QHBoxLayout;
  top->addWidget(icon);
  top->addWidget(m_text_label, 1);
  auto* column = new QVBoxLayout(this);
  column->addLayout(top);
  wizard_shell::bind_help_key(this, [this] { on_help(); });
}

QPushButton* overwrite_dlg_base::make_button(const QString& label, int id) {
  auto* button = new QPushButton(label, this);
  wizard_page_base::set_ctrl_id(button, id);
  button->setAutoDefault(false);
  return button;
}

void overwrite_dlg_base::on_init() {
  tk_log(2, "overwrite_dlg::on_init");
  // Centre over the window that owns the dialog, else on its screen.
  QRect area;
  if (QWidget* owner = parentWidget(); owner && owner->isVisible())
    area = owner->window()->frameGeometry();
  else if (QScreen* screen = this->screen())
    area = screen->availableGeometry();
  if (area.isValid()) move(area.center() - rect().center());
  raise();
  activateWindow();
  QApplication::beep();
}

void overwrite_dlg_base::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (m_initialised) return;
  m_initialised = true;
  on_init();
}

void overwrite_dlg_base::reject() { done(id_cancel); }

void overwrite_dlg_base::on_help() {
  // The dialog stays open; a missing help file is the shell's to report.
  wizard_guard([this] { wizard_shell::display_help(m_help_context); });
}

// ---- dialog 120: the table exists --------------------------------------------------------

overwrite_dlg::overwrite_dlg(int help_context, const std::wstring& text, QWidget* parent)
    : overwrite_dlg_base(dialog_id, help_context, text, parent) {
  tk_log(2, "overwrite_dlg::overwrite_dlg");
  QPushButton* cancel = make_button(QStringLiteral("Cancel"), id_cancel);
  QPushButton* overwrite = make_button(QStringLiteral("&Overwrite"), id_overwrite);
  QPushButton* merge = make_button(QStringLiteral("&Merge"), id_merge);
  QPushButton* help = make_button(QStringLiteral("Help"), id_help);
  cancel->setDefault(true);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(overwrite);
  buttons->addWidget(merge);
  buttons->addWidget(cancel);
  buttons->addWidget(help);
  static_cast<QVBoxLayout*>(layout())->addLayout(buttons);

  connect(cancel, &QPushButton::clicked, this, [this] { done(id_cancel); });
  connect(overwrite, &QPushButton::clicked, this, [this] {
    m_choice = 1;
    done(id_overwrite);
  });
  connect(merge, &QPushButton::clicked, this, [this] {
    m_choice = 2;
    done(id_merge);
  });
  connect(help, &QPushButton::clicked, this, [this] { on_help(); });
  cancel->setFocus();
}

// ---- dialog 121: the database exists -----------------------------------------------------

overwrite_dlg2::overwrite_dlg2(int help_context, const std::wstring& text, QWidget* parent)
    : overwrite_dlg_base(dialog_id, help_context, text, parent) {
  tk_log(2, "overwrite_dlg2::ctor");
  static const char* const labels[] = {"&Overwrite the entire database", "Overwrite existing &tables only",
                                       "&Skip existing tables", "&Merge"};
  m_options = new QButtonGroup(this);
  m_options->setExclusive(true);
  auto* column = static_cast<QVBoxLayout*>(layout());
  for (int i = 0; i < 4; ++i) {
    auto* option = new QRadioButton(QString::fromUtf8(labels[i]), this);
    wizard_page_base::set_ctrl_id(option, first_option_id + i);
    m_options->addButton(option, first_option_id + i);
    column->addWidget(option);
  }
  m_options->button(first_option_id)->setChecked(true);

  QPushButton* ok = make_button(QStringLiteral("OK"), id_ok);
  QPushButton* cancel = make_button(QStringLiteral("Cancel"), id_cancel);
  QPushButton* help = make_button(QStringLiteral("Help"), id_help);
  ok->setDefault(true);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  buttons->addWidget(help);
  column->addLayout(buttons);

  connect(ok, &QPushButton::clicked, this, [this] { on_ok(); });
  connect(cancel, &QPushButton::clicked, this, [this] { done(id_cancel); });
  connect(help, &QPushButton::clicked, this, [this] { on_help(); });
}

void overwrite_dlg2::preselect(int mode) {
  if (QAbstractButton* option = m_options->button(first_option_id + mode)) option->setChecked(true);
}

void overwrite_dlg2::on_ok() {
  const int checked = m_options->checkedId();
  if (checked < first_option_id || checked > first_option_id + 3) {
    // The group is exclusive and starts with an option checked; anything else is a broken dialog.
    // Reported from here, never thrown out of the button's signal.
    wizard_guard([] { TK_ASSERT_SITE("..\\common/over_dlg", 156); });
    return;
  }
  m_choice = checked - first_option_id;
  done(id_ok);
}

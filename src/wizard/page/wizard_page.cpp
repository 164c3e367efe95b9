#include "wizard/page/wizard_page.h"

#include <QAbstractButton>
#include <QCheckBox>

#include "wizard/shell/wizard_shell.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_string.h"

wizard_page_base::wizard_page_base(int page_id, int buttons, int flags, QWidget* parent)
    : QWizardPage(parent), m_page_id(page_id), m_buttons(buttons), m_flags(flags) {
  setObjectName(QStringLiteral("page_%1").arg(page_id));
}

wizard_page_base::~wizard_page_base() { tk_log(2, "wizard_page::dtor"); }

bool wizard_page_base::page_init() { return true; }
bool wizard_page_base::on_kill_active() { return true; }
bool wizard_page_base::on_finish() { return true; }
void wizard_page_base::on_help() {}
int wizard_page_base::on_next() { return 0; }
int wizard_page_base::on_back() { return 0; }
void wizard_page_base::on_timer() {}
void wizard_page_base::stop_work() noexcept {}

bool wizard_page_base::on_cancel() {
  tk_log(2, "wizard_page::on_cancel");
  return wizard_shell::question(L"Are you sure you want to exit the wizard?", true);
}

void wizard_page_base::set_header(const std::wstring& title, const std::wstring& subtitle) {
  setTitle(QString::fromStdWString(title));
  setSubTitle(QString::fromStdWString(subtitle));
}

QString wizard_page_base::ctrl_name(int id) { return QStringLiteral("id_%1").arg(id); }

void wizard_page_base::set_ctrl_id(QWidget* control, int id) {
  if (control) control->setObjectName(ctrl_name(id));
}

void wizard_page_base::missing_ctrl() { TK_ASSERT_SITE("..\\GUI2/g_wiz_pg", 123); }

QWidget* wizard_page_base::ctrl(int id) const { return ctrl_as<QWidget>(id); }

void wizard_page_base::show_ctrl(int id, bool show) {
  tk_log(1, "wizard_page::show_ctrl(%d=%d)", id, show ? 1 : 0);
  ctrl(id)->setVisible(show);
}

void wizard_page_base::enable_ctrl(int id, bool enable) {
  tk_log(1, "wizard_page::enable_ctrl(%d=%d)", id, enable ? 1 : 0);
  QWidget* control = ctrl(id);
  control->setEnabled(enable);
  if (enable) control->setFocus(Qt::OtherFocusReason);
}

bool wizard_page_base::invert_chbox(int id) {
  tk_log(1, "wizard_page::invert_chbox(%d)", id);
  QAbstractButton* box = ctrl_as<QAbstractButton>(id);
  if (!box->isCheckable()) missing_ctrl();
  const bool was_checked = [&] {
    if (auto* check = qobject_cast<QCheckBox*>(box)) return check->checkState() == Qt::Checked;
    return box->isChecked();
  }();
  if (auto* check = qobject_cast<QCheckBox*>(box))
    check->setCheckState(was_checked ? Qt::Unchecked : Qt::Checked);
  else
    box->setChecked(!was_checked);
  return !was_checked;
}

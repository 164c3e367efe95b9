#include "wizard/pages/pgs_settings_page.h"

#include <QAbstractButton>
#include <QFormLayout>
#include <QPointer>
#include <QWizard>
#include <cstdlib>
#include <vector>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include "converter/error_handler.h"
#include "converter/error_tables.h"
#include "converter/tamarind_convertor.h"
#include "tk/tk_error_converter.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_string.h"
#include "wizard/app/ui_messages.h"
#include "wizard/page/background_connect.h"
#include "wizard/shell/wizard_guard.h"
#include "wizard/shell/wizard_shell.h"

namespace {

QLineEdit* make_edit(QWidget* parent, int id) {
  auto* edit = new QLineEdit(parent);
  wizard_page_base::set_ctrl_id(edit, id);
  return edit;
}

QLabel* make_label(const char* text, QWidget* buddy, QWidget* parent) {
  auto* label = new QLabel(QString::fromUtf8(text), parent);
  label->setBuddy(buddy);
  return label;
}

QLabel* make_hint(const char* text, QWidget* parent) {
  auto* hint = new QLabel(QString::fromUtf8(text), parent);
  hint->setTextFormat(Qt::PlainText);
  return hint;
}

std::string edit_text(const QLineEdit* edit) { return edit->text().toStdString(); }

/// The port libpq uses when none is given: its environment's, else 5432.
int default_port() {
  const char* env = std::getenv("PGPORT");
  const long port = env ? pgs_converter_impl::parse_port(tk_utf8_to_unicode(env)) : 0;
  return port >= 1 && port <= 65535 ? static_cast<int>(port) : 5432;
}

/// Disables the page and the wizard's Back and Next while it lives (Cancel stays).
class controls_lock {
 public:
  controls_lock(QWidget* page, QWizard* sheet) : m_page(page) {
    m_page->setEnabled(false);
    if (sheet)
      for (auto which : {QWizard::BackButton, QWizard::NextButton})
        if (QAbstractButton* button = sheet->button(which); button && button->isEnabled()) {
          button->setEnabled(false);
          m_buttons.push_back(button);
        }
  }
  ~controls_lock() {
    for (const QPointer<QAbstractButton>& button : m_buttons)
      if (button) button->setEnabled(true);
    if (m_page) m_page->setEnabled(true);
  }
  controls_lock(const controls_lock&) = delete;
  controls_lock& operator=(const controls_lock&) = delete;

 private:
  QPointer<QWidget> m_page;
  std::vector<QPointer<QAbstractButton>> m_buttons;
};

}  // namespace

pgs_settings_page::pgs_settings_page(QWidget* parent) : wizard_page(parent) {
  set_header(ui_messages[29], ui_messages[30]);

  auto* intro = new QLabel(
      QStringLiteral("Provide necessary information to establish connection with PostgreSQL server."), this);
  intro->setTextFormat(Qt::PlainText);
  intro->setWordWrap(true);

  auto* access = new QGroupBox(QStringLiteral(" Access mode "), this);
  auto* local = new QRadioButton(QStringLiteral("&Local"), access);
  auto* remote = new QRadioButton(QStringLiteral("&Remote"), access);
  set_ctrl_id(local, id_local);
  set_ctrl_id(remote, id_remote);
  auto* access_row = new QHBoxLayout(access);
  access_row->addWidget(local);
  access_row->addWidget(remote);
  access_row->addStretch(1);
  // Toggled rather than clicked: arrow keys move the choice within the group as well.
  connect(local, &QRadioButton::toggled, this, [this](bool on) {
    if (on) wizard_guard([this] { on_local(); });
  });
  connect(remote, &QRadioButton::toggled, this, [this](bool on) {
    if (on) wizard_guard([this] { on_remote(); });
  });

  auto* authorization = new QGroupBox(QStringLiteral(" Authorization settings "), this);
  QLineEdit* user = make_edit(authorization, id_user);
  QLineEdit* password = make_edit(authorization, id_password);
  password->setEchoMode(QLineEdit::Password);
  auto* authorization_form = new QFormLayout(authorization);
  authorization_form->addRow(make_label("&User name:", user, authorization), user);
  authorization_form->addRow(make_label("User pa&ssword:", password, authorization), password);

  auto* remote_settings = new QGroupBox(QStringLiteral(" Remote settings "), this);
  QLineEdit* host = make_edit(remote_settings, id_host);
  QLineEdit* port = make_edit(remote_settings, id_port);
  auto* host_row = new QHBoxLayout;
  host_row->addWidget(host, 1);
  host_row->addWidget(make_hint("(it could be network name or IP address)", remote_settings));
  // The port holds five digits; the host, the longer entry, takes the rest of the row.
  port->setMaximumWidth(port->fontMetrics().horizontalAdvance(QStringLiteral("0000000")) + 16);
  auto* port_row = new QHBoxLayout;
  port_row->addWidget(port);
  port_row->addStretch(1);
  port_row->addWidget(make_hint("(default port is 5432)", remote_settings));
  auto* remote_form = new QFormLayout(remote_settings);
  remote_form->addRow(make_label("H&ost:", host, remote_settings), host_row);
  remote_form->addRow(make_label("&Port:", port, remote_settings), port_row);

  auto* column = new QVBoxLayout(this);
  column->addWidget(intro);
  column->addWidget(access);
  column->addWidget(authorization);
  column->addWidget(remote_settings);
  column->addStretch(1);
}

bool pgs_settings_page::page_init() {
  tk_log(2, "pgs_settings_page_impl<t_converter>::page_init");
  tamarind_convertor& converter = tamarind_convertor::get_instance();
  ctrl_as<QLineEdit>(id_user)->setText(QString::fromStdString(converter.get_user()));
  ctrl_as<QLineEdit>(id_password)->setText(QString::fromStdString(converter.get_password()));
  // No stored port is libpq's default one: shown as the number it is.
  const int port = converter.get_port();
  ctrl_as<QLineEdit>(id_port)->setText(QString::number(port != 0 ? port : default_port()));
  if (!converter.get_host().empty()) {
    ctrl_as<QRadioButton>(id_remote)->setChecked(true);
    enable_ctrl(id_host, true);
    ctrl_as<QLineEdit>(id_host)->setText(QString::fromStdString(converter.get_host()));
  } else {
    ctrl_as<QRadioButton>(id_local)->setChecked(true);
    enable_ctrl(id_host, false);
  }
  return true;
}

void pgs_settings_page::on_local() { enable_ctrl(id_host, false); }

void pgs_settings_page::on_remote() { enable_ctrl(id_host, true); }

void pgs_settings_page::store_settings() {
  tk_log(2, "pgs_settings_page_impl::store_settings");
  const bool remote = ctrl_as<QRadioButton>(id_remote)->isChecked();
  const std::string host = remote ? edit_text(ctrl_as<QLineEdit>(id_host)) : std::string();
  const std::wstring port_text = ctrl_as<QLineEdit>(id_port)->text().toStdWString();
  const std::string user = edit_text(ctrl_as<QLineEdit>(id_user));
  const std::string password = edit_text(ctrl_as<QLineEdit>(id_password));
  // Read as atoi reads it; a number beyond int is no port at all.
  const int port = static_cast<int>(pgs_converter_impl::parse_port(port_text));
  tamarind_convertor::get_instance().set_connection_params(host.c_str(), user.c_str(), password.c_str(), port);
}

std::string pgs_settings_page::connect_error_text(int code, const char* what) {
  // Only the PostgreSQL table: a code of the other tables means something else here.
  const tk_error_converter map(pgs_error_table_size, pgs_error_table);
  std::string text = map.convert(code);
  if (text.empty()) text = what ? what : "";
  return error_handler::clean_message(std::move(text));
}

int pgs_settings_page::on_next() {
  tk_log(2, "pgs_settings_page_impl<>::on_next");
  store_settings();
  try {
    // Nothing on the page may start a second attempt while one is awaited.
    const controls_lock lock(this, wizard());
    if (!connect_in_background(tamarind_convertor::instance())) return -1;
  } catch (const tk_exception& e) {
    wizard_shell::error(connect_error_text(e.code(), e.what()));
    return -1;
  }
  return 0;
}

int pgs_settings_page::on_back() {
  store_settings();
  return 0;
}

bool pgs_settings_page::on_cancel() {
  if (!background_connect_running()) return wizard_page::on_cancel();
  tk_log(2, "pgs_settings_page::on_cancel: the connection attempt is abandoned");
  abandon_background_connect();
  return false;
}

void pgs_settings_page::stop_work() noexcept { abandon_background_connect(); }

void pgs_settings_page::on_help() { wizard_shell::display_help(help_context); }

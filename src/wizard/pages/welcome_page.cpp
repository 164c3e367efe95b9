#include "wizard/pages/welcome_page.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "converter/tamarind_convertor.h"
#include "tk/tk_exception.h"
#include "tk/tk_format.h"
#include "tk/tk_logger.h"
#include "wizard/app/ui_messages.h"
#include "wizard/app/wizard_log.h"
#include "wizard/dialogs/file_dialog.h"
#include "wizard/shell/wizard_guard.h"
#include "wizard/shell/wizard_shell.h"

welcome_page::welcome_page(QWidget* parent) : wizard_page(parent) {
  auto* title = new QLabel(QStringLiteral("Tamarind\nConversion Wizard"), this);
  set_ctrl_id(title, id_title);
  title->setTextFormat(Qt::PlainText);

  auto* line1 = new QLabel(QStringLiteral("This wizard helps you to convert Microsoft Excel "), this);
  auto* line2 = new QLabel(QStringLiteral("spreadsheet into PostgreSQL database."), this);
  auto* line3 = new QLabel(QStringLiteral("Click 'Next' to continue."), this);
  for (QLabel* line : {line1, line2, line3}) line->setTextFormat(Qt::PlainText);

  auto* load = new QPushButton(QStringLiteral("&Load Settings"), this);
  set_ctrl_id(load, id_load);
  connect(load, &QPushButton::clicked, this, [this] { wizard_guard([this] { on_load(); }); });

  auto* maker = new QLabel(QStringLiteral("Hollowmere on the web:"), this);
  maker->setTextFormat(Qt::PlainText);
  m_link = new QLabel(this);
  set_ctrl_id(m_link, id_link);

  // The address on a line of its own: beside its caption the page is too narrow to show it whole.
  auto* link_row = new QVBoxLayout;
  link_row->addWidget(maker);
  link_row->addWidget(m_link);
  auto* load_row = new QHBoxLayout;
  load_row->addWidget(load);
  load_row->addStretch(1);

  auto* column = new QVBoxLayout(this);
  column->addWidget(title);
  column->addSpacing(16);
  column->addWidget(line1);
  column->addWidget(line2);
  column->addSpacing(16);
  column->addWidget(line3);
  column->addStretch(1);
  column->addLayout(load_row);
  column->addSpacing(8);
  column->addLayout(link_row);
}

bool welcome_page::show() {
  tk_log(2, "welcome_page::show");
  QFont& font = page_font();
  font = ctrl(id_title)->font();
  font.setPointSize(13);
  font.setBold(true);
  ctrl(id_title)->setFont(font);
  if (m_link_attached) return true;
  m_link->setTextFormat(Qt::RichText);
  m_link->setText(QStringLiteral("<a href=\"%1\">%1</a>").arg(QString::fromUtf8(maker_site)));
  m_link->setTextInteractionFlags(Qt::TextBrowserInteraction);
  // Opened as help is: a missing browser is told, never passed over in silence.
  connect(m_link, &QLabel::linkActivated, this,
          [](const QString& url) { wizard_guard([&] { wizard_shell::open_web_page(url); }); });
  m_link_attached = true;
  return true;
}

bool welcome_page::page_init() { return show(); }

void welcome_page::on_help() { wizard_shell::display_help(help_context); }

int welcome_page::on_load() {
  const std::wstring filter = file_dialog::profile_filter(m_profile_ext);
  tk_log(1, "welcome_page_t::on_load(%s)", filter);
  if (m_profile_ext.size() < 3 || m_profile_ext.size() > 4) TK_ASSERT_SITE("..\\GUI2/g_finish", 266);

  open_file_dialog dialog(window(), filter, L"Select Profile File", std::wstring());
  if (!dialog.run()) return 0;
  const std::wstring path = dialog.get_file_name();
  wizard_log::note_input(path);
  tamarind_convertor& converter = tamarind_convertor::instance();
  try {
    if (!converter.load_profile_file(path))
      wizard_shell::error(tk_format(ui_msg_cannot_load_profile, path));
  } catch (const tk_exception& e) {
    // The user picked the file: the error is told and the wizard stays on this page.
    report_tk_exception(e);
  }
  return 0;
}

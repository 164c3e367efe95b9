// The connection page: Local and Remote, what is stored, and what Next does with the connection.
#include <cstdlib>
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QRadioButton>
#include <QAbstractButton>
#include <QApplication>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <pqxx/pqxx>
#include <thread>

#include "connect_test_support.h"
#include "pg_test.h"
#include "pgs/pgs_exception.h"
#include "wizard/app/ui_messages.h"
#include "wizard/page/background_connect.h"
#include "wizard/pages/pgs_settings_page.h"
#include "wizard/pages/sel_file_page.h"
#include "wizard/pages/welcome_page.h"

using wizard_test::environment;
using wizard_test::find_ctrl;

namespace {

/// The connection page, then the source page, in a shown wizard that starts on the first.
struct connection_pages {
  explicit connection_pages(environment& env) {
    settings = new pgs_settings_page;
    env.shell().add_page(settings);
    env.shell().add_page(new sel_file_page);
    env.show();
  }
  QLineEdit* edit(int id) const { return find_ctrl<QLineEdit>(settings, id); }
  QRadioButton* radio(int id) const { return find_ctrl<QRadioButton>(settings, id); }
  pgs_settings_page* settings;
};

}  // namespace

TEST(ConnectSettings, HeaderAndStoredHostChooseLocalOrRemote) {
  environment env;
  env.converter().set_connection_params("", "alice", "pw", 0);
  connection_pages page(env);
  EXPECT_EQ(page.settings->title(), QStringLiteral("Step 1 of 4"));
  EXPECT_EQ(page.settings->subTitle(), QStringLiteral("Connect to PostgreSQL server"));
  EXPECT_TRUE(page.radio(pgs_settings_page::id_local)->isChecked());
  EXPECT_FALSE(page.edit(pgs_settings_page::id_host)->isEnabled());
  EXPECT_EQ(page.edit(pgs_settings_page::id_user)->text(), QStringLiteral("alice"));
  EXPECT_EQ(page.edit(pgs_settings_page::id_password)->text(), QStringLiteral("pw"));
  EXPECT_EQ(page.edit(pgs_settings_page::id_password)->echoMode(), QLineEdit::Password);
  // No stored port shows the one libpq takes: its environment's, else 5432 (never 0).
  const char* env_port = std::getenv("PGPORT");
  EXPECT_EQ(page.edit(pgs_settings_page::id_port)->text(),
            env_port && *env_port ? QString::fromUtf8(env_port) : QStringLiteral("5432"));

  env.converter().set_connection_params("db.example", "bob", "", 6543);
  page.settings->page_init();
  EXPECT_TRUE(page.radio(pgs_settings_page::id_remote)->isChecked());
  EXPECT_FALSE(page.radio(pgs_settings_page::id_local)->isChecked());
  EXPECT_TRUE(page.edit(pgs_settings_page::id_host)->isEnabled());
  EXPECT_EQ(page.edit(pgs_settings_page::id_host)->text(), QStringLiteral("db.example"));
  EXPECT_EQ(page.edit(pgs_settings_page::id_port)->text(), QStringLiteral("6543"));
}

TEST(ConnectSettings, EachPageOpensItsOwnHelpTopic) {
  environment env;
  env.shell();
  connect_test::help_pages help(env.dir(), {1010, 1014, 1015});
  welcome_page welcome;
  pgs_settings_page settings;
  sel_file_page source;
  for (wizard_page_base* page : std::initializer_list<wizard_page_base*>{&welcome, &settings, &source})
    page->on_help();
  EXPECT_EQ(help.opened, (QStringList{"1014.html", "1010.html", "1015.html"}));
  EXPECT_EQ(env.boxes().count(), 0u);
}

TEST(ConnectSettings, LocalKeepsTheHostTextButStoresNoHost) {
  environment env;
  env.converter().set_connection_params("db.example", "u", "p", 0);
  connection_pages page(env);
  QTest::mouseClick(page.radio(pgs_settings_page::id_local), Qt::LeftButton);
  EXPECT_FALSE(page.edit(pgs_settings_page::id_host)->isEnabled());
  page.settings->store_settings();
  EXPECT_EQ(env.converter().get_host(), "");

  QTest::mouseClick(page.radio(pgs_settings_page::id_remote), Qt::LeftButton);
  EXPECT_TRUE(page.edit(pgs_settings_page::id_host)->isEnabled());
  EXPECT_EQ(page.edit(pgs_settings_page::id_host)->text(), QStringLiteral("db.example"));
  page.settings->store_settings();
  EXPECT_EQ(env.converter().get_host(), "db.example");
  EXPECT_EQ(env.converter().get_user(), "u");
  EXPECT_EQ(env.converter().get_password(), "p");

  // The arrow keys move the choice as a click does.
  QTest::mouseClick(page.radio(pgs_settings_page::id_local), Qt::LeftButton);
  QTest::keyClick(page.radio(pgs_settings_page::id_local), Qt::Key_Right);
  EXPECT_TRUE(page.radio(pgs_settings_page::id_remote)->isChecked());
  EXPECT_TRUE(page.edit(pgs_settings_page::id_host)->isEnabled());
}

TEST(ConnectSettings, PortIsReadAsItsLeadingDigits) {
  environment env;
  connection_pages page(env);
  const struct {
    const char* text;
    int port;
  } cases[] = {{"", 0}, {"abc", 0}, {"5432x", 5432}, {"99999999999", 0}, {" 5433", 5433}, {"6000", 6000}};
  for (const auto& c : cases) {
    page.edit(pgs_settings_page::id_port)->setText(QString::fromUtf8(c.text));
    page.settings->store_settings();
    EXPECT_EQ(env.converter().get_port(), c.port) << '"' << c.text << '"';
  }
}

TEST(ConnectSettings, NonAsciiSettingsTravelAsUtf8) {
  environment env;
  connection_pages page(env);
  QTest::mouseClick(page.radio(pgs_settings_page::id_remote), Qt::LeftButton);
  page.edit(pgs_settings_page::id_user)->setText(QStringLiteral("J\u00fcrgen"));
  page.edit(pgs_settings_page::id_password)->setText(QStringLiteral("p\u00e4\u20ac"));
  page.edit(pgs_settings_page::id_host)->setText(QStringLiteral("h\u00f6st"));
  page.settings->store_settings();
  EXPECT_EQ(env.converter().get_user(), "J\xc3\xbcrgen");
  EXPECT_EQ(env.converter().get_password(), "p\xc3\xa4\xe2\x82\xac");
  EXPECT_EQ(env.converter().get_host(), "h\xc3\xb6st");
  page.settings->page_init();
  EXPECT_EQ(page.edit(pgs_settings_page::id_user)->text(), QStringLiteral("J\u00fcrgen"));
}

TEST(ConnectSettings, FailureTextComesFromThePostgresTableOrTheException) {
  EXPECT_EQ(pgs_settings_page::connect_error_text(-30082, "raw"), "Incorrect username or password");
  EXPECT_EQ(pgs_settings_page::connect_error_text(0, "could not connect"), "could not connect");
  EXPECT_EQ(pgs_settings_page::connect_error_text(0, "no server\n\tIs it running?"), "no server\nIs it running?");
  // A code of the workbook table is not looked up here.
  EXPECT_EQ(pgs_settings_page::connect_error_text(68697, "own text"), "own text");
}

TEST(ConnectSettings, RefusedConnectionShowsOneBoxAndStays) {
  environment env;
  connection_pages page(env);
  QTest::mouseClick(page.radio(pgs_settings_page::id_remote), Qt::LeftButton);
  page.edit(pgs_settings_page::id_host)->setText(QStringLiteral("127.0.0.1"));
  page.edit(pgs_settings_page::id_port)->setText(QStringLiteral("1"));
  page.edit(pgs_settings_page::id_user)->setText(QStringLiteral("nobody"));
  env.shell().next();
  wizard_test::pump(50);
  EXPECT_EQ(env.shell().currentId(), 134);
  ASSERT_EQ(env.boxes().count(), 1u);
  EXPECT_EQ(env.boxes().boxes()[0].type, wizard_box::kind::error);
  EXPECT_FALSE(env.boxes().last_text().isEmpty());
  EXPECT_FALSE(env.shell().forced_status().has_value());
  // The settings were stored before the attempt.
  EXPECT_EQ(env.converter().get_host(), "127.0.0.1");
  EXPECT_EQ(env.converter().get_port(), 1);
}

TEST(ConnectSettings, ConnectingRunsOffTheGuiThreadAndCancelAbandonsIt) {
  environment env;
  connection_pages page(env);
  // An attempt that hangs like an unreachable host until the test lets it end.
  auto release = std::make_shared<std::atomic<bool>>(false);
  auto ended = std::make_shared<std::atomic<bool>>(false);
  set_background_connect_opener([release, ended](const pgs_connect_params&) -> std::unique_ptr<pqxx::connection> {
    while (!release->load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ended->store(true);
    throw pgs_exception(std::string("refused"));
  });
  // Meanwhile the window serves events under a busy cursor with Next off; Cancel abandons the
  // attempt and stays on the page, to correct the host.
  bool busy = false, next_off = false;
  QTimer::singleShot(100, [&] {
    busy = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
    next_off = !env.shell().button(QWizard::NextButton)->isEnabled();
    env.shell().button(QWizard::CancelButton)->click();
  });
  env.shell().next();
  EXPECT_TRUE(busy && next_off);
  EXPECT_TRUE(env.shell().isVisible() && page.settings->isEnabled() && env.shell().currentId() == 134);
  EXPECT_EQ(env.boxes().count(), 0u) << "no question, no error box";
  EXPECT_FALSE(ended->load()) << "abandoned, not awaited";
  EXPECT_FALSE(env.converter().get_engine().is_connected());
  release->store(true);
  EXPECT_TRUE(wizard_test::wait_until([&] { return ended->load(); }));
  set_background_connect_opener({});
}

TEST(ConnectSettings, BackStoresWithoutConnecting) {
  environment env;
  env.converter().set_connection_params("", "", "", 0);
  env.shell().add_page(new wizard_page_base(105, wiz_back | wiz_next, 0));
  auto* settings = new pgs_settings_page;
  env.shell().add_page(settings);
  env.show();
  env.shell().next();
  ASSERT_TRUE(wizard_test::wait_until([&] { return env.shell().currentId() == 134; }));
  find_ctrl<QLineEdit>(settings, pgs_settings_page::id_user)->setText(QStringLiteral("back_user"));
  find_ctrl<QLineEdit>(settings, pgs_settings_page::id_port)->setText(QStringLiteral("1"));
  env.shell().back();
  ASSERT_TRUE(wizard_test::wait_until([&] { return env.shell().currentId() == 105; }));
  EXPECT_EQ(env.converter().get_user(), "back_user");
  EXPECT_EQ(env.converter().get_port(), 1);
  EXPECT_FALSE(env.converter().get_engine().is_connected());
}

TEST(ConnectSettingsServer, WorkingConnectionMovesOnToTheSourcePage) {
  TAMARIND_REQUIRE_SERVER();
  environment env;
  connection_pages page(env);
  const std::string host = connect_test::env_text("PGHOST");
  if (!host.empty()) {
    QTest::mouseClick(page.radio(pgs_settings_page::id_remote), Qt::LeftButton);
    page.edit(pgs_settings_page::id_host)->setText(QString::fromStdString(host));
  } else {
    QTest::mouseClick(page.radio(pgs_settings_page::id_local), Qt::LeftButton);
  }
  page.edit(pgs_settings_page::id_port)->setText(QString::fromStdString(connect_test::env_text("PGPORT")));
  page.edit(pgs_settings_page::id_user)->setText(QString::fromStdString(connect_test::env_text("PGUSER")));
  page.edit(pgs_settings_page::id_password)->setText(QString::fromStdString(connect_test::env_text("PGPASSWORD")));
  env.shell().next();
  ASSERT_TRUE(wizard_test::wait_until([&] { return env.shell().currentId() == 105; }))
      << env.boxes().last_text().toStdString();
  EXPECT_EQ(env.boxes().count(), 0u);
  EXPECT_TRUE(env.converter().get_engine().is_connected());
  EXPECT_EQ(env.converter().get_user(), connect_test::env_text("PGUSER"));
}

TEST(ConnectSettingsServer, WrongPasswordIsToldAndThePageStays) {
  TAMARIND_REQUIRE_SERVER();
  environment env;
  connection_pages page(env);
  const std::string host = connect_test::env_text("PGHOST");
  QTest::mouseClick(page.radio(host.empty() ? pgs_settings_page::id_local : pgs_settings_page::id_remote),
                    Qt::LeftButton);
  page.edit(pgs_settings_page::id_host)->setText(QString::fromStdString(host));
  page.edit(pgs_settings_page::id_port)->setText(QString::fromStdString(connect_test::env_text("PGPORT")));
  page.edit(pgs_settings_page::id_user)->setText(QStringLiteral("no_such_role_tamarind"));
  page.edit(pgs_settings_page::id_password)->setText(QStringLiteral("wrong"));
  env.shell().next();
  wizard_test::pump(50);
  EXPECT_EQ(env.shell().currentId(), 134);
  EXPECT_EQ(env.boxes().count(), 1u);
}

// After a failed Remote attempt, Local connects without a host: the host tried before is not kept.
TEST(ConnectSettingsServer, LocalAfterAFailedRemoteAttemptConnects) {
  TAMARIND_REQUIRE_SERVER();
  environment env;
  connection_pages page(env);
  page.edit(pgs_settings_page::id_user)->setText(QString::fromStdString(connect_test::env_text("PGUSER")));
  page.edit(pgs_settings_page::id_password)->setText(QString::fromStdString(connect_test::env_text("PGPASSWORD")));
  page.edit(pgs_settings_page::id_port)->setText(QString::fromStdString(connect_test::env_text("PGPORT")));
  QTest::mouseClick(page.radio(pgs_settings_page::id_remote), Qt::LeftButton);
  page.edit(pgs_settings_page::id_host)->setText(QStringLiteral("no-such-host.invalid"));
  env.shell().next();
  wizard_test::pump(50);
  ASSERT_EQ(env.shell().currentId(), 134);
  ASSERT_EQ(env.boxes().count(), 1u);

  // Local: no host at all, so libpq's own default applies, not the host tried before.
  QTest::mouseClick(page.radio(pgs_settings_page::id_local), Qt::LeftButton);
  env.shell().next();
  EXPECT_TRUE(wizard_test::wait_until([&] { return env.shell().currentId() == 105; }))
      << env.boxes().last_text().toStdString();
}

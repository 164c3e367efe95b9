// Whole runs through the last three pages with the real converter: the sample workbook into a
// fresh database on the test server.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <pqxx/pqxx>

#include "connect_test_support.h"
#include "pg_test.h"
#include "support/wizard_test_app.h"
#include "tk/tk_string.h"
#include "udb/udb_profile.h"
#include "wizard/dialogs/file_dialog.h"
#include "wizard/app/ui_messages.h"
#include "wizard/errors/dlg_error_continue.h"
#include "wizard/pages/gui_finish_page.h"
#include "wizard/pages/progress_page.h"
#include "wizard/pages/tmd_sel_tables_page.h"
#ifdef TAMARIND_HAVE_XLSXWRITER
#include "converter_test_support.h"
#include "wb_test_files.h"
#endif

using namespace wizard_test;

namespace {

std::string env_text(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

long long scalar(const std::string& db, const std::string& sql) {
  pqxx::connection connection(tamarind_test::server_connection_string(db));
  pqxx::nontransaction tx(connection);
  return tx.exec1(sql)[0].as<long long>();
}

class RunServer : public ::testing::Test {
 protected:
  RunServer() : db(tamarind_test::unique_database_name("tmd_wiz")) {}
  ~RunServer() override {
    env.destroy_shell();
    try {
      if (tamarind_test::server_configured()) {
        pqxx::connection connection(tamarind_test::server_connection_string());
        pqxx::nontransaction tx(connection);
        tx.exec("DROP DATABASE IF EXISTS " + db + " WITH (FORCE)");
      }
    } catch (...) {
    }
  }

  /// The converter connected, with the sample workbook as source and `db` as destination, and
  /// the worksheet page, the progress page and the finish page in the shell; `before_show` runs
  /// just before the wizard is shown.
  void prepare(const std::function<void()>& before_show = {}) {
    wizard_error_presenter::set_continue_hook([this](const std::string& text) {
      reported.push_back(text);
      return error_presenter::continue_answer{true, false};
    });
    tamarind_convertor& c = env.converter();
    c.set_connection_params(env_text("PGHOST").c_str(), env_text("PGUSER").c_str(), env_text("PGPASSWORD").c_str(),
                            std::atoi(env_text("PGPORT").c_str()));
    c.set_src(tk_utf8_to_unicode(std::string(TAMARIND_SOURCE_DIR) + "/samples/sample.xlsx"));
    c.set_dest(tk_utf8_to_unicode(db));
    c.set_mode(0);
    c.set_x_fnames(true);
    c.connect_pgs_server();
    c.check_dest();
    tables = new tmd_sel_tables_page;
    tables->set_header(ui_messages[19], ui_messages[20]);
    env.shell().add_page(tables);
    env.shell().add_page(progress = new progress_page);
    env.shell().add_page(finish = new gui_finish_page_t(ui_msg_conversion_succeeded, ui_messages[0]));
    finish->set_profile_ext(ui_profile_ext);
    if (before_show) before_show();
    env.show();
  }

  void choose(const QString& name) {
    auto* available = find_ctrl<QListWidget>(tables, 1317);
    const auto items = available->findItems(name, Qt::MatchExactly);
    ASSERT_EQ(items.size(), 1);
    available->setCurrentItem(items.front());
    QTest::mouseClick(find_ctrl<QPushButton>(tables, 1101), Qt::LeftButton);
  }

  environment env;
  std::string db;
  std::vector<std::string> reported;
  tmd_sel_tables_page* tables = nullptr;
  progress_page* progress = nullptr;
  gui_finish_page_t* finish = nullptr;
};

}  // namespace

TEST_F(RunServer, ConvertsTheChosenWorksheetsAndEndsOnTheFinishPage) {
  TAMARIND_REQUIRE_SERVER();
  prepare();
  ASSERT_EQ(env.shell().currentId(), 127);
  choose(QStringLiteral("Orders"));
  choose(QStringLiteral("Products"));
  env.shell().next();
  ASSERT_TRUE(wait_until([&] { return env.shell().currentId() == 116; }, 60000)) << "still on the progress page";

  EXPECT_TRUE(reported.empty());
  EXPECT_EQ(find_ctrl<QLabel>(finish, 1314)->text(), QString::fromStdWString(ui_msg_conversion_succeeded));
  EXPECT_TRUE(find_ctrl<QPlainTextEdit>(finish, 1016)->isHidden());
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM public.orders"), 5);
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM public.products"), 5);
  // Worksheets not chosen were left alone.
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM pg_namespace WHERE nspname = 'sales'"), 0);
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM pg_tables WHERE tablename = 'visits'"), 0);
  EXPECT_FALSE(progress->is_running());
}

TEST_F(RunServer, CancelRightAfterTheStartJoinsAndClosesWithOne) {
  TAMARIND_REQUIRE_SERVER();
  prepare();
  QTest::mouseClick(find_ctrl<QPushButton>(tables, 1102), Qt::LeftButton);
  env.shell().next();
  ASSERT_EQ(env.shell().currentId(), 107);
  env.boxes().answer_next(true);
  env.shell().button(QWizard::CancelButton)->click();
  EXPECT_FALSE(progress->is_running());
  EXPECT_EQ(env.shell().forced_status(), std::optional<int>(1));
  EXPECT_FALSE(env.shell().isVisible());
  EXPECT_TRUE(reported.empty());
}

TEST_F(RunServer, ASelectedQueryOfTheProfileSurvivesTheRunIntoTheSavedProfile) {
  TAMARIND_REQUIRE_SERVER();
  prepare([&] {
    const std::string profile = env.dir().file("in.tmd");
    std::ofstream(profile, std::ios::binary)
        << "[Selected Tables]\nOrders=\nbig_orders=SELECT * FROM [Orders$] WHERE Amount > 100\n";
    // Loaded as the welcome page loads it: the workbook is listed and its worksheets selected.
    ASSERT_TRUE(env.converter().load_profile_file(tk_utf8_to_unicode(profile)));
  });
  ASSERT_EQ(env.shell().currentId(), 127);
  const QStringList right = [&] {
    QStringList names;
    auto* selected = find_ctrl<QListWidget>(tables, 1318);
    for (int i = 0; i < selected->count(); ++i) names << selected->item(i)->text();
    return names;
  }();
  EXPECT_EQ(right, (QStringList{QStringLiteral("big_orders"), QStringLiteral("Orders")}));
  env.shell().next();
  ASSERT_TRUE(wait_until([&] { return env.shell().currentId() == 116; }, 60000)) << "still on the progress page";
  EXPECT_TRUE(reported.empty());
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM public.orders"), 5);
  // Only worksheets are converted: the query is listed as not converted, without a question.
  EXPECT_EQ(find_ctrl<QLabel>(finish, gui_finish_page::id_title)->text(), QString::fromUtf8(ui_msg_finish_title_errors));
  EXPECT_EQ(find_ctrl<QPlainTextEdit>(finish, gui_finish_page::id_errors)->toPlainText(),
            QStringLiteral("Query 'big_orders' was not converted: only worksheets are converted.\n\n"));

  const std::string saved = env.dir().file("out");
  file_dialog::set_run_hook([&](const file_dialog&) -> std::optional<std::wstring> { return tk_utf8_to_unicode(saved); });
  QTest::mouseClick(find_ctrl<QPushButton>(finish, 1116), Qt::LeftButton);
  udb_profile profile;
  ASSERT_TRUE(profile.load(tk_utf8_to_unicode(saved + ".tmd")));
  EXPECT_EQ(profile.get_value(udb_profile::selected_tables_section, L"big_orders"),
            L"SELECT * FROM [Orders$] WHERE Amount > 100");
  EXPECT_EQ(profile.get_sel_tables().count(L"Orders"), 1u);
}

TEST_F(RunServer, AProfileNamingNoWorksheetConvertsEveryWorksheet) {
  TAMARIND_REQUIRE_SERVER();
  prepare([&] {
    const std::string profile = env.dir().file("all.tmd");
    std::ofstream(profile, std::ios::binary) << "[Generic settings]\nmode=1\n";
    ASSERT_TRUE(env.converter().load_profile_file(tk_utf8_to_unicode(profile)));
  });
  ASSERT_EQ(env.shell().currentId(), 127);
  EXPECT_EQ(find_ctrl<QListWidget>(tables, 1317)->count(), 0) << "every worksheet is on the right";
  env.shell().next();
  ASSERT_TRUE(wait_until([&] { return env.shell().currentId() == 116; }, 60000)) << "still on the progress page";
  EXPECT_TRUE(reported.empty());
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM public.orders"), 5);
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM pg_tables WHERE tablename = 'visits'"), 1);
}

TEST_F(RunServer, EveryWorksheetRemovedConvertsNothingAndLeavesTheDatabaseAsItWas) {
  TAMARIND_REQUIRE_SERVER();
  {
    pqxx::connection connection(tamarind_test::server_connection_string());
    pqxx::nontransaction(connection).exec("CREATE DATABASE " + db);
  }
  {
    pqxx::connection connection(tamarind_test::server_connection_string(db));
    pqxx::nontransaction(connection).exec("CREATE TABLE kept (id int); INSERT INTO kept VALUES (1)");
  }
  // The user chose to replace the whole database, then removed every worksheet and confirmed.
  prepare();
  ASSERT_TRUE(env.converter().is_drop_pending());
  QTest::mouseClick(find_ctrl<QPushButton>(tables, 1102), Qt::LeftButton);
  QTest::mouseClick(find_ctrl<QPushButton>(tables, 1110), Qt::LeftButton);
  env.boxes().answer_next(true);
  env.shell().next();
  ASSERT_TRUE(wait_until([&] { return env.shell().currentId() == 116; }, 60000)) << "still on the progress page";
  EXPECT_EQ(find_ctrl<QLabel>(finish, 1313)->text(), QStringLiteral("Nothing Was Converted"));
  EXPECT_EQ(find_ctrl<QLabel>(finish, 1314)->text(), QString::fromStdWString(ui_msg_nothing_converted));
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM kept"), 1);
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM pg_tables WHERE tablename = 'orders'"), 0);
}

#ifdef TAMARIND_HAVE_XLSXWRITER
// The row-error dialog answered as a user does, while the conversion thread waits for it: records
// 700, 1700 and 2700 of Sheet1 are refused by the existing table.
TEST(RunServerRefusals, AbortEndsTheRunAtTheRefusedRecordAndContinueLandsEveryOtherRow) {
  TAMARIND_REQUIRE_SERVER();
  const temp_dir dir;
  const std::string book = dir.file("numbered.xlsx");
  conv_test::write_workbook(book, {conv_test::numbered_sheet("Sheet1", 3000), conv_test::numbered_sheet("Sheet2", 2)});
  for (const bool abort : {true, false}) {
    SCOPED_TRACE(abort ? "Abort" : "Continue");
    connect_test::scratch_database db("tmd_wiz");
    connect_test::run_sql("CREATE TABLE public.sheet1 (name text, qty integer CHECK (qty % 1000 <> 700))", db.name());
    environment env;
    env.use_real_error_dialogs();
    tamarind_convertor& c = env.converter();
    c.set_src(tk_utf8_to_unicode(book));
    c.set_dest(tk_utf8_to_unicode(db.name()));
    c.set_mode(3);
    c.set_x_fnames(true);
    connect_test::connect_to_test_server(c);
    c.check_dest();
    auto* tables = new tmd_sel_tables_page;
    env.shell().add_page(tables);
    auto* progress = new progress_page;
    env.shell().add_page(progress);
    auto* finish = new gui_finish_page_t(ui_msg_conversion_succeeded, ui_messages[0]);
    env.shell().add_page(finish);
    env.show();
    QTest::mouseClick(find_ctrl<QPushButton>(tables, sel_tables_page::id_add_all), Qt::LeftButton);

    // Abort at the first refusal; or Continue there, then "do not show again" and Continue at the
    // second, so the third is only listed. Any dialog after that is answered as well, so a run
    // that asks too often fails instead of waiting for ever.
    QStringList asked;
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&] {
      auto* dialog = qobject_cast<dlg_error_continue*>(QApplication::activeModalWidget());
      if (!dialog || !dialog->isVisible()) return;
      asked << find_ctrl<QLabel>(dialog, dlg_error_continue::id_message)->text();
      if (!abort && asked.size() == 2) find_ctrl<QCheckBox>(dialog, dlg_error_continue::id_do_not_show)->click();
      find_ctrl<QPushButton>(dialog, abort ? dlg_error_continue::id_abort : dlg_error_continue::id_continue)->click();
    });
    answerer.start(10);
    env.shell().next();
    ASSERT_TRUE(wait_until([&] { return env.shell().currentId() == 116; }, 60000)) << "still on the progress page";
    EXPECT_FALSE(progress->is_running());

    ASSERT_EQ(asked.size(), abort ? 1 : 2);
    EXPECT_TRUE(asked[0].startsWith(QStringLiteral("Sheet1, record #700: "))) << asked[0].toStdString();
    EXPECT_EQ(find_ctrl<QLabel>(finish, gui_finish_page::id_title)->text(),
              QString::fromUtf8(ui_msg_finish_title_errors));
    EXPECT_EQ(find_ctrl<QLabel>(finish, gui_finish_page::id_text)->text(), QString::fromStdWString(ui_messages[0]));
    const QString listed = find_ctrl<QPlainTextEdit>(finish, gui_finish_page::id_errors)->toPlainText();
    EXPECT_TRUE(listed.startsWith(asked[0] + QStringLiteral("\n\n"))) << listed.toStdString();
    EXPECT_EQ(listed.count(QStringLiteral(", record #")), abort ? 1 : 3) << listed.toStdString();
    if (!abort) {
      EXPECT_TRUE(listed.contains(QStringLiteral("Sheet1, record #1700: "))) << listed.toStdString();
      EXPECT_TRUE(listed.contains(QStringLiteral("Sheet1, record #2700: "))) << listed.toStdString();
    }
    EXPECT_EQ(scalar(db.name(), "SELECT count(*) FROM public.sheet1"), abort ? 699 : 2997);
    EXPECT_EQ(scalar(db.name(), "SELECT coalesce(max(qty), 0) FROM public.sheet1"), abort ? 699 : 3000);
    // Abort ends the run: the next worksheet is not converted.
    EXPECT_EQ(scalar(db.name(), "SELECT count(*) FROM pg_tables WHERE tablename = 'sheet2'"), abort ? 0 : 1);
  }
}

// Worksheet B cannot be read (its XML is cut off): in every mode Abort at its question leaves the
// destination as it was; Continue converts A.
TEST(RunServerUnreadable, AbortAtAnUnreadableWorksheetLeavesTheDestinationAndContinueConvertsTheRest) {
  TAMARIND_REQUIRE_SERVER();
  const temp_dir dir;
  const std::string book = dir.file("damaged.xlsx");
  wb_test::write_xlsx(book, {{{"A", R"(<row><c><v>1</v></c></row>)"}, {"B", R"(<row><c><v>1</v></row>)"}}});
  for (const int mode : {0, 1, 2, 3, -1}) {  // -1: Continue in mode 1
    connect_test::scratch_database db("tmd_wiz");
    connect_test::run_sql("CREATE TABLE keep_me (x int)", db.name());
    environment env;
    int asked = 0;
    wizard_error_presenter::set_continue_hook([&](const std::string&) {
      ++asked;
      return error_presenter::continue_answer{mode >= 0, false};
    });
    tamarind_convertor& c = env.converter();
    c.set_src(tk_utf8_to_unicode(book));
    c.set_dest(tk_utf8_to_unicode(db.name()));
    c.set_mode(mode >= 0 ? mode : 1);
    connect_test::connect_to_test_server(c);
    c.check_dest();
    auto* tables = new tmd_sel_tables_page;
    env.shell().add_page(tables);
    env.shell().add_page(new progress_page);
    env.shell().add_page(new gui_finish_page_t(ui_msg_conversion_succeeded, ui_messages[0]));
    env.show();
    QTest::mouseClick(find_ctrl<QPushButton>(tables, sel_tables_page::id_add_all), Qt::LeftButton);
    env.shell().next();
    ASSERT_TRUE(wait_until([&] { return env.shell().currentId() == 116; }, 60000)) << mode;
    EXPECT_EQ(asked, 1) << mode;
    // keep_me counts 10, a table made for A 1.
    EXPECT_EQ(scalar(db.name(), "SELECT sum(CASE tablename WHEN 'keep_me' THEN 10 WHEN 'a' THEN 1 END) FROM pg_tables"),
              mode >= 0 ? 10 : 11) << mode;
  }
}
#endif

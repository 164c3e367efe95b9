// The source and destination page: what it shows, what it stores, the checks of Next in their
// order, and (with a server) what happens to an existing destination.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

#include <fstream>
#include <optional>

#include <pqxx/pqxx>

#include "connect_test_support.h"
#include "pg_test.h"
#include "wizard/app/ui_messages.h"
#include "wizard/dialogs/file_dialog.h"
#include "wizard/pages/overwrite_dlg.h"
#include "wizard/pages/sel_file_page.h"

using connect_test::modal_answer;
using connect_test::wide;
using wizard_test::environment;
using wizard_test::find_ctrl;

namespace {

QString qt(const wchar_t* text) { return QString::fromWCharArray(text); }

/// A source page between two plain pages, shown and current.
struct source_page {
  explicit source_page(environment& env) : env(env) {
    env.shell().add_page(new wizard_page_base(134, wiz_back | wiz_next, 0));
    page = new sel_file_page;
    env.shell().add_page(page);
    env.shell().add_page(new wizard_page_base(127, wiz_back | wiz_next, 0));
    env.show();
    env.shell().next();
    EXPECT_TRUE(wizard_test::wait_until([&] { return env.shell().currentId() == 105; }));
  }
  QLineEdit* edit(int id) const { return find_ctrl<QLineEdit>(page, id); }
  QCheckBox* box(int id) const { return find_ctrl<QCheckBox>(page, id); }
  void fill(const std::string& src, const std::string& dest) {
    edit(sel_file_page::id_source)->setText(QString::fromStdString(src));
    edit(sel_file_page::id_dest)->setText(QString::fromStdString(dest));
  }
  /// Next through the wizard; the page it lands on.
  int next() {
    env.shell().next();
    wizard_test::pump(30);
    return env.shell().currentId();
  }
  environment& env;
  sel_file_page* page;
};

void write_text(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

const std::string workbook = connect_test::fixture("xls/basic.xls");

}  // namespace

TEST(ConnectSource, DestinationShownAsStoredElseTheSourceName) {
  bool keep = false;
  EXPECT_EQ(sel_file_page::dest_display(L"/d/a.xlsx", L"sales.2020", keep), L"sales.2020");
  EXPECT_FALSE(keep);
  EXPECT_EQ(sel_file_page::dest_display(L"/d/Sales Q1.xlsx", L"", keep), L"Sales Q1");
  EXPECT_FALSE(keep);
  sel_file_page::dest_display(L"", L"", keep);
  EXPECT_TRUE(keep);
}

TEST(ConnectSource, PageShowsTheStoredSettings) {
  environment env;
  env.converter().set_src(L"/d/../d/Sales Q1.xlsx");
  env.converter().set_dest(L"sales.2020");
  env.converter().set_x_fnames(false);
  env.converter().set_refine_types(true);
  source_page page(env);
  EXPECT_EQ(page.page->title(), qt(ui_messages[4]));
  EXPECT_EQ(page.page->subTitle(), qt(ui_messages[5]));
  EXPECT_EQ(page.edit(sel_file_page::id_source)->text(), QStringLiteral("/d/Sales Q1.xlsx"));
  EXPECT_EQ(page.edit(sel_file_page::id_dest)->text(), QStringLiteral("sales.2020"));
  EXPECT_FALSE(page.box(sel_file_page::id_field_names)->isChecked());
  EXPECT_TRUE(page.box(sel_file_page::id_refine_types)->isChecked());

  // No destination: the source's name, without folder and extension.
  env.converter().set_dest(L"");
  page.page->page_init();
  EXPECT_EQ(page.edit(sel_file_page::id_dest)->text(), QStringLiteral("Sales Q1"));

  // Nothing stored: the boxes keep what the user typed.
  env.converter().set_src(L"");
  page.edit(sel_file_page::id_dest)->setText(QStringLiteral("typed"));
  page.page->page_init();
  EXPECT_EQ(page.edit(sel_file_page::id_dest)->text(), QStringLiteral("typed"));
}

TEST(ConnectSource, SourceKindChoosesTheControls) {
  environment env;
  source_page page(env);
  EXPECT_EQ(find_ctrl<QLabel>(page.page, sel_file_page::id_description)->text(), qt(ui_messages[17]));
  EXPECT_EQ(find_ctrl<QLabel>(page.page, sel_file_page::id_source_label)->text(), qt(ui_messages[10]));
  EXPECT_FALSE(page.box(sel_file_page::id_field_names)->isHidden());
  EXPECT_FALSE(page.box(sel_file_page::id_refine_types)->isHidden());
  EXPECT_TRUE(page.edit(sel_file_page::id_table)->isHidden());
  EXPECT_TRUE(find_ctrl<QLabel>(page.page, sel_file_page::id_table_label)->isHidden());

  env.converter().set_from_xls(false);
  env.converter().set_tab_name(L"orders");
  page.page->page_init();
  EXPECT_EQ(find_ctrl<QLabel>(page.page, sel_file_page::id_description)->text(), qt(ui_messages[18]));
  EXPECT_EQ(find_ctrl<QLabel>(page.page, sel_file_page::id_source_label)->text(), qt(ui_messages[11]));
  EXPECT_TRUE(page.box(sel_file_page::id_field_names)->isHidden());
  EXPECT_TRUE(page.box(sel_file_page::id_refine_types)->isHidden());
  EXPECT_FALSE(page.edit(sel_file_page::id_table)->isHidden());
  EXPECT_EQ(page.edit(sel_file_page::id_table)->text(), QStringLiteral("orders"));
}

TEST(ConnectSource, NextAndBackStoreTheEntriesAndBothBoxes) {
  environment env;
  env.converter().set_x_fnames(true);
  env.converter().set_refine_types(true);
  source_page page(env);
  page.fill("", "db_one");
  QTest::mouseClick(page.box(sel_file_page::id_field_names), Qt::LeftButton);
  EXPECT_EQ(page.next(), 105);  // no source: stays, but stored
  EXPECT_EQ(env.converter().get_dest(), L"db_one");
  EXPECT_FALSE(env.converter().get_x_fnames());
  EXPECT_TRUE(env.converter().get_refine_types());

  page.fill("/nowhere/x.xlsx", "db_two");
  page.box(sel_file_page::id_refine_types)->click();
  env.shell().back();
  ASSERT_TRUE(wizard_test::wait_until([&] { return env.shell().currentId() == 134; }));
  EXPECT_EQ(env.converter().get_src(), L"/nowhere/x.xlsx");
  EXPECT_EQ(env.converter().get_dest(), L"db_two");
  EXPECT_FALSE(env.converter().get_refine_types());
  EXPECT_EQ(env.boxes().count(), 1u);  // Back checks nothing
}

TEST(ConnectSource, NextChecksInOrderAndStaysOnTheFirstFailure) {
  environment env;
  source_page page(env);
  const std::string text_file = env.dir().file("notes.xlsx");
  write_text(text_file, "this is not a workbook at all, only text\n");
  const struct {
    std::string src, dest;
    wizard_box::kind kind;
    const wchar_t* text;
  } cases[] = {
      {"", "", wizard_box::kind::message, ui_messages[6]},
      {"", "db", wizard_box::kind::message, ui_messages[6]},
      {workbook, "", wizard_box::kind::message, ui_messages[7]},
      // A file that is no workbook, a missing file and a folder each get their own message; the
      // first one is followed by the engine's reason on a line of its own.
      {text_file, "db", wizard_box::kind::error, ui_messages[12]},
      {env.dir().file("missing.xlsx"), "db", wizard_box::kind::error, ui_messages[8]},
      {env.dir().path(), "db", wizard_box::kind::error, L"' is a folder, not a workbook file."},
  };
  for (const auto& c : cases) {
    env.boxes().clear();
    page.fill(c.src, c.dest);
    EXPECT_EQ(page.next(), 105) << c.src;
    ASSERT_EQ(env.boxes().count(), 1u) << c.src;
    EXPECT_EQ(env.boxes().boxes()[0].type, c.kind) << c.src;
    EXPECT_TRUE(env.boxes().last_text().contains(qt(c.text))) << c.src;
  }
  page.fill(text_file, "db");
  page.next();
  const QStringList lines = env.boxes().last_text().split(QLatin1Char('\n'));
  ASSERT_EQ(lines.size(), 2);
  EXPECT_FALSE(lines[1].trimmed().isEmpty()) << "the engine's reason";
  EXPECT_FALSE(env.shell().forced_status().has_value());
}

TEST(ConnectSource, TheServerGoneBeforeTheRunIsToldWithOkAndLeadsBackToTheConnectionPage) {
  environment env;
  int asked = 0;
  wizard_error_presenter::set_continue_hook([&](const std::string&) {
    ++asked;
    return error_presenter::continue_answer{};
  });
  source_page page(env);
  page.fill(workbook, "db");  // never connected: the destination cannot be looked up
  page.next();
  ASSERT_TRUE(wizard_test::wait_until([&] { return env.shell().currentId() == 134; }));
  EXPECT_EQ(asked, 0) << "no Continue that cannot continue";
  ASSERT_EQ(env.boxes().count(), 1u);
  EXPECT_EQ(env.boxes().boxes()[0].type, wizard_box::kind::error);
  EXPECT_TRUE(env.shell().isVisible());
  EXPECT_FALSE(env.shell().forced_status().has_value());
  wizard_error_presenter::set_continue_hook({});
}

TEST(ConnectSource, CsvSourceNeedsATableNameAndAnExistingFile) {
  environment env;
  env.converter().set_from_xls(false);
  source_page page(env);
  page.fill("/d/data.csv", "db");
  page.edit(sel_file_page::id_table)->setText(QString());
  EXPECT_EQ(page.next(), 105);
  EXPECT_EQ(env.boxes().last_text(), qt(ui_messages[13]));

  env.boxes().clear();
  page.fill(env.dir().file("missing.csv"), "db");
  page.edit(sel_file_page::id_table)->setText(QStringLiteral("orders"));
  EXPECT_EQ(page.next(), 105);
  ASSERT_EQ(env.boxes().count(), 1u);
  EXPECT_EQ(env.boxes().boxes()[0].type, wizard_box::kind::error);
  EXPECT_EQ(env.boxes().last_text(), qt(ui_messages[8]));
  EXPECT_EQ(env.converter().get_tab_name(), L"orders");
}

TEST(ConnectSource, CsvSourceThatIsNoWorkbookIsRefusedBeforeTheDestinationIsAsked) {
  // No server: a page that went on to ask about the destination would fail to reach it.
  environment env;
  env.converter().set_from_xls(false);
  source_page page(env);
  const std::string csv = env.dir().file("data.csv");
  write_text(csv, "id,name\n1,first\n");
  for (const std::string& source : {csv, connect_test::fixture("xls/no_workbook.xls")}) {
    env.boxes().clear();
    page.fill(source, "db");
    page.edit(sel_file_page::id_table)->setText(QStringLiteral("orders"));
    EXPECT_EQ(page.next(), 105) << source;
    ASSERT_EQ(env.boxes().count(), 1u) << source;
    EXPECT_EQ(env.boxes().boxes()[0].type, wizard_box::kind::error);
    EXPECT_TRUE(env.boxes().last_text().startsWith(qt(ui_messages[12])));
  }
  EXPECT_EQ(env.handler().reported().total(), 0u);
  EXPECT_FALSE(env.shell().forced_status().has_value());
}

TEST(ConnectSource, WorkbookCheckOpensAndListsWithTheFieldNameSetting) {
  environment env;
  sel_file_page page;
  const std::string empty = env.dir().file("empty.xls");
  write_text(empty, "");
  for (bool names : {true, false}) {
    env.converter().set_x_fnames(names);
    EXPECT_TRUE(page.check_xls(wide(workbook)));
    EXPECT_FALSE(env.converter().get_worksheets().empty());
  }
  EXPECT_FALSE(page.check_xls(wide(connect_test::fixture("xls/no_workbook.xls"))));
  EXPECT_FALSE(page.check_xls(wide(empty)));
  EXPECT_FALSE(page.check_xls(wide(env.dir().file("missing.xlsx"))));
}

TEST(ConnectSource, BrowseProposesTheTypedSourceAndTakesThePick) {
  environment env;
  source_page page(env);
  page.fill("/d/Sales Q1.xlsx", "db");
  std::optional<QString> filter, title;
  std::wstring proposed;
  file_dialog::set_run_hook([&](const file_dialog& dialog) -> std::optional<std::wstring> {
    filter = dialog.qt_filter();
    title = dialog.title();
    proposed = dialog.proposed_name();
    return std::nullopt;
  });
  find_ctrl<QWidget>(page.page, sel_file_page::id_browse)->setFocus();
  QTest::mouseClick(find_ctrl<QWidget>(page.page, sel_file_page::id_browse), Qt::LeftButton);
  ASSERT_TRUE(filter.has_value());
  EXPECT_EQ(*filter, QStringLiteral("MS Excel Workbooks (.xls;.xlsx) (*.xls *.xlsx);;All Files (*.*) (*)"));
  EXPECT_EQ(*title, QStringLiteral("Select data source to convert"));
  EXPECT_EQ(proposed, L"Sales Q1.xlsx");  // a name that opens as it stands
  EXPECT_EQ(page.edit(sel_file_page::id_source)->text(), QStringLiteral("/d/Sales Q1.xlsx"));  // Cancel

  file_dialog::set_run_hook([&](const file_dialog&) -> std::optional<std::wstring> { return wide(workbook); });
  QTest::mouseClick(find_ctrl<QWidget>(page.page, sel_file_page::id_browse), Qt::LeftButton);
  EXPECT_EQ(page.edit(sel_file_page::id_source)->text(), QString::fromStdString(workbook));
}

// ---- with a server -----------------------------------------------------------------------

namespace {

/// A connected converter and the source page, filled with the fixture workbook and `dest`.
struct server_source_page : source_page {
  server_source_page(environment& env, const std::string& dest) : source_page(env) {
    connect_test::connect_to_test_server(env.converter());
    fill(workbook, dest);
  }
};

}  // namespace

TEST(ConnectSourceServer, MissingDatabaseAsksNothing) {
  TAMARIND_REQUIRE_SERVER();
  environment env;
  connect_test::scratch_database db("tmd_src_missing", false);
  server_source_page page(env, db.name());
  env.converter().set_mode(0);
  EXPECT_EQ(page.next(), 127);
  EXPECT_EQ(env.boxes().count(), 0u);
  // Nobody chose to replace a whole database: the run creates it and writes its tables (mode 1).
  EXPECT_EQ(env.converter().get_mode(), 1);
  EXPECT_FALSE(env.converter().is_drop_pending());
  EXPECT_FALSE(db.exists());
}

TEST(ConnectSourceServer, OverwritingTheDatabaseIsOnlyRecordedAndOfferedAgainOnTheNextVisit) {
  TAMARIND_REQUIRE_SERVER();
  environment env;
  connect_test::scratch_database db("tmd_src_drop");
  server_source_page page(env, db.name());
  {
    modal_answer answer([&](QWidget* shown) {
      find_ctrl<QAbstractButton>(shown, 1331)->click();
      find_ctrl<QAbstractButton>(shown, overwrite_dlg2::id_ok)->click();
    });
    EXPECT_EQ(page.next(), 127);
  }
  // Back, then Next: the earlier choice is checked; Enter on "replace the whole database".
  env.shell().back();
  ASSERT_TRUE(wizard_test::wait_until([&] { return env.shell().currentId() == 105; }));
  bool kept = false;
  {
    modal_answer answer([&](QWidget* shown) {
      kept = find_ctrl<QRadioButton>(shown, 1331)->isChecked();
      find_ctrl<QRadioButton>(shown, 1329)->setChecked(true);
      QTest::keyClick(shown, Qt::Key_Return);
    });
    EXPECT_EQ(page.next(), 127);
  }
  EXPECT_TRUE(kept);
  EXPECT_EQ(env.converter().get_mode(), 0);
  EXPECT_TRUE(env.converter().is_drop_pending());
  // Only recorded: Cancel before the run leaves the database there.
  env.boxes().answer_next(true);
  static_cast<QWizard&>(env.shell()).reject();
  ASSERT_TRUE(wizard_test::wait_until([&] { return !env.shell().isVisible(); }));
  EXPECT_TRUE(db.exists());
}

TEST(ConnectSourceServer, LoadedSettingsOfferTheirModeInTheOverwriteQuestion) {
  TAMARIND_REQUIRE_SERVER();
  environment env;
  connect_test::scratch_database db("tmd_src_loaded");
  const std::string profile = env.dir().file("merge.tmd");
  write_text(profile, "[Generic settings]\nsrc=" + workbook + "\nmode=3\n");
  ASSERT_TRUE(env.converter().load_profile_file(wide(profile)));
  server_source_page page(env, db.name());
  bool merge = false;
  modal_answer answer([&](QWidget* shown) {
    merge = find_ctrl<QRadioButton>(shown, 1332)->isChecked();
    QTest::keyClick(shown, Qt::Key_Return);
  });
  EXPECT_EQ(page.next(), 127);
  EXPECT_TRUE(merge);
  EXPECT_EQ(env.converter().get_mode(), 3);
}

TEST(ConnectSourceServer, ExistingDatabaseSkipSetsModeTwoAndKeepsIt) {
  TAMARIND_REQUIRE_SERVER();
  environment env;
  connect_test::scratch_database db("tmd_src_skip");
  server_source_page page(env, db.name());
  modal_answer answer([&](QWidget* shown) {
    find_ctrl<QAbstractButton>(shown, 1331)->click();
    find_ctrl<QAbstractButton>(shown, overwrite_dlg2::id_ok)->click();
  });
  EXPECT_EQ(page.next(), 127);
  EXPECT_EQ(env.converter().get_mode(), 2);
  EXPECT_TRUE(db.exists());
}

TEST(ConnectSourceServer, CancelOrEscapeKeepsPageModeAndDatabase) {
  TAMARIND_REQUIRE_SERVER();
  environment env;
  connect_test::scratch_database db("tmd_src_cancel");
  server_source_page page(env, db.name());
  env.converter().set_mode(1);
  {
    modal_answer answer([&](QWidget* shown) { find_ctrl<QAbstractButton>(shown, 2)->click(); });
    EXPECT_EQ(page.next(), 105);
  }
  {
    modal_answer answer([&](QWidget* shown) { QTest::keyClick(shown, Qt::Key_Escape); });
    EXPECT_EQ(page.next(), 105);
  }
  EXPECT_EQ(env.converter().get_mode(), 1);
  EXPECT_TRUE(db.exists());
  EXPECT_FALSE(env.shell().forced_status().has_value());
}

TEST(ConnectSourceServer, SourceThatIsNoWorkbookNeverTouchesTheDatabase) {
  TAMARIND_REQUIRE_SERVER();
  environment env;
  connect_test::scratch_database db("tmd_src_bad");
  server_source_page page(env, db.name());
  page.fill(connect_test::fixture("xls/no_workbook.xls"), db.name());
  EXPECT_EQ(page.next(), 105);
  EXPECT_TRUE(env.boxes().last_text().startsWith(qt(ui_messages[12])));
  EXPECT_TRUE(db.exists());
}

TEST(ConnectSourceServer, CsvMissingDatabaseAsksWithNoAsDefault) {
  TAMARIND_REQUIRE_SERVER();
  environment env;
  env.converter().set_from_xls(false);
  connect_test::scratch_database db("tmd_csv_missing", false);
  server_source_page page(env, db.name());
  page.edit(sel_file_page::id_table)->setText(QStringLiteral("orders"));
  env.boxes().answer_next(false);
  EXPECT_EQ(page.next(), 105);
  ASSERT_EQ(env.boxes().count(), 1u);
  EXPECT_EQ(env.boxes().boxes()[0].type, wizard_box::kind::question);
  EXPECT_TRUE(env.boxes().boxes()[0].default_no);
  EXPECT_EQ(env.boxes().last_text(), qt(ui_messages[14]));
  env.boxes().answer_next(true);
  EXPECT_EQ(page.next(), 127);
}

TEST(ConnectSourceServer, CsvExistingTableCancelOverwriteOrMerge) {
  TAMARIND_REQUIRE_SERVER();
  environment env;
  env.converter().set_from_xls(false);
  connect_test::scratch_database db("tmd_csv_table");
  const auto table_exists = [&] {
    pqxx::connection connection(tamarind_test::server_connection_string(db.name()));
    pqxx::nontransaction work(connection);
    return !work.exec("SELECT 1 FROM pg_tables WHERE schemaname = 'public' AND tablename = 'orders'").empty();
  };
  connect_test::run_sql("CREATE TABLE orders (id int)", db.name());
  server_source_page page(env, db.name());
  page.edit(sel_file_page::id_table)->setText(QStringLiteral("Orders"));

  // A CSV file (no workbook) is refused before the table is looked at: no dialog, no drop.
  const std::string csv = env.dir().file("orders.csv");
  write_text(csv, "id\n1\n");
  page.fill(csv, db.name());
  bool asked = false;
  {
    // Should the overwrite dialog come up all the same, it is closed (Cancel) and noted.
    QTimer safety;
    safety.setSingleShot(true);
    QObject::connect(&safety, &QTimer::timeout, [&] {
      if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
        asked = true;
        dialog->reject();
      }
    });
    safety.start(3000);
    EXPECT_EQ(page.next(), 105);
  }
  EXPECT_FALSE(asked);
  EXPECT_TRUE(env.boxes().last_text().startsWith(qt(ui_messages[12])));
  EXPECT_TRUE(table_exists());
  page.fill(workbook, db.name());

  env.converter().set_mode(2);
  {
    modal_answer answer([&](QWidget* shown) { find_ctrl<QAbstractButton>(shown, 2)->click(); });
    EXPECT_EQ(page.next(), 105);
  }
  EXPECT_TRUE(table_exists());
  {
    modal_answer answer([&](QWidget* shown) { find_ctrl<QAbstractButton>(shown, overwrite_dlg::id_merge)->click(); });
    EXPECT_EQ(page.next(), 127);
  }
  EXPECT_EQ(env.converter().get_mode(), 3);
  EXPECT_TRUE(table_exists());
  env.shell().back();
  ASSERT_TRUE(wizard_test::wait_until([&] { return env.shell().currentId() == 105; }));
  {
    modal_answer answer(
        [&](QWidget* shown) { find_ctrl<QAbstractButton>(shown, overwrite_dlg::id_overwrite)->click(); });
    EXPECT_EQ(page.next(), 127);
  }
  // Overwriting is left to the run (mode 1): nothing is dropped before anything was converted,
  // and the answer was about this table only.
  EXPECT_EQ(env.converter().get_mode(), 1);
  EXPECT_EQ(env.converter().get_replace_only(), L"Orders");
  EXPECT_TRUE(table_exists());
}

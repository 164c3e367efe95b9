// Whole runs of the converter: workbooks written at test time into a real PostgreSQL server.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include <pqxx/pqxx>

#include "converter_test_support.h"
#include "pg_test.h"
#include "tk/tk_exception.h"

using namespace conv_test;

namespace {

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

/// Runs one statement in a database (a fresh connection each time, so none is left open).
void exec(const std::string& db, const std::string& sql) {
  pqxx::connection c(tamarind_test::server_connection_string(db));
  pqxx::nontransaction tx(c);
  tx.exec(sql);
}

long long scalar(const std::string& db, const std::string& sql) {
  pqxx::connection c(tamarind_test::server_connection_string(db));
  pqxx::nontransaction tx(c);
  return tx.exec1(sql)[0].as<long long>();
}

bool database_exists(const std::string& db) {
  return scalar("postgres", "SELECT count(*) FROM pg_database WHERE datname = '" + db + "'") == 1;
}

bool table_exists(const std::string& db, const std::string& qualified) {
  return scalar(db, "SELECT count(*) FROM pg_class WHERE oid = to_regclass('" + qualified + "')") == 1;
}

class ServerConversion : public converter_fixture {
 protected:
  ServerConversion() : db(tamarind_test::unique_database_name("tmd_conv")), book(dir.file("book.xlsx")) {}
  ~ServerConversion() override {
    drop_converter();
    try {
      if (tamarind_test::server_configured()) exec("postgres", "DROP DATABASE IF EXISTS " + db + " WITH (FORCE)");
    } catch (...) {
    }
  }

  /// A converter of this front end, connected, with source and destination set.
  tamarind_convertor& connected(int mode, bool field_names = true,
                                tmd_front_end kind = tmd_front_end::agent) {
    tamarind_convertor& c = conv(kind);
    c.set_connection_params(env("PGHOST").c_str(), env("PGUSER").c_str(), env("PGPASSWORD").c_str(),
                            std::atoi(env("PGPORT").c_str()));
    c.set_src(wide(book));
    c.set_dest(wide(db));
    c.set_mode(mode);
    c.set_x_fnames(field_names);
    c.connect_pgs_server();
    return c;
  }

  /// The agent's order: connect, decide on the destination, run.
  void convert(tamarind_convertor& c) {
    c.check_dest();
    c.run();
    EXPECT_TRUE(c.is_finished());
  }

  /// An existing destination: public.sheet1 with five old rows, and a table nobody converts.
  void existing_destination(const std::string& qty_type = "double precision") {
    exec("postgres", "CREATE DATABASE " + db);
    exec(db, "CREATE TABLE public.sheet1 (name text, qty " + qty_type + ")");
    exec(db, "INSERT INTO public.sheet1 SELECT 'old' || g, g FROM generate_series(1, 5) g");
    exec(db, "CREATE TABLE public.keep_me (x int)");
  }

  void new_run() {
    drop_converter();
    presenter_reports_before = presenter.reports().size();
  }

  /// Runs `c` and stops it once it has sent 500 rows.
  void stop_during_rows(tamarind_convertor& c) {
    std::thread worker([&] { c.run(); });
    while (c.get_rec_count() < 500 && !c.is_finished()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    c.request_stop();
    worker.join();
  }

  /// Runs `c` while another session holds public.sheet1 in `lock_mode`, stops it once it waits
  /// on that lock, and returns how long the run took to end after the stop.
  std::chrono::steady_clock::duration stop_while_waiting_on_lock(tamarind_convertor& c, const std::string& lock_mode) {
    pqxx::connection holder(tamarind_test::server_connection_string(db));
    auto lock = std::make_unique<pqxx::work>(holder);
    lock->exec("LOCK TABLE public.sheet1 IN " + lock_mode + " MODE");
    const auto waiting = [&] { return scalar(db, "SELECT count(*) FROM pg_locks WHERE NOT granted") > 0; };
    std::thread worker([&] { c.run(); });
    for (int i = 0; i < 1000 && !waiting() && !c.is_finished(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(waiting()) << "the run never waited on the lock";
    const auto stopped_at = std::chrono::steady_clock::now();
    c.request_stop();
    while (!c.is_finished() && std::chrono::steady_clock::now() - stopped_at < std::chrono::seconds(10))
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const auto took = std::chrono::steady_clock::now() - stopped_at;
    lock.reset();  // lets a run that ignored the stop go on, so the test ends either way
    worker.join();
    return took;
  }

  std::string db;
  std::string book;
  std::size_t presenter_reports_before = 0;
};

}  // namespace

TEST_F(ServerConversion, ModeZeroReplacesTheDatabaseOnlyOnceTheWorkbookIsOpen) {
  TAMARIND_REQUIRE_SERVER();
  write_workbook(book, {numbered_sheet("Sheet1", 3), numbered_sheet("Sheet2", 2)});
  existing_destination();
  tamarind_convertor& c = connected(0);
  c.check_dest();
  EXPECT_TRUE(c.is_drop_pending());
  EXPECT_TRUE(table_exists(db, "public.keep_me"));  // nothing dropped before the run opens the workbook
  c.run();

  EXPECT_TRUE(presenter.reports().empty());
  EXPECT_FALSE(table_exists(db, "public.keep_me"));
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM public.sheet1"), 3);
  EXPECT_EQ(scalar(db, "SELECT sum(qty) FROM public.sheet1"), 6);
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM public.sheet2 WHERE name LIKE 'r%'"), 2);
  // No index and no key on the new tables.
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM pg_indexes WHERE schemaname = 'public'"), 0);
  EXPECT_EQ(c.get_progress(), 100);
  EXPECT_EQ(c.get_sheets_done(), 2);
  EXPECT_EQ(frame.events(),
            (std::vector<std::string>{"spreadsheet " + book + " 2", "log Creating schema if necessary: 'public'\n",
                                      "worksheet Sheet1", "log Creating schema if necessary: 'public'\n",
                                      "worksheet Sheet2", "finished"}));
}

TEST_F(ServerConversion, ModesOneTwoThreeAgainstAnExistingTable) {
  TAMARIND_REQUIRE_SERVER();
  write_workbook(book, {numbered_sheet("Sheet1", 3), numbered_sheet("Sheet2", 2)});
  struct expectation {
    int mode;
    long long rows, old_rows;
  };
  for (const expectation& e : {expectation{1, 3, 0}, expectation{2, 5, 5}, expectation{3, 8, 5}}) {
    SCOPED_TRACE(e.mode);
    existing_destination();
    tamarind_convertor& c = connected(e.mode);
    convert(c);
    EXPECT_EQ(presenter.reports().size(), presenter_reports_before);
    EXPECT_EQ(scalar(db, "SELECT count(*) FROM public.sheet1"), e.rows);
    EXPECT_EQ(scalar(db, "SELECT count(*) FROM public.sheet1 WHERE name LIKE 'old%'"), e.old_rows);
    EXPECT_EQ(scalar(db, "SELECT count(*) FROM public.sheet2"), 2);
    EXPECT_TRUE(table_exists(db, "public.keep_me"));
    EXPECT_EQ(c.get_sheets_done(), 2);  // a skipped worksheet counts as done
    new_run();
    exec("postgres", "DROP DATABASE " + db + " WITH (FORCE)");
  }
}

TEST_F(ServerConversion, SchemaNamesAndAFailingWorksheetThatDoesNotStopTheNext) {
  TAMARIND_REQUIRE_SERVER();
  write_workbook(book, {numbered_sheet("Sales.Q1", 2), numbered_sheet("pg_x.data", 2), numbered_sheet("Zed", 1)});
  tamarind_convertor& c = connected(0);
  convert(c);
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM sales.q1"), 2);
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM public.zed"), 1);
  const auto reports = presenter.reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].rfind("pg_x.data: ", 0), 0u) << reports[0];
  EXPECT_TRUE(contains(frame.events(), "log Creating schema if necessary: 'Sales'\n"));
  EXPECT_EQ(c.get_sheets_done(), 3);
  EXPECT_EQ(c.get_progress(), 100);
}

TEST_F(ServerConversion, RefusedRecordsAreReportedWithTheirNumbersAndEveryOtherRowLands) {
  TAMARIND_REQUIRE_SERVER();
  sheet_data sheet = numbered_sheet("Sheet1", 3000);
  sheet.rows[3][1] = std::string("three");     // record 3
  sheet.rows[1500][1] = std::string("n/a");    // record 1500
  write_workbook(book, {sheet, numbered_sheet("Sheet2", 2)});
  existing_destination("integer");
  exec(db, "TRUNCATE public.sheet1");
  tamarind_convertor& c = connected(3);
  convert(c);
  const auto reports = presenter.reports();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].rfind("Sheet1, record #3: ", 0), 0u) << reports[0];
  EXPECT_EQ(reports[1].rfind("Sheet1, record #1500: ", 0), 0u) << reports[1];
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM public.sheet1"), 2998);
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM public.sheet2"), 2);
  EXPECT_EQ(handler->reported().level0, 2u);
}

TEST_F(ServerConversion, AnUnreadableWorkbookLeavesTheDestinationAlone) {
  TAMARIND_REQUIRE_SERVER();
  write_bytes(book, std::string("PK\x03\x04", 4) + std::string(200, 'x'));
  existing_destination();
  tamarind_convertor& c = connected(0);
  convert(c);
  EXPECT_EQ(presenter.reports().size(), 1u);
  EXPECT_TRUE(database_exists(db));
  EXPECT_TRUE(table_exists(db, "public.keep_me"));
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM public.sheet1"), 5);
}

TEST_F(ServerConversion, MissingWorksheetsAreReportedAndNoMatchConvertsNothing) {
  TAMARIND_REQUIRE_SERVER();
  write_workbook(book, {numbered_sheet("Sheet1", 3), numbered_sheet("Sheet2", 2)});
  existing_destination();
  {
    tamarind_convertor& c = connected(0);
    try {
      c.select_worksheets({L"Nope", L"Gone"});
      FAIL() << "a selection matching nothing was taken";
    } catch (const tk_exception& e) {
      EXPECT_EQ(std::string(e.what()), "None of the selected worksheets exists in the workbook.");
      EXPECT_EQ(e.level(), 0);
    }
    EXPECT_EQ(frame.events(), std::vector<std::string>{"not found Nope Gone"});
    EXPECT_EQ(handler->reported().level0, 2u);
    // Run anyway: the run itself refuses and touches nothing.
    convert(c);
    ASSERT_EQ(presenter.reports().size(), 1u);
    EXPECT_EQ(presenter.reports()[0], "None of the selected worksheets exists in the workbook.");
    EXPECT_TRUE(table_exists(db, "public.keep_me"));
    EXPECT_EQ(scalar(db, "SELECT count(*) FROM public.sheet1"), 5);
  }
  new_run();
  tamarind_convertor& c = connected(1);
  ASSERT_TRUE(c.select_worksheets({L"Sheet2", L"Nope"}));
  EXPECT_EQ(frame.events().back(), "not found Nope");
  convert(c);
  EXPECT_EQ(presenter.reports().size(), presenter_reports_before);
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM public.sheet2"), 2);
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM public.sheet1"), 5);  // not selected
}

TEST_F(ServerConversion, TwoWorksheetsForOneTable) {
  TAMARIND_REQUIRE_SERVER();
  write_workbook(book, {numbered_sheet("Data", 3), numbered_sheet("public.Data", 2, 100)});
  {
    tamarind_convertor& c = connected(0);
    convert(c);
    ASSERT_EQ(presenter.reports().size(), 1u);
    EXPECT_EQ(presenter.reports()[0],
              "public.Data: Table 'public.Data' was already written by this conversion");
    EXPECT_EQ(scalar(db, "SELECT count(*) FROM public.data"), 3);
  }
  new_run();
  tamarind_convertor& c = connected(3);
  convert(c);
  EXPECT_EQ(presenter.reports().size(), presenter_reports_before);
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM public.data"), 3 + 3 + 2);
}

TEST_F(ServerConversion, MergingTwoWorksheetsIntoADatabaseTheRunCreates) {
  TAMARIND_REQUIRE_SERVER();
  write_workbook(book, {numbered_sheet("Data", 3), numbered_sheet("public.Data", 2, 100), numbered_sheet("Other", 1)});
  ASSERT_FALSE(database_exists(db));
  tamarind_convertor& c = connected(3);
  convert(c);
  EXPECT_TRUE(presenter.reports().empty());
  EXPECT_EQ(handler->reported().level2, 0u);
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM public.data"), 3 + 2);
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM public.data WHERE qty >= 100"), 2);
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM public.other"), 1);
  EXPECT_EQ(c.get_sheets_done(), 3);
}

TEST_F(ServerConversion, ModeZeroIntoATableThatAlreadyExistsIsAWorksheetError) {
  TAMARIND_REQUIRE_SERVER();
  write_workbook(book, {numbered_sheet("Sheet1", 3), numbered_sheet("Sheet2", 2)});
  existing_destination();
  tamarind_convertor& c = connected(0);
  c.run();  // no check_dest: the database stays, its table is not written over
  ASSERT_EQ(presenter.reports().size(), 1u);
  EXPECT_EQ(presenter.reports()[0], "Sheet1: Table 'public.Sheet1' already exists");
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM public.sheet1"), 5);
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM public.sheet2"), 2);
}

TEST_F(ServerConversion, ProgressIsReadFromAnotherThreadDuringTheRun) {
  TAMARIND_REQUIRE_SERVER();
  // The last sheet is long enough for the poll to see its records counted however fast rows go.
  write_workbook(book, {numbered_sheet("A", 4000), numbered_sheet("B", 4000), numbered_sheet("C", 4000),
                        numbered_sheet("D", 60000)});
  tamarind_convertor& c = connected(0, true, tmd_front_end::wizard);
  ASSERT_TRUE(c.select_worksheets({L"A", L"B", L"C", L"D"}));
  c.check_dest();
  std::thread worker([&] { c.run(); });
  int last = 0;
  bool saw_sheet = false, saw_records = false, monotonic = true;
  while (!c.is_finished()) {
    const int p = c.get_progress();
    monotonic = monotonic && p >= last && p <= 100;
    last = p;
    saw_sheet = saw_sheet || !c.get_cur_sheet().empty();
    saw_records = saw_records || c.get_rec_count() > 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  worker.join();
  EXPECT_TRUE(monotonic);
  EXPECT_TRUE(saw_sheet);
  EXPECT_TRUE(saw_records);
  EXPECT_EQ(c.get_progress(), 100);
  EXPECT_EQ(frame.timer_starts, 1);
  EXPECT_EQ(frame.finish_pages, 1);
  EXPECT_TRUE(presenter.reports().empty());
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM public.d"), 60000);
}

TEST_F(ServerConversion, AStopEndsTheRunAndKeepsTheRowsSent) {
  TAMARIND_REQUIRE_SERVER();
  write_workbook(book, {numbered_sheet("A", 50000), numbered_sheet("B", 10)});
  {
    // Before the run: nothing on the server is touched.
    tamarind_convertor& c = connected(0);
    c.request_stop();
    convert(c);
    EXPECT_FALSE(database_exists(db));
  }
  new_run();
  tamarind_convertor& c = connected(0);
  c.check_dest();
  stop_during_rows(c);
  ASSERT_TRUE(c.is_finished());
  EXPECT_TRUE(presenter.reports().empty());
  const long long sent = c.get_rec_count();
  EXPECT_GE(sent, 500);
  EXPECT_LT(sent, 50000);
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM public.a"), sent);
  EXPECT_FALSE(table_exists(db, "public.b"));
}

// A worksheet's table is made in the transaction of its rows: a worksheet rolled back (here its
// connection ends in the middle of its rows) leaves no table behind.
TEST_F(ServerConversion, AWorksheetRolledBackLeavesNoTableOrKeepsTheOneItWouldReplace) {
  TAMARIND_REQUIRE_SERVER();
  write_workbook(book, {numbered_sheet("Sheet1", 100000), numbered_sheet("B", 10)});
  for (const bool existing : {false, true}) {
    SCOPED_TRACE(existing);
    if (existing) existing_destination();
    tamarind_convertor& c = connected(1);
    c.check_dest();
    std::thread worker([&] { c.run(); });
    while (c.get_rec_count() < 500 && !c.is_finished()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    exec("postgres", "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '" + db + "'");
    worker.join();
    ASSERT_TRUE(c.is_finished());
    EXPECT_GT(presenter.reports().size(), presenter_reports_before);
    if (existing)
      EXPECT_EQ(scalar(db, "SELECT count(*) FROM public.sheet1 WHERE name LIKE 'old%'"), 5);
    else
      EXPECT_FALSE(table_exists(db, "public.sheet1"));
    new_run();
    exec("postgres", "DROP DATABASE IF EXISTS " + db + " WITH (FORCE)");
  }
}

TEST_F(ServerConversion, AStopCancelsAWaitOnAnotherSessionsLock) {
  TAMARIND_REQUIRE_SERVER();
  write_workbook(book, {numbered_sheet("Sheet1", 200), numbered_sheet("Sheet2", 3)});
  existing_destination();
  // Another session keeps the table from being written (reads stay allowed) until it ends.
  EXPECT_LT(stop_while_waiting_on_lock(connected(3), "EXCLUSIVE"), std::chrono::seconds(2));
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM public.sheet1"), 5);  // the worksheet rolled back
  EXPECT_FALSE(table_exists(db, "public.sheet2"));                  // and no later one begun
  EXPECT_TRUE(presenter.reports().empty());
  EXPECT_TRUE(contains(frame.events(), "log The conversion was stopped by the user.\n"));
}

// A stop keeps its word: the rows sent stay however long their commit takes, mode 1 keeps the table
// it was to replace, a wait on another session's lock still ends at once, and the stopped
// worksheet is told with what it kept while the run counts as failed (the agent's status 1): a
// worksheet stopped before its first row stored none of its rows, never that its table was left.
TEST_F(ServerConversion, AStopKeepsTheRowsItSaysOrTheTableItWasToReplace) {
  TAMARIND_REQUIRE_SERVER();
  write_workbook(book, {numbered_sheet("Sheet1", 50000), numbered_sheet("Sheet2", 10)});
  const std::string stopped = "log Sheet1: the conversion was stopped in this worksheet; ";
  existing_destination("integer");
  // Checked at commit, and slower than the stop's grace.
  exec(db, "CREATE FUNCTION slow() RETURNS trigger LANGUAGE plpgsql AS $$BEGIN PERFORM pg_sleep(1.5); RETURN NULL;"
           " END$$; CREATE CONSTRAINT TRIGGER slow AFTER INSERT ON sheet1 DEFERRABLE INITIALLY DEFERRED"
           " FOR EACH ROW WHEN (NEW.qty = 1) EXECUTE FUNCTION slow()");
  const unsigned errors_before = handler->reported().total();
  stop_during_rows(connected(3));
  const long long kept = scalar(db, "SELECT count(*) FROM public.sheet1 WHERE name LIKE 'r%'");
  EXPECT_TRUE(kept >= 500 && kept < 50000) << kept;
  EXPECT_TRUE(contains(frame.events(), stopped + std::to_string(kept) + " of its rows were stored.\n"));
  EXPECT_GT(handler->reported().total(), errors_before);

  new_run();
  exec(db, "DELETE FROM public.sheet1 WHERE name LIKE 'r%'");
  stop_during_rows(connected(1));
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM public.sheet1 WHERE name LIKE 'old%'"), 5);
  EXPECT_TRUE(contains(frame.events(), stopped + "none of its rows were stored and its table was left as it was.\n"));

  new_run();  // mode 1's drop of the table waits for another session
  EXPECT_LT(stop_while_waiting_on_lock(connected(1), "ACCESS SHARE"), std::chrono::seconds(2));
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM public.sheet1"), 5);

  new_run();  // stopped before its first row, a worksheet still commits the table it makes
  exec(db, "DROP TABLE public.sheet1");
  struct stopping_frame : recording_frame {
    tamarind_convertor* converter = nullptr;
    void worksheet_started(const std::wstring& name) override {
      recording_frame::worksheet_started(name);
      converter->request_stop();
    }
  } stopping;
  tamarind_convertor& c = connected(3);
  stopping.converter = &c;
  c.set_frame(&stopping);
  c.run();
  c.set_frame(&frame);
  EXPECT_TRUE(table_exists(db, "public.sheet1"));
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM public.sheet1"), 0);
  EXPECT_TRUE(contains(stopping.events(), stopped + "0 of its rows were stored.\n"));
}

namespace {

/// Asks like the wizard's row-error dialog, answering Abort or Continue as told.
class answering_presenter : public error_presenter {
 public:
  explicit answering_presenter(bool abort) : abort(abort) {}
  dispatch mode() const override { return dispatch::interactive; }
  void internal_error(const std::string& message) override { asked.push_back("internal: " + message); }
  void error(const std::string& text) override { asked.push_back(text); }
  continue_answer ask_continue(const std::string& text) override {
    asked.push_back(text);
    return {abort, false};
  }
  bool abort;
  std::vector<std::string> asked;
};

}  // namespace

TEST_F(ServerConversion, AbortAtARefusedRecordLandsTheRowsBeforeItAndNoneAfter) {
  TAMARIND_REQUIRE_SERVER();
  write_workbook(book, {numbered_sheet("Sheet1", 3000), numbered_sheet("Sheet2", 2)});
  for (const bool abort : {true, false}) {
    SCOPED_TRACE(abort);
    existing_destination("integer");
    exec(db, "ALTER TABLE public.sheet1 ADD CHECK (qty % 1000 <> 700)");  // records 700, 1700, 2700
    answering_presenter answers(abort);
    handler->set_presenter(&answers);
    tamarind_convertor& c = connected(3);
    convert(c);
    handler->set_presenter(&presenter);
    std::vector<std::string> expected = {"Sheet1, record #700: "};
    if (!abort) expected = {"Sheet1, record #700: ", "Sheet1, record #1700: ", "Sheet1, record #2700: "};
    ASSERT_EQ(answers.asked.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(answers.asked[i].rfind(expected[i], 0), 0u) << answers.asked[i];
    const long long kept = abort ? 699 : 2997;
    EXPECT_EQ(scalar(db, "SELECT count(*) FROM public.sheet1 WHERE name LIKE 'r%'"), kept);
    EXPECT_EQ(scalar(db, "SELECT coalesce(max(qty), 0) FROM public.sheet1"), abort ? 699 : 3000);
    EXPECT_EQ(table_exists(db, "public.sheet2"), !abort);  // Abort ends the run
    new_run();
    exec("postgres", "DROP DATABASE " + db + " WITH (FORCE)");
  }
}

// After an Abort the rows before the refused record are committed; when that commit fails, the user
// learns that the worksheet kept none of its rows.
TEST_F(ServerConversion, AbortWhoseRowsBeforeCannotBeCommittedSaysNoneWereKept) {
  TAMARIND_REQUIRE_SERVER();
  write_workbook(book, {numbered_sheet("Sheet1", 3000)});
  existing_destination("integer");
  exec(db, "ALTER TABLE sheet1 ADD CHECK (qty <> 700); CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql"
           " AS $$BEGIN RAISE 'refused at commit'; END$$; CREATE CONSTRAINT TRIGGER at_commit AFTER INSERT ON sheet1"
           " DEFERRABLE INITIALLY DEFERRED FOR EACH ROW WHEN (NEW.qty = 5) EXECUTE FUNCTION refuse()");
  answering_presenter answers(true);
  handler->set_presenter(&answers);
  convert(connected(3));
  handler->set_presenter(&presenter);
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM public.sheet1"), 5);
  // Asked once, at the refused record; what became of the worksheet is listed for the finish page.
  EXPECT_EQ(answers.asked.size(), 1u);
  const std::vector<std::string> listed = handler->listed_errors();
  ASSERT_FALSE(listed.empty());
  EXPECT_EQ(listed.back(), "Sheet1: The rows before the refused record could not be stored: this worksheet "
                           "kept none of its rows.");
}

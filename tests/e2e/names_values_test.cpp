// Hostile names, exact values, colliding tables, large sheets and credentials, end to end.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include <pqxx/pqxx>

#include "e2e_support.h"

namespace {

using e2e::cell;
using e2e::join;
using e2e::run_corvel;
using e2e::server_options;
using strings = std::vector<std::string>;
using rows_t = std::vector<std::vector<cell>>;

class E2eData : public testing::Test {
 protected:
  void SetUp() override { TAMARIND_REQUIRE_SERVER(); }
  e2e::run_result convert(const std::string& src, const strings& extra = {}, int timeout_s = 60) {
    return run_corvel(join(join({"--src=" + src, "--dest=" + db.name()}, server_options(false)), extra), timeout_s);
  }

  e2e::scratch_dir dir;
  e2e::database_guard db{"e2e_data"};
};

TEST_F(E2eData, HostileWorksheetAndDatabaseNames) {
  const std::string cjk = [] {
    std::string s;
    for (int i = 0; i < 25; ++i) s += "\xE6\x97\xA5";  // 25 times U+65E5, 75 bytes
    return s;
  }();
  const rows_t rows = {{cell::str("v")}, {cell::num(1)}};
  const std::string workbook = dir.file("hostile.xlsx");
  e2e::write_workbook(workbook, {{"x\"; drop table y; --", rows}, {"O'Brien", rows}, {cjk, rows}});
  db.create();
  db.execute("CREATE TABLE y (k integer); INSERT INTO y VALUES (1)");
  const e2e::run_result r = convert(workbook, {"--extr_fn", "--mode=1"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  const strings tables = db.tables();
  const auto has = [&](const std::string& name) { return std::find(tables.begin(), tables.end(), name) != tables.end(); };
  EXPECT_TRUE(has("public.y")) << testing::PrintToString(tables);
  EXPECT_TRUE(has("public.x\"; drop table y; --")) << testing::PrintToString(tables);
  EXPECT_TRUE(has("public.o'brien")) << testing::PrintToString(tables);
  // The long name is fitted to 63 bytes on a character boundary (the server would refuse or cut
  // anything longer, and it holds only valid UTF-8).
  const auto fitted = std::find_if(tables.begin(), tables.end(),
                                   [&](const std::string& t) { return t.rfind("public." + cjk.substr(0, 6), 0) == 0; });
  ASSERT_NE(fitted, tables.end()) << testing::PrintToString(tables);
  EXPECT_LE(fitted->size() - 7, 63u) << *fitted;
  EXPECT_EQ(tables.size(), 4u);

  // A database name with a quote in it.
  e2e::database_guard quoted{"e2e_o'q"};
  const e2e::run_result q =
      run_corvel(join({"--src=" + workbook, "--dest=" + quoted.name(), "--extr_fn"}, server_options(false)));
  EXPECT_EQ(q.status, 0) << q.out << q.err;
  EXPECT_TRUE(quoted.exists());
}

TEST_F(E2eData, ValuesArriveUnchanged) {
  const std::string long_text(20000, 'L');
  const rows_t rows = {
      {cell::str("k"), cell::str("t"), cell::str("n"), cell::str("b"), cell::str("d")},
      {cell::num(1), cell::str("tab\there"), cell::num(123456789012345.0), cell::boolean(true),
       cell::date("2024-02-29 13:45:30.123")},
      {cell::num(2), cell::str("back\\slash"), cell::num(0.1), cell::boolean(false), cell::date("1999-12-31 23:59:59.999")},
      {cell::num(3), cell::str("line\nfeed"), cell::num(-2.5), cell::boolean(true), cell::date("2000-01-01 00:00:00.000")},
      {cell::num(4), cell::str("crlf\r\nend"), cell::num(0), cell::none(), cell::none()},
      {cell::num(5), cell::str("Gr\xC3\xBC\xC3\x9F" "e \xE6\x97\xA5\xE6\x9C\xAC"), cell::num(1e15), cell::boolean(false),
       cell::date("1900-03-01 12:00:00.000")},
      {cell::num(6), cell::str(long_text), cell::none(), cell::none(), cell::none()},
  };
  const std::string workbook = dir.file("values.xlsx");
  e2e::write_workbook(workbook, {{"Vals", rows}});
  const e2e::run_result r = convert(workbook, {"--extr_fn"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(db.rows("SELECT k, t FROM vals WHERE k < 6 ORDER BY k"),
            (strings{"1|tab\there", "2|back\\slash", "3|line\nfeed", "4|crlf\nend",
                     "5|Gr\xC3\xBC\xC3\x9F" "e \xE6\x97\xA5\xE6\x9C\xAC"}));
  EXPECT_EQ(db.rows("SELECT t FROM vals WHERE k = 6"), (strings{long_text}));
  EXPECT_EQ(db.rows("SELECT k, n, b FROM vals ORDER BY k"),
            (strings{"1|123456789012345|t", "2|0.1|f", "3|-2.5|t", "4|0|<null>", "5|1e+15|f", "6|<null>|<null>"}));
  EXPECT_EQ(db.rows("SELECT k, to_char(d, 'YYYY-MM-DD HH24:MI:SS.MS') FROM vals WHERE d IS NOT NULL ORDER BY k"),
            (strings{"1|2024-02-29 13:45:30.123", "2|1999-12-31 23:59:59.999", "3|2000-01-01 00:00:00.000",
                     "5|1900-03-01 12:00:00.000"}));
}

TEST_F(E2eData, TextsHoldingNulLandWithoutItAndAreReported) {
  // "_x0000_" is how a workbook writes U+0000 into a text; the server's text cannot hold it.
  const rows_t rows = {
      {cell::str("Name"), cell::str("Note")},
      {cell::str("a_x0000_b"), cell::str("ok")},
      {cell::str("plain"), cell::str("_x0000_x_x0000_ \xC3\xA9_x0000_")},
      {cell::str("clean"), cell::str("clean")},
  };
  const std::string workbook = dir.file("nul.xlsx");
  e2e::write_workbook(workbook, {{"Notes", rows}});
  const std::string log = dir.file("nul.log");
  const e2e::run_result r = convert(workbook, {"--extr_fn", "--logfile=" + log});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  const auto report = [](const std::string& where) {
    return where + ": the text holds the character U+0000, which PostgreSQL cannot store; the text was stored without it.\n";
  };
  const std::string first = report("Notes, record #1: Column 'name'");
  const std::string second = report("Notes, record #2: Column 'note'");
  EXPECT_NE(r.out.find("Error:\n" + first + "Error:\n" + second), std::string::npos) << r.out;
  std::ifstream in(log, std::ios::binary);
  const std::string logged((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(logged.find(first.substr(0, first.size() - 1) + "\r\n"), std::string::npos) << logged;
  EXPECT_NE(logged.find(second.substr(0, second.size() - 1) + "\r\n"), std::string::npos) << logged;
  EXPECT_EQ(db.rows("SELECT name, note FROM notes ORDER BY name"),
            (strings{"ab|ok", "clean|clean", "plain|x \xC3\xA9"}));

  // Told in record order with the rows the server refuses, which it names only later.
  db.execute("DELETE FROM notes; ALTER TABLE notes ADD CHECK (note <> 'no')");
  e2e::write_workbook(workbook, {{"Notes", {rows[0], {cell::str("r1"), cell::str("no")}, rows[1]}}});
  const e2e::run_result again = convert(workbook, {"--extr_fn", "--mode=3"});
  const auto refused = again.out.find("Notes, record #1: ");
  EXPECT_NE(refused, std::string::npos) << again.out;
  EXPECT_LT(refused, again.out.find("Notes, record #2: Column 'name'")) << again.out;
  EXPECT_EQ(db.rows("SELECT name, note FROM notes"), (strings{"ab|ok"}));
}

TEST_F(E2eData, TwoWorksheetsForOneTable) {
  const std::string workbook = dir.file("twice.xlsx");
  e2e::write_workbook(workbook, {{"Data", {{cell::str("v")}, {cell::num(1)}, {cell::num(2)}}},
                                 {"public.Data", {{cell::str("v")}, {cell::num(3)}}}});
  e2e::run_result r = convert(workbook, {"--extr_fn"});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("Error:\npublic.Data: "), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Internal error"), std::string::npos) << r.out;
  EXPECT_EQ(db.rows("SELECT v FROM data ORDER BY v"), (strings{"1", "2"}));
}

TEST_F(E2eData, TwoWorksheetsForOneTableMerged) {
  const std::string workbook = dir.file("twice.xlsx");
  e2e::write_workbook(workbook, {{"Data", {{cell::str("v")}, {cell::num(1)}, {cell::num(2)}}},
                                 {"public.Data", {{cell::str("v")}, {cell::num(3)}}}});
  e2e::database_guard merged{"e2e_merge"};
  const e2e::run_result r = run_corvel(join({"--src=" + workbook, "--dest=" + merged.name(), "--extr_fn", "--mode=3"}, server_options(false)));
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(merged.rows("SELECT v FROM data ORDER BY v"), (strings{"1", "2", "3"}));
}

TEST_F(E2eData, HeaderOnlyAndLargeSheets) {
  rows_t big = {{}};
  for (int c = 0; c < 10; ++c) big[0].push_back(cell::str("c" + std::to_string(c)));
  for (int r = 1; r <= 100000; ++r) {
    std::vector<cell> row;
    for (int c = 0; c < 10; ++c) row.push_back(cell::num(r * 10 + c));
    big.push_back(std::move(row));
  }
  const std::string workbook = dir.file("big.xlsx");
  e2e::write_workbook(workbook, {{"Big", big}, {"Empty", {{cell::str("a"), cell::str("b")}}}}, true);
  const auto start = std::chrono::steady_clock::now();
  const e2e::run_result r = convert(workbook, {"--extr_fn", "--silent"}, 120);
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_LE(seconds.count(), 60);
  EXPECT_EQ(db.rows("SELECT count(*), sum(c0), max(c9) FROM big"), (strings{"100000|50000500000|1000009"}));
  EXPECT_EQ(db.columns("public", "empty").size(), 2u);
  EXPECT_EQ(db.rows("SELECT count(*) FROM empty"), (strings{"0"}));
}

/// A login role made for one test and dropped after it.
class role_guard {
 public:
  role_guard(std::string name, const std::string& password) : m_name(std::move(name)) {
    pqxx::connection connection(tamarind_test::server_connection_string());
    pqxx::nontransaction work(connection);
    work.exec("CREATE ROLE " + work.quote_name(m_name) + " LOGIN CREATEDB PASSWORD " + work.quote(password));
  }
  ~role_guard() {
    try {
      pqxx::connection connection(tamarind_test::server_connection_string());
      pqxx::nontransaction work(connection);
      work.exec("DROP ROLE IF EXISTS " + work.quote_name(m_name));
    } catch (const std::exception& e) {
      ADD_FAILURE() << "cannot drop role " << m_name << ": " << e.what();
    }
  }
  const std::string& name() const { return m_name; }

 private:
  std::string m_name;
};

TEST(E2eCredentials, UserAndPasswordOptionsWithBlankAndQuote) {
  TAMARIND_REQUIRE_SERVER();
  e2e::scratch_dir dir;
  const std::string book = dir.file("book.xlsx");
  e2e::write_workbook(book, e2e::book_sheets());
  const std::string password = "pa ss'wo\\rd";
  role_guard role(tamarind_test::unique_database_name("e2e_role"), password);
  e2e::database_guard db{"e2e_cred"};  // dropped before the role
  const e2e::run_result r = run_corvel(join(
      {"--src=" + book, "--dest=" + db.name(), "--user=" + role.name(), "--pswd=" + password}, server_options(false)));
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ((r.out + r.err).find(password), std::string::npos);
  pqxx::connection connection(tamarind_test::server_connection_string());
  pqxx::nontransaction work(connection);
  const pqxx::result owner =
      work.exec("SELECT pg_catalog.pg_get_userbyid(datdba) FROM pg_database WHERE datname = " + work.quote(db.name()));
  ASSERT_EQ(owner.size(), 1u);
  EXPECT_EQ(owner[0][0].as<std::string>(), role.name());

  // A wrong password: refused, reported, status 1, nothing created.
  if (!tamarind_test::server_checks_passwords()) GTEST_SKIP() << tamarind_test::trusting_server_reason;
  e2e::database_guard never{"e2e_never"};
  const e2e::run_result wrong = run_corvel(join(
      {"--src=" + book, "--dest=" + never.name(), "--user=" + role.name(), "--pswd=nope"}, server_options(false)));
  EXPECT_EQ(wrong.status, 1) << wrong.out << wrong.err;
  EXPECT_EQ(wrong.out.rfind("Error:\n", 0), 0u) << wrong.out;
  EXPECT_FALSE(never.exists());
}

}  // namespace

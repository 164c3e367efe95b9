// Whole conversions into a real server: what lands, what is printed, and the status.
#include <sys/resource.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "e2e_support.h"

namespace {

using e2e::cell;
using e2e::join;
using e2e::run_corvel;
using e2e::server_options;
using strings = std::vector<std::string>;

std::string upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
  return text;
}

class E2eConversion : public testing::Test {
 protected:
  void SetUp() override {
    TAMARIND_REQUIRE_SERVER();
    book = dir.file("book.xlsx");
    e2e::write_workbook(book, e2e::book_sheets());
  }
  /// Converts `src` into the test's database with the server's host and port.
  e2e::run_result convert(const std::string& src, const strings& extra = {}) {
    return run_corvel(join(join({"--src=" + src, "--dest=" + db.name()}, server_options(false)), extra));
  }
  std::string book_stdout() const {
    return "Converting spreadsheet " + book +
           "(2 worksheets)\n"
           "Creating schema if necessary: 'public'\nConverting worksheet Sheet1\n"
           "Creating schema if necessary: 'public'\nConverting worksheet Sheet2\n";
  }

  e2e::scratch_dir dir;
  e2e::database_guard db{"e2e_conv"};
  std::string book;
};

TEST_F(E2eConversion, HeaderNamedColumnsExactRowsAndNoIndexes) {
  // The destination's name is lowercased by the server side.
  const e2e::run_result r = run_corvel(join({"--src=" + book, "--extr_fn", "--dest=" + upper(db.name())}, server_options(false)));
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, book_stdout());
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(r.config_untouched);
  ASSERT_TRUE(db.exists());
  EXPECT_EQ(db.tables(), (strings{"public.sheet1", "public.sheet2"}));
  const strings sheet1_columns = db.columns("public", "sheet1");
  ASSERT_EQ(sheet1_columns.size(), 3u);
  EXPECT_EQ(sheet1_columns[0].substr(0, 3), "id:");
  EXPECT_EQ(sheet1_columns[1].substr(0, 5), "name:");
  EXPECT_EQ(sheet1_columns[2].substr(0, 7), "amount:");
  EXPECT_EQ(db.rows("SELECT id, name, amount FROM public.sheet1 ORDER BY id"),
            (strings{"1|Alpha|10.5", "2|Beta|-3.25", "3|Gamma|1000000"}));
  EXPECT_EQ(db.rows("SELECT code, born::date FROM public.sheet2 ORDER BY code"),
            (strings{"A1|2001-02-03", "B2|1999-12-31"}));
  EXPECT_EQ(db.index_count(), 0);
}

TEST_F(E2eConversion, WithoutFieldNamesTheHeaderRowIsData) {
  const e2e::run_result r = convert(book);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  const strings columns = db.columns("public", "sheet1");
  ASSERT_EQ(columns.size(), 3u);
  EXPECT_EQ(columns[0].substr(0, 3), "f1:");
  EXPECT_EQ(columns[2].substr(0, 3), "f3:");
  EXPECT_EQ(db.rows("SELECT f2 FROM public.sheet1 ORDER BY f2"), (strings{"Alpha", "Beta", "Gamma", "name"}));
}

TEST_F(E2eConversion, RefusedSourcesLeaveTheDestinationAndModeZeroReplacesIt) {
  db.create();
  db.execute("CREATE TABLE keep_me (x integer); INSERT INTO keep_me VALUES (7)");
  const std::string text = dir.write("text.xlsx", std::string(100, 't'));
  const std::string missing_list = dir.write("missing.txt", "Nope\nNone\n");
  e2e::run_result r = convert(text);
  EXPECT_EQ(r.status, 255);
  r = convert(dir.file("absent.xlsx"));
  EXPECT_EQ(r.status, 255);
  r = convert(book, {"--tab_file=" + missing_list});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Worksheet Nope not found\nWorksheet None not found\n");
  EXPECT_EQ(r.out, "Error:\nNone of the selected worksheets exists in the workbook.\n");
  EXPECT_EQ(db.rows("SELECT x FROM keep_me"), (strings{"7"}));

  // No mode given: the whole database is replaced.
  r = convert(book, {"--extr_fn"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(db.tables(), (strings{"public.sheet1", "public.sheet2"}));
}

TEST_F(E2eConversion, ExistingTablesUnderModesOneTwoThree) {
  const auto prepare = [&] {
    e2e::database_guard* target = &db;
    if (target->exists()) target->execute("DROP TABLE IF EXISTS sheet1, sheet2, other");
    else target->create();
    target->execute(
        "CREATE TABLE sheet1 (id double precision, name text, amount double precision);"
        "INSERT INTO sheet1 SELECT g, 'old', 0 FROM generate_series(101, 105) g;"
        "CREATE TABLE other (y text); INSERT INTO other VALUES ('stays')");
  };
  prepare();
  e2e::run_result r = convert(book, {"--extr_fn", "--mode=1"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(db.rows("SELECT count(*), min(id) FROM sheet1"), (strings{"3|1"}));
  EXPECT_EQ(db.rows("SELECT count(*) FROM sheet2"), (strings{"2"}));
  EXPECT_EQ(db.rows("SELECT y FROM other"), (strings{"stays"}));

  prepare();
  r = convert(book, {"--extr_fn", "--mode=2"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(db.rows("SELECT count(*), min(id) FROM sheet1"), (strings{"5|101"}));
  EXPECT_EQ(db.rows("SELECT count(*) FROM sheet2"), (strings{"2"}));

  prepare();
  r = convert(book, {"--extr_fn", "--mode=3"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(db.rows("SELECT count(*), min(id), max(id) FROM sheet1"), (strings{"8|1|105"}));
  EXPECT_EQ(db.rows("SELECT y FROM other"), (strings{"stays"}));
}

TEST_F(E2eConversion, MergeIntoAnotherShapeFailsThatSheetOnly) {
  db.create();
  db.execute("CREATE TABLE sheet1 (a text)");
  const e2e::run_result r = convert(book, {"--extr_fn", "--mode=3"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Error:\nSheet1: The structure of data source does not conform to the destination table.\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(db.rows("SELECT count(*) FROM sheet2"), (strings{"2"}));
}

TEST_F(E2eConversion, PoisonedRowIsReportedAndEveryOtherRowLands) {
  const std::string poison = dir.file("poison.xlsx");
  std::vector<std::vector<cell>> rows = {{cell::str("id"), cell::str("qty")}};
  for (int i = 1; i <= 6; ++i) rows.push_back({cell::num(i), i == 3 ? cell::str("abc") : cell::num(i * 10)});
  e2e::write_workbook(poison, {{"Sheet1", rows}});
  db.create();
  db.execute("CREATE TABLE sheet1 (id text, qty integer)");
  const e2e::run_result r = convert(poison, {"--extr_fn", "--mode=3"});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("Error:\nSheet1, record #3: "), std::string::npos) << r.out;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 5) << r.out;  // 3 progress lines, one report
  EXPECT_EQ(db.rows("SELECT qty FROM sheet1 ORDER BY qty"), (strings{"10", "20", "40", "50", "60"}));

  // Silent: nothing printed, the status stays.
  db.execute("TRUNCATE sheet1");
  const e2e::run_result quiet = convert(poison, {"--extr_fn", "--mode=3", "--silent"});
  EXPECT_EQ(quiet.status, 1);
  EXPECT_EQ(quiet.out + quiet.err, "");
  EXPECT_EQ(db.rows("SELECT count(*) FROM sheet1"), (strings{"5"}));
}

TEST_F(E2eConversion, SchemaQualifiedSheetNames) {
  const std::string workbook = dir.file("schemas.xlsx");
  const std::vector<std::vector<cell>> rows = {{cell::str("v")}, {cell::num(1)}};
  e2e::write_workbook(workbook, {{"Sales.Q1", rows}, {"pg_x.data", rows}, {"zz", rows}});
  const e2e::run_result r = convert(workbook, {"--extr_fn"});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("Creating schema if necessary: 'Sales'\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Error:\npg_x.data: "), std::string::npos) << r.out;
  const strings tables = db.tables();
  EXPECT_NE(std::find(tables.begin(), tables.end(), "sales.q1"), tables.end()) << testing::PrintToString(tables);
  EXPECT_NE(std::find(tables.begin(), tables.end(), "public.zz"), tables.end()) << testing::PrintToString(tables);
}

TEST_F(E2eConversion, TableListInEachEncoding) {
  const std::string workbook = dir.file("names.xlsx");
  const std::vector<std::vector<cell>> rows = {{cell::str("v")}, {cell::num(1)}};
  e2e::write_workbook(workbook, {{"Sheet1", rows}, {"Sheet2", rows}, {"M\xC3\xBCller", rows}});
  const strings lists = {
      dir.write("bom.txt", "\xEF\xBB\xBFSheet2\r\n\r\nM\xC3\xBCller\r\n\r\nNope"),
      dir.write("utf8.txt", "Sheet2\nM\xC3\xBCller\nNope\n"),
      dir.write("cp1252.txt", "Sheet2\r\nM\xFCller\r\nNope\r\n"),
  };
  for (const std::string& list : lists) {
    const e2e::run_result r = convert(workbook, {"--extr_fn", "--tab_file=" + list});
    EXPECT_EQ(r.status, 1) << list;
    EXPECT_EQ(r.err, "Worksheet Nope not found\n") << list;
    EXPECT_EQ(db.tables(), (strings{"public.m\xC3\xBCller", "public.sheet2"})) << list;
  }
  const e2e::run_result all = convert(workbook, {"--extr_fn", "--tab_file=" + dir.write("empty.txt", "")});
  EXPECT_EQ(all.status, 0) << all.out << all.err;
  EXPECT_EQ(db.tables().size(), 3u);
}

TEST_F(E2eConversion, LogFileHoldsOnlyTheRunsOwnLines) {
  const std::string log = dir.write("run.log", "old content\n");
  const std::string password = std::getenv("PGPASSWORD") ? std::getenv("PGPASSWORD") : "";
  const e2e::run_result r =
      run_corvel(join({"--src=" + book, "--dest=" + db.name(), "--logfile=" + log}, server_options(true)));
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  std::ifstream stream(log, std::ios::binary);
  std::stringstream text;
  text << stream.rdbuf();
  const std::string content = text.str();
  EXPECT_EQ(content.find("old content"), std::string::npos);
  EXPECT_NE(content.find("Conversion started on "), std::string::npos) << content;
  EXPECT_NE(content.find("Conversion ended on "), std::string::npos);
  EXPECT_NE(content.find("Converting spreadsheet " + book + " (2 worksheets)\r\n"), std::string::npos) << content;
  EXPECT_NE(content.find("Converting worksheet Sheet1"), std::string::npos) << content;
  EXPECT_EQ(content.find("tamarind_convertor::ctor"), std::string::npos);
  if (!password.empty()) {
    EXPECT_EQ(content.find(password), std::string::npos);
  }
  // Every entry ends with CR LF (texts that bring their own line feed keep it before the CR LF).
  ASSERT_GE(content.size(), 2u);
  EXPECT_EQ(content.substr(content.size() - 2), "\r\n");
  for (std::size_t at = content.find('\n'); at != std::string::npos; at = content.find('\n', at + 1))
    EXPECT_TRUE((at > 0 && content[at - 1] == '\r') || content.compare(at + 1, 2, "\r\n") == 0) << "at " << at;
}

TEST_F(E2eConversion, MaintenanceDatabaseIsNeverDropped) {
  const e2e::run_result r = run_corvel(join({"--src=" + book, "--dest=postgres"}, server_options(false)));
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_TRUE(r.out.rfind("Error:\n", 0) == 0) << r.out;
  // Still there, and nothing converted into it.
  e2e::database_guard probe{"e2e_probe"};
  EXPECT_FALSE(probe.exists());
}

TEST_F(E2eConversion, LogThatCannotBeWrittenFailsTheRun) {
  // A file size limit, inherited by corvel with its signal ignored, makes the log's writes fail
  // part-way (EFBIG) while the small tables still load.
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const rlimit small{100, saved.rlim_max};
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const e2e::run_result r = convert(book, {"--extr_fn", "--logfile=" + dir.file("run.log")});
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_EQ(r.err, "Cannot write the log file " + dir.file("run.log") + ": " + std::strerror(EFBIG) + "\n");
  EXPECT_EQ(db.rows("SELECT count(*) FROM sheet1"), strings{"3"});
  EXPECT_EQ(std::filesystem::file_size(dir.file("run.log")), 100u);
}

}  // namespace

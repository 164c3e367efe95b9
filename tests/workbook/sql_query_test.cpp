// General SELECT statements over the worksheets of a real workbook: clauses, joins, result types,
// the engine's error numbers, and memory that stays flat over a large sheet.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <fstream>
#include <map>
#include <memory>

#include "tk/tk_string.h"
#include "wb_test_files.h"
#include "workbook/engine/wb_engine_support.h"
#include "workbook/sql/wb_sql_query.h"
#include "workbook/wb_engine.h"

namespace {

/// A reader that counts the streams opened on each sheet.
class counting_reader final : public wb_reader {
 public:
  explicit counting_reader(std::unique_ptr<wb_reader> inner) : inner_(std::move(inner)) {}
  const std::vector<wb_sheet_info>& sheets() const override { return inner_->sheets(); }
  bool date1904() const override { return inner_->date1904(); }
  wb_date_system date_system() const override { return inner_->date_system(); }
  void read_sheet(std::size_t index, wb_cell_sink& sink) override { inner_->read_sheet(index, sink); }
  std::unique_ptr<wb_sheet_stream> open_sheet(std::size_t index) override {
    ++streams[index];
    return inner_->open_sheet(index);
  }
  std::map<std::size_t, int> streams;

 private:
  std::unique_ptr<wb_reader> inner_;
};

/// An open workbook as the engine would hand it to a query: its reader and each sheet's first pass.
class open_book {
 public:
  explicit open_book(const std::string& path) : reader_(std::make_unique<counting_reader>(wb_open_workbook(path))) {}
  wb_sql_workbook workbook() {
    wb_sql_workbook w;
    w.reader = reader_.get();
    for (std::size_t i = 0; i < reader_->sheets().size(); ++i)
      w.tables.push_back({wb_engine_table_name(wb_widen(reader_->sheets()[i].name)), i});
    w.layout = [this](std::size_t sheet) -> const wb_sheet_layout& {
      auto& slot = layouts_[sheet];
      if (!slot) slot = std::make_unique<wb_sheet_layout>(wb_profile_sheet(*reader_, sheet, true));
      return *slot;
    };
    return w;
  }
  std::unique_ptr<wb_sql_rows> query(const std::wstring& sql) { return wb_open_sql_rows(workbook(), sql); }
  std::size_t profiled() const { return layouts_.size(); }
  int streams(std::size_t sheet) const {
    const auto s = reader_->streams.find(sheet);
    return s == reader_->streams.end() ? 0 : s->second;
  }

 private:
  std::unique_ptr<counting_reader> reader_;
  std::map<std::size_t, std::unique_ptr<wb_sheet_layout>> layouts_;
};

std::vector<std::vector<ole_variant>> all_rows(wb_sql_rows& rows) {
  std::vector<std::vector<ole_variant>> out;
  std::vector<ole_variant> row;
  while (rows.read(row)) out.push_back(row);
  return out;
}

long error_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const wb_error& e) {
    return e.number();
  }
  return 0;
}

class SqlQuery : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.file("book.xlsx");
    lxw_workbook* wb = workbook_new(path_.c_str());
    lxw_format* money = workbook_add_format(wb);
    format_set_num_format(money, "$#,##0.00");
    lxw_format* date = workbook_add_format(wb);
    format_set_num_format(date, "yyyy-mm-dd");

    lxw_worksheet* orders = workbook_add_worksheet(wb, "Orders");
    const char* heads[] = {"Id", "Customer", "Amount", "Day", "Paid"};
    for (int c = 0; c < 5; ++c) worksheet_write_string(orders, 0, static_cast<lxw_col_t>(c), heads[c], nullptr);
    struct order {
      int id;
      const char* customer;
      double amount;
      bool paid;
    } rows[] = {{1, "ann", 12.5, true}, {2, "bob", 7.25, false}, {3, "ann", 30, true}, {4, "cy", 99.99, false},
                {5, "bob", 1.05, true}};
    lxw_row_t r = 1;
    for (const auto& o : rows) {
      worksheet_write_number(orders, r, 0, o.id, nullptr);
      worksheet_write_string(orders, r, 1, o.customer, nullptr);
      worksheet_write_number(orders, r, 2, o.amount, money);
      worksheet_write_number(orders, r, 3, 43831 + o.id, date);  // 2020-01-01 + id
      worksheet_write_boolean(orders, r, 4, o.paid, nullptr);
      ++r;
    }
    lxw_worksheet* customers = workbook_add_worksheet(wb, "Customers");
    worksheet_write_string(customers, 0, 0, "Customer", nullptr);
    worksheet_write_string(customers, 0, 1, "City", nullptr);
    const char* cities[][2] = {{"ann", "Oslo"}, {"bob", "Lima"}, {"cy", "Pune"}};
    for (lxw_row_t i = 0; i < 3; ++i) {
      worksheet_write_string(customers, i + 1, 0, cities[i][0], nullptr);
      worksheet_write_string(customers, i + 1, 1, cities[i][1], nullptr);
    }
    lxw_worksheet* odd = workbook_add_worksheet(wb, "My Data");
    worksheet_write_string(odd, 0, 0, "a", nullptr);
    worksheet_write_number(odd, 1, 0, 5, nullptr);
    workbook_add_worksheet(wb, "Unused");
    ASSERT_EQ(workbook_close(wb), LXW_NO_ERROR);
    book_ = std::make_unique<open_book>(path_);
  }

  wb_test::temp_dir dir_;
  std::string path_;
  std::unique_ptr<open_book> book_;
};

TEST_F(SqlQuery, WhereOrderGroupAndJoin) {
  auto q = book_->query(L"SELECT Id, Customer FROM [Orders$] WHERE Amount > 10 ORDER BY Id DESC");
  auto rows = all_rows(*q);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][0].get_double(), 4);
  EXPECT_EQ(rows[2][1].get_bstr(), L"ann");
  EXPECT_EQ(q->columns()[0].type, wb_type_double);
  EXPECT_EQ(q->columns()[1].type, wb_type_text);
  EXPECT_EQ(q->columns()[1].size, 255);

  q = book_->query(L"SELECT Customer, count(*) AS n, sum(Amount) AS total FROM [orders$] GROUP BY Customer "
                   L"ORDER BY Customer;");
  rows = all_rows(*q);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][0].get_bstr(), L"ann");
  EXPECT_EQ(rows[0][1].get_type(), VT_I4);
  EXPECT_EQ(rows[0][1].to_long(), 2);
  EXPECT_DOUBLE_EQ(rows[0][2].get_double(), 42.5);
  EXPECT_EQ(q->columns()[1].name, "n");
  EXPECT_EQ(q->columns()[1].type, wb_dao_long);

  q = book_->query(L"SELECT o.Id, c.City FROM [Orders$] AS o JOIN [Customers$] AS c ON o.Customer = c.Customer "
                   L"WHERE o.Paid ORDER BY o.Id");
  rows = all_rows(*q);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][1].get_bstr(), L"Oslo");
  EXPECT_EQ(rows[2][1].get_bstr(), L"Lima");
  EXPECT_EQ(book_->profiled(), 2u);  // the sheets the statement does not name are never read

  q = book_->query(L"select count(*) from (SELECT * FROM [Orders$] WHERE Customer = 'bob')");
  rows = all_rows(*q);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0].to_long(), 2);
}

TEST_F(SqlQuery, WorksheetColumnsKeepTheirTypes) {
  auto q = book_->query(L"SELECT Amount, Day, Paid, Amount * 2 AS twice FROM [Orders$] ORDER BY Id");
  const auto& c = q->columns();
  EXPECT_EQ(c[0].type, wb_type_currency);
  EXPECT_EQ(c[1].type, wb_type_date);
  EXPECT_EQ(c[2].type, wb_type_boolean);
  EXPECT_EQ(c[3].type, wb_type_double);  // an expression is typed from its values
  auto rows = all_rows(*q);
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[3][0].get_type(), VT_CY);
  EXPECT_EQ(rows[3][0].get_cy().int64, 999900);  // exact, not 99.98999...
  EXPECT_EQ(rows[0][1].get_type(), VT_DATE);
  EXPECT_EQ(rows[0][1].get_systemtime().year, 2020);
  EXPECT_EQ(rows[0][1].get_systemtime().day, 2);
  EXPECT_EQ(rows[1][2].get_type(), VT_BOOL);
  EXPECT_FALSE(rows[1][2].get_bool());

  // Numbers and texts in one result column come out as text, as in a mixed worksheet column.
  q = book_->query(L"SELECT Id FROM [Orders$] WHERE Id < 3 UNION ALL SELECT City FROM [Customers$]");
  EXPECT_EQ(q->columns()[0].type, wb_type_text);
  rows = all_rows(*q);
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[0][0].get_bstr(), L"1");
  EXPECT_EQ(rows[4][0].get_bstr(), L"Pune");

  // Equal result names get suffixes, as header names do.
  q = book_->query(L"SELECT * FROM [Orders$] o JOIN [Customers$] c ON o.Customer = c.Customer");
  ASSERT_EQ(q->columns().size(), 7u);
  EXPECT_EQ(q->columns()[5].name, "Customer1");
  EXPECT_EQ(q->columns()[6].name, "City");
}

TEST_F(SqlQuery, QuotedNamesAndRestart) {
  for (const wchar_t* sql : {L"SELECT * FROM [My Data$]", L"SELECT * FROM ['My Data$']", L"SELECT a FROM \"My Data$\"",
                             L"SELECT a FROM main.[my data$]", L"SELECT a FROM temp.[My Data$]"}) {
    auto q = book_->query(sql);
    auto rows = all_rows(*q);
    ASSERT_EQ(rows.size(), 1u) << std::string(sql, sql + wcslen(sql));
    EXPECT_EQ(rows[0][0].get_double(), 5);
  }
  auto q = book_->query(L"SELECT Id FROM [Orders$]");
  EXPECT_EQ(all_rows(*q).size(), 5u);
  std::vector<ole_variant> row;
  EXPECT_FALSE(q->read(row));  // stays at the end
  q->restart();
  EXPECT_EQ(all_rows(*q).size(), 5u);
}

TEST_F(SqlQuery, ErrorsCarryTheEngineNumbers) {
  auto run = [&](const wchar_t* sql) { return error_of([&] { book_->query(sql); }); };
  EXPECT_EQ(run(L"SELECT * FROM [Nope$]"), wb_err_no_such_sheet);
  EXPECT_EQ(run(L"SELECT * FROM [Orders$] JOIN [Nope$] ON 1"), wb_err_no_such_sheet);
  EXPECT_EQ(run(L"SELECT Nope FROM [Orders$]"), wb_err_no_such_column);
  EXPECT_EQ(run(L"SELECT Id FROM [Orders$] WHERE"), wb_err_query_syntax);
  EXPECT_EQ(run(L""), wb_err_query_syntax);
  EXPECT_EQ(run(L"SELECT 1; SELECT 2"), wb_err_query_syntax);
  EXPECT_EQ(run(L"SELECT 1; -- the end\n;"), 0);
  EXPECT_EQ(error_of([&] { book_->query(std::wstring(L"SELECT 1 \0; SELECT 2", 20)); }), wb_err_query_syntax);
  EXPECT_EQ(run(L"SELECT Id FROM [Orders$] WHERE Id IN (SELECT x FROM [Orders$]"), wb_err_query_syntax);
  // Nothing may write, attach a file or change settings.
  EXPECT_EQ(run(L"INSERT INTO [Orders$] (Id) VALUES (1)"), wb_err_not_supported);
  EXPECT_EQ(run(L"CREATE TABLE t(a)"), wb_err_not_supported);
  EXPECT_EQ(run(L"PRAGMA temp_store=MEMORY"), wb_err_not_supported);
  const std::string attached = dir_.file("attached.db");
  EXPECT_NE(run(wb_widen("ATTACH DATABASE '" + attached + "' AS x").c_str()), 0);
  EXPECT_NE(access(attached.c_str(), F_OK), 0);
  EXPECT_EQ(run(L"SELECT load_extension('x')"), wb_err_query_syntax);
  EXPECT_EQ(run(L"SELECT 1 + 1 AS two"), 0);  // no table at all is fine
}

TEST(SqlQueryFiles, JoinsReadEachSheetAFewTimesNotOncePerRow) {
  wb_test::temp_dir dir;
  const std::string path = dir.file("join.xlsx");
  lxw_workbook* wb = workbook_new(path.c_str());
  for (const char* name : {"A", "B"}) {
    lxw_worksheet* ws = workbook_add_worksheet(wb, name);
    worksheet_write_string(ws, 0, 0, "k", nullptr);
    worksheet_write_string(ws, 0, 1, "v", nullptr);
    for (lxw_row_t r = 1; r <= 500; ++r) {
      worksheet_write_number(ws, r, 0, r, nullptr);
      worksheet_write_number(ws, r, 1, r % 7, nullptr);
    }
  }
  ASSERT_EQ(workbook_close(wb), LXW_NO_ERROR);
  const wchar_t* statements[] = {
      L"SELECT count(*) AS n FROM [A$] a JOIN [B$] b ON a.k = b.k",
      L"SELECT count(*) AS n FROM [A$] a WHERE a.v = (SELECT max(v) FROM [B$] b WHERE b.k = a.k)",
      L"SELECT count(*) AS n FROM [A$] a, [A$] b WHERE a.k = b.k",
  };
  for (const wchar_t* sql : statements) {
    open_book book(path);
    auto q = book.query(sql);
    auto rows = all_rows(*q);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0].to_long(), 500);
    q->restart();
    EXPECT_EQ(all_rows(*q).size(), 1u);
    EXPECT_LE(book.streams(0) + book.streams(1), 12) << std::string(sql, sql + wcslen(sql));
  }
}

TEST(SqlQueryFiles, DamagedSheetKeepsItsErrorNumber) {
  wb_test::temp_dir dir;
  const std::string path = dir.file("bad.xlsx");
  // A row that goes backwards is unreadable; the first pass reports it through the query.
  wb_test::write_xlsx(path, wb_test::one_sheet("S", "<row r=\"2\"><c r=\"A2\"><v>1</v></c></row>"
                                                    "<row r=\"1\"><c r=\"A1\"><v>2</v></c></row>"));
  open_book book(path);
  EXPECT_EQ(error_of([&] { book.query(L"SELECT * FROM [S$]"); }), wb_err_unreadable);
}

void write_rows(const std::string& path, int rows) {
  lxw_workbook_options o{};
  o.constant_memory = LXW_TRUE;
  lxw_workbook* wb = workbook_new_opt(path.c_str(), &o);
  lxw_worksheet* ws = workbook_add_worksheet(wb, "Big");
  worksheet_write_string(ws, 0, 0, "n", nullptr);
  worksheet_write_string(ws, 0, 1, "label", nullptr);
  for (int r = 1; r <= rows; ++r) {
    worksheet_write_number(ws, static_cast<lxw_row_t>(r), 0, r, nullptr);
    worksheet_write_string(ws, static_cast<lxw_row_t>(r), 1, ("label number " + std::to_string(r)).c_str(), nullptr);
  }
  workbook_close(wb);
}

/// A line "<key>: <n> kB" of /proc/self/status.
long status_kb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(key) + ":";
  while (std::getline(in, line))
    if (line.rfind(prefix, 0) == 0) return std::stol(line.substr(prefix.size()));
  return -1;
}

// Kilobytes a child's resident memory grows by, at its peak, while it runs `sql` over `path` and reads
// every row (the peak is reset first, so what the child inherited does not count).
long child_growth_kb(const std::string& path, const std::wstring& sql, std::size_t expected_rows) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    long growth = -1;
    try {
      std::ofstream("/proc/self/clear_refs") << "5";
      const long base = status_kb("VmRSS");
      open_book book(path);
      auto q = book.query(sql);
      std::vector<ole_variant> row;
      std::size_t n = 0;
      while (q->read(row)) ++n;
      if (n == expected_rows) growth = status_kb("VmHWM") - base;
    } catch (...) {
    }
    if (write(fds[1], &growth, sizeof growth) != sizeof growth) _exit(1);
    _exit(0);
  }
  close(fds[1]);
  long growth = -1;
  if (read(fds[0], &growth, sizeof growth) != sizeof growth) growth = -1;
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_GE(growth, 0) << "the child failed";
  return growth;
}

TEST(SqlQueryMemory, LargeSheetStaysFlat) {
  wb_test::temp_dir dir;
  write_rows(dir.file("small.xlsx"), 20000);
  write_rows(dir.file("large.xlsx"), 200000);
  const std::wstring scan = L"SELECT n, label FROM [Big$] WHERE n % 2 = 0";
  const std::wstring sorted = L"SELECT label, n * 2 AS twice FROM [Big$] ORDER BY label DESC";
  const long small = child_growth_kb(dir.file("small.xlsx"), scan, 10000);
  const long large = child_growth_kb(dir.file("large.xlsx"), scan, 100000);
  const long large_sorted = child_growth_kb(dir.file("large.xlsx"), sorted, 200000);
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's own bookkeeping grows with allocations";
#endif
  EXPECT_LT(large, small + 4096) << small << " KB against " << large << " KB";
  // Sorting spills to temporary files beyond a few megabytes of working memory.
  EXPECT_LT(large_sorted, small + 8192) << small << " KB against " << large_sorted << " KB";
}

}  // namespace

// Rows the server refuses, through corvel: any number of them, each reported, and the COPY
// statements a worksheet costs.
#include <fstream>
#include <sstream>

#include "e2e_support.h"

namespace {

using e2e::cell;
using e2e::join;
using e2e::run_corvel;
using e2e::server_options;

// Appends (mode 3) to public.sheet1 (id, name, qty), made before the run.
class E2eRefusedRows : public testing::Test {
 protected:
  void SetUp() override {
    TAMARIND_REQUIRE_SERVER();
    db.create();
    db.execute("CREATE TABLE public.sheet1 (id double precision PRIMARY KEY, name text, qty integer CHECK (qty >= 0))");
    book = dir.file("book.xlsx");
  }
  static std::vector<cell> row(double id, const std::string& name, double qty) {
    return {cell::num(id), cell::str(name), cell::num(qty)};
  }
  e2e::run_result append(const std::vector<std::string>& extra = {}) {
    return run_corvel(join(join({"--src=" + book, "--dest=" + db.name(), "--extr_fn", "--mode=3"}, server_options()), extra));
  }

  e2e::scratch_dir dir;
  e2e::database_guard db{"e2e_refused"};
  std::string book;
};

TEST_F(E2eRefusedRows, TensOfThousandsAreEachReportedInOrderAndEveryOtherRowLands) {
  // Before the mend, past about 12,600 refused rows the server's lock table ran out (with its
  // default max_locks_per_transaction) and the worksheet lost every row.
  constexpr int rows = 40000;
  db.execute("INSERT INTO public.sheet1 SELECT g, 'old', 0 FROM generate_series(2, 40000, 2) g");
  e2e::sheet sheet{"Sheet1", {{cell::str("id"), cell::str("name"), cell::str("qty")}}};
  std::vector<int> refused;
  long long landed_ids = 0;
  for (int i = 1; i <= rows; ++i) {
    const bool negative = i % 7919 == 0;  // refused by the CHECK constraint
    sheet.rows.push_back(row(i, "n" + std::to_string(i), negative ? -1 : i % 1000));
    if (i % 2 == 0 || negative)
      refused.push_back(i);
    else
      landed_ids += i;
  }
  for (int i = 1; i <= 10; ++i) {  // keys this run wrote a moment before
    sheet.rows.push_back(row(2 * i - 1, "dup", 1));
    refused.push_back(rows + i);
  }
  e2e::write_workbook(book, {sheet, {"Sheet2", {{cell::str("x")}, {cell::num(1)}, {cell::num(2)}}}}, true);
  const std::string log = dir.file("run.log");

  const e2e::run_result r = append({"--logfile=" + log});
  EXPECT_EQ(r.status, 1) << r.err;
  std::vector<int> reported;
  std::istringstream out(r.out);
  const std::string head = "Sheet1, record #";
  for (std::string line; std::getline(out, line);)
    if (line.rfind(head, 0) == 0) reported.push_back(std::stoi(line.substr(head.size())));
  EXPECT_EQ(reported, refused);  // every one, in record order
  std::stringstream log_text;
  log_text << std::ifstream(log).rdbuf();
  const std::string logged = log_text.str();
  std::size_t in_log = 0;
  for (std::size_t at = logged.find(head); at != std::string::npos; at = logged.find(head, at + 1)) ++in_log;
  EXPECT_EQ(in_log, refused.size());

  EXPECT_EQ(db.rows("SELECT count(*), sum(id) FROM public.sheet1 WHERE name LIKE 'n%'"),
            std::vector<std::string>{std::to_string(rows - refused.size() + 10) + "|" + std::to_string(landed_ids)});
  EXPECT_EQ(db.rows("SELECT count(*) FROM public.sheet1 WHERE name <> 'old' AND name NOT LIKE 'n%'"),
            std::vector<std::string>{"0"});
  EXPECT_EQ(db.rows("SELECT count(*) FROM public.sheet2"), std::vector<std::string>{"2"});
}

TEST_F(E2eRefusedRows, ACleanWorksheetIsOneCopyStatement) {
  // Every INSERT statement that reaches the table, COPY included, is counted by a trigger.
  db.execute(
      "CREATE TABLE public.statements (n int);"
      "CREATE FUNCTION public.count_statement() RETURNS trigger LANGUAGE plpgsql AS "
      "$$ BEGIN INSERT INTO public.statements VALUES (1); RETURN NULL; END $$;"
      "CREATE TRIGGER counted AFTER INSERT ON public.sheet1 FOR EACH STATEMENT EXECUTE FUNCTION public.count_statement()");
  e2e::sheet sheet{"Sheet1", {{cell::str("id"), cell::str("name"), cell::str("qty")}}};
  for (int i = 1; i <= 20000; ++i) sheet.rows.push_back(row(i, "n", 1));
  e2e::write_workbook(book, {sheet}, true);
  e2e::run_result r = append();
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(db.rows("SELECT count(*) FROM public.sheet1"), std::vector<std::string>{"20000"});
  EXPECT_EQ(db.rows("SELECT count(*) FROM public.statements"), std::vector<std::string>{"1"});

  // One refused row: the rows before it and after it go in a statement or two, not one per row.
  db.execute("TRUNCATE public.sheet1; INSERT INTO public.sheet1 VALUES (10000, 'old', 0); TRUNCATE public.statements");
  r = append();
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_EQ(db.rows("SELECT count(*) FROM public.sheet1"), std::vector<std::string>{"20000"});
  EXPECT_LE(std::stoi(db.rows("SELECT count(*) FROM public.statements").at(0)), 3);
}

}  // namespace

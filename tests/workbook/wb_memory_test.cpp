// Reading stays flat in memory: a sheet of ten times the rows peaks at about the same size.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include "tk/tk_string.h"
#include "wb_test_files.h"
#include "workbook/wb_engine.h"

namespace {

void write_rows(const std::string& path, int rows) {
  lxw_workbook_options o{};
  o.constant_memory = LXW_TRUE;
  lxw_workbook* wb = workbook_new_opt(path.c_str(), &o);
  lxw_worksheet* ws = workbook_add_worksheet(wb, "M");
  for (int r = 0; r < rows; ++r) {
    worksheet_write_number(ws, static_cast<lxw_row_t>(r), 0, r, nullptr);
    worksheet_write_string(ws, static_cast<lxw_row_t>(r), 1, ("text " + std::to_string(r)).c_str(), nullptr);
  }
  workbook_close(wb);
}

// Peak resident kilobytes of a child that reads every row of `path`.
long child_peak_kb(const std::string& path) {
  const pid_t pid = fork();
  if (pid == 0) {
    try {
      auto engine = wb_make_workbook_engine();
      auto db = engine->open_database(tk_utf8_to_unicode(path), false, true, L"Excel 5.0;");
      auto rs = db->create_querydef(L"", L"SELECT * FROM [M$]")->open_recordset(2, 4);
      auto fields = rs->fields();
      for (; !rs->eof(); rs->move_next()) fields->item(1)->value();
    } catch (...) {
      _exit(1);
    }
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);  // the largest child so far
  return u.ru_maxrss;
}

TEST(Memory, PeakDoesNotGrowWithRows) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's own bookkeeping grows with allocations";
#endif
  wb_test::temp_dir dir;
  // Both sheets are large enough (several MB of XML) to be scanned on several threads, so the two
  // peaks compare one way of reading.
  write_rows(dir.file("small.xlsx"), 60000);
  write_rows(dir.file("large.xlsx"), 600000);
  const long small = child_peak_kb(dir.file("small.xlsx"));
  const long large = child_peak_kb(dir.file("large.xlsx"));
  EXPECT_LT(large, small + 4096) << small << " KB against " << large << " KB";
}

}  // namespace

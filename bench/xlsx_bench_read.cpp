// Reads every row of the first worksheet through the engine, as a conversion does (both passes,
// every value as a variant), and prints rows, seconds and peak resident memory.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "tk/tk_string.h"
#include "workbook/wb_engine.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: xlsx_bench_read <file.xlsx>\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  long rows = 0;
  std::size_t bytes = 0;
  try {
    auto engine = wb_make_workbook_engine();
    auto db = engine->open_database(tk_utf8_to_unicode(argv[1]), false, true, L"Excel 5.0; IMEX=1;");
    const std::wstring table = db->tabledefs()->item(0)->name();
    auto rs = db->create_querydef(L"", L"SELECT * FROM [" + table + L"]")->open_recordset(2, 4);
    auto fields = rs->fields();
    const int n = fields->count();
    for (; !rs->eof(); rs->move_next()) {
      for (int i = 0; i < n; ++i) bytes += fields->item(i)->value().get_bstr().size();
      ++rows;
    }
  } catch (const wb_error& e) {
    std::fprintf(stderr, "error %ld: %s\n", e.number(), e.what());
    return 1;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  const double cpu = static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
                     static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
  std::printf("rows=%ld seconds=%.3f cpu_seconds=%.3f peak_rss_kb=%ld text_chars=%zu\n", rows, seconds, cpu,
              u.ru_maxrss, bytes);
  return 0;
}

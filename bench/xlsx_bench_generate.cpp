// Writes a worksheet of <rows> x 5 (id, name, amount, date, flag) under a header, in constant-memory
// mode (inline strings), with names from a bounded vocabulary.
#include <xlsxwriter.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: xlsx_bench_generate <file.xlsx> <rows>\n");
    return 2;
  }
  const long rows = std::strtol(argv[2], nullptr, 10);
  lxw_workbook_options options{};
  options.constant_memory = LXW_TRUE;
  lxw_workbook* wb = workbook_new_opt(argv[1], &options);
  lxw_worksheet* ws = workbook_add_worksheet(wb, "Data");
  lxw_format* date = workbook_add_format(wb);
  format_set_num_format(date, "yyyy-mm-dd");
  const char* heads[] = {"id", "name", "amount", "day", "flag"};
  for (int c = 0; c < 5; ++c) worksheet_write_string(ws, 0, static_cast<lxw_col_t>(c), heads[c], nullptr);
  const char* words[] = {"alpha", "bravo", "charlie", "delta", "echo", "foxtrot", "golf", "hotel"};
  for (long r = 1; r <= rows; ++r) {
    const auto row = static_cast<lxw_row_t>(r);
    worksheet_write_number(ws, row, 0, static_cast<double>(r), nullptr);
    const std::string name = std::string(words[r % 8]) + " " + std::to_string(r % 1000);
    worksheet_write_string(ws, row, 1, name.c_str(), nullptr);
    worksheet_write_number(ws, row, 2, static_cast<double>(r % 100000) / 100.0, nullptr);
    worksheet_write_number(ws, row, 3, 40000 + static_cast<double>(r % 5000), date);
    worksheet_write_boolean(ws, row, 4, static_cast<int>(r % 2), nullptr);
  }
  return workbook_close(wb) == LXW_NO_ERROR ? 0 : 1;
}

// The sheet model over a scripted reader that only pushes cells: the worker-thread row stream, the
// block, and typing rules that files rarely show together.
#include <gtest/gtest.h>

#include "workbook/wb_sheet_model.h"

namespace {

/// Pushes its cells through read_sheet only, as a reader without its own row stream does.
class pushing_reader : public wb_reader {
 public:
  struct cell {
    std::uint32_t row, col;
    wb_value_kind kind;
    double number = 0;
    std::string text;
    wb_number_style style = wb_number_style::general;
  };
  std::vector<cell> cells;
  std::uint32_t fail_at_row = UINT32_MAX;

  const std::vector<wb_sheet_info>& sheets() const override { return sheets_; }
  bool date1904() const override { return false; }
  void read_sheet(std::size_t, wb_cell_sink& sink) override {
    for (const auto& c : cells) {
      if (c.row >= fail_at_row) throw wb_error(wb_err_unreadable, "damaged");
      wb_cell w;
      w.row = c.row, w.col = c.col, w.kind = c.kind, w.number = c.number, w.text = c.text, w.style = c.style;
      w.boolean = c.number != 0;
      sink.cell(w);
    }
  }

 private:
  std::vector<wb_sheet_info> sheets_{{"Pushed", false}};
};

TEST(SheetModel, PushedCellsStreamRowByRowAcrossBatches) {
  pushing_reader r;
  for (std::uint32_t row = 0; row < 3000; ++row)
    for (std::uint32_t col = 0; col < 3; ++col)
      r.cells.push_back({row * 2, col, wb_value_kind::text, 0, "r" + std::to_string(row) + "c" + std::to_string(col),
                         wb_number_style::general});
  auto s = r.open_sheet(0);
  wb_row_view v;
  std::uint32_t n = 0;
  while (s->next_row(v)) {
    ASSERT_EQ(v.row, n * 2);
    ASSERT_EQ(v.count, 3u);
    ASSERT_EQ(v.cells[2].text, "r" + std::to_string(n) + "c2");
    ++n;
  }
  EXPECT_EQ(n, 3000u);
  // Dropped early, the stream stops its worker.
  auto early = r.open_sheet(0);
  ASSERT_TRUE(early->next_row(v));
}

TEST(SheetModel, PushedErrorsReachTheReadingSide) {
  pushing_reader r;
  for (std::uint32_t row = 0; row < 10000; ++row) r.cells.push_back({row, 0, wb_value_kind::number, 1.0 * row, "", wb_number_style::general});
  r.fail_at_row = 9000;
  auto s = r.open_sheet(0);
  wb_row_view v;
  long number = 0;
  std::uint32_t rows = 0;
  try {
    while (s->next_row(v)) ++rows;
  } catch (const wb_error& e) {
    number = e.number();
  }
  EXPECT_EQ(number, wb_err_unreadable);
  EXPECT_LE(rows, 9000u);
  EXPECT_THROW(wb_profile_sheet(r, 0, true), wb_error);
}

TEST(SheetModel, TypesAndValuesOfMixedColumns) {
  pushing_reader r;
  const auto add = [&](std::uint32_t row, std::uint32_t col, wb_value_kind k, double n, std::string t = "",
                       wb_number_style st = wb_number_style::general) { r.cells.push_back({row, col, k, n, t, st}); };
  add(0, 1, wb_value_kind::text, 0, "H");
  add(0, 2, wb_value_kind::error, 0);
  add(0, 3, wb_value_kind::boolean, 1);
  add(1, 1, wb_value_kind::number, 5, "", wb_number_style::currency);
  add(1, 2, wb_value_kind::number, 43831, "", wb_number_style::date);
  add(1, 3, wb_value_kind::text, 0, "");  // an empty text is empty
  add(2, 1, wb_value_kind::number, 1.5);
  add(2, 2, wb_value_kind::number, 43831.25, "", wb_number_style::date);
  add(2, 3, wb_value_kind::boolean, 0);
  add(3, 2, wb_value_kind::boolean, 1);
  const auto l = wb_profile_sheet(r, 0, true);
  ASSERT_EQ(l.columns.size(), 3u);
  EXPECT_EQ(l.first_col, 1u);
  EXPECT_EQ(l.columns[0].name, "H");
  EXPECT_EQ(l.columns[1].name, "F2");
  EXPECT_EQ(l.columns[2].name, "TRUE");
  EXPECT_EQ(l.columns[0].type, wb_type_double);  // numbers with currency
  EXPECT_EQ(l.columns[1].type, wb_type_text);    // dates with a boolean
  EXPECT_EQ(l.columns[2].type, wb_type_boolean);
  EXPECT_EQ(l.record_count, 3u);
  wb_row_cursor c(r, 0, l);
  std::vector<wb_value> row;
  ASSERT_TRUE(c.read(row));
  EXPECT_EQ(row[0].k, wb_value::kind::number);
  EXPECT_EQ(row[0].number, 5);
  EXPECT_EQ(row[1].text, "2020-01-01");
  EXPECT_EQ(row[2].k, wb_value::kind::null);
  ASSERT_TRUE(c.read(row));
  EXPECT_EQ(row[1].text, "2020-01-01 06:00:00");
  EXPECT_EQ(row[2].k, wb_value::kind::boolean);
  ASSERT_TRUE(c.read(row));
  EXPECT_EQ(row[1].text, "TRUE");
  EXPECT_EQ(row[0].k, wb_value::kind::null);
  EXPECT_FALSE(c.read(row));
}

TEST(SheetModel, DuplicateNamesGetTheSmallestFreeSuffix) {
  pushing_reader r;
  const char* heads[] = {"Name", "name", "NAME", "name1", "x.y", " ", "F6"};
  for (std::uint32_t c = 0; c < 7; ++c) r.cells.push_back({0, c, wb_value_kind::text, 0, heads[c], wb_number_style::general});
  const auto l = wb_profile_sheet(r, 0, true);
  std::vector<std::string> names;
  for (const auto& c : l.columns) names.push_back(c.name);
  EXPECT_EQ(names, (std::vector<std::string>{"Name", "name1", "NAME2", "name11", "x#y", "F6", "F61"}));
  EXPECT_EQ(l.record_count, 0u);
}

}  // namespace

// The typing passes of several worksheets run side by side give, sheet by sheet, what one pass on
// the caller's thread gives: the same layout, or the same error.
#include <gtest/gtest.h>

#include "workbook/engine/wb_typing_passes.h"

namespace {

/// Sheet i: a header row, then 1000 * (i + 1) rows of a number and a text that grows long in odd
/// sheets; every third sheet breaks off at a row of its own.
class sheets_reader : public wb_reader {
 public:
  explicit sheets_reader(std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) sheets_.push_back({"S" + std::to_string(i), false});
  }
  const std::vector<wb_sheet_info>& sheets() const override { return sheets_; }
  bool date1904() const override { return false; }
  void read_sheet(std::size_t index, wb_cell_sink& sink) override {
    wb_cell c;
    c.kind = wb_value_kind::text;
    c.text = "Amount";
    sink.cell(c);
    c.col = 1, c.text = "Label";
    sink.cell(c);
    const auto rows = static_cast<std::uint32_t>(1000 * (index + 1));
    for (std::uint32_t r = 1; r <= rows; ++r) {
      if (index % 3 == 2 && r == 500 + index) throw wb_error(wb_err_unreadable, "damaged row " + std::to_string(r));
      const std::string text = (index % 2 == 1 && r == rows) ? std::string(300, 'x') : "t";
      c.row = r, c.col = 0, c.kind = wb_value_kind::number, c.number = r;
      sink.cell(c);
      c.col = 1, c.kind = wb_value_kind::text, c.text = text;
      sink.cell(c);
    }
  }

 private:
  std::vector<wb_sheet_info> sheets_;
};

std::string error_text(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const wb_error& e) {
    return std::to_string(e.number()) + " " + e.what();
  } catch (...) {
    return "other";
  }
}

}  // namespace

TEST(TypingPasses, SideBySideGiveWhatOnePassGivesSheetBySheet) {
  sheets_reader reader(12);
  const std::vector<std::size_t> order = {11, 0, 5, 2, 8, 1, 3, 4, 6, 7, 9, 10};
  const auto results = wb_type_sheets(reader, order, true, 4);
  ASSERT_EQ(results.size(), order.size());
  for (std::size_t i = 0; i < order.size(); ++i) {
    SCOPED_TRACE(order[i]);
    try {
      const wb_sheet_layout alone = wb_profile_sheet(reader, order[i], true);
      ASSERT_TRUE(results[i].layout.has_value());
      EXPECT_EQ(results[i].layout->record_count, alone.record_count);
      EXPECT_EQ(results[i].layout->last_row, alone.last_row);
      ASSERT_EQ(results[i].layout->columns.size(), alone.columns.size());
      for (std::size_t k = 0; k < alone.columns.size(); ++k) {
        EXPECT_EQ(results[i].layout->columns[k].name, alone.columns[k].name);
        EXPECT_EQ(results[i].layout->columns[k].type, alone.columns[k].type);
        EXPECT_EQ(results[i].layout->columns[k].size, alone.columns[k].size);
      }
    } catch (const wb_error&) {
      ASSERT_FALSE(results[i].layout.has_value());
      EXPECT_EQ(error_text(results[i].failure), error_text(std::current_exception()));
    }
  }
  EXPECT_TRUE(wb_type_sheets(reader, {}, true, 4).empty());
  EXPECT_GE(wb_typing_threads(100), 1u);
  EXPECT_LE(wb_typing_threads(100), 4u);
  EXPECT_EQ(wb_typing_threads(1), 1u);
}

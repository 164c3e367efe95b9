// A worksheet profiled on a worker thread gives the layout the first pass gives on the caller's
// thread, hands on the pass's error, and stops early when it is no longer wanted.
#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "workbook/engine/wb_layout_ahead.h"

namespace {

/// One sheet: a header row, then `rows` rows of a number and a text; rows from `fail_at` on are
/// damaged. Counts the rows it has delivered.
class counting_reader : public wb_reader {
 public:
  std::uint32_t rows = 0, fail_at = UINT32_MAX;
  std::atomic<std::uint32_t> delivered{0};

  const std::vector<wb_sheet_info>& sheets() const override { return sheets_; }
  bool date1904() const override { return false; }
  void read_sheet(std::size_t, wb_cell_sink& sink) override {
    wb_cell c;
    c.kind = wb_value_kind::text;
    c.text = "Amount";
    sink.cell(c);
    c.col = 1, c.text = "Label";
    sink.cell(c);
    for (std::uint32_t r = 1; r <= rows; ++r) {
      if (r >= fail_at) throw wb_error(wb_err_unreadable, "damaged row");
      const std::string text = r == rows ? std::string(300, 'x') : "t" + std::to_string(r);
      c.row = r, c.col = 0, c.kind = wb_value_kind::number, c.number = r;
      sink.cell(c);
      c.col = 1, c.kind = wb_value_kind::text, c.text = text;
      sink.cell(c);
      ++delivered;
    }
  }

 private:
  std::vector<wb_sheet_info> sheets_{{"Sheet1", false}};
};

}  // namespace

TEST(LayoutAhead, GivesTheLayoutOfTheFirstPassOnTheCallersThread) {
  counting_reader r;
  r.rows = 20000;
  const wb_sheet_layout here = wb_profile_sheet(r, 0, true);
  wb_layout_ahead ahead(r, 0, true);
  EXPECT_EQ(ahead.index(), 0u);
  const wb_sheet_layout there = ahead.take();
  EXPECT_EQ(there.record_count, here.record_count);
  EXPECT_EQ(there.record_count, 20000u);
  ASSERT_EQ(there.columns.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(there.columns[i].name, here.columns[i].name);
    EXPECT_EQ(there.columns[i].type, here.columns[i].type);
    EXPECT_EQ(there.columns[i].size, here.columns[i].size);
  }
  EXPECT_EQ(there.columns[1].type, wb_type_memo);  // the long text in the last row counts too
}

TEST(LayoutAhead, HandsOnTheErrorOfTheFirstPass) {
  counting_reader r;
  r.rows = 5000;
  r.fail_at = 4000;
  wb_layout_ahead ahead(r, 0, true);
  try {
    ahead.take();
    FAIL() << "no error";
  } catch (const wb_error& e) {
    EXPECT_EQ(e.number(), wb_err_unreadable);
  }
}

TEST(LayoutAhead, AnUnwantedPassStopsEarly) {
  counting_reader r;
  r.rows = 50'000'000;
  {
    wb_layout_ahead ahead(r, 0, true);
    while (r.delivered.load() == 0) std::this_thread::yield();
  }  // must not read the whole sheet
  EXPECT_LT(r.delivered.load(), 50'000'000u);
}

// Rows read ahead on a worker thread arrive complete, in order, with a failure after the rows before
// it, and a reader that is left early stops without hanging.
#include <atomic>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "workbook/engine/wb_row_prefetch.h"

namespace {

// Rows 0..count-1 of two values each (the row number as a number and as text); throws at `fail_at`.
wb_row_prefetch::row_reader numbered_rows(int count, int fail_at = -1, std::atomic<int>* produced = nullptr) {
  return [count, fail_at, produced, next = 0](std::vector<ole_variant>& row) mutable {
    if (next == fail_at) throw std::runtime_error("damaged row");
    if (next == count) return false;
    row.resize(2);
    row[0] = ole_variant(next);
    row[1] = ole_variant(std::to_string(next));
    ++next;
    if (produced) ++*produced;
    return true;
  };
}

}  // namespace

TEST(RowPrefetch, DeliversEveryRowInOrderAcrossBatchesAndReusesTheCallersRow) {
  for (std::size_t batch : {1u, 3u, 16u, 1000u}) {
    wb_row_prefetch rows(numbered_rows(250), batch);
    std::vector<ole_variant> row;
    for (int i = 0; i < 250; ++i) {
      ASSERT_TRUE(rows.next(row)) << "batch " << batch << " row " << i;
      ASSERT_EQ(row.size(), 2u);
      EXPECT_EQ(row[0].to_wstring(), std::to_wstring(i));
      EXPECT_EQ(row[1].to_wstring(), std::to_wstring(i));
    }
    EXPECT_FALSE(rows.next(row));
    EXPECT_FALSE(rows.next(row));  // the end stays the end
  }
  wb_row_prefetch none(numbered_rows(0), 8);
  std::vector<ole_variant> row;
  EXPECT_FALSE(none.next(row));
}

TEST(RowPrefetch, AFailureComesAfterTheRowsReadBeforeItAndStays) {
  wb_row_prefetch rows(numbered_rows(100, 37), 10);
  std::vector<ole_variant> row;
  for (int i = 0; i < 37; ++i) ASSERT_TRUE(rows.next(row)) << i;
  EXPECT_EQ(row[0].to_wstring(), L"36");
  EXPECT_THROW(rows.next(row), std::runtime_error);
  EXPECT_THROW(rows.next(row), std::runtime_error);
}

TEST(RowPrefetch, LeavingEarlyStopsTheWorkerWithinAFewBatches) {
  std::atomic<int> produced{0};
  {
    wb_row_prefetch rows(numbered_rows(1'000'000, -1, &produced), 100);
    std::vector<ole_variant> row;
    ASSERT_TRUE(rows.next(row));
  }  // must not hang, nor read the whole sheet
  EXPECT_LT(produced.load(), 1000);
  { wb_row_prefetch untouched(numbered_rows(1'000'000), 100); }
}

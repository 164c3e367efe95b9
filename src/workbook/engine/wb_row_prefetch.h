#pragma once
// Reads the rows of a recordset on a worker thread, a few batches ahead of the caller, so that
// decoding a worksheet and turning its cells into values overlaps with what the caller does with
// each row (on a big sheet that is writing it to the server). Memory stays flat: at most a few
// batches wait.
#include <atomic>
#include <cstddef>
#include <functional>
#include <thread>
#include <vector>

#include "ole/ole_variant.h"
#include "workbook/wb_batch_pipe.h"

class wb_row_prefetch {
 public:
  /// Fills its argument with the next row; false after the last. Runs on the worker thread only.
  using row_reader = std::function<bool(std::vector<ole_variant>&)>;

  /// Starts reading at once; `rows_per_batch` rows are handed over together.
  wb_row_prefetch(row_reader read, std::size_t rows_per_batch);
  /// Stops the worker and waits for it (a row being read is finished first).
  ~wb_row_prefetch();
  wb_row_prefetch(const wb_row_prefetch&) = delete;
  wb_row_prefetch& operator=(const wb_row_prefetch&) = delete;

  /// The next row, swapped into `row`; false after the last. What the reader threw is thrown here,
  /// after the rows read before it, and again on every later call.
  bool next(std::vector<ole_variant>& row);
  /// Whether the reader has given its last row (the rows may still wait to be taken).
  bool read_to_end() const { return read_to_end_.load(std::memory_order_relaxed); }

 private:
  struct batch {
    std::vector<std::vector<ole_variant>> rows;
    std::size_t count = 0;  // rows in use; the rest are kept for their memory
  };

  void work();

  row_reader read_;
  std::size_t rows_per_batch_;
  wb_batch_pipe<batch> pipe_;
  batch current_;  // the caller's own
  std::size_t next_row_ = 0;
  std::atomic<bool> read_to_end_{false};
  std::thread worker_;  // last: started once everything above exists
};

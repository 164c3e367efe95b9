#pragma once
// The first pass over a worksheet run on a worker thread, so that a workbook converted sheet after
// sheet does not wait for each sheet's typing pass: the next sheet is profiled while the rows of
// the current one are written.
#include <atomic>
#include <cstddef>
#include <exception>
#include <optional>
#include <thread>

#include "workbook/wb_sheet_model.h"

class wb_layout_ahead {
 public:
  /// Starts profiling sheet `index` of `reader`, which must outlive this object.
  wb_layout_ahead(wb_reader& reader, std::size_t index, bool header);
  /// Stops the pass when it still runs and waits for the worker.
  ~wb_layout_ahead();
  wb_layout_ahead(const wb_layout_ahead&) = delete;
  wb_layout_ahead& operator=(const wb_layout_ahead&) = delete;

  std::size_t index() const { return index_; }
  /// Waits for the pass: its layout, or what the pass threw (as profiling on this thread would).
  wb_sheet_layout take();

 private:
  std::size_t index_;
  std::atomic<bool> stop_{false};
  std::optional<wb_sheet_layout> layout_;
  std::exception_ptr error_;
  std::thread worker_;  // last: started once everything above exists
};

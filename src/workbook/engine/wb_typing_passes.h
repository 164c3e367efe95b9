#pragma once
// The typing passes of several worksheets, started before any of them is converted: each sheet is
// read whole once and only its layout (range and column types) is kept, so memory does not grow with
// the rows, and a sheet that cannot be read is known before its table is touched. The passes of
// different sheets are independent and run side by side on a few threads, in the order the sheets
// are converted, so the passes of later sheets can go on while earlier sheets are written.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "workbook/wb_sheet_model.h"

/// One sheet's typing pass: its layout, or what the pass threw.
struct wb_typing_result {
  std::optional<wb_sheet_layout> layout;
  std::exception_ptr failure;
};

/// The typing passes of `sheets` (indexes into `reader`, which must outlive this object), at most
/// `threads` at once, begun in the order given. Each result is what a pass of its own on the calling
/// thread gives, and is waited for alone.
class wb_background_typing {
 public:
  wb_background_typing(wb_reader& reader, std::vector<std::size_t> sheets, bool header, unsigned threads);
  /// Stops the passes under way and waits for their threads.
  ~wb_background_typing();
  wb_background_typing(const wb_background_typing&) = delete;
  wb_background_typing& operator=(const wb_background_typing&) = delete;

  const std::vector<std::size_t>& sheets() const { return sheets_; }
  /// Whether the pass of sheets()[i] has ended.
  bool finished(std::size_t i);
  /// Waits for the pass of sheets()[i] and hands its result over (once).
  wb_typing_result take(std::size_t i);

 private:
  void work() noexcept;

  wb_reader& reader_;
  std::vector<std::size_t> sheets_;
  bool header_;
  unsigned decode_threads_ = 1;  // threads each pass decodes its sheet on
  unsigned first_decode_threads_ = 1;  // the first sheet's pass, which runs alone
  std::vector<wb_typing_result> results_;
  std::vector<bool> done_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::atomic<std::size_t> next_{0};
  std::atomic<bool> stop_{false};
  std::vector<std::thread> threads_;  // last: started once everything above exists
};

/// How many sheets are typed at once: nothing else runs while they are, so the cores but two, at
/// most six (each pass holds a few megabytes, and a large sheet's pass reads on several threads).
unsigned wb_typing_threads(std::size_t sheet_count);

/// How many threads each of `passes_at_once` typing passes may decode its sheet on: nothing else
/// runs while they do, so the cores but two (one inflates, one takes the rows), shared among the
/// passes; at most six, past which inflating one part is the limit.
unsigned wb_typing_decode_threads(unsigned passes_at_once);

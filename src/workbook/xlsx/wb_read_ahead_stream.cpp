#include "workbook/xlsx/wb_read_ahead_stream.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// Whole rows only, handed over once a batch holds this many cells; at most `max_batches` wait.
constexpr std::size_t batch_cells = 4096;
constexpr std::size_t max_batches = 4;

struct row_batch {
  std::vector<wb_cell> cells;  // text views are rebuilt from `texts` on the reading side
  std::vector<std::size_t> text_offsets;
  std::vector<std::pair<std::uint32_t, std::size_t>> rows;  // row number, cell count
  std::string texts;
  void clear() {
    cells.clear();
    text_offsets.clear();
    rows.clear();
    texts.clear();
  }
};

class read_ahead_stream final : public wb_sheet_stream {
 public:
  explicit read_ahead_stream(std::unique_ptr<wb_sheet_stream> source) : source_(std::move(source)) {
    worker_ = std::thread([this] { work(); });
  }

  ~read_ahead_stream() override {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    worker_.join();
  }

  bool next_row(wb_row_view& out) override {
    if (row_ >= current_.rows.size()) {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return !ready_.empty() || done_; });
      if (ready_.empty()) {
        if (error_) std::rethrow_exception(error_);
        return false;
      }
      spare_.push_back(std::move(current_));
      current_ = std::move(ready_.front());
      ready_.pop_front();
      lock.unlock();
      changed_.notify_all();
      row_ = 0;
      cell_ = 0;
    }
    const auto [number, count] = current_.rows[row_++];
    wb_cell* cells = current_.cells.data() + cell_;
    for (std::size_t i = 0; i < count; ++i)
      if (cells[i].kind == wb_value_kind::text)
        cells[i].text = std::string_view(current_.texts).substr(current_.text_offsets[cell_ + i], cells[i].text.size());
    cell_ += count;
    out = {number, cells, count};
    return true;
  }

 private:
  void work() {
    row_batch filling;
    std::exception_ptr failure;
    try {
      wb_row_view row;
      while (source_->next_row(row)) {
        for (std::size_t i = 0; i < row.count; ++i) {
          filling.cells.push_back(row.cells[i]);
          filling.text_offsets.push_back(filling.texts.size());
          if (row.cells[i].kind == wb_value_kind::text) filling.texts.append(row.cells[i].text);
        }
        filling.rows.emplace_back(row.row, row.count);  // last: a row is listed once it is whole
        if (filling.cells.size() >= batch_cells && !hand_over(filling)) return;
      }
    } catch (...) {
      failure = std::current_exception();
    }
    // The rows decoded before a failure go first, as the source would have delivered them.
    try {
      if (!filling.rows.empty() && !hand_over(filling)) return;
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
    {
      std::lock_guard lock(mutex_);
      error_ = failure;
      done_ = true;
    }
    changed_.notify_all();
  }

  // Queues the batch (waiting while the queue is full) and gives `filling` a spare one; false when
  // the reading side is gone.
  bool hand_over(row_batch& filling) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return ready_.size() < max_batches || stop_; });
    if (stop_) return false;
    ready_.push_back(std::move(filling));
    if (!spare_.empty()) {
      filling = std::move(spare_.back());
      spare_.pop_back();
    } else {
      filling = row_batch{};
    }
    filling.clear();
    lock.unlock();
    changed_.notify_all();
    return true;
  }

  std::unique_ptr<wb_sheet_stream> source_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<row_batch> ready_;
  std::vector<row_batch> spare_;  // batches read out, their memory reused
  std::exception_ptr error_;
  bool done_ = false, stop_ = false;
  row_batch current_;  // the reading side's own
  std::size_t row_ = 0, cell_ = 0;
  std::thread worker_;  // last: started once everything above exists
};

}  // namespace

std::unique_ptr<wb_sheet_stream> wb_read_ahead(std::unique_ptr<wb_sheet_stream> source) {
  return std::make_unique<read_ahead_stream>(std::move(source));
}

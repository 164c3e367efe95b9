#include "workbook/xlsx/wb_read_ahead_stream.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "workbook/xlsx/wb_row_batch.h"

namespace {

// Whole rows only, handed over once a batch holds this many cells; at most `max_batches` wait.
constexpr std::size_t batch_cells = 4096;
constexpr std::size_t max_batches = 4;

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
    if (reader_.exhausted()) {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return !ready_.empty() || done_; });
      if (ready_.empty()) {
        if (error_) std::rethrow_exception(error_);
        return false;
      }
      reader_.start(ready_.front());
      spare_.push_back(std::move(ready_.front()));
      ready_.pop_front();
      lock.unlock();
      changed_.notify_all();
    }
    reader_.next(out);
    return true;
  }

 private:
  void work() {
    wb_row_batch filling;
    std::exception_ptr failure;
    try {
      wb_row_view row;
      while (source_->next_row(row)) {
        filling.add(row);
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
  bool hand_over(wb_row_batch& filling) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return ready_.size() < max_batches || stop_; });
    if (stop_) return false;
    ready_.push_back(std::move(filling));
    if (!spare_.empty()) {
      filling = std::move(spare_.back());
      spare_.pop_back();
    } else {
      filling = wb_row_batch{};
    }
    filling.clear();
    lock.unlock();
    changed_.notify_all();
    return true;
  }

  std::unique_ptr<wb_sheet_stream> source_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<wb_row_batch> ready_;
  std::vector<wb_row_batch> spare_;  // batches read out, their memory reused
  std::exception_ptr error_;
  bool done_ = false, stop_ = false;
  wb_row_batch_reader reader_;  // the reading side's own
  std::thread worker_;  // last: started once everything above exists
};

}  // namespace

std::unique_ptr<wb_sheet_stream> wb_read_ahead(std::unique_ptr<wb_sheet_stream> source) {
  if (dynamic_cast<wb_decoding_ahead_stream*>(source.get())) return source;
  return std::make_unique<read_ahead_stream>(std::move(source));
}

#include "workbook/engine/wb_row_prefetch.h"

#include <utility>

namespace {
constexpr std::size_t max_waiting_batches = 4;
}

wb_row_prefetch::wb_row_prefetch(row_reader read, std::size_t rows_per_batch)
    : read_(std::move(read)), rows_per_batch_(rows_per_batch ? rows_per_batch : 1) {
  worker_ = std::thread([this] { work(); });
}

wb_row_prefetch::~wb_row_prefetch() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  worker_.join();
}

bool wb_row_prefetch::next(std::vector<ole_variant>& row) {
  if (next_row_ >= current_.count) {
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
    next_row_ = 0;
  }
  // The caller's previous row goes back into the batch, so its memory is reused.
  std::swap(row, current_.rows[next_row_++]);
  return true;
}

void wb_row_prefetch::work() {
  batch filling;
  std::exception_ptr failure;
  try {
    for (;;) {
      if (filling.rows.size() <= filling.count) filling.rows.resize(filling.count + 1);
      if (!read_(filling.rows[filling.count])) break;
      if (++filling.count == rows_per_batch_ && !hand_over(filling)) return;
    }
  } catch (...) {
    failure = std::current_exception();
  }
  // The rows read before a failure go first, as a reader on the caller's thread would give them.
  try {
    if (filling.count && !hand_over(filling)) return;
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

bool wb_row_prefetch::hand_over(batch& filling) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return ready_.size() < max_waiting_batches || stop_; });
  if (stop_) return false;
  ready_.push_back(std::move(filling));
  if (!spare_.empty()) {
    filling = std::move(spare_.back());
    spare_.pop_back();
  } else {
    filling = batch{};
  }
  filling.count = 0;
  lock.unlock();
  changed_.notify_all();
  return true;
}

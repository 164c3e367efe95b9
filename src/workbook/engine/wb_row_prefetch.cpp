#include "workbook/engine/wb_row_prefetch.h"

#include <utility>

namespace {
constexpr std::size_t max_waiting_batches = 4;
}

wb_row_prefetch::wb_row_prefetch(row_reader read, std::size_t rows_per_batch)
    : read_(std::move(read)), rows_per_batch_(rows_per_batch ? rows_per_batch : 1), pipe_(max_waiting_batches) {
  worker_ = std::thread([this] { work(); });
}

wb_row_prefetch::~wb_row_prefetch() {
  pipe_.leave();
  worker_.join();
}

bool wb_row_prefetch::next(std::vector<ole_variant>& row) {
  if (next_row_ >= current_.count) {
    if (!pipe_.take(current_)) {
      // The batches go back to the worker, which frees them while the caller goes on.
      pipe_.hand_back(current_);
      current_ = batch{};
      next_row_ = 0;
      return false;
    }
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
      if (!read_(filling.rows[filling.count])) {
        read_to_end_ = true;
        break;
      }
      if (++filling.count == rows_per_batch_) {
        if (!pipe_.put(filling)) return;
        filling.count = 0;
      }
    }
  } catch (...) {
    failure = std::current_exception();
  }
  // The rows read before a failure go first, as a reader on the caller's thread would give them.
  try {
    if (filling.count && !pipe_.put(filling)) return;
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  pipe_.close(failure);
  // Freed here, once the caller has read to the end (or left): thousands of values each.
  const std::vector<batch> held = pipe_.wait_left();
}

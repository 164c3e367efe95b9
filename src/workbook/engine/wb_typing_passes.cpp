#include "workbook/engine/wb_typing_passes.h"

#include <algorithm>
#include <system_error>
#include <utility>

wb_background_typing::wb_background_typing(wb_reader& reader, std::vector<std::size_t> sheets, bool header,
                                           unsigned threads)
    : reader_(reader),
      sheets_(std::move(sheets)),
      header_(header),
      results_(sheets_.size()),
      done_(sheets_.size(), false) {
  const std::size_t wanted = std::min<std::size_t>(std::max(threads, 1u), sheets_.size());
  decode_threads_ = wb_typing_decode_threads(static_cast<unsigned>(std::max<std::size_t>(wanted, 1)));
  first_decode_threads_ = wb_typing_decode_threads(1);
  for (std::size_t t = 0; t < wanted; ++t) {
    try {
      threads_.emplace_back([this] { work(); });
    } catch (const std::system_error&) {
      break;  // fewer threads: those that run take the remaining sheets
    }
  }
  if (threads_.empty()) work();  // no thread at all: every pass on the calling thread
}

wb_background_typing::~wb_background_typing() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();  // passes waiting for the first one's end
  for (auto& thread : threads_) thread.join();
}

void wb_background_typing::work() noexcept {
  for (std::size_t i = next_.fetch_add(1); i < sheets_.size() && !stop_; i = next_.fetch_add(1)) {
    // The first sheet is waited for before any other: its pass runs alone, on every decoding
    // thread, and the others begin once it has ended.
    if (i > 0) {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return done_[0] || stop_; });
    }
    wb_typing_result result;
    try {
      result.layout = wb_profile_sheet(reader_, sheets_[i], header_, &stop_,
                                       i == 0 ? first_decode_threads_ : decode_threads_);
    } catch (const wb_profile_stopped&) {
      return;  // the object goes: nobody waits for this result
    } catch (...) {
      result.failure = std::current_exception();
    }
    {
      std::lock_guard lock(mutex_);
      results_[i] = std::move(result);
      done_[i] = true;
    }
    changed_.notify_all();
  }
}

bool wb_background_typing::finished(std::size_t i) {
  std::lock_guard lock(mutex_);
  return done_.at(i);
}

wb_typing_result wb_background_typing::take(std::size_t i) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return bool(done_.at(i)); });
  return std::move(results_[i]);
}

unsigned wb_typing_threads(std::size_t sheet_count) {
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const unsigned bound = std::clamp(cores > 2 ? cores - 2 : 1u, 1u, 6u);
  return static_cast<unsigned>(std::min<std::size_t>(bound, std::max<std::size_t>(sheet_count, 1)));
}

unsigned wb_typing_decode_threads(unsigned passes_at_once) {
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  return std::clamp((cores > 2 ? cores - 2 : 1) / std::max(passes_at_once, 1u), 1u, 6u);
}

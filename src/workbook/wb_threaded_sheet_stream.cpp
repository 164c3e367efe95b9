// Turns a reader that pushes cells (read_sheet) into a pulled row stream: a worker thread decodes
// and hands whole rows over in bounded batches, so memory stays flat whatever the sheet's size.
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include "workbook/wb_reader.h"

namespace {

constexpr std::size_t batch_cells = 4096;

struct stored_cell {
  wb_cell cell;
  std::size_t text_offset = 0;
};

struct batch {
  std::vector<stored_cell> cells;
  std::string texts;
  void clear() {
    cells.clear();
    texts.clear();
  }
};

struct stop_request {};

class threaded_stream final : public wb_sheet_stream, private wb_cell_sink {
 public:
  threaded_stream(wb_reader& reader, std::size_t index) {
    worker_ = std::thread([this, &reader, index] {
      try {
        reader.read_sheet(index, *this);
        flush(true);
      } catch (const stop_request&) {
      } catch (...) {
        std::lock_guard lock(mutex_);
        error_ = std::current_exception();
        done_ = true;
        changed_.notify_all();
      }
    });
  }

  ~threaded_stream() override {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
      changed_.notify_all();
    }
    worker_.join();
  }

  bool next_row(wb_row_view& out) override {
    if (pos_ >= current_.cells.size()) {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return ready_ || done_; });
      if (!ready_) {
        if (error_) std::rethrow_exception(error_);
        return false;
      }
      std::swap(current_, handed_);
      handed_.clear();
      ready_ = false;
      pos_ = 0;
      changed_.notify_all();
    }
    row_.clear();
    const std::uint32_t r = current_.cells[pos_].cell.row;
    while (pos_ < current_.cells.size() && current_.cells[pos_].cell.row == r) {
      stored_cell& s = current_.cells[pos_++];
      if (s.cell.kind == wb_value_kind::text)
        s.cell.text = std::string_view(current_.texts).substr(s.text_offset, s.cell.text.size());
      row_.push_back(s.cell);
    }
    out = {r, row_.data(), row_.size()};
    return true;
  }

 private:
  void cell(const wb_cell& c) override {
    if (!filling_.cells.empty() && c.row != filling_.cells.back().cell.row && filling_.cells.size() >= batch_cells)
      flush(false);
    stored_cell s{c, filling_.texts.size()};
    if (c.kind == wb_value_kind::text) filling_.texts.append(c.text);
    filling_.cells.push_back(s);
  }

  // Hands the filled batch to the reading side (waits while it still holds the previous one).
  void flush(bool last) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !ready_ || stop_; });
    if (stop_) throw stop_request{};
    if (!filling_.cells.empty()) {
      std::swap(handed_, filling_);
      filling_.clear();
      ready_ = true;
      changed_.notify_all();
    }
    if (last) {
      // The final batch may still be waiting; done_ is seen only once it is taken.
      changed_.wait(lock, [this] { return !ready_ || stop_; });
      done_ = true;
    }
    changed_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  batch filling_, handed_, current_;
  std::size_t pos_ = 0;
  std::vector<wb_cell> row_;
  std::exception_ptr error_;
  bool ready_ = false, done_ = false, stop_ = false;
  std::thread worker_;
};

}  // namespace

std::unique_ptr<wb_sheet_stream> wb_reader::open_sheet(std::size_t index) {
  return std::make_unique<threaded_stream>(*this, index);
}

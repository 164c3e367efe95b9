#include "workbook/xlsx/wb_read_ahead_stream.h"

#include <exception>
#include <thread>

#include "workbook/wb_batch_pipe.h"
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
    pipe_.leave();
    worker_.join();
  }

  bool next_row(wb_row_view& out) override {
    if (reader_.exhausted()) {
      if (!pipe_.take(incoming_)) return false;
      reader_.start(incoming_);  // incoming_ now holds the batch read out, to go back at the next take
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
        if (filling.cells.size() >= batch_cells) {
          if (!pipe_.put(filling)) return;
          filling.clear();
        }
      }
    } catch (...) {
      failure = std::current_exception();
    }
    // The rows decoded before a failure go first, as the source would have delivered them.
    try {
      if (!filling.rows.empty() && !pipe_.put(filling)) return;
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
    pipe_.close(failure);
  }

  std::unique_ptr<wb_sheet_stream> source_;
  wb_batch_pipe<wb_row_batch> pipe_{max_batches};
  wb_row_batch incoming_;
  wb_row_batch_reader reader_;  // the reading side's own
  std::thread worker_;  // last: started once everything above exists
};

}  // namespace

std::unique_ptr<wb_sheet_stream> wb_read_ahead(std::unique_ptr<wb_sheet_stream> source) {
  if (dynamic_cast<wb_decoding_ahead_stream*>(source.get())) return source;
  return std::make_unique<read_ahead_stream>(std::move(source));
}

#pragma once
// Whole rows copied out of a sheet stream, so they can be handed from one thread to another.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "workbook/wb_reader.h"

struct wb_row_batch {
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
  void add(const wb_row_view& row) {
    for (std::size_t i = 0; i < row.count; ++i) {
      cells.push_back(row.cells[i]);
      text_offsets.push_back(texts.size());
      if (row.cells[i].kind == wb_value_kind::text) texts.append(row.cells[i].text);
    }
    rows.emplace_back(row.row, row.count);  // last: a row is listed once it is whole
  }
};

/// Hands out the rows of batches one by one.
class wb_row_batch_reader {
 public:
  /// The batch being read out.
  wb_row_batch& batch() { return current_; }
  bool exhausted() const { return row_ >= current_.rows.size(); }
  /// Starts on `next`; the batch read out so far is given back through `next` for reuse.
  void start(wb_row_batch& next) {
    std::swap(current_, next);
    row_ = 0;
    cell_ = 0;
  }
  /// The next row of the batch (not exhausted()).
  void next(wb_row_view& out) {
    const auto [number, count] = current_.rows[row_++];
    wb_cell* cells = current_.cells.data() + cell_;
    for (std::size_t i = 0; i < count; ++i)
      if (cells[i].kind == wb_value_kind::text)
        cells[i].text = std::string_view(current_.texts).substr(current_.text_offsets[cell_ + i], cells[i].text.size());
    cell_ += count;
    out = {number, cells, count};
  }

 private:
  wb_row_batch current_;
  std::size_t row_ = 0, cell_ = 0;
};

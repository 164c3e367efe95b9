#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>

#include "workbook/wb_errors.h"
#include "workbook/xls/byte_source.h"
#include "workbook/xls/cfb_file.h"
#include "workbook/xls/xls_failure.h"
#include "workbook/xls/xls_globals.h"
#include "workbook/xls/xls_open.h"
#include "workbook/xls/xls_sheet_cells.h"

namespace {

[[noreturn]] void rethrow_as_wb_error(const std::string& path) {
  try {
    throw;
  } catch (const wb_xls_unreadable& e) {
    throw wb_unreadable(path, e.what());
  } catch (const wb_xls_encrypted&) {
    throw wb_encrypted(path);
  }
}

bool has_text(const wb_cell& c) { return c.kind == wb_value_kind::text || c.kind == wb_value_kind::missing; }

// Pulls a sheet's rows straight from its records: each call decodes records until a row is whole.
class xls_row_stream final : public wb_sheet_stream, private wb_cell_sink {
 public:
  xls_row_stream(const wb_cfb_stream& stream, const wb_xls_globals& globals, std::uint32_t offset,
                 std::shared_ptr<const wb_xls_cell_order> order, const std::string& path)
      : path_(path), order_(std::move(order)) {
    try {
      scanner_.emplace(stream, globals, offset, static_cast<wb_cell_sink&>(*this), order_.get());
    } catch (...) {
      rethrow_as_wb_error(path_);
    }
  }

  bool next_row(wb_row_view& out) override {
    drop_delivered();
    try {
      while (true) {
        if (!cells_.empty() && cells_.front().row != cells_.back().row) break;
        if (ended_) {
          if (cells_.empty()) return false;
          break;
        }
        if (!scanner_->step()) ended_ = true;
      }
    } catch (...) {
      rethrow_as_wb_error(path_);
    }
    std::size_t n = 0;
    while (n < cells_.size() && cells_[n].row == cells_.front().row) ++n;
    for (std::size_t i = 0; i < n; ++i)
      if (has_text(cells_[i]))
        cells_[i].text = std::string_view(texts_).substr(text_at_[i], cells_[i].text.size());
    out.row = cells_.front().row;
    out.cells = cells_.data();
    out.count = n;
    delivered_ = n;
    return true;
  }

 private:
  void cell(const wb_cell& c) override {
    cells_.push_back(c);
    text_at_.push_back(texts_.size());
    if (has_text(c)) texts_.append(c.text);
  }

  // Keeps only the cells after the row handed out last: at most one record's worth.
  void drop_delivered() {
    if (delivered_ == 0) return;
    std::string rest;
    for (std::size_t i = delivered_; i < cells_.size(); ++i) {
      std::size_t at = rest.size();
      if (has_text(cells_[i])) rest.append(texts_, text_at_[i], cells_[i].text.size());
      text_at_[i] = at;
    }
    cells_.erase(cells_.begin(), cells_.begin() + static_cast<std::ptrdiff_t>(delivered_));
    text_at_.erase(text_at_.begin(), text_at_.begin() + static_cast<std::ptrdiff_t>(delivered_));
    texts_.swap(rest);
    delivered_ = 0;
  }

  std::string path_;
  std::shared_ptr<const wb_xls_cell_order> order_;
  std::optional<wb_xls_sheet_scanner> scanner_;
  std::vector<wb_cell> cells_;  // text views are set when the row is handed out
  std::vector<std::size_t> text_at_;
  std::string texts_;
  std::size_t delivered_ = 0;
  bool ended_ = false;
};

class xls_reader final : public wb_reader {
 public:
  xls_reader(std::unique_ptr<wb_byte_source> source, const std::string& path)
      : source_(std::move(source)), path_(path) {
    try {
      if (!wb_cfb_file::has_signature(*source_)) throw wb_xls_unreadable("unknown signature");
      wb_cfb_file container(*source_);
      if (container.has_stream("EncryptedPackage")) throw wb_xls_encrypted();
      // Excel 5.0 and 95 name the stream "Book"; the BOF record tells the version either way.
      auto stream = container.open_stream("Workbook");
      if (!stream) stream = container.open_stream("Book");
      if (!stream) throw wb_xls_unreadable("no workbook stream");
      stream_ = std::move(*stream);
      globals_ = wb_xls_read_globals(stream_);
      orders_.resize(globals_.sheets.size());
    } catch (...) {
      rethrow_as_wb_error(path_);
    }
  }

  const std::vector<wb_sheet_info>& sheets() const override { return globals_.sheets; }
  bool date1904() const override { return globals_.date1904; }

  std::unique_ptr<wb_sheet_stream> open_sheet(std::size_t index) override {
    if (index >= globals_.sheets.size()) throw std::out_of_range("xls sheet index out of range");
    return std::make_unique<xls_row_stream>(stream_, globals_, globals_.sheet_offsets[index], order_of(index), path_);
  }

  // Cells go out row by row in both reading paths, so the typing pass and the row pass see one order.
  void read_sheet(std::size_t index, wb_cell_sink& sink) override {
    auto rows = open_sheet(index);
    wb_row_view row;
    while (rows->next_row(row))
      for (std::size_t i = 0; i < row.count; ++i) sink.cell(row.cells[i]);
  }

 private:
  // Whether a sheet's rows ascend is learnt once per sheet, by a walk over its record headers; only
  // a sheet whose rows do not ascend keeps the sorted list of its value records.
  std::shared_ptr<const wb_xls_cell_order> order_of(std::size_t index) {
    std::lock_guard<std::mutex> lock(orders_mutex_);
    if (!orders_[index]) {
      try {
        orders_[index] = std::make_shared<const wb_xls_cell_order>(
            wb_xls_sheet_cell_order(stream_, globals_.sheet_offsets[index]));
      } catch (...) {
        rethrow_as_wb_error(path_);
      }
    }
    return orders_[index];
  }

  std::unique_ptr<wb_byte_source> source_;
  std::string path_;
  wb_cfb_stream stream_;
  wb_xls_globals globals_;
  std::mutex orders_mutex_;  // sheets may be opened from several threads
  std::vector<std::shared_ptr<const wb_xls_cell_order>> orders_;
};

}  // namespace

std::unique_ptr<wb_reader> wb_open_xls(const std::string& path) {
  return std::make_unique<xls_reader>(wb_open_file_source(path), path);
}

std::unique_ptr<wb_reader> wb_open_xls_bytes(std::string bytes, const std::string& name) {
  return std::make_unique<xls_reader>(wb_memory_source(std::move(bytes)), name);
}

wb_cfb_content wb_cfb_kind(const std::string& path) {
  auto source = wb_open_file_source(path);
  if (!wb_cfb_file::has_signature(*source)) return wb_cfb_content::not_compound;
  try {
    wb_cfb_file container(*source);
    if (container.has_stream("EncryptedPackage")) return wb_cfb_content::encrypted_package;
    if (container.has_stream("Workbook") || container.has_stream("Book")) return wb_cfb_content::workbook;
    return wb_cfb_content::other;
  } catch (...) {
    rethrow_as_wb_error(path);
  }
}

#include <algorithm>
#include <memory>

#include "workbook/wb_reader.h"
#include "workbook/xlsx/wb_read_ahead_stream.h"
#include "workbook/xlsx/wb_xlsx_package.h"
#include "workbook/xlsx/wb_xlsx_sheet.h"

namespace {

class xlsx_reader final : public wb_reader {
 public:
  explicit xlsx_reader(const std::string& path) : package_(path) { list_sheets(); }
  xlsx_reader(const std::string& name, std::string_view bytes) : package_(name, bytes) { list_sheets(); }
  const std::vector<wb_sheet_info>& sheets() const override { return sheets_; }
  bool date1904() const override { return package_.date1904(); }
  wb_date_system date_system() const override { return package_.date_system(); }
  void read_sheet(std::size_t index, wb_cell_sink& sink) override {
    auto stream = wb_open_xlsx_sheet(package_, index);
    wb_row_view row;
    while (stream->next_row(row))
      for (std::size_t i = 0; i < row.count; ++i) sink.cell(row.cells[i]);
  }
  /// Opened here, so a missing or unreadable part fails at once; decoded ahead on a worker.
  std::unique_ptr<wb_sheet_stream> open_sheet(std::size_t index) override {
    return wb_read_ahead(wb_open_xlsx_sheet(package_, index));
  }
  /// A long sheet is cut for more workers than the usual few, with as many pieces held as keep
  /// them busy.
  std::unique_ptr<wb_sheet_stream> open_sheet_wide(std::size_t index, unsigned threads) override {
    wb_sheet_split split;
    split.workers = std::max(split.workers, threads);
    split.pieces_in_flight = std::max(split.pieces_in_flight, split.workers + 2);
    return wb_read_ahead(wb_open_xlsx_sheet(package_, index, wb_sheet_parser::scanner, split));
  }

 private:
  void list_sheets() {
    for (const auto& s : package_.sheets()) sheets_.push_back(s.info);
  }

  wb_xlsx_package package_;
  std::vector<wb_sheet_info> sheets_;
};

}  // namespace

std::unique_ptr<wb_reader> wb_open_xlsx(const std::string& path) { return std::make_unique<xlsx_reader>(path); }

std::unique_ptr<wb_reader> wb_open_xlsx_bytes(const std::string& name, std::string_view bytes) {
  return std::make_unique<xlsx_reader>(name, bytes);
}

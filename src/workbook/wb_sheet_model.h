#pragma once
// A worksheet as a table, shared by every file format: the block of cells with a value, the header
// row, the column types from every data row (first pass), and the rows' values (second pass).
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "workbook/wb_reader.h"

/// Field type codes the engine reports.
enum wb_field_type : int {
  wb_type_boolean = 1,
  wb_type_currency = 5,
  wb_type_double = 7,
  wb_type_date = 8,
  wb_type_text = 10,
  wb_type_memo = 12,
};

struct wb_column {
  std::string name;  // UTF-8
  int type = wb_type_text;
  long size = 255;
};

/// What the first pass learns about a sheet.
struct wb_sheet_layout {
  bool empty = true;  // no cell with a value
  bool header = true;
  std::uint32_t first_row = 0, last_row = 0, first_col = 0, last_col = 0;  // the block, inclusive
  std::vector<wb_column> columns;
  std::uint64_t record_count = 0;
};

/// One value of a data row.
struct wb_value {
  enum class kind : std::uint8_t { null, boolean, number, currency, date, text };
  kind k = kind::null;
  bool boolean = false;
  double number = 0;          // number; date: OLE date
  std::int64_t currency = 0;  // ten-thousandths
  std::string text;           // UTF-8
};

/// Thrown by wb_profile_sheet when its stop flag is raised.
struct wb_profile_stopped {};

/// The first pass over sheet `index` of `reader` (throws wb_error; 3190 past 1600 columns). With
/// `stop`, the pass ends with wb_profile_stopped once the flag is raised (checked at each row).
/// `decode_threads` above 0: nothing else runs meanwhile, the sheet may be decoded on that many
/// threads (wb_reader::open_sheet_wide).
wb_sheet_layout wb_profile_sheet(wb_reader& reader, std::size_t index, bool header,
                                 const std::atomic<bool>* stop = nullptr, unsigned decode_threads = 0);

/// The second pass: the data rows of a profiled sheet in order, interior empty rows as NULLs.
class wb_row_cursor {
 public:
  wb_row_cursor(wb_reader& reader, std::size_t index, const wb_sheet_layout& layout);
  /// Fills `row` (one value per column) with the next data row; false after the last.
  bool read(std::vector<wb_value>& row);
  /// What the row read last lacks: each column whose cell the file names without holding its
  /// value (NULL in `row`), with the reason; empty when nothing.
  const std::string& problem() const { return problem_; }

 private:
  wb_reader& reader_;
  const wb_sheet_layout& layout_;
  std::size_t index_;
  std::unique_ptr<wb_sheet_stream> stream_;
  wb_row_view pending_;
  bool has_pending_ = false, stream_done_ = false;
  std::uint64_t next_row_ = 0;
  std::string problem_;
};

#pragma once
// Decodes the cells of one worksheet substream, one record at a time.
#include <cstdint>
#include <string>
#include <vector>

#include "workbook/wb_reader.h"
#include "workbook/xls/xls_globals.h"

/// Where the cell records of a worksheet lie when they are not in row order: one entry per record
/// that holds a value, sorted by row and, within a row, in file order.
struct wb_xls_cell_order {
  struct entry {
    std::uint32_t row;
    std::uint32_t offset;  // stream offset of the record
  };
  std::vector<entry> records;
};

/// Walks the worksheet whose BOF is at `offset` once, reading only each value record's row. Empty
/// when its rows ascend (the cells are read in file order); else every value record, sorted.
/// Throws wb_xls_unreadable.
wb_xls_cell_order wb_xls_sheet_cell_order(const wb_cfb_stream& stream, std::uint32_t offset);

/// Walks a worksheet and hands the cells of each record (none, one, or a MULRK's many) to the sink:
/// from its BOF to its EOF in file order, or, given an order, record by record in that order.
/// Throws wb_xls_unreadable.
class wb_xls_sheet_scanner {
 public:
  wb_xls_sheet_scanner(const wb_cfb_stream& stream, const wb_xls_globals& globals, std::uint32_t offset,
                       wb_cell_sink& sink, const wb_xls_cell_order* order = nullptr);
  /// Reads one record; false once the sheet's EOF (or the order's last record) has been read.
  bool step();

 private:
  bool step_in_order();
  void record();
  void start(wb_biff_cursor& c, std::uint16_t* xf);
  void start_biff2(wb_biff_cursor& c, std::uint16_t* xf);
  void set_position(std::uint32_t row, std::uint32_t col);
  void number(std::uint16_t xf, double value);
  /// A text cell; `missing`: `value` says why the file does not hold the cell's text.
  void text(std::string_view value, wb_value_kind kind = wb_value_kind::text);
  void boolean_or_error(std::uint8_t value, std::uint8_t is_error);
  void formula(wb_biff_cursor& c);
  void string_result();
  void finish_pending();

  wb_biff_records records_;
  const wb_xls_globals& g_;
  wb_cell_sink& sink_;
  const wb_xls_cell_order* order_;
  std::size_t next_ = 0;  // next entry of order_
  int depth_ = 1;         // embedded charts nest their own BOF ... EOF inside the sheet
  wb_cell cell_;
  std::string text_;
  std::uint32_t last_row_ = 0;
  bool pending_ = false;  // a formula with a text result waits for its STRING record
  wb_cell pending_cell_;
};

/// The number an RK value encodes.
double wb_xls_rk_number(std::uint32_t rk);

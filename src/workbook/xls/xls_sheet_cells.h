#pragma once
// Decodes the cells of one worksheet substream, one record at a time.
#include <cstdint>
#include <string>

#include "workbook/wb_reader.h"
#include "workbook/xls/xls_globals.h"

/// Walks a worksheet from its BOF to its EOF; each step reads one record and hands the cells it
/// holds (none, one, or a MULRK's many) to the sink. Throws wb_xls_unreadable.
class wb_xls_sheet_scanner {
 public:
  wb_xls_sheet_scanner(const wb_cfb_stream& stream, const wb_xls_globals& globals, std::uint32_t offset,
                       wb_cell_sink& sink);
  /// Reads one record; false once the sheet's EOF has been read.
  bool step();

 private:
  void record();
  void start(wb_biff_cursor& c, std::uint16_t* xf);
  void set_position(std::uint32_t row, std::uint32_t col);
  void number(std::uint16_t xf, double value);
  void formula(wb_biff_cursor& c);
  void string_result();

  wb_biff_records records_;
  const wb_xls_globals& g_;
  wb_cell_sink& sink_;
  int depth_ = 1;  // embedded charts nest their own BOF ... EOF inside the sheet
  wb_cell cell_;
  std::string text_;
  std::uint32_t last_row_ = 0;
  bool pending_ = false;  // a formula with a text result waits for its STRING record
  wb_cell pending_cell_;
};

/// Delivers every cell of the worksheet whose BOF is at `offset`.
void wb_xls_read_cells(const wb_cfb_stream& stream, const wb_xls_globals& globals, std::uint32_t offset,
                       wb_cell_sink& sink);

/// The number an RK value encodes.
double wb_xls_rk_number(std::uint32_t rk);

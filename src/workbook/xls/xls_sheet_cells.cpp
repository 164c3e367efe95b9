#include "workbook/xls/xls_sheet_cells.h"

#include <cstring>
#include <string>

#include "workbook/wb_limits.h"
#include "workbook/xls/xls_failure.h"

namespace {
constexpr std::uint16_t worksheet_substream = 0x0010;
}  // namespace

wb_xls_sheet_scanner::wb_xls_sheet_scanner(const wb_cfb_stream& stream, const wb_xls_globals& globals,
                                           std::uint32_t offset, wb_cell_sink& sink)
    : records_(stream, offset), g_(globals), sink_(sink) {
  if (!records_.next()) throw wb_xls_unreadable("a sheet offset lies past the end of the workbook stream");
  wb_xls_check_bof(records_, worksheet_substream, "a sheet");
}

bool wb_xls_sheet_scanner::step() {
  if (depth_ == 0) return false;
  if (!records_.next()) throw wb_xls_unreadable("a sheet has no EOF record");
  if (records_.type() == wb_biff::bof) {
    ++depth_;
    pending_ = false;
  } else if (records_.type() == wb_biff::eof) {
    --depth_;
  } else if (depth_ == 1) {
    record();
  }
  return depth_ > 0;
}

void wb_xls_sheet_scanner::set_position(std::uint32_t row, std::uint32_t col) {
  if (col >= wb_max_columns)
    throw wb_xls_unreadable("a cell lies beyond the cap of " + std::to_string(wb_max_columns) + " columns");
  if (row < last_row_) throw wb_xls_unreadable("cells are not in row order");
  last_row_ = row;
  cell_ = wb_cell{};
  cell_.row = row;
  cell_.col = col;
}

void wb_xls_sheet_scanner::start(wb_biff_cursor& c, std::uint16_t* xf) {
  std::uint16_t row = c.u16();
  std::uint16_t col = c.u16();
  *xf = c.u16();
  set_position(row, col);
}

void wb_xls_sheet_scanner::number(std::uint16_t xf, double value) {
  cell_.kind = wb_value_kind::number;
  cell_.number = value;
  cell_.style = g_.style_of(xf);
  sink_.cell(cell_);
}

void wb_xls_sheet_scanner::formula(wb_biff_cursor& c) {
  std::uint16_t xf;
  start(c, &xf);
  const unsigned char* result = c.take(8);
  if (result[6] != 0xFF || result[7] != 0xFF) {
    double value;
    std::memcpy(&value, result, 8);
    number(xf, value);
    return;
  }
  switch (result[0]) {
    case 0:  // text, in the STRING record that follows
      pending_ = true;
      pending_cell_ = cell_;
      pending_cell_.kind = wb_value_kind::text;
      break;
    case 1:
      cell_.kind = wb_value_kind::boolean;
      cell_.boolean = result[2] != 0;
      sink_.cell(cell_);
      break;
    case 2:
      cell_.kind = wb_value_kind::error;
      sink_.cell(cell_);
      break;
    default: break;  // 3, an empty text, and anything unknown: blank, like a formula without a result
  }
}

void wb_xls_sheet_scanner::string_result() {
  if (!pending_) return;
  pending_ = false;
  wb_biff_continued in(records_, 0);
  std::uint16_t chars = in.u16();
  std::uint8_t flags = in.u8();
  text_.clear();
  in.chars(chars, flags, text_);
  cell_ = pending_cell_;
  cell_.text = text_;
  sink_.cell(cell_);
}

void wb_xls_sheet_scanner::record() {
  wb_biff_records& r = records_;
  wb_biff_cursor c(r);
  std::uint16_t xf = 0;
  std::uint16_t type = r.type();
  if (pending_ && type != wb_biff::string_result && type != wb_biff::shared_formula &&
      type != wb_biff::array_formula && type != wb_biff::table_formula)
    pending_ = false;  // a text formula without its STRING record has no cached result
  switch (type) {
    case wb_biff::number: {
      start(c, &xf);
      number(xf, c.f64());
      break;
    }
    case wb_biff::rk: {
      start(c, &xf);
      number(xf, wb_xls_rk_number(c.u32()));
      break;
    }
    case wb_biff::mulrk: {
      std::uint16_t row = c.u16();
      std::uint16_t first = c.u16();
      if (c.left() < 2) throw wb_xls_unreadable("a record is shorter than its content");
      std::size_t count = (c.left() - 2) / 6;
      for (std::size_t i = 0; i < count; ++i) {
        set_position(row, static_cast<std::uint32_t>(first + i));
        xf = c.u16();
        number(xf, wb_xls_rk_number(c.u32()));
      }
      break;
    }
    case wb_biff::labelsst: {
      start(c, &xf);
      std::uint32_t index = c.u32();
      if (index >= g_.shared_count())
        throw wb_xls_unreadable("shared-string index " + std::to_string(index) + " is out of range");
      cell_.kind = wb_value_kind::text;
      cell_.text = g_.shared(index);
      sink_.cell(cell_);
      break;
    }
    case wb_biff::label:
    case wb_biff::rstring: {
      start(c, &xf);
      text_.clear();
      wb_biff_read_string(c, false, text_);
      cell_.kind = wb_value_kind::text;
      cell_.text = text_;
      sink_.cell(cell_);
      break;
    }
    case wb_biff::boolerr: {
      start(c, &xf);
      std::uint8_t value = c.u8();
      std::uint8_t is_error = c.u8();
      if (is_error) {
        cell_.kind = wb_value_kind::error;
      } else {
        cell_.kind = wb_value_kind::boolean;
        cell_.boolean = value != 0;
      }
      sink_.cell(cell_);
      break;
    }
    case wb_biff::formula: formula(c); break;
    case wb_biff::string_result: string_result(); break;
    default: break;  // BLANK, MULBLANK, DIMENSIONS, formatting: no values
  }
}

double wb_xls_rk_number(std::uint32_t rk) {
  double value;
  if (rk & 0x02) {
    value = static_cast<double>(static_cast<std::int32_t>(rk) >> 2);
  } else {
    std::uint64_t bits = static_cast<std::uint64_t>(rk & 0xFFFFFFFCu) << 32;
    std::memcpy(&value, &bits, 8);
  }
  return (rk & 0x01) ? value / 100 : value;
}

void wb_xls_read_cells(const wb_cfb_stream& stream, const wb_xls_globals& globals, std::uint32_t offset,
                       wb_cell_sink& sink) {
  wb_xls_sheet_scanner scanner(stream, globals, offset, sink);
  while (scanner.step()) {
  }
}

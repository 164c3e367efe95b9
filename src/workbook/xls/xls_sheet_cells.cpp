#include "workbook/xls/xls_sheet_cells.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "workbook/wb_limits.h"
#include "workbook/xls/xls_failure.h"

namespace {

// Every cell record of the versions a workbook stream may mix: BIFF5 and BIFF8 files still carry
// the FORMULA numbers of BIFF3 and BIFF4 and the cell records of BIFF2 from some generators.
namespace cell_record {
constexpr std::uint16_t integer2 = 0x0002, number2 = 0x0003, label2 = 0x0004, boolerr2 = 0x0005;
constexpr std::uint16_t formula = 0x0006, formula3 = 0x0206, formula4 = 0x0406;
}  // namespace cell_record

/// True for the records that may hold a value (blank records hold none).
bool holds_value(std::uint16_t type) {
  switch (type) {
    case cell_record::integer2:
    case cell_record::number2:
    case cell_record::label2:
    case cell_record::boolerr2:
    case cell_record::formula:
    case cell_record::formula3:
    case cell_record::formula4:
    case wb_biff::number:
    case wb_biff::rk:
    case wb_biff::mulrk:
    case wb_biff::label:
    case wb_biff::labelsst:
    case wb_biff::rstring:
    case wb_biff::boolerr: return true;
    default: return false;
  }
}

bool between_formula_and_string(std::uint16_t type) {
  return type == wb_biff::shared_formula || type == wb_biff::array_formula || type == wb_biff::table_formula;
}

std::uint16_t row_of(const wb_biff_records& r) {
  if (r.length() < 2) throw wb_xls_unreadable("a record is shorter than its content");
  return static_cast<std::uint16_t>(r.data()[0] | (r.data()[1] << 8));
}

/// Walks the value records of a sheet at depth 1 (outside embedded charts), handing each to `visit`.
template <class Visit>
void walk_value_records(const wb_cfb_stream& stream, std::uint32_t offset, Visit visit) {
  wb_biff_records r(stream, offset);
  if (!r.next()) throw wb_xls_unreadable("a sheet offset lies past the end of the workbook stream");
  int depth = 1;
  while (depth > 0) {
    if (!r.next()) throw wb_xls_unreadable("a sheet has no EOF record");
    if (r.type() == wb_biff::bof)
      ++depth;
    else if (r.type() == wb_biff::eof)
      --depth;
    else if (depth == 1 && holds_value(r.type()))
      visit(r);
  }
}
}  // namespace

wb_xls_cell_order wb_xls_sheet_cell_order(const wb_cfb_stream& stream, std::uint32_t offset) {
  wb_xls_cell_order order;
  bool ascending = true;
  std::uint16_t last = 0;
  walk_value_records(stream, offset, [&](const wb_biff_records& r) {
    const std::uint16_t row = row_of(r);
    if (row < last) ascending = false;
    last = row;
  });
  if (ascending) return order;

  // A sheet holds at most 65,536 rows of 256 cells; more value records than that are no sheet.
  constexpr std::size_t most_records = std::size_t(65536) * 256;
  walk_value_records(stream, offset, [&](const wb_biff_records& r) {
    if (order.records.size() == most_records)
      throw wb_xls_unreadable("a sheet holds more cell records than the " + std::to_string(most_records) +
                              " cells a sheet can hold");
    order.records.push_back({row_of(r), static_cast<std::uint32_t>(r.offset())});
  });
  std::stable_sort(order.records.begin(), order.records.end(),
                   [](const auto& a, const auto& b) { return a.row < b.row; });
  return order;
}

wb_xls_sheet_scanner::wb_xls_sheet_scanner(const wb_cfb_stream& stream, const wb_xls_globals& globals,
                                           std::uint32_t offset, wb_cell_sink& sink, const wb_xls_cell_order* order)
    : records_(stream, offset), g_(globals), sink_(sink), order_(order && !order->records.empty() ? order : nullptr) {
  if (!records_.next()) throw wb_xls_unreadable("a sheet offset lies past the end of the workbook stream");
  wb_xls_check_sheet_bof(records_);
}

bool wb_xls_sheet_scanner::step() {
  if (!order_) return step_in_order();
  if (next_ == order_->records.size()) return false;
  // One value record, then the STRING record that completes a formula with a text result.
  records_.seek(order_->records[next_++].offset);
  if (!records_.next()) throw wb_xls_unreadable("a record runs past the end of its stream");
  record();
  while (pending_) {
    if (!records_.next()) throw wb_xls_unreadable("a sheet has no EOF record");
    record();
  }
  return true;
}

bool wb_xls_sheet_scanner::step_in_order() {
  if (depth_ == 0) return false;
  if (!records_.next()) throw wb_xls_unreadable("a sheet has no EOF record");
  if (records_.type() == wb_biff::bof) {
    finish_pending();
    ++depth_;
  } else if (records_.type() == wb_biff::eof) {
    if (depth_ == 1) finish_pending();
    --depth_;
  } else if (depth_ == 1) {
    record();
  }
  return depth_ > 0;
}

void wb_xls_sheet_scanner::set_position(std::uint32_t row, std::uint32_t col) {
  if (col >= wb_max_columns)
    throw wb_xls_unreadable("a cell lies beyond the cap of " + std::to_string(wb_max_columns) + " columns");
  // The order was checked before reading; a row going back now means the file changed underneath.
  if (!order_ && row < last_row_) throw wb_xls_unreadable("cells are not in row order");
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

// BIFF2 cells carry three attribute bytes instead of an XF index; the low six bits of the first
// are the XF.
void wb_xls_sheet_scanner::start_biff2(wb_biff_cursor& c, std::uint16_t* xf) {
  std::uint16_t row = c.u16();
  std::uint16_t col = c.u16();
  const unsigned char* attributes = c.take(3);
  *xf = attributes[0] & 0x3F;
  set_position(row, col);
}

void wb_xls_sheet_scanner::number(std::uint16_t xf, double value) {
  cell_.kind = wb_value_kind::number;
  cell_.number = value;
  cell_.style = g_.style_of(xf);
  sink_.cell(cell_);
}

void wb_xls_sheet_scanner::text(std::string_view value) {
  cell_.kind = wb_value_kind::text;
  cell_.text = value;
  sink_.cell(cell_);
}

void wb_xls_sheet_scanner::boolean_or_error(std::uint8_t value, std::uint8_t is_error) {
  if (is_error) {
    cell_.kind = wb_value_kind::error;
  } else {
    cell_.kind = wb_value_kind::boolean;
    cell_.boolean = value != 0;
  }
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
    case 1: boolean_or_error(result[2], 0); break;
    case 2: boolean_or_error(0, 1); break;
    case 3: break;  // an empty text: blank
    default:
      throw wb_xls_unreadable("the formula in row " + std::to_string(cell_.row + 1) +
                              " caches a result of unknown kind " + std::to_string(result[0]));
  }
}

void wb_xls_sheet_scanner::finish_pending() {
  if (pending_)
    throw wb_xls_unreadable("the text result of the formula in row " + std::to_string(pending_cell_.row + 1) +
                            " has no STRING record");
}

void wb_xls_sheet_scanner::string_result() {
  if (!pending_) return;  // a STRING without its formula holds no cell
  pending_ = false;
  text_.clear();
  if (g_.biff5()) {
    wb_biff_cursor c(records_);
    wb_xls_read_string(g_, c, false, text_);
  } else {
    wb_biff_continued in(records_, 0);
    std::uint16_t chars = in.u16();
    if (chars > 0 || records_.length() > 2) {  // an empty text may end before its option byte
      std::uint8_t flags = in.u8();
      in.chars(chars, flags, text_);
    }
  }
  cell_ = pending_cell_;
  cell_.text = text_;
  sink_.cell(cell_);
}

void wb_xls_sheet_scanner::record() {
  wb_biff_records& r = records_;
  wb_biff_cursor c(r);
  std::uint16_t xf = 0;
  std::uint16_t type = r.type();
  if (pending_ && type != wb_biff::string_result && !between_formula_and_string(type)) finish_pending();
  switch (type) {
    case wb_biff::number:
      start(c, &xf);
      number(xf, c.f64());
      break;
    case wb_biff::rk:
      start(c, &xf);
      number(xf, wb_xls_rk_number(c.u32()));
      break;
    case wb_biff::mulrk: {
      std::uint16_t row = c.u16();
      std::uint16_t first = c.u16();
      if (c.left() < 2 || (c.left() - 2) % 6 != 0) throw wb_xls_unreadable("a MULRK record has a broken length");
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
      if (index < g_.shared_count()) {
        text(g_.shared(index));
        break;
      }
      // The table holds fewer strings than it declared: this cell's text is lost, not the sheet.
      text_ = "its text is shared string " + std::to_string(index) + ", past the " +
              std::to_string(g_.shared_count()) + " strings the workbook holds";
      cell_.kind = wb_value_kind::missing;
      cell_.text = text_;
      sink_.cell(cell_);
      break;
    }
    case wb_biff::label:
    case wb_biff::rstring:
      start(c, &xf);
      text_.clear();
      wb_xls_read_string(g_, c, false, text_);
      text(text_);
      break;
    case wb_biff::boolerr: {
      start(c, &xf);
      std::uint8_t value = c.u8();
      boolean_or_error(value, c.u8());
      break;
    }
    case cell_record::formula:
    case cell_record::formula3:
    case cell_record::formula4: formula(c); break;
    case wb_biff::string_result: string_result(); break;
    case cell_record::integer2:
      start_biff2(c, &xf);
      number(xf, c.u16());
      break;
    case cell_record::number2:
      start_biff2(c, &xf);
      number(xf, c.f64());
      break;
    case cell_record::label2: {
      start_biff2(c, &xf);
      std::uint8_t chars = c.u8();
      text_.clear();
      g_.code_page.append(c.take(chars), chars, text_);
      text(text_);
      break;
    }
    case cell_record::boolerr2: {
      start_biff2(c, &xf);
      std::uint8_t value = c.u8();
      boolean_or_error(value, c.u8());
      break;
    }
    default: break;  // BLANK, MULBLANK, DIMENSIONS, ROW, formatting: no values
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

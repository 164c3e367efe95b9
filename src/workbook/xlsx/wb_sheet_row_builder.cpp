#include "workbook/xlsx/wb_sheet_row_builder.h"

#include <charconv>
#include <cmath>

#include "workbook/wb_errors.h"
#include "workbook/wb_limits.h"
#include "workbook/wb_values.h"

namespace {

bool parse_u32(std::string_view s, std::uint32_t& v) {
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return !s.empty() && r.ec == std::errc() && r.ptr == s.data() + s.size();
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\n' || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\n' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

}  // namespace

wb_sheet_row_builder::wb_sheet_row_builder(wb_xlsx_package& package, std::string part)
    : package_(package), strings_(package.shared_strings()), part_(std::move(part)) {}

void wb_sheet_row_builder::fail(const std::string& reason) const {
  throw wb_unreadable(package_.path(), reason + " in sheet '" + part_ + "'");
}

bool wb_sheet_row_builder::take_row(wb_row_view& out) {
  if (cells_.empty()) return false;
  for (const auto& [cell, offset, length] : text_spans_) cells_[cell].text = std::string_view(arena_).substr(offset, length);
  out.row = row_;
  out.cells = cells_.data();
  out.count = cells_.size();
  return true;
}

// Elements of other namespaces (extensions) are not the cells' own and are passed over.
void wb_sheet_row_builder::start(wb_xml_name name, const std::vector<wb_xml_attribute>& attrs) {
  if (name.ns != wb_xml_ns::spreadsheet && name.ns != wb_xml_ns::none) {
    // A sheet in another namespace would read as an empty one.
    if (!root_seen_) fail("the document element is in a namespace foreign to a sheet");
    return;
  }
  root_seen_ = true;
  const std::string_view n = name.local;
  if (n == "c") {
    if (!in_row_) return;
    start_cell(attrs);
  } else if (n == "v") {
    if (in_cell_) in_value_ = true;
  } else if (n == "is") {
    if (in_cell_) in_inline_ = seen_inline_ = true;
  } else if (n == "rPh") {
    ++skip_;
  } else if (n == "t") {
    if (in_inline_ && skip_ == 0) in_inline_text_ = true;
  } else if (n == "row") {
    start_row(attrs);
  }
}

void wb_sheet_row_builder::end(wb_xml_name name) {
  if (name.ns != wb_xml_ns::spreadsheet && name.ns != wb_xml_ns::none) return;
  const std::string_view n = name.local;
  if (n == "v") {
    in_value_ = false;
  } else if (n == "t") {
    in_inline_text_ = false;
  } else if (n == "is") {
    in_inline_ = false;
  } else if (n == "rPh") {
    --skip_;
  } else if (n == "c") {
    if (in_cell_) end_cell();
  } else if (n == "row") {
    in_row_ = false;
    source_->suspend();
  }
}

void wb_sheet_row_builder::text(std::string_view s) {
  std::string* into = in_inline_text_ ? &inline_text_ : in_value_ ? &value_ : nullptr;
  if (!into) return;
  if (into->size() + s.size() > 8ull * wb_max_text_chars)
    fail("a cell exceeds " + std::to_string(wb_max_text_chars) + " characters");
  into->append(s);
}

void wb_sheet_row_builder::start_row(const std::vector<wb_xml_attribute>& attrs) {
  std::uint32_t r = 0;
  bool has_r = false;
  for (const auto& a : attrs)
    if (a.ns == wb_xml_ns::none && a.name == "r") {
      if (!parse_u32(a.value, r) || r == 0) fail("bad row number '" + std::string(a.value) + "'");
      has_r = true;
    }
  const std::uint32_t row = has_r ? r - 1 : (seen_row_ ? row_ + 1 : 0);
  if (seen_row_ && row <= row_) fail("row " + std::to_string(row + 1) + " is not after row " + std::to_string(row_ + 1));
  if (row >= wb_max_rows) fail("row " + std::to_string(row + 1) + " is past the last row");
  if (!first_row_seen_) {
    first_row_seen_ = true;
    first_row_numbered_ = has_r;
    first_row_ = row;
  }
  row_ = row;
  seen_row_ = true;
  in_row_ = true;
  next_col_ = 0;
  cells_in_row_ = 0;
}

void wb_sheet_row_builder::start_cell(const std::vector<wb_xml_attribute>& attrs) {
  if (++cells_in_row_ > wb_max_cells_per_row)
    fail("more than " + std::to_string(wb_max_cells_per_row) + " cells in row " + std::to_string(row_ + 1));
  in_cell_ = true;
  seen_inline_ = false;
  value_.clear();
  inline_text_.clear();
  type_ = cell_type::number;
  xf_ = 0;
  std::uint32_t col = next_col_;
  for (const auto& a : attrs) {
    if (a.ns != wb_xml_ns::none) continue;
    if (a.name == "r") {
      col = column_of(a.value);
    } else if (a.name == "t") {
      const auto t = a.value;
      if (t == "n") type_ = cell_type::number;
      else if (t == "s") type_ = cell_type::shared;
      else if (t == "str") type_ = cell_type::formula_text;
      else if (t == "inlineStr") type_ = cell_type::inline_text;
      else if (t == "b") type_ = cell_type::boolean;
      else if (t == "e") type_ = cell_type::error;
      else if (t == "d") type_ = cell_type::date;
      else fail("unknown cell type '" + std::string(t) + "'");
    } else if (a.name == "s") {
      // An empty style is the default one, as no style at all.
      if (!a.value.empty() && !parse_u32(a.value, xf_)) fail("bad cell style '" + std::string(a.value) + "'");
    }
  }
  if (col >= wb_max_columns) fail("a cell of row " + std::to_string(row_ + 1) + " is past the last column");
  col_ = col;
  next_col_ = col + 1;
}

std::uint32_t wb_sheet_row_builder::column_of(std::string_view ref) const {
  std::uint32_t col = 0;
  std::size_t i = 0;
  while (i < ref.size() && ref[i] >= 'A' && ref[i] <= 'Z' && i < 3) col = col * 26 + static_cast<std::uint32_t>(ref[i++] - 'A' + 1);
  std::uint32_t r = 0;
  if (col == 0 || !parse_u32(ref.substr(i), r) || r == 0) fail("bad cell reference '" + std::string(ref) + "'");
  if (col > wb_max_columns) fail("cell '" + std::string(ref) + "' is past the last column");
  return col - 1;
}

void wb_sheet_row_builder::add_text_cell(std::string_view raw, bool decode) {
  const std::size_t offset = arena_.size();
  if (decode) wb_decode_escapes(raw, arena_);
  else arena_.append(raw);
  const std::size_t length = arena_.size() - offset;
  if (length == 0) return;  // an empty text is a blank
  if (length > wb_max_text_chars && wb_count_code_points(std::string_view(arena_).substr(offset)) > wb_max_text_chars)
    fail("a cell exceeds " + std::to_string(wb_max_text_chars) + " characters");
  wb_cell c;
  c.row = row_;
  c.col = col_;
  c.kind = wb_value_kind::text;
  text_spans_.push_back({cells_.size(), offset, length});
  cells_.push_back(c);
}

void wb_sheet_row_builder::end_cell() {
  in_cell_ = false;
  in_value_ = in_inline_ = in_inline_text_ = false;
  wb_cell c;
  c.row = row_;
  c.col = col_;
  switch (type_) {
    case cell_type::inline_text:
      // The text is the <is>; a <v> beside it is not part of it (one without <is> stands in).
      add_text_cell(seen_inline_ ? inline_text_ : value_, true);
      return;
    case cell_type::formula_text:
      add_text_cell(value_, true);
      return;
    case cell_type::shared: {
      const auto v = trim(value_);
      if (v.empty()) return;
      std::uint32_t i;
      if (!parse_u32(v, i) || i >= strings_.size())
        fail("shared string index '" + std::string(v) + "' is out of range");
      const auto text = strings_.at(i);
      if (text.empty()) return;
      c.kind = wb_value_kind::text;
      c.text = text;
      break;
    }
    case cell_type::number: {
      const auto v = trim(value_);
      if (v.empty()) return;
      auto r = std::from_chars(v.data(), v.data() + v.size(), c.number);
      if (r.ec != std::errc() || r.ptr != v.data() + v.size() || !std::isfinite(c.number))
        fail("bad number '" + std::string(v) + "'");
      c.kind = wb_value_kind::number;
      c.style = package_.style(xf_);
      break;
    }
    case cell_type::boolean: {
      const auto v = trim(value_);
      if (v.empty()) return;
      if (v != "0" && v != "1") fail("bad boolean '" + std::string(v) + "'");
      c.kind = wb_value_kind::boolean;
      c.boolean = v == "1";
      break;
    }
    case cell_type::error:
      if (trim(value_).empty()) return;
      c.kind = wb_value_kind::error;
      break;
    case cell_type::date: {
      const auto v = trim(value_);
      if (v.empty()) return;
      const auto d = wb_parse_iso_date(v);
      if (!d) {
        add_text_cell(v, false);
        return;
      }
      // Delivered as a dated serial of this workbook's system, as a number cell would be.
      const wb_date_system dates = package_.date_system();
      double serial = *d;
      if (serial >= 1) {
        if (dates == wb_date_system::from_1904)
          serial -= 1462;
        else if (dates == wb_date_system::from_1900 && serial < 61)
          serial -= 1;
      }
      const auto back = wb_serial_date(serial, dates);
      if (!back || *back != *d) {  // a date this workbook's system cannot count
        add_text_cell(v, false);
        return;
      }
      c.kind = wb_value_kind::number;
      c.style = wb_number_style::date;
      c.number = serial;
      break;
    }
  }
  cells_.push_back(c);
}


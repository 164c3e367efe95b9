#pragma once
// Helpers of the .xls reader tests: cells copied out of a reader, fixtures, and the byte writers of
// xls_bytes.h.
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "workbook/wb_reader.h"
#include "xls_bytes.h"

namespace xls_test {

struct got_cell {
  std::uint32_t row = 0, col = 0;
  wb_value_kind kind = wb_value_kind::number;
  wb_number_style style = wb_number_style::general;
  bool boolean = false;
  double number = 0;
  std::string text;
  bool operator==(const got_cell&) const = default;
};
using cell = got_cell;

inline std::ostream& operator<<(std::ostream& os, const cell& c) {
  return os << "(" << c.row << "," << c.col << " kind " << int(c.kind) << " style " << int(c.style) << " "
            << c.boolean << " " << c.number << " '" << c.text << "')";
}

struct collector : wb_cell_sink {
  std::vector<got_cell> cells;
  void cell(const wb_cell& c) override {
    cells.push_back({c.row, c.col, c.kind, c.style, c.boolean, c.number, std::string(c.text)});
  }
};

/// Expected cells: a text, and a number in a style.
inline cell T(std::uint32_t row, std::uint32_t col, std::string text) {
  return {row, col, wb_value_kind::text, wb_number_style::general, false, 0, std::move(text)};
}
inline cell N(std::uint32_t row, std::uint32_t col, double number, wb_number_style style = wb_number_style::general) {
  return {row, col, wb_value_kind::number, style, false, number, ""};
}

inline std::vector<cell> read_all(wb_reader& r, std::size_t sheet) {
  collector c;
  r.read_sheet(sheet, c);
  return c.cells;
}

inline std::string fixture(const std::string& name) {
  return std::string(TAMARIND_SOURCE_DIR) + "/tests/fixtures/xls/" + name;
}

inline std::string load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace xls_test

#pragma once
// Builds the cells of a worksheet's rows from the events of an XML source: one row at a time, the
// source paused after each row so its cells can be handed out.
#include <cstdint>
#include <string>
#include <vector>

#include "workbook/wb_reader.h"
#include "workbook/xlsx/wb_xlsx_package.h"
#include "workbook/xlsx/wb_xml_parser.h"

class wb_sheet_row_builder final : public wb_xml_handler {
 public:
  /// `part` names the sheet part in errors.
  wb_sheet_row_builder(wb_xlsx_package& package, std::string part);
  /// The source this builder suspends after each row.
  void attach(wb_xml_source& source) { source_ = &source; }
  /// The source starts inside the sheet, past its document element (a piece of a split part).
  void resume_inside() { root_seen_ = true; }

  /// Forgets the cells of the row last taken.
  void clear_row() {
    cells_.clear();
    arena_.clear();
    text_spans_.clear();
  }
  /// The row the source stopped after: false when it holds no cell. Valid until clear_row().
  bool take_row(wb_row_view& out);

  /// Between two rows: no row, cell, value or phonetic run open.
  bool at_rest() const { return !in_row_ && !in_cell_ && !in_value_ && !in_inline_ && !in_inline_text_ && skip_ == 0; }
  bool seen_row() const { return seen_row_; }
  /// 0-based number of the last row started.
  std::uint32_t last_row() const { return row_; }
  /// The first row this builder started: whether it named its number, and the number.
  bool first_row_known() const { return first_row_seen_; }
  bool first_row_numbered() const { return first_row_numbered_; }
  std::uint32_t first_row() const { return first_row_; }

  void start(wb_xml_name name, const std::vector<wb_xml_attribute>& attrs) override;
  void end(wb_xml_name name) override;
  void text(std::string_view s) override;

 private:
  enum class cell_type { number, shared, formula_text, inline_text, boolean, error, date };
  struct text_span {
    std::size_t cell, offset, length;
  };

  [[noreturn]] void fail(const std::string& reason) const;
  void start_row(const std::vector<wb_xml_attribute>& attrs);
  void start_cell(const std::vector<wb_xml_attribute>& attrs);
  std::uint32_t column_of(std::string_view ref) const;
  void add_text_cell(std::string_view raw, bool decode);
  void end_cell();

  wb_xlsx_package& package_;
  const wb_shared_strings& strings_;
  std::string part_;
  wb_xml_source* source_ = nullptr;
  std::vector<wb_cell> cells_;
  std::vector<text_span> text_spans_;
  std::string arena_;
  std::string value_;        // the text of the cell's <v>
  std::string inline_text_;  // the text of the cell's <is>
  std::uint32_t row_ = 0, col_ = 0, next_col_ = 0, xf_ = 0, cells_in_row_ = 0, first_row_ = 0;
  cell_type type_ = cell_type::number;
  int skip_ = 0;
  bool seen_row_ = false, in_row_ = false, in_cell_ = false, in_value_ = false, in_inline_ = false;
  bool in_inline_text_ = false, seen_inline_ = false;
  bool first_row_seen_ = false, first_row_numbered_ = false, root_seen_ = false;
};

#pragma once
// A general SELECT over the worksheets of one open workbook, run by an embedded SQLite database in
// which every worksheet is a virtual table named by its engine name ("Sheet1$", "'My Data$'").
// A scan of such a table streams the sheet (memory stays flat in its rows). Only the worksheets a
// statement names are read.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ole/ole_variant.h"
#include "workbook/wb_sheet_model.h"

/// Error numbers of statements the engine cannot run (beside 3078 for an unknown worksheet, 3251
/// for a statement that would write).
inline constexpr long wb_err_no_such_column = 3061;
inline constexpr long wb_err_query_syntax = 3141;

struct wb_sql_table {
  std::wstring engine_name;
  std::size_t sheet = 0;  // index in the reader's sheets
};

/// What a query needs of the open workbook. `layout` gives a sheet's first pass, which the caller
/// runs once and keeps; it and `reader` must outlive the query.
struct wb_sql_workbook {
  wb_reader* reader = nullptr;
  std::vector<wb_sql_table> tables;
  std::function<const wb_sheet_layout&(std::size_t sheet)> layout;
};

/// The rows of one SELECT. Column types come from the worksheet's columns where a result column is
/// one of them, otherwise from the values the statement gives (a first run types the columns; each
/// read run streams again).
class wb_sql_rows {
 public:
  virtual ~wb_sql_rows() = default;
  virtual const std::vector<wb_column>& columns() const = 0;
  /// Back before the first row.
  virtual void restart() = 0;
  /// The next row, one value per column; false after the last. Throws wb_error.
  virtual bool read(std::vector<ole_variant>& row) = 0;
};

/// Prepares `sql` and types its columns. Throws wb_error: 3078 for a table that is no worksheet,
/// 3061 for an unknown column, 3251 for a statement that is not a read, 3141 for anything else
/// SQLite refuses; a sheet's own read error keeps its number.
std::unique_ptr<wb_sql_rows> wb_open_sql_rows(wb_sql_workbook workbook, const std::wstring& sql);

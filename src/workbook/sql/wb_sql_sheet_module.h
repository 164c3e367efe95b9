#pragma once
// The SQLite virtual-table module that shows one worksheet as a table. Every scan streams the sheet
// from its first data row; nothing of the sheet is kept beyond the current row.
#include <map>
#include <optional>
#include <set>

#include "workbook/sql/wb_sql_query.h"

struct sqlite3;

/// What the module's callbacks share with the query that owns the database.
struct wb_sql_context {
  wb_sql_workbook workbook;
  /// The first engine error a callback met; SQLite only carries a text, so the query rethrows this
  /// one to keep its number.
  std::optional<wb_error> pending;
  /// True while the query itself creates a table; the authorizer lets nothing else write.
  bool creating = false;
  /// True once the authorizer refused an action.
  bool refused = false;
  /// Sheets a statement reads through a materialized copy (see wb_sql_query.cpp).
  std::set<std::size_t> materialized;
  /// Scans started per sheet in the current run.
  std::map<std::size_t, int> scans;
  /// Sheets scanned more often than a statement names them plausibly would, which stopped the run.
  std::set<std::size_t> rescanned;
  /// Once the columns are typed, a repeated scan is only slow, never stopped.
  bool allow_rescans = false;
};

/// More scans of one sheet in one run than this mean it is read once per row of another table.
inline constexpr int wb_sql_max_streamed_scans = 2;

/// The message of the error that stops a run to have a sheet materialized.
inline constexpr const char* wb_sql_rescan_message = "worksheet scanned again";

/// The module's name in CREATE VIRTUAL TABLE ... USING wb_sheet(<sheet index>).
inline constexpr const char* wb_sql_module_name = "wb_sheet";

/// Registers the module on `db`; `context` must outlive the database.
int wb_sql_register_sheet_module(sqlite3* db, wb_sql_context* context);

/// The type a worksheet column is declared with, chosen so SQLite gives it a fitting affinity.
const char* wb_sql_declared_type(int field_type);
/// The worksheet type behind a declared type; empty for any other text (or none).
std::optional<int> wb_sql_field_type(const char* declared);

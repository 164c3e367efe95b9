#include "workbook/sql/wb_sql_sheet_module.h"

#include <sqlite3.h>

#include <charconv>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

struct declared_type {
  int field_type;
  const char* name;
};
// Numbers, dates and currency reach SQL as numbers (dates as OLE day numbers, booleans 0/1).
constexpr declared_type declared_types[] = {
    {wb_type_boolean, "BOOLEAN"}, {wb_type_currency, "CURRENCY"}, {wb_type_double, "DOUBLE"},
    {wb_type_date, "DATE"},       {wb_type_text, "TEXT"},         {wb_type_memo, "LONGTEXT"},
};

struct sheet_vtab {
  sqlite3_vtab base{};
  wb_sql_context* context = nullptr;
  std::size_t sheet = 0;
  const wb_sheet_layout* layout = nullptr;
};

struct sheet_cursor {
  sqlite3_vtab_cursor base{};
  std::unique_ptr<wb_row_cursor> rows;
  std::vector<wb_value> row;
  bool eof = true;
  sqlite3_int64 rowid = 0;
};

std::string quoted_identifier(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

void set_message(char** target, const char* text) {
  sqlite3_free(*target);
  *target = sqlite3_mprintf("%s", text);
}

/// Runs a callback body; an engine error is kept for the query and reported to SQLite as a failure.
template <class F>
int guarded(wb_sql_context* context, char** message, F&& f) {
  try {
    return f();
  } catch (const wb_error& e) {
    if (!context->pending) context->pending.emplace(e);
    set_message(message, e.what());
  } catch (const std::bad_alloc&) {
    return SQLITE_NOMEM;
  } catch (const std::exception& e) {
    set_message(message, e.what());
  }
  return SQLITE_ERROR;
}

int sheet_connect(sqlite3* db, void* aux, int argc, const char* const* argv, sqlite3_vtab** out, char** error) {
  auto* context = static_cast<wb_sql_context*>(aux);
  return guarded(context, error, [&] {
    if (argc < 4) throw std::runtime_error("The worksheet table names no sheet.");
    std::size_t sheet = 0;
    const char* arg = argv[3];
    const auto [end, ec] = std::from_chars(arg, arg + std::strlen(arg), sheet);
    if (ec != std::errc() || *end != '\0') throw std::runtime_error("The worksheet table names no sheet.");
    const wb_sheet_layout& layout = context->workbook.layout(sheet);
    std::string declaration = "CREATE TABLE x(";
    if (layout.columns.empty()) declaration += "F1 TEXT";
    for (std::size_t i = 0; i < layout.columns.size(); ++i) {
      if (i > 0) declaration += ", ";
      declaration += quoted_identifier(layout.columns[i].name) + " " + wb_sql_declared_type(layout.columns[i].type);
    }
    declaration += ")";
    const int rc = sqlite3_declare_vtab(db, declaration.c_str());
    if (rc != SQLITE_OK) return rc;
    auto table = std::make_unique<sheet_vtab>();
    table->context = context;
    table->sheet = sheet;
    table->layout = &layout;
    *out = &table.release()->base;
    return SQLITE_OK;
  });
}

int sheet_disconnect(sqlite3_vtab* vtab) {
  delete reinterpret_cast<sheet_vtab*>(vtab);
  return SQLITE_OK;
}

int sheet_best_index(sqlite3_vtab* vtab, sqlite3_index_info* info) {
  // Every scan reads the whole sheet; the cost tells the planner how big it is.
  const auto rows = static_cast<double>(reinterpret_cast<sheet_vtab*>(vtab)->layout->record_count);
  info->estimatedCost = rows + 1;
  info->estimatedRows = static_cast<sqlite3_int64>(rows) + 1;
  return SQLITE_OK;
}

int sheet_open(sqlite3_vtab*, sqlite3_vtab_cursor** out) {
  auto* cursor = new (std::nothrow) sheet_cursor();
  if (!cursor) return SQLITE_NOMEM;
  *out = &cursor->base;
  return SQLITE_OK;
}

int sheet_close(sqlite3_vtab_cursor* base) {
  delete reinterpret_cast<sheet_cursor*>(base);
  return SQLITE_OK;
}

int sheet_next(sqlite3_vtab_cursor* base) {
  auto* cursor = reinterpret_cast<sheet_cursor*>(base);
  auto* table = reinterpret_cast<sheet_vtab*>(base->pVtab);
  return guarded(table->context, &table->base.zErrMsg, [&] {
    cursor->eof = !cursor->rows->read(cursor->row);
    ++cursor->rowid;
    return SQLITE_OK;
  });
}

int sheet_filter(sqlite3_vtab_cursor* base, int, const char*, int, sqlite3_value**) {
  auto* cursor = reinterpret_cast<sheet_cursor*>(base);
  auto* table = reinterpret_cast<sheet_vtab*>(base->pVtab);
  wb_sql_context* context = table->context;
  // A sheet scanned again and again is the inner side of a join or a correlated sub-query: streaming
  // it once per outer row would be quadratic, so the run stops and the query reads a materialized copy.
  if (++context->scans[table->sheet] > wb_sql_max_streamed_scans && !context->allow_rescans &&
      context->materialized.count(table->sheet) == 0) {
    context->rescanned.insert(table->sheet);
    set_message(&table->base.zErrMsg, wb_sql_rescan_message);
    return SQLITE_ERROR;
  }
  const int rc = guarded(context, &table->base.zErrMsg, [&] {
    cursor->rows.reset();  // one open stream per cursor
    cursor->rows = std::make_unique<wb_row_cursor>(*table->context->workbook.reader, table->sheet, *table->layout);
    cursor->rowid = 0;
    return SQLITE_OK;
  });
  if (rc != SQLITE_OK) return rc;
  return sheet_next(base);
}

int sheet_eof(sqlite3_vtab_cursor* base) { return reinterpret_cast<sheet_cursor*>(base)->eof ? 1 : 0; }

int sheet_column(sqlite3_vtab_cursor* base, sqlite3_context* result, int column) {
  auto* cursor = reinterpret_cast<sheet_cursor*>(base);
  if (column < 0 || static_cast<std::size_t>(column) >= cursor->row.size()) {
    sqlite3_result_null(result);
    return SQLITE_OK;
  }
  const wb_value& v = cursor->row[static_cast<std::size_t>(column)];
  switch (v.k) {
    case wb_value::kind::null: sqlite3_result_null(result); break;
    case wb_value::kind::boolean: sqlite3_result_int(result, v.boolean ? 1 : 0); break;
    case wb_value::kind::number:
    case wb_value::kind::date: sqlite3_result_double(result, v.number); break;
    case wb_value::kind::currency: sqlite3_result_double(result, static_cast<double>(v.currency) / 10000.0); break;
    case wb_value::kind::text:
      sqlite3_result_text64(result, v.text.data(), v.text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
      break;
  }
  return SQLITE_OK;
}

int sheet_rowid(sqlite3_vtab_cursor* base, sqlite3_int64* rowid) {
  *rowid = reinterpret_cast<sheet_cursor*>(base)->rowid;
  return SQLITE_OK;
}

sqlite3_module make_module() {
  sqlite3_module m{};
  m.iVersion = 1;
  m.xCreate = sheet_connect;
  m.xConnect = sheet_connect;
  m.xBestIndex = sheet_best_index;
  m.xDisconnect = sheet_disconnect;
  m.xDestroy = sheet_disconnect;
  m.xOpen = sheet_open;
  m.xClose = sheet_close;
  m.xFilter = sheet_filter;
  m.xNext = sheet_next;
  m.xEof = sheet_eof;
  m.xColumn = sheet_column;
  m.xRowid = sheet_rowid;
  return m;  // no update callbacks: the tables are read-only
}

const sqlite3_module sheet_module = make_module();

}  // namespace

int wb_sql_register_sheet_module(sqlite3* db, wb_sql_context* context) {
  return sqlite3_create_module_v2(db, wb_sql_module_name, &sheet_module, context, nullptr);
}

const char* wb_sql_declared_type(int field_type) {
  for (const auto& t : declared_types)
    if (t.field_type == field_type) return t.name;
  return "TEXT";
}

std::optional<int> wb_sql_field_type(const char* declared) {
  if (!declared) return std::nullopt;
  for (const auto& t : declared_types)
    if (std::strcmp(t.name, declared) == 0) return t.field_type;
  return std::nullopt;
}

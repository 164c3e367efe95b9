#include "workbook/sql/wb_sql_query.h"

#include <sqlite3.h>

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>

#include "platform/auto_date.h"
#include "tk/tk_string.h"
#include "workbook/engine/wb_engine_support.h"
#include "workbook/engine/wb_select.h"
#include "workbook/sql/wb_sql_sheet_module.h"
#include "workbook/wb_values.h"

namespace {

constexpr const char* no_such_table = "no such table: ";
constexpr const char* no_such_column = "no such column: ";
/// More distinct table names than this in one statement is refused (each is one prepare round).
constexpr int max_table_rounds = 256;

bool starts_with(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

/// Lets a statement read and compute, nothing else: no writes, no ATTACH, no PRAGMA.
int authorize(void* data, int action, const char*, const char*, const char*, const char*) {
  auto* context = static_cast<wb_sql_context*>(data);
  if (context->creating) return SQLITE_OK;
  switch (action) {
    case SQLITE_SELECT:
    case SQLITE_READ:
    case SQLITE_FUNCTION:
    case SQLITE_RECURSIVE: return SQLITE_OK;
    default: context->refused = true; return SQLITE_DENY;
  }
}

/// What the first run saw in one result column.
struct column_stats {
  bool integers = false, reals = false, texts = false, blobs = false;
  bool flags_only = true;     // every integer is 0 or 1
  bool fits_long = true;      // every integer fits 32 bits
  std::size_t longest = 0;    // code points of the longest text
};

std::string render_integer(sqlite3_int64 v) { return std::to_string(v); }

class sql_rows final : public wb_sql_rows {
 public:
  sql_rows(wb_sql_workbook workbook, const std::wstring& sql) : context_(std::make_unique<wb_sql_context>()) {
    context_->workbook = std::move(workbook);
    open_database();
    // SQLite would stop at a NUL and silently ignore the rest.
    if (sql.find(L'\0') != std::wstring::npos) throw wb_error(wb_err_query_syntax, "The query holds a NUL character.");
    const std::string text = wb_narrow(sql);
    prepare(text);
    run_first_pass(text);
  }
  sql_rows(const sql_rows&) = delete;
  sql_rows& operator=(const sql_rows&) = delete;

  const std::vector<wb_column>& columns() const override { return columns_; }

  void restart() override {
    sqlite3_reset(statement_);
    context_->pending.reset();
    done_ = false;
  }

  bool read(std::vector<ole_variant>& row) override {
    if (done_ || !step()) {
      done_ = true;
      return false;
    }
    row.clear();
    for (std::size_t i = 0; i < columns_.size(); ++i) row.push_back(value(static_cast<int>(i), columns_[i].type));
    return true;
  }

 private:
  [[noreturn]] void fail(long number, const std::string& text) {
    if (context_->pending) throw *context_->pending;
    throw wb_error(number, text);
  }

  void open_database() {
    sqlite3* db = nullptr;
    const int rc =
        sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_MEMORY, nullptr);
    database_.reset(db);  // closed on every path, also after a failed open
    db_ = db;
    if (rc != SQLITE_OK) fail(wb_err_query_syntax, "The query engine cannot start.");
    sqlite3_limit(db_, SQLITE_LIMIT_ATTACHED, 0);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    // Sorting and grouping spill to temporary files rather than grow in memory.
    sqlite3_exec(db_, "PRAGMA temp_store=FILE", nullptr, nullptr, nullptr);
    if (wb_sql_register_sheet_module(db_, context_.get()) != SQLITE_OK)
      fail(wb_err_query_syntax, "The query engine cannot start.");
    sqlite3_set_authorizer(db_, authorize, context_.get());
  }

  /// Prepares the statement; each table it names that SQLite does not know yet is looked up among
  /// the worksheets and created, then the statement is prepared again.
  void prepare(const std::string& sql) {
    for (int round = 0; round <= max_table_rounds; ++round) {
      const char* tail = nullptr;
      context_->refused = false;
      sqlite3_stmt* prepared = nullptr;
      const int rc = sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size() + 1), &prepared, &tail);
      statement_holder_.reset(prepared);
      statement_ = prepared;
      if (rc == SQLITE_OK) {
        check_statement(tail);
        return;
      }
      const std::string message = sqlite3_errmsg(db_);
      if (context_->pending) throw *context_->pending;
      if (context_->refused) fail(wb_err_not_supported, "This operation is not supported on a workbook.");
      if (starts_with(message, no_such_table)) {
        create_table(message.substr(std::strlen(no_such_table)));
        continue;
      }
      if (starts_with(message, no_such_column))
        fail(wb_err_no_such_column,
             "No column named '" + message.substr(std::strlen(no_such_column)) + "' in the query's worksheets.");
      fail(wb_err_query_syntax, "The query cannot be run: " + message + ".");
    }
    fail(wb_err_query_syntax, "The query names too many tables.");
  }

  void check_statement(const char* tail) {
    if (!statement_) fail(wb_err_query_syntax, "The query is empty.");
    // What follows the statement may be blanks, semicolons and comments, nothing that runs.
    while (tail && *tail) {
      sqlite3_stmt* next = nullptr;
      const char* rest = nullptr;
      const int rc = sqlite3_prepare_v2(db_, tail, -1, &next, &rest);
      sqlite3_finalize(next);
      if (rc != SQLITE_OK || next) fail(wb_err_query_syntax, "The query holds more than one statement.");
      tail = rest;
    }
    if (!sqlite3_stmt_readonly(statement_)) fail(wb_err_not_supported, "This operation is not supported on a workbook.");
  }

  /// Makes a name the statement uses known to SQLite: a view over the sheet's virtual table.
  void create_table(const std::string& name) {
    // SQLite names a table it did not find in a schema the statement gave as "schema.table".
    std::string view = name;
    const wb_sql_table* table = find_table(name);
    if (!table && (starts_with(name, "main.") || starts_with(name, "temp."))) {
      table = find_table(name.substr(5));
      view = name.substr(0, 5) + quoted(name.substr(5));
    } else {
      view = quoted(name);
    }
    if (!table || views_.count(view) != 0)
      fail(wb_err_no_such_sheet, "No worksheet named '" + name + "' in the workbook.");
    if (sheets_.insert(table->sheet).second)
      run_ddl("CREATE VIRTUAL TABLE " + sheet_table(table->sheet) + " USING " + wb_sql_module_name + "(" +
              std::to_string(table->sheet) + ")");
    views_[view] = table->sheet;
    create_view(view, table->sheet);
  }

  static std::string quoted(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
      out += c;
      if (c == '"') out += '"';
    }
    return out + "\"";
  }

  static std::string sheet_table(std::size_t sheet) { return quoted("wbsheet_" + std::to_string(sheet)); }

  /// A plain view is flattened into the statement, so a scan streams the sheet. A materialized view
  /// copies the sheet once into SQLite's temporary storage (spilled to disk beyond its cache), where
  /// repeated scans are cheap and joins get automatic indexes.
  void create_view(const std::string& view, std::size_t sheet) {
    const std::string source = context_->materialized.count(sheet) != 0
                                   ? "WITH m AS MATERIALIZED (SELECT * FROM " + sheet_table(sheet) + ") SELECT * FROM m"
                                   : "SELECT * FROM " + sheet_table(sheet);
    run_ddl("CREATE VIEW " + view + " AS " + source);
  }

  void run_ddl(const std::string& ddl) {
    context_->creating = true;
    const int rc = sqlite3_exec(db_, ddl.c_str(), nullptr, nullptr, nullptr);
    context_->creating = false;
    if (context_->pending) throw *context_->pending;
    if (rc != SQLITE_OK) fail(wb_err_query_syntax, std::string("The query cannot be run: ") + sqlite3_errmsg(db_) + ".");
  }

  /// Types the columns; a sheet scanned again within the run is materialized and the statement
  /// prepared anew, until no streaming sheet is scanned twice.
  void run_first_pass(const std::string& sql) {
    while (true) {
      context_->rescanned.clear();
      context_->scans.clear();
      try {
        type_columns();
        context_->allow_rescans = true;
        return;
      } catch (const wb_error&) {
        if (context_->rescanned.empty()) throw;
      }
      statement_holder_.reset();
      statement_ = nullptr;
      context_->pending.reset();
      context_->materialized.insert(context_->rescanned.begin(), context_->rescanned.end());
      for (const auto& [name, sheet] : views_) {
        if (context_->rescanned.count(sheet) == 0) continue;
        run_ddl("DROP VIEW " + name);
        create_view(name, sheet);
      }
      prepare(sql);
    }
  }

  const wb_sql_table* find_table(const std::string& name) const {
    const auto& tables = context_->workbook.tables;
    std::vector<std::wstring> names;
    names.reserve(tables.size());
    for (const auto& t : tables) names.push_back(t.engine_name);
    const auto found = wb_find_table_name(wb_widen(name), names);
    return found ? &tables[*found] : nullptr;
  }

  bool step() {
    const int rc = sqlite3_step(statement_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    const std::string message = sqlite3_errmsg(db_);
    sqlite3_reset(statement_);
    fail(wb_err_query_syntax, "The query cannot be run: " + message + ".");
  }

  /// The first run: each result column keeps a worksheet column's type when it is one and every
  /// value fits it, else it is typed from its values as a worksheet column would be.
  void type_columns() {
    const int count = sqlite3_column_count(statement_);
    std::vector<column_stats> stats(static_cast<std::size_t>(count));
    while (step()) {
      for (int i = 0; i < count; ++i) {
        auto& s = stats[static_cast<std::size_t>(i)];
        switch (sqlite3_column_type(statement_, i)) {
          case SQLITE_INTEGER: {
            const sqlite3_int64 v = sqlite3_column_int64(statement_, i);
            s.integers = true;
            if (v != 0 && v != 1) s.flags_only = false;
            if (v < INT32_MIN || v > INT32_MAX) s.fits_long = false;
            s.longest = std::max(s.longest, render_integer(v).size());
            break;
          }
          case SQLITE_FLOAT: s.reals = true; break;
          case SQLITE_TEXT: {
            s.texts = true;
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, i));
            const auto bytes = static_cast<std::size_t>(sqlite3_column_bytes(statement_, i));
            s.longest = std::max(s.longest, wb_count_code_points(std::string_view(text ? text : "", bytes)));
            break;
          }
          case SQLITE_BLOB: s.blobs = true; break;
          default: break;
        }
      }
    }
    sqlite3_reset(statement_);
    std::vector<std::string> taken;
    for (int i = 0; i < count; ++i) {
      wb_column c;
      const char* name = sqlite3_column_name(statement_, i);
      c.name = unique_name(name && *name ? name : "F" + std::to_string(i + 1), taken);
      choose_type(c, stats[static_cast<std::size_t>(i)], wb_sql_field_type(sqlite3_column_decltype(statement_, i)));
      columns_.push_back(std::move(c));
    }
  }

  /// A result name not yet taken (case-insensitively): the smallest numeric suffix that frees it.
  static std::string unique_name(const std::string& name, std::vector<std::string>& taken) {
    auto used = [&](const std::string& candidate) {
      for (const auto& t : taken)
        if (tk_compare_no_case(std::string_view(t), std::string_view(candidate)) == 0) return true;
      return false;
    };
    std::string candidate = name;
    for (int n = 1; used(candidate); ++n) candidate = name + std::to_string(n);
    taken.push_back(candidate);
    return candidate;
  }

  static void choose_type(wb_column& c, const column_stats& s, std::optional<int> declared) {
    const bool numbers = s.integers || s.reals;
    const auto text_type = [&] {
      c.type = s.longest > 255 ? wb_type_memo : wb_type_text;
      c.size = s.longest > 255 ? 0 : 255;
    };
    if (declared) {
      switch (*declared) {
        case wb_type_boolean:
          if (!s.texts && !s.blobs && !s.reals && s.flags_only) return set(c, wb_type_boolean, 1);
          break;
        case wb_type_currency:
        case wb_type_double:
        case wb_type_date:
          if (!s.texts && !s.blobs) return set(c, *declared, 8);
          break;
        default:
          if (!numbers && !s.blobs) return text_type();
          break;
      }
    }
    if (s.blobs && !numbers && !s.texts) return set(c, wb_dao_long_binary, 0);
    if (s.texts || s.blobs) return text_type();
    if (s.reals || !s.fits_long) return set(c, wb_type_double, 8);
    if (s.integers) return set(c, wb_dao_long, 4);
    text_type();  // no value at all
  }

  static void set(wb_column& c, int type, long size) {
    c.type = type;
    c.size = size;
  }

  ole_variant value(int i, int type) {
    const int stored = sqlite3_column_type(statement_, i);
    if (stored == SQLITE_NULL) {
      ole_variant null;
      null.set_null();
      return null;
    }
    switch (type) {
      case wb_type_boolean: return ole_variant(sqlite3_column_int64(statement_, i) != 0);
      case wb_dao_long: return ole_variant(static_cast<int>(sqlite3_column_int64(statement_, i)));
      case wb_type_double: return ole_variant(sqlite3_column_double(statement_, i));
      case wb_type_currency: {
        CY cy;
        cy.int64 = std::llround(sqlite3_column_double(statement_, i) * 10000.0);
        return ole_variant(cy);
      }
      case wb_type_date: {
        SYSTEMTIME st{};
        if (!platform::date_to_systemtime(sqlite3_column_double(statement_, i), st))
          fail(wb_err_unreadable, "A date is out of range.");
        return ole_variant(st);
      }
      case wb_dao_long_binary: {
        const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(statement_, i));
        const auto n = static_cast<std::size_t>(sqlite3_column_bytes(statement_, i));
        ole_variant v;
        v.attach_binary(std::vector<std::uint8_t>(bytes, bytes + n));
        return v;
      }
      default: break;
    }
    return ole_variant(wb_widen(text_of(i, stored)));
  }

  std::string text_of(int i, int stored) {
    switch (stored) {
      case SQLITE_INTEGER: return render_integer(sqlite3_column_int64(statement_, i));
      case SQLITE_FLOAT: return wb_render_number(sqlite3_column_double(statement_, i));
      case SQLITE_BLOB: {
        const void* bytes = sqlite3_column_blob(statement_, i);
        return tk_to_hex(bytes, static_cast<std::size_t>(sqlite3_column_bytes(statement_, i)));
      }
      default: break;
    }
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, i));
    return std::string(text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(statement_, i)));
  }

  struct database_closer {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
  };
  struct statement_finalizer {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
  };
  // Destroyed in reverse: the statement, then the database, then the context its tables use.
  std::unique_ptr<wb_sql_context> context_;
  std::unique_ptr<sqlite3, database_closer> database_;
  std::unique_ptr<sqlite3_stmt, statement_finalizer> statement_holder_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* statement_ = nullptr;
  std::vector<wb_column> columns_;
  std::map<std::string, std::size_t> views_;  // views made for the statement's names (quoted) -> sheet
  std::set<std::size_t> sheets_;              // sheets with a virtual table
  bool done_ = false;
};

}  // namespace

std::unique_ptr<wb_sql_rows> wb_open_sql_rows(wb_sql_workbook workbook, const std::wstring& sql) {
  return std::make_unique<sql_rows>(std::move(workbook), sql);
}

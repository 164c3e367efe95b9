#pragma once
// One source opened through the engine: a workbook whose worksheets are tables, or a database
// file. It lists the user tables, reads stored queries as views and, where the mode allows,
// foreign keys; it opens tables and queries as dao_recordset objects.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ole/ole_com_ptr.h"
#include "udb/udb_database.h"
#include "workbook/wb_engine.h"

class dao_exception;

/// Mode bits of a dao_database.
inline constexpr int dao_mode_read_only = 0x01;
inline constexpr int dao_mode_open_existing = 0x08;
inline constexpr int dao_mode_no_fkeys = 0x20;
inline constexpr int dao_mode_no_fkeys2 = 0x40;
inline constexpr int dao_mode_no_views = 0x80;

/// Table attribute bits.
inline constexpr long dao_attr_linked = 0x40000000L;
inline constexpr long dao_attr_system = static_cast<long>(0x80000002UL);

/// Receives a foreign-key read failure with the database's name as context. The database layer
/// cannot reach the program's error handler, so the program installs it; without one the error is
/// only logged.
using dao_fkey_error_reporter = std::function<void(const dao_exception& error, const std::wstring& context)>;
dao_fkey_error_reporter dao_set_fkey_error_reporter(dao_fkey_error_reporter reporter);

class dao_database : public udb_database {
 public:
  dao_database(const std::wstring& name, ole_com_ptr<wb_database> database, int mode);
  ~dao_database() override;

  std::unique_ptr<udb_recordset> create_table(const std::wstring& table_name, const udb_schema& fields,
                                              const udb_indexes& index_list) override;
  bool delete_tab(const std::wstring& table_name) override;
  std::unique_ptr<udb_recordset> get_query(const std::wstring& query_name, const std::wstring& sql,
                                           int mode) override;
  /// Null for a linked or system table.
  std::unique_ptr<udb_recordset> get_table(const std::wstring& table_name, int mode) override;
  bool test_query(const std::wstring& sql) override;

  /// A listed table (one of get_tables()) with its position among the engine's table definitions.
  struct listed_table {
    std::wstring name;
    int position = 0;
  };
  /// The tables the constructor listed, in the engine's order.
  const std::vector<listed_table>& get_listed_tables() const noexcept { return listed; }
  /// Opens the table at `position` of the engine's definitions by that position, never by its
  /// name: worksheets whose names are equal, or equal but for case, each give their own rows.
  /// Null for a linked or system table.
  std::unique_ptr<udb_recordset> get_table_at(int position, int mode);

  /// The number of rows the query gives.
  unsigned get_records_count(const std::wstring& sql);
  /// Types the columns of the tables at these positions ahead, several at once, and tells for each
  /// whether it can be read; one that cannot gives its error again when it is opened.
  std::vector<bool> type_tables(const std::vector<int>& positions);
  /// As type_tables, but waits only until one of them proves readable (true) or all have failed;
  /// each of the others waits for its own pass when it is opened. `meanwhile` (when given) runs
  /// once the passes have started, before the wait; it must not throw.
  bool type_tables_until_readable(const std::vector<int>& positions, const std::function<void()>& meanwhile = {});

 private:
  void init_views();
  void init_fkeys();
  ole_com_ptr<wb_recordset> open_query(const std::wstring& sql, int options);

  std::vector<listed_table> listed;
  ole_com_ptr<wb_database> database;
  ole_com_ptr<wb_querydefs> querydefs;
  ole_com_ptr<wb_tabledefs> tabledefs;
};

// Text operations of the view rewriting.

/// Position of a case-insensitive occurrence of `what` at or after `start`; -1 when there is none.
long dao_find_no_case(const std::wstring& text, const std::wstring& what, long start);
/// Replaces every case-insensitive occurrence; the search resumes after the inserted text.
void dao_replace_all(std::wstring& text, const std::wstring& what, const std::wstring& replacement);
/// Whole-word rules of dao_replace_word.
enum class dao_word_rule {
  /// A function name: '(' follows, blanks allowed; letters, digits and '_' are word characters.
  function_name,
  /// An operator word: not after a letter or digit, and followed by the end, a blank, '(', tab, CR or LF.
  operator_word,
};
/// Replaces whole-word occurrences only.
void dao_replace_word(std::wstring& text, const std::wstring& what, const std::wstring& replacement,
                      dao_word_rule rule = dao_word_rule::function_name);
/// The stored query's text in the destination's dialect: the engine's operators and function names
/// replaced. False when the text cannot be a view (for example unbalanced parentheses).
bool dao_view_text(const std::wstring& sql, std::wstring& result);

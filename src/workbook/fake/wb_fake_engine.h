#pragma once
// A scripted engine for tests of the layers above the workbook engine: tables, fields, rows,
// stored queries and indexes come from a script; every connect string, SQL text and recordset
// option received is logged; chosen operations fail with a chosen error; what is created or
// appended is recorded in the script.
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "workbook/wb_engine.h"

struct wb_fake_field {
  std::wstring name;
  int type = wb_dao_text;
  long size = 255;
  long attributes = 0;
  bool required = false;
  std::wstring default_value;
  bool allow_zero_length = false;
};

struct wb_fake_index {
  std::wstring name;
  bool primary = false;
  bool unique = false;
  std::vector<std::wstring> fields;
};

struct wb_fake_table {
  std::wstring name;
  long attributes = 0;
  std::vector<wb_fake_field> fields;
  std::vector<std::vector<ole_variant>> rows;
  std::vector<wb_fake_index> indexes;
};

struct wb_fake_query {
  std::wstring name;
  std::wstring sql;
  std::vector<wb_fake_field> fields;
};

struct wb_fake_script {
  std::vector<wb_fake_table> tables;
  std::vector<wb_fake_query> queries;  // stored queries (QueryDefs)
  /// Results by exact SQL text. Without one, "SELECT * FROM [t]" and its count wrapper are answered
  /// from `tables` (a name written exactly so first, else one equal but for case); any other text fails with 3251.
  std::map<std::wstring, wb_fake_table> results;

  /// Operations to fail, by name: "open_database", "create_database", "tabledefs", "querydefs",
  /// "create_querydef", "open_recordset", "record_count", "fields", "indexes", "move_first",
  /// "move_next", "move_previous", "value", "close", "create_tabledef", "create_field",
  /// "create_index", "append_table", "add_new", "collect", "update".
  std::map<std::string, wb_error_item> failures;
  /// Fail without filling the error list (an empty Errors collection).
  bool fail_without_errors = false;
  /// errors() itself throws.
  bool errors_throw = false;
  /// Operations that return a null object instead: "index_fields", "index_field_item",
  /// "field_item", "open_recordset".
  std::set<std::string> null_results;

  // Logs of what the engine received.
  std::vector<std::wstring> opened_paths;
  std::vector<std::wstring> connects;
  std::vector<bool> exclusive_flags, read_only_flags;
  std::vector<std::wstring> sqls;
  std::vector<int> recordset_types, recordset_options;
  std::vector<std::wstring> created_databases;
  std::vector<std::wstring> removed_tables;
  int closes = 0;

  /// Tables appended through TableDefs.Append (also added to `tables`).
  std::vector<std::wstring> created_tables;
};

/// An engine over `script`; every database it opens sees the same script.
ole_com_ptr<wb_engine> wb_make_fake_engine(std::shared_ptr<wb_fake_script> script);

/// Installs a factory giving fake engines over `script` for every key except those in `failing`
/// (an empty pointer for them); returns the previous factory.
wb_engine_factory wb_install_fake_engine(std::shared_ptr<wb_fake_script> script, std::set<int> failing = {});

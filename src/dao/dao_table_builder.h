#pragma once
// Builds a new engine table from a source's field and index lists: columns with safe names, their
// required flags, defaults and counters, then the indexes that the engine can hold.
#include <map>
#include <string>

#include "dao/dao_validator.h"
#include "ole/ole_com_ptr.h"
#include "udb/udb_indexes.h"
#include "udb/udb_schema.h"
#include "workbook/wb_engine.h"

/// The columns of the new table: one descriptor per source descriptor, under its safe name.
class dao_schema_initializer : public udb_schema {
 public:
  dao_schema_initializer(wb_tabledef* table, const udb_schema& source);
  /// Creates the engine fields.
  void initialize();
  /// A default text quoted for the engine: in double quotes unless only an apostrophe can wrap it.
  static std::wstring quote_def_value(const std::wstring& text);
  /// Source column name -> generated name, for the names that were not acceptable.
  const std::map<std::wstring, std::wstring>& name_map() const { return validator.mapped; }

 private:
  ole_com_ptr<wb_tabledef> table;
  dao_fn_validator validator;
};

/// The indexes of the new table, over the safe column names.
class dao_indexes_initializer {
 public:
  /// At most this many indexes are created, and an index of more fields is left out.
  static constexpr std::size_t max_indexes = 32;
  static constexpr std::size_t max_index_fields = 10;

  dao_indexes_initializer(wb_tabledef* table, const dao_schema_initializer& columns, const udb_indexes& source,
                          const std::map<std::wstring, std::wstring>& name_map);
  /// Creates the engine indexes.
  void initialize();
  const udb_indexes& built() const { return indexes; }

 private:
  ole_com_ptr<wb_tabledef> table;
  udb_indexes indexes;
  dao_in_validator validator;
  const dao_schema_initializer& columns;
  std::map<std::wstring, std::wstring> name_map;
};

/// Columns, then indexes, of a table the caller then appends to the database.
void dao_build_table(wb_tabledef* table, const udb_schema& fields, const udb_indexes& index_list);

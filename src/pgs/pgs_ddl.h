#pragma once
// Builders of a new table's DDL: safe column names and CREATE TABLE, then the indexes that can be
// built. Both are short-lived objects of pgs_database::create_table.
#include <map>
#include <string>
#include <vector>

#include "pgs/pgs_validator.h"
#include "udb/udb_indexes.h"
#include "udb/udb_schema.h"

/// Source column name -> generated safe name; holds only the names that were changed.
using pgs_names_map = std::map<std::wstring, std::wstring>;

/// The safe name of a source name, or the name itself; exact or case-insensitive key match.
std::wstring pgs_get_mapped_name(const pgs_names_map& map, const std::wstring& name, bool exact);
/// True when the index's first columns equal the list (case-insensitive); an empty list gives true.
bool pgs_index_starts_with(const udb_index& index, const std::vector<std::wstring>& fields);
/// True when a (primary, with primary_only) index of the list has that column (exact name).
bool pgs_is_index_field(const udb_indexes& indexes, const std::wstring& column, bool primary_only);

/// Safe column names and the CREATE TABLE statement of one table.
class pgs_schema_initializer {
 public:
  pgs_schema_initializer(const std::wstring& table_name, const udb_schema& source_columns,
                         const udb_indexes& source_indexes);

  /// Runs CREATE TABLE; raises pgs_exception "Cannot create table: <statement>. <server text>".
  void build_schema();
  /// The statement build_schema runs (UTF-8).
  std::string create_table_statement() const;
  /// Its column list, "(name type ..., ...)": what the catalogue says of the new table's columns
  /// depends on this text only.
  std::string column_definitions() const;

  const udb_schema& safe_columns() const { return m_safe_columns; }
  const pgs_names_map& column_map() const { return m_validator.mapped; }

 private:
  std::wstring m_table_name;
  udb_schema m_safe_columns;
  pgs_fn_validator m_validator;
};

/// The indexes of a new table that can be built, with process-unique safe names.
class pgs_indexes_initializer {
 public:
  pgs_indexes_initializer(const std::wstring& table_name, const udb_schema& safe_columns,
                          const udb_indexes& source_indexes, const pgs_names_map& column_map);

  /// Creates each index; raises pgs_exception "Cannot create index: <statement>. <server text>".
  /// Indexes built before a failure stay.
  void build_indexes();
  /// The statements build_indexes runs (UTF-8), in order.
  std::vector<std::string> index_statements() const;

  const std::vector<udb_index>& index_list() const { return m_index_list; }

 private:
  bool can_be_part_of_index(const std::wstring& column) const;

  std::wstring m_table_name;
  std::vector<udb_index> m_index_list;
  const udb_schema& m_columns;
};

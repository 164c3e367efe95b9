#pragma once
// A PostgreSQL database opened by pgs_engine: its tables as schema-qualified names, schemas,
// tables, statements and foreign keys. It holds no connection of its own: every statement runs on
// the engine's connection, in a transaction of its own.
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "udb/udb_database.h"

/// One column as the catalogue describes it (the texts of the standard information schema).
struct pgs_column_answer {
  int ordinal = 0;  ///< attnum
  std::string name;
  std::string data_type;
  int size = 0;  ///< character_maximum_length, 0 when none
  bool has_default = false;
  std::string default_text;
  std::string is_nullable;  ///< "YES" or "NO"
};

/// The table list of a PostgreSQL database. Names in it are lowercased and fitted to the server's
/// limit part by part, exactly as the tables were created, so a lookup finds what the server holds.
class pgs_base_db : public udb_database {
 public:
  pgs_base_db(const std::wstring& name, int flags);

  /// True when the table is listed; give the form the list holds (schema.table without a pattern).
  bool is_table_exist(const std::wstring& table_name) override;

  /// "schema.table", or the table alone when the schema is empty. No quoting, no lowercasing.
  static std::wstring make_safe_tname(const std::wstring& table, const std::wstring& schema);
  /// The quoted, schema-qualified name for SQL (UTF-8); a name without a dot goes to "public".
  std::string get_safe_name(const std::wstring& table_name) const;
  /// The unquoted, schema-qualified name; a name without a dot gets "public." in front.
  static std::wstring get_full_name(const std::wstring& table_name);
  /// Registers a created table: schema.table, or a pure name as public.<name>.
  void add_full_name1(const std::wstring& table_name);
  /// Registers a table the catalogue listed.
  void add_full_name2(const std::wstring& schema, const std::wstring& table);

 protected:
  /// The form the list holds for a name: folded and fitted, each part of schema.table apart.
  std::wstring list_name(const std::wstring& table_name) const;
  /// Whether the list holds bare table names (a schema pattern was given).
  bool pattern_mode = false;

 private:
  std::multimap<std::wstring, std::pair<std::wstring, std::wstring>> full_names;
};

class pgs_database : public pgs_base_db {
 public:
  /// Reads the table list (of the one schema when a pattern is given).
  pgs_database(const std::wstring& name, const std::wstring& schema_pattern, int flags);
  ~pgs_database() override;

  void create_schema(const std::wstring& schema_name) override;
  /// Creates the table (or opens it when it exists and flag bit 8 is set) and returns it.
  std::unique_ptr<udb_recordset> create_table(const std::wstring& table_name, const udb_schema& fields,
                                              const udb_indexes& index_list) override;
  /// Drops the table (CASCADE); true when it was listed.
  bool delete_tab(const std::wstring& table_name) override;
  /// DROP TABLE IF EXISTS of the table as the server names it, with what depends on it.
  std::string drop_table_statement(const std::wstring& table_name) const;
  std::unique_ptr<udb_recordset> get_query(const std::wstring& query_name, const std::wstring& sql,
                                           int mode) override;
  void get_schema_info(std::vector<std::wstring>& schema_names) override;
  std::unique_ptr<udb_recordset> get_table(const std::wstring& table_name, int mode) override;
  void query(const std::wstring& sql) override;
  /// Runs the statement and rolls it back: true when the server accepts it.
  bool test_query(const std::wstring& sql) override;
  void create_relationships(const udb_relationships& list) override;

  /// Schema and table of a name: "s"."t" (quoted, split at the quote-dot-quote), s.t (first dot),
  /// or a plain name in the pattern's schema or "public". No lowercasing, no quoting.
  std::pair<std::wstring, std::wstring> split_name(const std::wstring& name) const;

  /// The table-creating part of create_table: CREATE TABLE, registration, indexes, column map.
  /// The name must be schema.table. Returns the column map (source name -> safe name).
  void build_table(const std::wstring& table_name, const udb_schema& fields, const udb_indexes& index_list);

  /// A table made with its first rows (no indexes): the CREATE TABLE runs in the transaction of the
  /// rows' COPY, so a worksheet whose rows are rolled back leaves no table behind. The table is
  /// listed once that transaction commits. A table that is listed already is opened as
  /// create_table opens it, unless `replace_existing`: then the existing table is dropped in that
  /// same transaction, so a worksheet that fails keeps the old table. The name must be schema.table.
  std::unique_ptr<udb_recordset> create_table_with_rows(const std::wstring& table_name, const udb_schema& fields,
                                                        bool replace_existing = false);
  /// Lists a table create_table_with_rows made, once it exists, with its generated column names.
  void list_made_table(const std::wstring& table_name, const std::map<std::wstring, std::wstring>& column_map);

  const std::wstring& get_schema_pattern() const { return schema_pattern; }

  /// What the catalogue answered for the columns of a table this run made with these column
  /// definitions (pgs_schema_initializer::column_definitions), or null. A table made with the same
  /// definitions has the same columns, so it is not asked again.
  const std::vector<pgs_column_answer>* made_columns(const std::string& definitions) const;
  void remember_made_columns(const std::string& definitions, std::vector<pgs_column_answer> answers);

 private:
  void load_table_list();

  std::wstring schema_pattern;
  std::map<std::string, std::vector<pgs_column_answer>> made_column_answers;
};

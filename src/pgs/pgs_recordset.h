#pragma once
// One table of a PostgreSQL database: its columns, keys and row count from the catalogue, its rows
// read through a server-side cursor, and rows written by COPY (or INSERT) and rewritten by UPDATE.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "pgs/pgs_copy_line.h"
#include "udb/udb_recordset.h"
#include "udb/udb_relationships.h"

namespace pqxx {
class result;
class transaction_base;
}  // namespace pqxx

namespace pqxx {
class icursorstream;
class result;
class dbtransaction;
}  // namespace pqxx

class pgs_database;
class pgs_copy_stream;

/// A table this run makes for its rows: the statement that creates it and the column names it
/// generated (source name -> safe name), which the database lists once the table exists.
struct pgs_table_creation {
  std::string statement;
  std::map<std::wstring, std::wstring> column_map;
  std::size_t statement_count = 1;  ///< statements in `statement` (a DROP may come first)
  std::string column_definitions;   ///< the CREATE TABLE's column list
};
struct pgs_column_answer;
class pgs_fn_validator;

/// A table of the destination database.
/** Writing: append_record per row, then finish(), which ends the COPY stream, stores what the server
    accepts and commits. Rows the server refuses never throw: they go to the row-error sink as soon as
    they are found, or come back from take_row_errors(), with their record numbers (append_record
    calls counted from 1); so does a row whose text was stored without a U+0000 it held
    (pgs_nul_left_out), one report per column. A failure that ends the worksheet
    (the stream cannot open, the connection is lost, the commit fails) is a level-0 tk_exception, not
    a pgs_exception, so a per-record catch does not take it for one record.
    The destructor never throws: without finish() it does the same work and logs what failed. */
class pgs_recordset : public udb_recordset {
 public:
  /// Over a query: nothing is read from the server and the schema stays empty.
  pgs_recordset(pgs_database& database, const std::wstring& name, const std::wstring& query_text,
                udb_relationships& relationships, int mode);
  /// Over a table: reads columns, keys (unless mode has both 0x20 and 0x40) and the row count.
  /// Mode bit 8 marks a table that existed before this run: records are paired with its columns
  /// by field name instead of by position.
  pgs_recordset(pgs_database& database, const std::wstring& name, udb_relationships& relationships, int mode);
  /// Over a table not made yet (name: schema.table): it is made in the transaction of its first
  /// COPY, and its columns read there, so rows rolled back take the table with them; without rows
  /// (or without COPY) it is made on its own before the first row or at finish(). It has no rows,
  /// keys or indexes, so none are read. The database lists it once it is committed.
  pgs_recordset(pgs_database& database, const std::wstring& name, udb_relationships& relationships,
                pgs_table_creation creation);
  ~pgs_recordset() override;

  // Reading.
  void reset() override;
  bool is_eof() override;
  void next() override;
  udb_record* get_item() override;
  int get_rec_count();

  // Writing.
  void append_record(udb_record& record) override;
  void fast_append(udb_record& record);
  void slow_append(udb_record& record);
  void update(udb_record& record) override;
  void finish() override;
  std::vector<udb_row_error> take_row_errors() override;
  /// Rolls back every row not committed yet, and a table not made yet is never made; writing
  /// ends. Never throws.
  void abandon() noexcept;
  /// After finish(): whether the rows written were committed (a failure rolled them all back).
  bool rows_committed() const { return committed; }
  /// After a finish() that committed: the rows stored (written and not refused).
  std::size_t stored_rows() const { return stored; }

  // Catalogue statements (UTF-8); they take the schema as $1 and the table as $2.
  std::string get_select_fields() const;
  std::string get_table_sql() const;
  std::string get_pk_sql() const;
  std::string get_pk_detailed_sql() const;
  std::string get_indices_sql() const;
  std::string get_fk_sql() const;
  static std::wstring get_delete_rule(wchar_t letter);
  /// Catalogue column numbers (blank-separated) to the names of those columns of this table.
  void get_numbers_from_string(const std::string& text, std::vector<std::wstring>& out) const;

  const std::wstring& schema_name() const { return s_name; }
  const std::wstring& bare_table_name() const { return t_name; }
  /// Records are paired with columns by name (an existing table) rather than by position.
  bool pairs_by_name() const { return by_name; }

  /// Bytes of COPY text after which the stream is closed and a new one opened, so that a refused
  /// row costs a replay of at most that much. Settable for measurement.
  void set_copy_segment_bytes(std::size_t bytes) { segment_bytes = bytes; }

 private:
  void init_schema();
  /// The columns of the table as the catalogue gives them, read in `tx`.
  void read_columns(pqxx::transaction_base& tx);
  /// The catalogue's columns of the table, read in `tx`, as they are kept.
  std::vector<pgs_column_answer> column_answers(pqxx::transaction_base& tx) const;
  /// Takes the columns from the catalogue's answers (schema and ordinals).
  void take_columns(const std::vector<pgs_column_answer>& answers);
  /// The stream whose transaction makes the table first (the pending creation is used up).
  std::unique_ptr<pgs_copy_stream> open_stream_making_table();
  /// Makes the pending table in a transaction of its own and lists it.
  void make_table_alone();
  /// Runs the pending creation in `tx` and reads the columns it made.
  void create_in(pqxx::transaction_base& tx, const pgs_table_creation& creation);
  /// Lists the table made in the stream's transaction, which has committed.
  void list_created_table();
  void init_indexes();
  void fetch_block();
  /// The pairing of the record's fields with the table's columns (computed once, then checked).
  const std::vector<pgs_copy_pair>& pairing_for(const udb_record& record);
  /// The column a record field's name stands for (INSERT and UPDATE naming), or -1.
  int column_for_field(const std::wstring& field_name, pgs_fn_validator& validator, bool bookkeeping) const;
  void add_row_error(int record_number, const tk_exception& error);
  /// finish() without throwing: logs what fails. For the destructor.
  void finish_quietly() noexcept;
  /// "schema"."table" for statements, spelled as the catalogue lookups spell it.
  std::string qualified_name() const;
  /// Runs a catalogue statement for this table, prepared under `name` on the connection.
  pqxx::result catalogue_query(pqxx::transaction_base& tx, const char* name, const std::string& sql) const;

  udb_relationships* relationships;
  bool eof = false;
  pgs_database* owner_db;
  std::wstring s_name;
  std::wstring t_name;
  bool by_name = false;
  std::vector<int> ordinals;  ///< catalogue column number (attnum) of each schema column

  // Reading state.
  std::unique_ptr<udb_record> record;
  std::unique_ptr<pqxx::result> block;
  std::size_t row = 0;
  std::unique_ptr<pqxx::dbtransaction> read_trans;
  std::unique_ptr<pqxx::icursorstream> cursor;

  // A table not made yet, and one made in the open stream's transaction, not committed yet.
  std::unique_ptr<pgs_table_creation> creation;
  std::unique_ptr<pgs_table_creation> uncommitted_creation;

  // Writing state.
  std::unique_ptr<pgs_copy_stream> copy;
  std::vector<pgs_copy_pair> pairing;
  std::unique_ptr<pgs_copy_line_builder> line_builder;  ///< for the open stream's pairing
  std::vector<std::size_t> nul_columns;  ///< columns whose text lost a U+0000 in the current line
  std::vector<std::wstring> paired_names;  ///< field names the pairing was made for
  std::string line;                        ///< reused COPY line buffer
  std::size_t segment_bytes;
  int records_appended = 0;
  bool finished = false;
  bool committed = false;
  std::size_t stored = 0;
  std::vector<udb_row_error> row_errors;
};

#pragma once
// The database engine the workbook side talks to: an engine opens a database (a workbook), whose
// table definitions are its worksheets, read as recordsets. Every object is reference-counted and
// held by ole_com_ptr. A failing call records {number, description} as its engine's error list
// (replacing the previous one) and throws wb_error with the same number. The real engine is
// read-only: every write gives 3027.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "ole/ole_com_ptr.h"
#include "ole/ole_variant.h"
#include "platform/com_object.h"
#include "workbook/wb_reader.h"

/// Field type codes (the engine's numbering).
enum wb_dao_type : int {
  wb_dao_boolean = 1,
  wb_dao_byte = 2,
  wb_dao_integer = 3,
  wb_dao_long = 4,
  wb_dao_currency = 5,
  wb_dao_single = 6,
  wb_dao_double = 7,
  wb_dao_date = 8,
  wb_dao_binary = 9,
  wb_dao_text = 10,
  wb_dao_long_binary = 11,
  wb_dao_memo = 12,
  wb_dao_guid = 15,
};

/// Recordset options.
inline constexpr int wb_open_deny_write = 1;
inline constexpr int wb_open_read_only = 4;
inline constexpr int wb_open_append_only = 8;
/// Recordset type.
inline constexpr int wb_open_dynaset = 2;

struct wb_error_item {
  long number = 0;
  std::wstring description;
};

class wb_field : public ref_counted_object {
 public:
  virtual std::wstring name() const = 0;
  virtual int type() const = 0;
  virtual long size() const = 0;
  /// The current row's value (VT_NULL for an empty cell); a field of a table or query definition
  /// gives VT_EMPTY; at BOF or EOF 3021.
  virtual ole_variant value() const = 0;
  /// The same value copied into `into`, whose memory is reused: a row's values are read without
  /// a new copy each.
  virtual void read_value(ole_variant& into) const { into = value(); }
  virtual long attributes() const = 0;
  virtual bool required() const = 0;
  virtual std::wstring default_value() const = 0;
  virtual void set_required(bool required) = 0;
  virtual void set_allow_zero_length(bool allow) = 0;
  virtual void set_default_value(const std::wstring& value) = 0;
  virtual void set_attributes(long attributes) = 0;
};

class wb_fields : public ref_counted_object {
 public:
  virtual int count() const = 0;
  /// 3265 when out of range.
  virtual ole_com_ptr<wb_field> item(int index) = 0;
  virtual void append(wb_field* field) = 0;
};

class wb_index_fields : public ref_counted_object {
 public:
  virtual int count() const = 0;
  virtual ole_com_ptr<wb_field> item(int index) = 0;
  virtual void append(wb_field* field) = 0;
};

class wb_index : public ref_counted_object {
 public:
  virtual std::wstring name() const = 0;
  virtual bool primary() const = 0;
  virtual bool unique() const = 0;
  virtual ole_com_ptr<wb_index_fields> fields() = 0;
  virtual ole_com_ptr<wb_field> create_field(const std::wstring& name) = 0;
  virtual void set_primary(bool primary) = 0;
  virtual void set_unique(bool unique) = 0;
};

class wb_indexes : public ref_counted_object {
 public:
  virtual int count() const = 0;
  virtual ole_com_ptr<wb_index> item(int index) = 0;
  virtual void append(wb_index* index) = 0;
};

class wb_recordset;

class wb_tabledef : public ref_counted_object {
 public:
  virtual std::wstring name() const = 0;
  virtual long attributes() const = 0;
  /// The data rows (a worksheet is read once to count them, and to type its columns).
  virtual long record_count() = 0;
  virtual ole_com_ptr<wb_fields> fields() = 0;
  virtual ole_com_ptr<wb_indexes> indexes() = 0;
  virtual ole_com_ptr<wb_field> create_field(const std::wstring& name, int type, long size) = 0;
  virtual ole_com_ptr<wb_index> create_index(const std::wstring& name) = 0;
  /// The table's own rows, without a lookup by name, so tables whose names are equal, or equal but
  /// for case, each give their own; the options of a query's open_recordset.
  virtual ole_com_ptr<wb_recordset> open_recordset(int type, int options) = 0;
};

class wb_tabledefs : public ref_counted_object {
 public:
  /// 16-bit, as the engine counts.
  virtual short count() const = 0;
  virtual ole_com_ptr<wb_tabledef> item(int index) = 0;
  /// The table written exactly so, else the only one equal but for case; 3265 when there is none.
  virtual ole_com_ptr<wb_tabledef> item(const std::wstring& name) = 0;
  virtual void remove(const std::wstring& name) = 0;
  virtual void append(wb_tabledef* table) = 0;
};

class wb_recordset : public ref_counted_object {
 public:
  virtual bool eof() const = 0;
  virtual bool bof() const = 0;
  virtual ole_com_ptr<wb_fields> fields() = 0;
  virtual void move_first() = 0;
  virtual void move_next() = 0;
  virtual void move_previous() = 0;
  virtual void add_new() = 0;
  /// Sets the new row's field `name`.
  virtual void collect(const std::wstring& name, const ole_variant& value) = 0;
  virtual void update(int type, bool force) = 0;
  virtual void close() = 0;
  /// What the current row lacks: the columns whose cells the workbook names without holding their
  /// values (NULL in the row), with the reason; empty when nothing, and where nothing is current.
  virtual std::wstring row_problem() const { return {}; }
};

class wb_querydef : public ref_counted_object {
 public:
  virtual std::wstring name() const = 0;
  virtual std::wstring sql() const = 0;
  virtual ole_com_ptr<wb_fields> fields() = 0;
  virtual ole_com_ptr<wb_recordset> open_recordset(int type, int options) = 0;
};

class wb_querydefs : public ref_counted_object {
 public:
  virtual int count() const = 0;
  virtual ole_com_ptr<wb_querydef> item(int index) = 0;
};

class wb_database : public ref_counted_object {
 public:
  virtual ole_com_ptr<wb_tabledefs> tabledefs() = 0;
  virtual ole_com_ptr<wb_querydefs> querydefs() = 0;
  /// An unsaved query when `name` is empty.
  virtual ole_com_ptr<wb_querydef> create_querydef(const std::wstring& name, const std::wstring& sql) = 0;
  virtual ole_com_ptr<wb_tabledef> create_tabledef(const std::wstring& name, long attributes,
                                                   const std::wstring& source_table, const std::wstring& connect) = 0;
  /// Idempotent; later use of the database or its objects gives 3420.
  virtual void close() = 0;
  /// Types the columns of the tables at these positions (as tabledefs lists them) ahead, several at
  /// once where the engine can, and tells in the same order which of them can be read. A table that
  /// cannot gives the same error again when it is used. The default types nothing and takes every
  /// table as readable.
  virtual std::vector<bool> type_tables(const std::vector<int>& positions) {
    return std::vector<bool>(positions.size(), true);
  }
  /// As type_tables, but waits only until one of the tables proves readable (true) or all have
  /// failed (false); the passes of the others may go on in the background, each table waiting for
  /// its own when it is used. `meanwhile` (when given) runs once the passes have started, before
  /// the wait.
  virtual bool type_tables_until_readable(const std::vector<int>& positions, const std::function<void()>& meanwhile) {
    if (meanwhile) meanwhile();
    std::vector<bool> readable = type_tables(positions);
    readable.resize(positions.size(), true);
    return std::find(readable.begin(), readable.end(), true) != readable.end();
  }
};

class wb_engine : public ref_counted_object {
 public:
  virtual ole_com_ptr<wb_database> open_database(const std::wstring& path, bool exclusive, bool read_only,
                                                 const std::wstring& connect) = 0;
  virtual ole_com_ptr<wb_database> create_database(const std::wstring& path, const std::wstring& locale,
                                                   int option) = 0;
  /// The errors of the last failing call, most relevant first.
  virtual std::vector<wb_error_item> errors() const = 0;
};

/// Makes the engine for a version key; an empty pointer when that engine cannot be created.
using wb_engine_factory = std::function<ole_com_ptr<wb_engine>(int key)>;

/// Creates an engine through the current factory. The default gives the workbook engine for keys
/// 0 to 3 (it tells the file's kind by its signature, not by the key) and nothing for others.
ole_com_ptr<wb_engine> wb_create_engine(int key);
/// Replaces the factory (an empty one restores the default) and returns the previous one.
wb_engine_factory wb_set_engine_factory(wb_engine_factory factory);

/// The workbook engine itself (what the default factory makes).
ole_com_ptr<wb_engine> wb_make_workbook_engine();

/// The name under which a worksheet is a table: "Sheet1$", or "'My Data$'" when the name holds a
/// character other than a letter, digit or '_', or begins with a digit.
std::wstring wb_engine_table_name(const std::wstring& sheet_name);

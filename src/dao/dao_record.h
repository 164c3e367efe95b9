#pragma once
// A row read from the engine: one dao_field per column, values read once at construction; and the
// mappings between the engine's field type codes and value types.
#include "ole/ole_com_ptr.h"
#include "udb/t_ftd.h"
#include "udb/udb_field.h"
#include "udb/udb_record.h"
#include "workbook/wb_engine.h"

/// The engine's field type codes not named by the engine header.
inline constexpr short dao_type_bigint = 16;
inline constexpr short dao_type_varbinary = 17;
inline constexpr short dao_type_char = 18;
inline constexpr short dao_type_numeric = 19;
inline constexpr short dao_type_decimal = 20;
inline constexpr short dao_type_float = 21;
inline constexpr short dao_type_time = 22;
inline constexpr short dao_type_timestamp = 23;

class dao_field : public udb_field {
 public:
  /// Reads name, size, flags and the current value (VT_EMPTY when there is no current value).
  explicit dao_field(wb_field* field);
  ~dao_field() override;

  /// Text of the value; a date on day 0 prints "0000-00-00" in place of that day, or "00:00:00"
  /// when the text is that day alone.
  std::string to_string() const override;
  std::wstring to_wstring() const override;
  /// The value's type, or the column's type when there is no value (VT_EMPTY).
  VARTYPE get_type() const override;

  static VARTYPE get_vartype(short dao_type);
  /// The engine type for a column descriptor; ole_type_exception for a type it cannot hold.
  static short get_native_type(const t_ftd& descriptor);

  /// Reads the engine's current value again (VT_EMPTY when there is none) and restores the column's
  /// name, size and flags as first read: the field then equals one built afresh on that row.
  void reread();
  /// The engine field it reads.
  wb_field* source() const { return field.get(); }

 private:
  void read_value();

  ole_com_ptr<wb_field> field;
  // The column as the engine described it at construction.
  std::wstring source_name;
  int source_size = 0;
  bool source_not_null = false;
  bool source_auto_increment = false;
};

class dao_record : public udb_record {
 public:
  explicit dao_record(wb_fields* fields);
  ~dao_record() override;

  /// Whether this record reads exactly these engine fields (the same collection, unchanged in
  /// size), so that reread() gives what a record built on them now would hold.
  bool reads(wb_fields* fields) const;
  /// Every field reads the engine's current row again.
  void reread();

 private:
  ole_com_ptr<wb_fields> fields;
  std::vector<dao_field*> own;  // the fields made at construction, in order
};

/// The value in a type an engine field accepts, for VT_I1, VT_UI2, VT_UI4, VT_I8 and VT_UI8; an
/// empty value for every other type.
ole_variant dao_get_valid_variant(const udb_field& field);

/// Applies the day-0 rule of dao_field's text forms.
std::wstring dao_fix_zero_date(std::wstring text);
std::string dao_fix_zero_date(std::string text);

#pragma once
// Type rules of the PostgreSQL side: catalogue type names to column types, column descriptors to
// CREATE TABLE types, and values to the text an SQL statement or a COPY line carries.
#include <string>

#include "ole/ole_variant.h"
#include "udb/t_ftd.h"

class udb_field;

/// Longest VARCHAR we create; longer or unsized text columns become TEXT.
inline constexpr int pgs_max_varchar = 32672;

/// How to_pgs_str writes a value: COPY text format, or an SQL literal.
enum pgs_text_mode : int { pgs_copy_mode = 0, pgs_sql_mode = 1 };

/// The column type for a type name as the catalogue spells it (exact, case-sensitive); VT_BSTR when unknown.
VARTYPE pgs_get_vartype(const std::string& type_name);

/// A catalogue text (a column default) as a value of the given type; null gives an empty value.
ole_variant pgs_get_variant(VARTYPE vartype, const char* text);

/// Precision of a VT_DECIMAL column (bits 8..15 of reserved).
int pgs_get_precision(const t_ftd& column);

/// The CREATE TABLE type of a column. A type without a PostgreSQL counterpart is an internal error.
std::wstring pgs_get_native_type(const t_ftd& column);

/// A value's text as COPY text (mode 0: tab and backslash escaped, null as \N) or as an SQL literal.
/// Line feeds are left to the COPY line builder. An unparsable date gives an empty text.
std::wstring to_pgs_str(const std::wstring& text, VARTYPE vartype, int reserved, int mode);

/// The SQL literal of a field's value.
std::wstring to_pgs_str(const udb_field* field);

/// The text after DEFAULT for a column, or empty when the default cannot be written safely and whole.
std::wstring make_pgs_def_val(const t_ftd* column);

/// True when PostgreSQL reads the text as a boolean (1, 0, true, false, t, f, yes, no, y, n, on, off).
bool pgs_is_boolean_text(const std::wstring& text, bool* value = nullptr);

#include "pgs/pgs_util.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <initializer_list>

#include "ole/ole_date.h"
#include "tk/tk_logger.h"
#include "tk/tk_string.h"
#include "udb/udb_field.h"
#include "udb/udb_types.h"

namespace {

bool is_one_of(const std::string& name, std::initializer_list<const char*> names) {
  for (const char* candidate : names)
    if (name == candidate) return true;
  return false;
}

bool is_hex_digit(wchar_t c) {
  return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

std::wstring null_marker(int mode) { return mode == pgs_copy_mode ? L"\\N" : L"NULL"; }
std::wstring empty_value(int mode) { return mode == pgs_copy_mode ? L"" : L"''"; }

// Only ASCII text can be a number; anything else is rejected before from_chars sees it.
bool to_ascii(const std::wstring& text, std::string& out) {
  out.clear();
  for (wchar_t c : text) {
    if (c < 0x20 || c > 0x7E) return false;
    out += static_cast<char>(c);
  }
  return true;
}

// The whole text is one finite decimal number (a leading '+' allowed, as the server allows it).
bool is_whole_number(const std::wstring& text) {
  std::string ascii;
  if (!to_ascii(text, ascii) || ascii.empty()) return false;
  const char* first = ascii.data();
  const char* last = ascii.data() + ascii.size();
  if (*first == '+') ++first;
  if (first == last || (*first == '-' && first != ascii.data())) return false;
  double value = 0;
  const auto [end, ec] = std::from_chars(first, last, value, std::chars_format::general);
  return ec == std::errc() && end == last && std::isfinite(value);
}

// A date value as the server reads it; empty when the text is no valid date.
std::wstring date_text(const std::wstring& text, int reserved, int mode) {
  tk_log(1, "Got date, dw_reserved=%d", reserved);
  ole_date date(text);
  if (!date.is_valid()) {
    tk_log(2, "Date is not valid");
    return L"";
  }
  std::wstring printed = date.to_wstring(true);
  static const std::wstring zero_date = L"0000-00-00";
  if (printed.find(zero_date) != std::wstring::npos) {
    // A time of day without a date keeps its time; a zero date alone stands for a missing date.
    const std::wstring time = printed.size() > 11 ? printed.substr(11) : L"";
    if (time.empty() || time == L"00:00:00" || reserved == udb_reserved_date_only) {
      tk_log(2, "Null date has been found");
      return null_marker(mode);
    }
    printed = reserved == udb_reserved_time_only ? time : L"1899-12-30 " + time;
  } else if (reserved == udb_reserved_date_only) {
    printed = printed.substr(0, 10);
  }
  return mode == pgs_copy_mode ? printed : L"'" + printed + L"'";
}

std::wstring binary_text(const std::wstring& text, int mode) {
  tk_log(1, "GOT BLOB");
  if (text.size() < 2 || text[0] != L'0' || (text[1] != L'x' && text[1] != L'X')) return empty_value(mode);
  for (std::size_t i = 2; i < text.size(); ++i)
    if (!is_hex_digit(text[i])) return empty_value(mode);
  tk_log(1, "BLOB IS VALID");
  const std::wstring hex = text.substr(2);
  // COPY turns "\\x" into "\x", the bytea hex input form; the server reads "\X" as escape format.
  return mode == pgs_copy_mode ? L"\\\\x" + hex : L"DECODE('" + hex + L"','hex')";
}

}  // namespace

VARTYPE pgs_get_vartype(const std::string& name) {
  tk_log(1, "pgs_get_vartype(%s)", name);
  if (is_one_of(name, {"bool", "boolean"})) return VT_BOOL;
  if (is_one_of(name, {"time_stamp", "timestamp", "timestampz", "abstime", "date", "time without time zone", "time",
                       "timestamp without time zone", "timestamp with time zone"}))
    return VT_DATE;
  if (is_one_of(name, {"character varying", "\"char\"", "character_data", "char", "text", "bit", "xml", "macaddt"}))
    return VT_BSTR;
  if (is_one_of(name, {"bigint", "bigserial", "int8"})) return VT_I8;
  if (is_one_of(name, {"integer", "int4", "serial"})) return VT_I4;
  if (is_one_of(name, {"smallint", "int2"})) return VT_I2;
  if (name == "float4") return VT_R4;
  if (is_one_of(name, {"real", "money", "numeric", "double precision"})) return VT_R8;
  if (name == "bytea") return VT_BLOB;
  return VT_BSTR;
}

bool pgs_is_boolean_text(const std::wstring& text, bool* value) {
  static const wchar_t* const truths[] = {L"1", L"true", L"t", L"yes", L"y", L"on"};
  static const wchar_t* const falsehoods[] = {L"0", L"false", L"f", L"no", L"n", L"off"};
  std::wstring folded = text;
  tk_wstring::to_lower(folded);
  for (const wchar_t* word : truths)
    if (folded == word) {
      if (value) *value = true;
      return true;
    }
  for (const wchar_t* word : falsehoods)
    if (folded == word) {
      if (value) *value = false;
      return true;
    }
  return false;
}

ole_variant pgs_get_variant(VARTYPE vartype, const char* text) {
  tk_log(1, "pgs_get_variant(char)");
  tk_log(1, "Type=%d, src=%s", static_cast<int>(vartype), text ? text : "(null)");
  if (!text) return ole_variant();
  if (vartype == VT_BOOL) {
    // The catalogue spells boolean defaults as words: "false" must not read as true.
    bool value = false;
    if (!pgs_is_boolean_text(tk_utf8_to_unicode(text), &value)) value = *text != '\0';
    return ole_variant(value);
  }
  return ole_variant::from_string(text, vartype);
}

int pgs_get_precision(const t_ftd& column) {
  return column.reserved == 0 ? 0 : udb_decimal_precision(column.reserved);
}

std::wstring pgs_get_native_type(const t_ftd& column) {
  tk_log(1, "pgs_get_native_type(name=%s,vt=%d)", column.name, static_cast<int>(column.vartype));
  switch (column.vartype) {
    case VT_I2:
    case VT_I1:
    case VT_UI1:
      return L"SMALLINT";
    case VT_I4:
    case VT_UI2:
    case VT_INT:
      return L"INTEGER";
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_UINT:
      return L"BIGINT";
    case VT_R4:
      return L"FLOAT";
    case VT_R8:
      return L"DOUBLE PRECISION";  // REAL keeps only about seven digits
    case VT_CY:
      return L"DECIMAL(19, 4)";
    case VT_DECIMAL: {
      const int precision = pgs_get_precision(column);
      const int scale = udb_decimal_scale(column.reserved);
      // The server needs 1 <= precision and scale <= precision; an unknown shape stays unconstrained.
      if (precision < 1 || scale > precision) return L"DECIMAL";
      return tk_wformat("DECIMAL(%d,%d)", precision, scale);
    }
    case VT_DATE:
      if (column.reserved == udb_reserved_date_only) return L"DATE";
      if (column.reserved == udb_reserved_time_only) return L"TIME";
      return L"TIMESTAMP";
    case VT_BSTR:
    case VT_LPWSTR:
      tk_log(1, "process as text");
      if (column.size > 0 && column.size <= static_cast<std::uint32_t>(pgs_max_varchar))
        return tk_wformat("VARCHAR(%d) ", static_cast<int>(column.size));
      return L"TEXT";
    case VT_BOOL:
      return L"BOOLEAN";
    default:
      if (ole_is_binary(column.vartype)) {
        tk_log(1, "process as binary");
        return L"BYTEA";
      }
      TK_ASSERT_SITE("pgs_util", 89);
  }
}

std::wstring to_pgs_str(const std::wstring& text, VARTYPE vartype, int reserved, int mode) {
  tk_log(1, "to_pgs_str(%d,%d)", static_cast<int>(vartype), reserved);
  if (vartype == VT_NULL) return null_marker(mode);
  if (text.empty()) return vartype == VT_BSTR ? empty_value(mode) : null_marker(mode);
  if (vartype == VT_DATE) return date_text(text, reserved, mode);
  if (ole_is_binary(vartype)) return binary_text(text, mode);

  // COPY text: a tab would end the field and a backslash starts an escape; SQL: an apostrophe ends
  // the literal. Carriage returns are dropped in both.
  std::wstring out;
  out.reserve(text.size() + 2);
  for (wchar_t c : text) {
    if (c == L'\r') continue;
    if (mode == pgs_copy_mode) {
      if (c == L'\t' || c == L'\\') out += L'\\';
    } else if (c == L'\'') {
      out += L'\'';
    }
    out += c;
  }
  if (mode == pgs_copy_mode) return out;
  const bool quoted_type = vartype == VT_BSTR || vartype == VT_DATE || vartype == VT_BOOL;
  // A number goes bare only when it is one: any other text becomes a literal, never SQL.
  if (quoted_type || !is_whole_number(out)) return L"'" + out + L"'";
  return out;
}

std::wstring to_pgs_str(const udb_field* field) {
  tk_log(1, "to_pgs_str");
  if (!field) TK_ASSERT_SITE("pgs_util", 192);
  return to_pgs_str(field->to_wstring(), field->get_type(), 1, pgs_sql_mode);
}

std::wstring make_pgs_def_val(const t_ftd* column) {
  if (!column) TK_ASSERT_SITE("pgs_util", 309);
  std::wstring text = column->value.to_wstring();
  tk_log(1, "make_pgs_def_val(%s)", text);
  if (text.empty()) {
    tk_log(1, "Got empty def value");
    return L"";
  }
  switch (column->vartype) {
    case VT_BOOL: {
      if (pgs_is_boolean_text(text)) return L"'" + text + L"'";
      tk_log(2, "Invalid boolean def.value: '%s'", text);
      return L"";
    }
    case VT_I2:
    case VT_I4:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_INT:
    case VT_UINT: {
      std::string ascii;
      if (!to_ascii(text, ascii)) return L"";
      std::int64_t n = 0;
      const auto [end, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), n);
      if (ec != std::errc() || end != ascii.data() + ascii.size()) return L"";
      return std::to_wstring(n) == text ? text : L"";
    }
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DECIMAL:
      return is_whole_number(text) ? text : L"";
    case VT_DATE: {
      tk_log(1, "Got DATE def value");
      const std::wstring printed = ole_date(text).to_wstring(true);
      tk_log(1, "After canonization: %s", printed);
      if (printed.empty()) return L"";
      return to_pgs_str(printed, VT_DATE, column->reserved, pgs_sql_mode);
    }
    case VT_BSTR:
      tk_log(1, "Got BSTR or DATE def value: %s", text);
      if (column->size < text.size()) text.resize(column->size);
      return to_pgs_str(text, VT_BSTR, 1, pgs_sql_mode);
    default:
      return L"";
  }
}

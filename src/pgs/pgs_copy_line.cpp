#include "pgs/pgs_copy_line.h"

#include <bit>
#include <cstring>

#include "ole/ole_date.h"
#include "pgs/pgs_util.h"
#include "platform/unicode_text.h"
#include "tk/tk_logger.h"
#include "tk/tk_string.h"
#include "udb/udb_types.h"

namespace {

// Value types whose text is a plain number ("-12", "1.25", "1e+20", "1"/"0" for booleans): no tab,
// backslash or line end, never empty.
bool prints_plain_number(VARTYPE vt) {
  switch (vt) {
    case VT_I1: case VT_I2: case VT_I4: case VT_I8: case VT_INT:
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_UI8: case VT_UINT:
    case VT_R4: case VT_R8: case VT_CY: case VT_DECIMAL: case VT_BOOL:
      return true;
    default:
      return false;
  }
}

// Columns whose COPY text is the value's text with tab and backslash escaped (no parsing).
bool takes_text_as_is(VARTYPE column) { return column != VT_DATE && !ole_is_binary(column); }

// A character copied as it is: printable ASCII but the backslash. Tab, line feed, carriage return
// and U+0000 all lie below the blank.
bool is_plain_ascii(wchar_t c) { return static_cast<char32_t>(c) - 0x20u < 0x60u && c != L'\\'; }

// COPY text: a tab or line feed would end the field or the row and a backslash starts an escape;
// carriage returns are dropped, and so is U+0000, which no server text can hold (false then). Runs
// of plain ASCII, the usual text, are copied in one go.
bool append_escaped(std::string& line, std::wstring_view text) {
  bool whole = true;
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t plain = i;
    while (plain < text.size() && is_plain_ascii(text[plain])) ++plain;
    if (plain > i) {
      const std::size_t at = line.size();
      line.resize(at + (plain - i));
      for (char* out = line.data() + at; i < plain; ++i) *out++ = static_cast<char>(text[i]);
      continue;
    }
    const wchar_t c = text[i++];
    if (c == L'\t' || c == L'\\') {
      line += '\\';
      line += static_cast<char>(c);
    } else if (c == L'\n') {
      line += "\\n";
    } else if (c == L'\0') {
      whole = false;
    } else if (c != L'\r') {
      platform::utf8_append(line, static_cast<char32_t>(c));
    }
  }
  return whole;
}

// The same for a text held in UTF-8, byte for byte: in well-formed UTF-8 the bytes of tab, line
// feed, carriage return, backslash and U+0000 stand for those characters alone. Eight bytes are
// looked at together: a word without a byte below the blank or a backslash goes with its run, else
// the first such byte is found in it at once.
bool append_escaped(std::string& line, std::string_view text) {
  constexpr std::uint64_t ones = 0x0101010101010101ull, high = 0x8080808080808080ull;
  // The top bit of each byte below the blank or equal to a backslash; the lowest one set is exact
  // (the borrows of the subtraction only mark bytes above it).
  const auto care = [&](std::uint64_t w) {
    const std::uint64_t backslash = w ^ (0x5C * ones);
    return ((w - 0x20 * ones) & ~w & high) | ((backslash - ones) & ~backslash & high);
  };
  bool whole = true;
  std::size_t i = 0, run = 0;
  const std::size_t n = text.size();
  while (i < n) {
    if (i + 8 <= n) {
      std::uint64_t w;
      std::memcpy(&w, text.data() + i, sizeof w);
      const std::uint64_t marks = care(w);
      if (marks == 0) {
        i += 8;
        continue;
      }
      if constexpr (std::endian::native == std::endian::little) i += static_cast<std::size_t>(__builtin_ctzll(marks)) / 8;
    }
    const char c = text[i];
    if (c != '\t' && c != '\\' && c != '\n' && c != '\r' && c != '\0') {
      ++i;
      continue;
    }
    line.append(text, run, i - run);
    if (c == '\t' || c == '\\') {
      line += '\\';
      line += c;
    } else if (c == '\n') {
      line += "\\n";
    } else if (c == '\0') {
      whole = false;
    }
    run = ++i;
  }
  line.append(text, run, n - run);
  return whole;
}

// The general rule: to_pgs_str of the value's text under the column's type, then line feeds as \n;
// U+0000 is dropped as above (false then).
bool append_converted(std::string& line, std::wstring_view text) {
  bool whole = true;
  for (const wchar_t c : text) {
    if (c == L'\n')
      line += "\\n";
    else if (c == L'\0')
      whole = false;
    else
      platform::utf8_append(line, static_cast<char32_t>(c));
  }
  return whole;
}

pgs_copy_date_key date_key(const SYSTEMTIME& t) {
  return {(std::uint64_t(t.year) << 48) | (std::uint64_t(t.month) << 32) | (std::uint64_t(t.day) << 16) | t.hour,
          (std::uint64_t(t.minute) << 32) | (std::uint64_t(t.second) << 16) | t.milliseconds};
}

bool append_field(std::string& line, const udb_field& field, const t_ftd& column, std::size_t column_number,
                  bool logging, pgs_copy_date_texts* dates);

// A date value in a date column, written from its parts: the general rule prints the value, parses
// that text and prints it again, which gives the same text. A value on day 0 (its text is rewritten
// first), a time alone and anything out of range take the general rule: false.
bool append_printed_date(std::string& line, const SYSTEMTIME& value, int reserved) {
  const ole_date date(value);
  if (!date.is_valid() || date.get_kind() == ole_date::time_only) return false;
  if (value.year == 1899 && value.month == 12 && value.day == 30) return false;
  const std::string printed = date.to_string(true);
  if (printed.size() < 10) return false;
  line.append(printed, 0, reserved == udb_reserved_date_only ? 10 : std::string::npos);
  return true;
}

}  // namespace

pgs_copy_line_builder::pgs_copy_line_builder(std::vector<pgs_copy_pair> pairing)
    : pairs(std::move(pairing)), date_texts(pairs.size()) {}

void pgs_copy_line_builder::append(std::string& line, const udb_record& record, const udb_schema& schema,
                                   std::vector<std::size_t>* nul_columns) {
  const bool logging = tk_log_enabled(1);
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    if (i) line += '\t';
    if (!append_field(line, record[pairs[i].field], schema[pairs[i].column], pairs[i].column, logging, &date_texts[i]) &&
        nul_columns)
      nul_columns->push_back(pairs[i].column);
  }
}

std::vector<pgs_copy_pair> pgs_positional_pairing(const udb_schema& schema) {
  std::vector<pgs_copy_pair> pairing(schema.size());
  for (std::size_t i = 0; i < pairing.size(); ++i) pairing[i] = {i, i};
  return pairing;
}

void pgs_append_copy_line(std::string& line, const udb_record& record, const udb_schema& schema,
                          const std::vector<pgs_copy_pair>& pairing, std::vector<std::size_t>* nul_columns) {
  const bool logging = tk_log_enabled(1);
  for (std::size_t i = 0; i < pairing.size(); ++i) {
    if (i) line += '\t';
    if (!append_field(line, record[pairing[i].field], schema[pairing[i].column], pairing[i].column, logging, nullptr) &&
        nul_columns)
      nul_columns->push_back(pairing[i].column);
  }
}

tk_exception pgs_nul_left_out(const std::wstring& column) {
  return tk_exception(tk_format("Column '%s': the text holds the character U+0000, which PostgreSQL cannot store; "
                                "the text was stored without it.",
                                column),
                      tk_level_recoverable);
}

namespace {

bool append_field(std::string& line, const udb_field& field, const t_ftd& column, std::size_t column_number,
                  bool logging, pgs_copy_date_texts* dates) {
  const VARTYPE value_type = field.get_type();
  if (logging) {
    const std::wstring source = field.to_wstring();
    tk_log(1, "field #%d has value: %s/%s, type=%d", static_cast<int>(column_number), source,
           to_pgs_str(source, column.vartype, column.reserved, pgs_copy_mode), static_cast<int>(value_type));
  }
  // A missing value: an empty text in a NOT NULL text column, else \N.
  if (value_type == VT_NULL || value_type == VT_EMPTY) {
    if (!(column.vartype == VT_BSTR && column.b_not_null)) line += "\\N";
    return true;
  }
  // The common shapes are written directly; they give the bytes the general rule gives.
  if (value_type == VT_BSTR && column.vartype == VT_BSTR) {
    if (const std::string* utf8 = field.utf8_text()) return append_escaped(line, std::string_view(*utf8));
    return append_escaped(line, std::wstring_view(field.get_bstr()));
  }
  if (prints_plain_number(value_type) && takes_text_as_is(column.vartype)) {
    const std::string number = field.to_string();
    if (!number.empty()) {
      line += number;
      return true;
    }
  }
  const bool date_into_date = value_type == VT_DATE && column.vartype == VT_DATE;
  const SYSTEMTIME when = date_into_date ? field.get_systemtime() : SYSTEMTIME{};
  const pgs_copy_date_key key = date_key(when);
  if (date_into_date && dates) {
    if (const std::string_view known = dates->find(key); !known.empty()) {
      line += known;
      return true;
    }
  }
  const std::size_t start = line.size();
  bool whole = true;
  if (!(date_into_date && append_printed_date(line, when, column.reserved))) {
    const std::wstring text = to_pgs_str(field.to_wstring(), column.vartype, column.reserved, pgs_copy_mode);
    if (!(column.vartype == VT_BSTR && column.b_not_null && text.empty())) whole = append_converted(line, text);
  }
  if (date_into_date && dates) dates->remember(key, std::string_view(line).substr(start));
  return whole;
}

}  // namespace

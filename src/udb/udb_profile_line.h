#pragma once
// How one trimmed profile line is read. Kept apart so that writing can check
// that each line it would write reads back as meant.

#include <string>

struct udb_profile_line {
  enum class kind { empty, section, pair, element };
  kind type = kind::empty;
  std::wstring name;   // section name, key, or the element text
  std::wstring value;  // the value of a pair
};

/// Reads one line (without its line end) as found under `section`.
udb_profile_line udb_parse_profile_line(const std::wstring& raw, const std::wstring& section);

/// True when a selected-table text is a query: it begins with SELECT in any
/// case after blanks, tabs and line breaks.
bool udb_is_select_query(const std::wstring& text);

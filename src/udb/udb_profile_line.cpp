#include "udb/udb_profile_line.h"

#include "tk/tk_string.h"

bool udb_is_select_query(const std::wstring& text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == L' ' || text[i] == L'\t' || text[i] == L'\r' || text[i] == L'\n')) ++i;
  return tk_compare_no_case(std::wstring_view(text).substr(i, 6), L"SELECT") == 0;
}

udb_profile_line udb_parse_profile_line(const std::wstring& raw, const std::wstring& section) {
  udb_profile_line line;
  const std::wstring text = tk_trim(raw);
  if (text.empty()) return line;
  if (text.size() >= 2 && text.front() == L'[' && text.back() == L']') {
    line.type = udb_profile_line::kind::section;
    line.name = text.substr(1, text.size() - 2);
    return line;
  }
  const std::size_t eq = text.find(L'=');
  // A worksheet whose name holds '=' is written bare; only a query text makes
  // a selected entry a pair ("Sheet1=" and "q=SELECT ..." stay pairs).
  const bool bare_selected = eq != std::wstring::npos && section == L"Selected Tables" && eq + 1 < text.size() &&
                             !udb_is_select_query(text.substr(eq + 1));
  if (eq == std::wstring::npos || bare_selected) {
    line.type = udb_profile_line::kind::element;
    line.name = text;
    return line;
  }
  line.type = udb_profile_line::kind::pair;
  line.name = tk_trim(std::wstring_view(text).substr(0, eq));
  line.value = text.substr(eq + 1);
  return line;
}

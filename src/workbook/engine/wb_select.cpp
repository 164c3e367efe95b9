#include "workbook/engine/wb_select.h"

#include <cwctype>

#include "platform/unicode_text.h"
#include "tk/tk_string.h"
#include "workbook/wb_engine.h"

namespace {

class scanner {
 public:
  explicit scanner(const std::wstring& s) : s_(s) {}
  void blanks() {
    while (i_ < s_.size() && (s_[i_] == L' ' || s_[i_] == L'\t' || s_[i_] == L'\r' || s_[i_] == L'\n')) ++i_;
  }
  bool word(const wchar_t* w) {
    blanks();
    std::size_t j = i_;
    for (; *w; ++w, ++j)
      if (j >= s_.size() || std::towlower(static_cast<wint_t>(s_[j])) != static_cast<wint_t>(*w)) return false;
    if (j < s_.size() && (platform::is_alnum(static_cast<char32_t>(s_[j])) || s_[j] == L'_')) return false;
    i_ = j;
    return true;
  }
  bool symbol(wchar_t c) {
    blanks();
    if (i_ < s_.size() && s_[i_] == c) {
      ++i_;
      return true;
    }
    return false;
  }
  bool bracket(std::wstring& name) {
    if (!symbol(L'[')) return false;
    const auto end = s_.find(L']', i_);
    if (end == std::wstring::npos) return false;
    name = s_.substr(i_, end - i_);
    i_ = end + 1;
    return true;
  }
  void semicolons() {
    while (symbol(L';')) {
    }
  }
  bool at_end() {
    blanks();
    return i_ == s_.size();
  }

 private:
  const std::wstring& s_;
  std::size_t i_ = 0;
};

bool select_star(scanner& s, std::wstring& name) {
  return s.word(L"select") && s.symbol(L'*') && s.word(L"from") && s.bracket(name);
}

std::wstring unquoted(const std::wstring& s) {
  if (s.size() > 2 && s.front() == L'\'' && s.back() == L'\'') return s.substr(1, s.size() - 2);
  return s;
}

}  // namespace

std::optional<wb_select> wb_parse_select(const std::wstring& sql) {
  {
    scanner s(sql);
    wb_select r;
    if (select_star(s, r.table)) {
      s.semicolons();
      if (s.at_end()) return r;
    }
  }
  scanner s(sql);
  wb_select r;
  r.count = true;
  if (s.word(L"select") && s.word(L"count") && s.symbol(L'(') && s.symbol(L'*') && s.symbol(L')') &&
      s.word(L"from") && s.symbol(L'(') && select_star(s, r.table)) {
    s.semicolons();
    if (s.symbol(L')')) {
      s.semicolons();
      if (s.at_end()) return r;
    }
  }
  return std::nullopt;
}

std::optional<std::size_t> wb_find_table_name(const std::wstring& given,
                                              const std::vector<std::wstring>& engine_names) {
  const std::wstring wanted = unquoted(given);
  std::optional<std::size_t> other_case;
  bool spellings_differ = false;
  for (std::size_t i = 0; i < engine_names.size(); ++i) {
    const std::wstring name = unquoted(engine_names[i]);
    if (name == wanted) return i;
    if (tk_compare_no_case(name, wanted) != 0) continue;
    if (!other_case) other_case = i;
    else if (name != unquoted(engine_names[*other_case])) spellings_differ = true;
  }
  if (spellings_differ) return std::nullopt;
  return other_case;
}

std::wstring wb_engine_table_name(const std::wstring& sheet_name) {
  bool quote = !sheet_name.empty() && sheet_name[0] >= L'0' && sheet_name[0] <= L'9';
  for (wchar_t c : sheet_name)
    if (!(platform::is_alnum(static_cast<char32_t>(c)) || c == L'_')) quote = true;
  const std::wstring name = sheet_name + L'$';
  return quote ? L'\'' + name + L'\'' : name;
}

#include "dao/dao_database.h"
#include "dao/dao_query_rewriter.h"

#include "tk/tk_logger.h"
#include "tk/tk_string.h"

namespace {

bool is_blank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

bool is_word_char(wchar_t c) { return c == L'_' || tk_is_alnum(static_cast<char32_t>(c)); }

bool word_fits(const std::wstring& text, std::size_t pos, std::size_t length, dao_word_rule rule) {
  const std::size_t end = pos + length;
  if (rule == dao_word_rule::operator_word) {
    if (pos > 0 && tk_is_alnum(static_cast<char32_t>(text[pos - 1]))) return false;
    return end == text.size() || is_blank(text[end]) || text[end] == L'(';
  }
  if (pos > 0 && is_word_char(text[pos - 1])) return false;
  std::size_t next = end;
  while (next < text.size() && is_blank(text[next])) ++next;
  return next < text.size() && text[next] == L'(';
}

/// The engine's function names and their names in the destination's dialect, in the order they
/// are replaced.
struct word_pair {
  const wchar_t* from;
  const wchar_t* to;
  dao_word_rule rule;
};
const word_pair word_pairs[] = {
    {L"alike", L"like", dao_word_rule::operator_word},
    {L"asc", L"ascii", dao_word_rule::function_name},
    {L"chr", L"char", dao_word_rule::function_name},
    {L"clng", L"round", dao_word_rule::function_name},
    {L"iif", L"if", dao_word_rule::function_name},
    {L"lcase", L"lower", dao_word_rule::function_name},
    {L"left$", L"left", dao_word_rule::function_name},
    {L"len", L"length", dao_word_rule::function_name},
    {L"mid$", L"mid", dao_word_rule::function_name},
    {L"nz", L"ifnull", dao_word_rule::function_name},
    {L"right$", L"right", dao_word_rule::function_name},
    {L"sqr", L"sqrt", dao_word_rule::function_name},
    {L"stdev", L"stddev", dao_word_rule::function_name},
    {L"strcomp", L"strcmp", dao_word_rule::function_name},
    {L"ucase", L"upper", dao_word_rule::function_name},
};

/// Parses the rewritten text as a SELECT and rebuilds it in ANSI form; a text that does not parse
/// (an unbalanced parenthesis among them) leaves the view out.
bool parse_view(const std::wstring& text, std::wstring& result) { return dao_rewrite_query(text, result); }

}  // namespace

long dao_find_no_case(const std::wstring& text, const std::wstring& what, long start) {
  if (start < 0) start = 0;
  const auto first = static_cast<std::size_t>(start);
  if (what.empty()) return first <= text.size() ? start : -1;
  if (first >= text.size() || text.size() - first < what.size()) return -1;
  for (std::size_t pos = first; pos + what.size() <= text.size(); ++pos)
    if (tk_compare_no_case(std::wstring_view(text).substr(pos, what.size()), what) == 0)
      return static_cast<long>(pos);
  return -1;
}

void dao_replace_all(std::wstring& text, const std::wstring& what, const std::wstring& replacement) {
  if (what.empty()) return;
  long pos = dao_find_no_case(text, what, 0);
  while (pos != -1) {
    text.replace(static_cast<std::size_t>(pos), what.size(), replacement);
    pos = dao_find_no_case(text, what, pos + static_cast<long>(replacement.size()));
  }
}

void dao_replace_word(std::wstring& text, const std::wstring& what, const std::wstring& replacement,
                      dao_word_rule rule) {
  if (what.empty()) return;
  long pos = dao_find_no_case(text, what, 0);
  while (pos != -1) {
    if (word_fits(text, static_cast<std::size_t>(pos), what.size(), rule)) {
      text.replace(static_cast<std::size_t>(pos), what.size(), replacement);
      pos = dao_find_no_case(text, what, pos + static_cast<long>(replacement.size()));
    } else {
      pos = dao_find_no_case(text, what, pos + 1);
    }
  }
}

bool dao_view_text(const std::wstring& sql, std::wstring& result) {
  std::wstring text = sql;
  dao_replace_all(text, L"]![", L"].[");
  for (const auto& pair : word_pairs) dao_replace_word(text, pair.from, pair.to, pair.rule);
  dao_replace_all(text, L"<>", L"!=");
  return parse_view(text, result);
}

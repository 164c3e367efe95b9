#include "udb/udb_query_parser.h"

#include "tk/tk_logger.h"
#include "tk/tk_string.h"

const std::vector<std::wstring> udb_select_modifiers = {L" ALL ", L" DISTINCT ", L" DISTINCTROW ", L" TOP "};

namespace {

const std::wstring select_token = L"SELECT ";
const std::wstring into_token = L" INTO ";
const std::wstring from_token = L" FROM ";
const std::wstring where_token = L" WHERE ";
const std::wstring group_token = L" GROUP BY ";
const std::wstring order_token = L" ORDER BY ";

enum class clause { none, from, where, group, order };

std::size_t skip_blanks(const std::wstring& text, std::size_t pos) {
  while (pos < text.size() && text[pos] == L' ') ++pos;
  return pos;
}

std::wstring slice(const std::wstring& text, std::size_t start, std::size_t end) {
  if (start >= end || start >= text.size()) return {};
  return text.substr(start, end - start);
}

}  // namespace

udb_query_parser::udb_query_parser() { tk_log(2, "udb_query_parser::ctor"); }

udb_query_parser::~udb_query_parser() { tk_log(2, "udb_query_parser::dtor"); }

bool udb_query_parser::get_token_if(const std::wstring& text, std::size_t pos, const std::wstring& token,
                                    std::size_t& next) {
  if (token.empty() || pos >= text.size() || pos + token.size() >= text.size()) return false;
  // A blank folds to nothing but itself: a cheap test before the full comparison.
  if (token[0] == L' ' && text[pos] != L' ') return false;
  if (tk_compare_no_case(std::wstring_view(text).substr(pos, token.size()), token) != 0) return false;
  tk_log(1, "'%s' is found at position=%d", token, static_cast<int>(pos));
  next = pos + token.size();
  return true;
}

bool udb_query_parser::is_ok() const { return ok && (!sub_parser || sub_parser->is_ok()); }

bool udb_query_parser::initialize(const std::wstring& text) {
  tk_log(2, "udb_query_parser::initialize");
  return parse(text, 0);
}

bool udb_query_parser::parse(const std::wstring& source, int nesting) {
  into_part.clear();
  from_part.clear();
  group_part.clear();
  order_part.clear();
  where_part.clear();
  modifier.clear();
  select_list.clear();
  sub_parser.reset();
  eye = 0;

  std::wstring text = source;
  for (auto& c : text)
    if (c == L'\r' || c == L'\n') c = L' ';
  tk_log(2, "str_query=%s", text);

  std::size_t select_at = 0;
  if (nesting == 0) {
    // Only the leading keyword is matched by case; a sub-query was already recognised by its caller.
    select_at = text.find(select_token);
    if (select_at == std::wstring::npos) {
      tk_log(1, "SELECT was NOT found");
      return false;
    }
    tk_log(1, "SELECT is found at position=%d", static_cast<int>(select_at));
  }
  std::size_t pos = skip_blanks(text, select_at + select_token.size());
  tk_log(1, "Searching SELECT-modifiers at pos=%d", static_cast<int>(pos));
  std::size_t scan_start = pos;
  for (const auto& m : udb_select_modifiers) {
    std::size_t next = 0;
    if (get_token_if(text, pos - 1, m, next)) {
      modifier = m;
      scan_start = next;
      break;
    }
  }

  const std::size_t n = text.size();
  bool in_single = false, in_double = false, in_bracket = false, closed = false, found_into = false;
  int depth = 0;
  std::size_t item_start = scan_start, into_start = 0, clause_start = 0;
  clause last = clause::none;
  auto clause_text = [&](clause c) -> std::wstring* {
    switch (c) {
      case clause::from: return &from_part;
      case clause::where: return &where_part;
      case clause::group: return &group_part;
      case clause::order: return &order_part;
      case clause::none: break;
    }
    return nullptr;
  };
  auto open_clause = [&](clause c, std::size_t keyword_at, std::size_t start) {
    if (auto* part = clause_text(last)) *part = slice(text, clause_start, keyword_at);
    last = c;
    clause_start = start;
  };
  auto add_item = [&](std::size_t end) {
    select_list.push_back(slice(text, item_start, end));
    tk_log(2, "SELECT-argument is found: '%s' (start=%d, end=%d)", select_list.back(), static_cast<int>(item_start),
           static_cast<int>(end));
  };

  std::size_t i = scan_start;
  while (i < n) {
    const wchar_t c = text[i];
    // Inside quotes only the matching quote counts, inside brackets only ']'.
    if (in_single) {
      if (c == L'\'') in_single = false;
      ++i;
      continue;
    }
    if (in_double) {
      if (c == L'"') in_double = false;
      ++i;
      continue;
    }
    if (in_bracket) {
      if (c == L']') in_bracket = false;
      ++i;
      continue;
    }
    if (c == L'\'' || c == L'"' || c == L'[') {
      (c == L'\'' ? in_single : c == L'"' ? in_double : in_bracket) = true;
      ++i;
      continue;
    }
    if (c == L']') {
      tk_log(2, "Unbalanced ']' at pos=%d", static_cast<int>(i));
      return false;
    }
    if (c == L'(') {
      ++depth;
      ++i;
      continue;
    }
    if (c == L')') {
      if (--depth < 0) {
        tk_log(2, "** End of sub-query at pos=%d", static_cast<int>(i));
        closed = true;
        break;
      }
      ++i;
      continue;
    }
    // Clause keywords and item commas count only outside parentheses.
    if (depth > 0) {
      ++i;
      continue;
    }
    std::size_t next = 0;
    if (last == clause::none) {
      if (c == L',') {
        if (!found_into) {
          add_item(i);
          item_start = i + 1;
        }
        ++i;
        continue;
      }
      if (!found_into && get_token_if(text, i, into_token, next)) {
        tk_log(2, "'INTO' token is found at pos=%d", static_cast<int>(i));
        add_item(i);
        found_into = true;
        into_start = next;
        ++i;
        continue;
      }
      if (!get_token_if(text, i, from_token, next)) {
        ++i;
        continue;
      }
      tk_log(2, "'FROM' token is found at pos=%d", static_cast<int>(i));
      if (found_into)
        into_part = slice(text, into_start, i);
      else
        add_item(i);
      open_clause(clause::from, i, next);
      // A FROM clause that opens with "(SELECT " is a sub-query for a nested parser.
      const std::size_t paren = skip_blanks(text, next);
      std::size_t sub_start = 0, after_select = 0;
      if (paren < n && text[paren] == L'(') sub_start = skip_blanks(text, paren + 1);
      if (sub_start != 0 && get_token_if(text, sub_start, select_token, after_select)) {
        tk_log(2, ">>> FROM-subquery has been found at pos=%d", static_cast<int>(sub_start));
        if (nesting + 1 > max_nesting) {
          tk_log(2, "Sub-queries are nested too deeply");
          return false;
        }
        sub_parser = std::make_unique<udb_query_parser>();
        if (!sub_parser->parse(text.substr(sub_start), nesting + 1)) return false;
        const std::size_t r = sub_start + sub_parser->eye + 1;  // just after the sub-query's ')'
        tk_log(1, "Return from sub-parser at position: %d", static_cast<int>(r));
        clause_start = skip_blanks(text, r);
        i = r;
        continue;
      }
      ++i;
      continue;
    }
    if (last == clause::from && get_token_if(text, i, where_token, next)) {
      tk_log(2, "'WHERE' token is found at pos=%d", static_cast<int>(i));
      open_clause(clause::where, i, next);
    } else if ((last == clause::from || last == clause::where) && get_token_if(text, i, group_token, next)) {
      tk_log(2, "'GROUP BY' token is found at pos=%d", static_cast<int>(i));
      open_clause(clause::group, i, next);
    } else if (last != clause::order && get_token_if(text, i, order_token, next)) {
      tk_log(2, "'ORDER BY' token is found at pos=%d", static_cast<int>(i));
      open_clause(clause::order, i, next);
    }
    ++i;
  }
  eye = closed ? i : n;
  tk_log(1, "After main cycle: eye=%d", static_cast<int>(eye));

  if (nesting > 0 && !closed) {
    tk_log(2, "Sub-query is not closed");
    return false;
  }
  if (nesting == 0 && closed) {
    tk_log(2, "Unbalanced ')' at pos=%d", static_cast<int>(eye));
    return false;
  }
  if (!closed && (in_single || in_double || in_bracket || depth != 0)) {
    tk_log(2, "Unbalanced quotes, brackets or parentheses");
    return false;
  }

  std::size_t end = eye;
  while (end > 0 && text[end - 1] == L' ') --end;
  if (end > 0 && text[end - 1] == L';') --end;
  tk_log(1, "Positions: %d, %d", static_cast<int>(end), static_cast<int>(clause_start));
  if (auto* part = clause_text(last)) *part = slice(text, clause_start, end);
  tk_log(1, "At the end of udb_query_parser::initialize");
  return true;
}

std::wstring udb_query_parser::get_from_part() const {
  if (sub_parser) return L"(" + sub_parser->get_query() + L") " + from_part;
  return from_part;
}

std::wstring udb_query_parser::get_query() const {
  tk_log(2, "udb_query_parser::get_query");
  std::wstring result = select_token + modifier;
  for (std::size_t i = 0; i < select_list.size(); ++i) {
    if (i > 0) result += L',';
    result += select_list[i];
  }
  result += from_token + get_from_part();
  if (!where_part.empty()) result += where_token + where_part;
  if (!group_part.empty()) result += group_token + group_part;
  if (!order_part.empty()) result += order_token + order_part;
  tk_log(2, "result=%s", result);
  return result;
}

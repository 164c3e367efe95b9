#include "dao/dao_query_rewriter.h"

#include "dao/dao_database.h"
#include "tk/tk_logger.h"
#include "tk/tk_string.h"

namespace {

/// Deepest parenthesis nesting rewritten; each level is one recursion.
constexpr int max_group_depth = 256;

std::wstring normalize(const std::wstring& text, bool& accepted, int level);

/// Rewrites one comma-free stretch starting at `from`; stops at a top-level ',' outside quotes and
/// returns its position in `stop` (npos at the end).
std::wstring normalize_segment(const std::wstring& text, std::size_t from, std::size_t& stop, bool& accepted,
                               int level) {
  std::vector<std::wstring> chunks;
  std::wstring current;
  bool in_single = false, in_double = false;
  int brackets = 0, depth = 0;
  std::size_t group_start = std::wstring::npos;
  stop = std::wstring::npos;
  for (std::size_t i = from; i < text.size(); ++i) {
    const wchar_t c = text[i];
    const bool quoted = in_single || in_double;
    if (c == L'&' && !quoted) {
      if (depth == 0) {
        if (brackets > 0) {
          current += c;
        } else {
          if (!current.empty()) chunks.push_back(current);
          current.clear();
        }
      }
      continue;
    }
    if (depth == 0 && !(c == L',' && !quoted && brackets == 0)) current += c;

    // Square brackets hold a name: quotes, commas and parentheses inside one are part of the name.
    if (brackets > 0) {
      if (c == L']') --brackets;
      continue;
    }
    if (c == L'\'' && !in_double) {
      in_single = !in_single;
      tk_log(1, in_single ? "Inside single-quotes" : "Outside single-quotes");
      continue;
    }
    if (c == L'"' && !in_single) {
      in_double = !in_double;
      tk_log(1, in_double ? "Inside double-quotes" : "Outside double-quotes");
      continue;
    }
    if (quoted) continue;
    if (c == L'[') {
      ++brackets;
      continue;
    }
    if (c == L',' && depth == 0) {
      tk_log(1, "We meet ',' outside round brackets");
      stop = i;
      return combine_chunks(chunks, current);
    }
    if (c == L'(') {
      if (depth == 0) group_start = i + 1;
      ++depth;
    } else if (c == L')') {
      if (depth == 0 || group_start == std::wstring::npos) {
        tk_log(2, "Unbalanced ')' at position %d", static_cast<int>(i));
        accepted = false;
        continue;
      }
      if (--depth == 0) {
        current += normalize(text.substr(group_start, i - group_start), accepted, level + 1) + L")";
        group_start = std::wstring::npos;
      }
    }
  }
  if (depth > 0) {
    tk_log(2, "Unclosed '(' at position %d", static_cast<int>(group_start));
    accepted = false;  // the group's text was never collected
  }
  return combine_chunks(chunks, current);
}

std::wstring normalize(const std::wstring& text, bool& accepted, int level) {
  tk_log(1, "normalize_concat(%s)", text);
  if (level > max_group_depth) {
    tk_log(2, "Parentheses are nested too deeply");
    accepted = false;
    return text;
  }
  std::wstring result;
  std::size_t from = 0;
  // Each top-level comma starts a fresh rewrite of the rest, as a recursion at every comma would.
  while (true) {
    if (text.find(L'&', from) == std::wstring::npos) {
      if (from == 0) tk_log(1, "Concatenation is not found");
      return result + text.substr(from);
    }
    std::size_t stop = 0;
    const std::wstring segment = normalize_segment(text, from, stop, accepted, level);
    result += segment;
    if (stop == std::wstring::npos) return result;
    if (!segment.empty()) result += L',';
    from = stop + 1;
  }
}

}  // namespace

std::wstring combine_chunks(const std::vector<std::wstring>& chunks, const std::wstring& rest) {
  tk_log(2, "combine_chunks(%d, %s)", static_cast<int>(chunks.size()), rest);
  if (chunks.empty()) {
    tk_log(1, "Got 1 chunk (no concatenation):");
    tk_log(1, "%s", rest);
    return rest;
  }
  tk_log(1, "Got chunks (concatenation):");
  std::wstring result = L"CONCAT(";
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    tk_log(1, "\t%d: %s", static_cast<int>(i), chunks[i]);
    if (i > 0) result += L',';
    result += chunks[i];
  }
  if (!rest.empty()) result += L"," + rest;
  return result + L")";
}

std::wstring normalize_concat(const std::wstring& text, bool& accepted) { return normalize(text, accepted, 0); }

std::wstring normalize_concat(const std::wstring& text) {
  bool accepted = true;
  return normalize(text, accepted, 0);
}

std::wstring make_safe(const std::wstring& item) {
  tk_log(1, "acc_query_parser::make_safe(%s)", item);
  std::vector<std::wstring> chunks = tk_split(item, L'.');
  tk_log(1, "Got %d chunks", static_cast<int>(chunks.size()));
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    std::wstring& chunk = chunks[i];
    if (chunk == L"*") {
      tk_log(1, "Skip asterisk");
      continue;
    }
    if (chunk.size() >= 2 && chunk.front() == L'[' && chunk.back() == L']') {
      tk_log(1, "Chunk #%d is safe already", static_cast<int>(i));
      continue;
    }
    bool needs_brackets = false;
    for (wchar_t c : chunk) {
      if (c == L' ') {
        needs_brackets = true;
      } else if (!tk_is_alnum(static_cast<char32_t>(c))) {
        tk_log(1, "It's not a field/table name");
        return item;
      }
    }
    if (needs_brackets) chunk = L"[" + chunk + L"]";
  }
  return tk_join(chunks, L'.');
}

acc_query_parser::acc_query_parser(const std::wstring& text) {
  tk_log(1, "acc_query_parser::ctor");
  static const std::wstring phrase = L"WITH OWNERACCESS OPTION";
  const long p = dao_find_no_case(text, phrase, 0);
  if (p < 0) {
    ok = initialize(tk_trim(text));
  } else {
    tk_log(2, "'%s' found at pos=%d", phrase, static_cast<int>(p));
    ok = initialize(tk_trim(text.substr(0, static_cast<std::size_t>(p))));
  }
}

void acc_query_parser::make_ansi() {
  tk_log(2, "acc_query_parser::make_ansi");
  static const std::wstring as_token = L" AS ";
  bool accepted = true;
  for (auto& entry : select_list) {
    std::wstring item = make_safe(tk_trim(entry));
    const long start = static_cast<long>(item.size()) - 5;
    tk_log(1, "Processing token '%s', n_as_token_pos=%d", item, static_cast<int>(start));
    long found = -1;
    for (long p = start; p >= 1; --p) {
      if (tk_compare_no_case(std::wstring_view(item).substr(static_cast<std::size_t>(p), as_token.size()), as_token) == 0) {
        found = p;
        break;
      }
    }
    if (found >= 0) {
      tk_log(1, "'AS' is found at position=%d", static_cast<int>(found));
      const std::wstring as_part = item.substr(static_cast<std::size_t>(found));
      tk_log(1, "as_part=%s", as_part);
      item = normalize_concat(item.substr(0, static_cast<std::size_t>(found)), accepted) + as_part;
    } else {
      tk_log(1, "'AS' was NOT found");
      item = normalize_concat(item, accepted);
    }
    entry = item;
  }
  order_part = normalize_concat(order_part, accepted);
  if (!accepted) ok = false;
}

bool dao_rewrite_query(const std::wstring& text, std::wstring& result) {
  acc_query_parser parser(text);
  if (!parser.is_ok()) return false;
  parser.make_ansi();
  if (!parser.is_ok()) return false;
  result = parser.get_query();
  return true;
}

#pragma once
// Rewrites a stored query of the engine's own dialect into ANSI forms: select items and the ORDER BY
// text get square brackets around names with blanks, and the '&' concatenation becomes CONCAT(...).
#include <string>
#include <vector>

#include "udb/udb_query_parser.h"

class acc_query_parser : public udb_query_parser {
 public:
  /// Parses the text up to a "WITH OWNERACCESS OPTION" phrase (any case); is_ok() tells the result.
  explicit acc_query_parser(const std::wstring& text);
  /// Rewrites the select items and the ORDER BY text in place. An item with an unbalanced ')'
  /// leaves the parser not ok.
  void make_ansi();
};

/// Brackets the dot-separated parts of a name that hold blanks; an item that is not a plain name
/// comes back as given.
std::wstring make_safe(const std::wstring& item);
/// Turns top-level '&' concatenations into CONCAT(...). Sets `balanced` false (and never clears it)
/// when a ')' has no matching '('.
std::wstring normalize_concat(const std::wstring& text, bool& balanced);
std::wstring normalize_concat(const std::wstring& text);
/// "CONCAT(" + chunks joined with "," [+ "," + rest] + ")"; the rest alone without chunks.
std::wstring combine_chunks(const std::vector<std::wstring>& chunks, const std::wstring& rest);

/// The whole rewrite of one stored query: parse, make_ansi, rebuild. False (and `result`
/// untouched) when the text is not accepted.
bool dao_rewrite_query(const std::wstring& text, std::wstring& result);

#pragma once
// Splits one SELECT statement into its clauses without a grammar: one left-to-right scan that
// tracks quotes, square brackets and parentheses and recognises clause keywords by position.
// A FROM clause that opens with a parenthesised sub-query is parsed by a nested parser.
#include <memory>
#include <string>
#include <vector>

/// The SELECT modifiers, with their blanks, in the order they are tried.
extern const std::vector<std::wstring> udb_select_modifiers;

class udb_query_parser {
 public:
  /// Deepest chain of FROM sub-queries accepted; each level copies the rest of the text.
  static constexpr int max_nesting = 32;

  udb_query_parser();
  virtual ~udb_query_parser();
  udb_query_parser(const udb_query_parser&) = delete;
  udb_query_parser& operator=(const udb_query_parser&) = delete;

  /// Parses `text` into the members (earlier contents are dropped). False when there is no
  /// "SELECT ", when parentheses, brackets or quotes do not balance, or when a sub-query fails.
  bool initialize(const std::wstring& text);
  /// The statement rebuilt from the parts (the INTO target and a final ';' are not written).
  std::wstring get_query() const;
  /// The FROM clause as get_query writes it.
  std::wstring get_from_part() const;
  /// True when `token` (case-insensitive) stands at `pos` and does not reach the text's very end;
  /// then `next` is the position after it.
  static bool get_token_if(const std::wstring& text, std::size_t pos, const std::wstring& token, std::size_t& next);
  /// This parser's flag and, recursively, its sub-parser's.
  bool is_ok() const;

  bool ok = true;
  std::wstring into_part;
  std::wstring from_part;
  std::wstring group_part;
  std::wstring order_part;
  std::wstring where_part;
  std::wstring modifier;
  std::vector<std::wstring> select_list;
  std::unique_ptr<udb_query_parser> sub_parser;
  /// Where the scan stopped: the end of the text, or the ')' that closes a sub-query.
  std::size_t eye = 0;

 private:
  bool parse(const std::wstring& text, int nesting);
};

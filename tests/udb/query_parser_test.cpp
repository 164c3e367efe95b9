#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "udb/udb_query_parser.h"

namespace {

struct parse_case {
  std::wstring text;
  std::vector<std::wstring> items;
  std::wstring modifier, into, from, where, group, order, rebuilt;
};

void expect_parts(const parse_case& c) {
  SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
  udb_query_parser p;
  ASSERT_TRUE(p.initialize(c.text));
  EXPECT_EQ(p.select_list, c.items);
  EXPECT_EQ(p.modifier, c.modifier);
  EXPECT_EQ(p.into_part, c.into);
  EXPECT_EQ(p.from_part, c.from);
  EXPECT_EQ(p.where_part, c.where);
  EXPECT_EQ(p.group_part, c.group);
  EXPECT_EQ(p.order_part, c.order);
  EXPECT_EQ(p.get_query(), c.rebuilt);
}

std::wstring nested(int levels) {
  std::wstring text = L"SELECT a FROM t";
  for (int i = 0; i < levels; ++i) text = L"SELECT * FROM (" + text + L") x";
  return text;
}

TEST(query_parser, splits_clauses_of_plain_statements) {
  const std::vector<parse_case> cases = {
      {L"SELECT DISTINCT a, b FROM t", {L"a", L" b"}, L" DISTINCT ", L"", L"t", L"", L"", L"",
       L"SELECT  DISTINCT a, b FROM t"},
      {L"SELECT DISTINCTROW a FROM t", {L"a"}, L" DISTINCTROW ", L"", L"t", L"", L"", L"",
       L"SELECT  DISTINCTROW a FROM t"},
      {L"SELECT TOP 5 a FROM t", {L"5 a"}, L" TOP ", L"", L"t", L"", L"", L"", L"SELECT  TOP 5 a FROM t"},
      {L"SELECT f(a, b), c FROM t", {L"f(a, b)", L" c"}, L"", L"", L"t", L"", L"", L"", L"SELECT f(a, b), c FROM t"},
      {L"SELECT [a, b] FROM t", {L"[a, b]"}, L"", L"", L"t", L"", L"", L"", L"SELECT [a, b] FROM t"},
      {L"SELECT 'x FROM y' FROM t", {L"'x FROM y'"}, L"", L"", L"t", L"", L"", L"", L"SELECT 'x FROM y' FROM t"},
      {L"SELECT a INTO n FROM t WHERE x = 1 ORDER BY a;", {L"a"}, L"", L"n", L"t", L"x = 1", L"", L"a",
       L"SELECT a FROM t WHERE x = 1 ORDER BY a"},
      {L"SELECT a FROM t GROUP BY a HAVING count(*) > 1", {L"a"}, L"", L"", L"t", L"", L"a HAVING count(*) > 1", L"",
       L"SELECT a FROM t GROUP BY a HAVING count(*) > 1"},
      {L"SELECT a\r\nFROM t", {L"a "}, L"", L"", L"t", L"", L"", L"", L"SELECT a  FROM t"},
      {L"SELECT a FROM t WHERE ", {L"a"}, L"", L"", L"t WHERE", L"", L"", L"", L"SELECT a FROM t WHERE"},
      {L"SELECT a from t where b = 1 group by a order by a", {L"a"}, L"", L"", L"t", L"b = 1", L"a", L"a",
       L"SELECT a FROM t WHERE b = 1 GROUP BY a ORDER BY a"},
  };
  for (const auto& c : cases) expect_parts(c);
}

TEST(query_parser, keyword_rules_of_the_scan) {
  udb_query_parser p;
  EXPECT_FALSE(p.initialize(L"select a from t"));  // the leading keyword is matched by case
  EXPECT_TRUE(p.initialize(L"SELECT a\tFROM t"));  // a tab is no blank: no FROM, no item survives
  EXPECT_TRUE(p.select_list.empty());
  EXPECT_TRUE(p.from_part.empty());
  EXPECT_TRUE(p.initialize(L"INSERT INTO x SELECT a FROM t"));
  EXPECT_EQ(p.from_part, L"t");
}

TEST(query_parser, quotes_and_brackets_hide_keywords_and_parentheses) {
  const std::vector<parse_case> cases = {
      {L"SELECT [O'Brien], b FROM t", {L"[O'Brien]", L" b"}, L"", L"", L"t", L"", L"", L"",
       L"SELECT [O'Brien], b FROM t"},
      {L"SELECT [Total)] FROM t", {L"[Total)]"}, L"", L"", L"t", L"", L"", L"", L"SELECT [Total)] FROM t"},
      {L"SELECT \"it's\" FROM t WHERE b = ' WHERE '", {L"\"it's\""}, L"", L"", L"t", L"b = ' WHERE '", L"", L"",
       L"SELECT \"it's\" FROM t WHERE b = ' WHERE '"},
      {L"SELECT [a FROM b] FROM [c ORDER BY d]", {L"[a FROM b]"}, L"", L"", L"[c ORDER BY d]", L"", L"", L"",
       L"SELECT [a FROM b] FROM [c ORDER BY d]"},
  };
  for (const auto& c : cases) expect_parts(c);
}

TEST(query_parser, keywords_inside_parentheses_belong_to_the_inner_text) {
  const std::vector<parse_case> cases = {
      {L"SELECT (SELECT max(x) FROM u) AS m FROM t", {L"(SELECT max(x) FROM u) AS m"}, L"", L"", L"t", L"", L"", L"",
       L"SELECT (SELECT max(x) FROM u) AS m FROM t"},
      {L"SELECT a FROM t WHERE b IN (SELECT b FROM c ORDER BY b) ORDER BY a", {L"a"}, L"", L"", L"t",
       L"b IN (SELECT b FROM c ORDER BY b)", L"", L"a",
       L"SELECT a FROM t WHERE b IN (SELECT b FROM c ORDER BY b) ORDER BY a"},
      {L"SELECT * FROM t JOIN (SELECT b FROM c) u ON t.b = u.b", {L"*"}, L"", L"", L"t JOIN (SELECT b FROM c) u ON t.b = u.b",
       L"", L"", L"", L"SELECT * FROM t JOIN (SELECT b FROM c) u ON t.b = u.b"},
  };
  for (const auto& c : cases) expect_parts(c);
  udb_query_parser p;
  ASSERT_TRUE(p.initialize(L"SELECT * FROM t JOIN (SELECT b FROM c) u ON t.b = u.b"));
  EXPECT_EQ(p.sub_parser, nullptr);
}

TEST(query_parser, from_sub_queries_round_trip) {
  udb_query_parser p;
  ASSERT_TRUE(p.initialize(L"SELECT * FROM (SELECT a FROM t) AS s WHERE x = 1"));
  ASSERT_NE(p.sub_parser, nullptr);
  EXPECT_EQ(p.sub_parser->from_part, L"t");
  EXPECT_EQ(p.from_part, L"AS s");
  EXPECT_EQ(p.where_part, L"x = 1");
  EXPECT_EQ(p.get_query(), L"SELECT * FROM (SELECT a FROM t) AS s WHERE x = 1");

  ASSERT_TRUE(p.initialize(L"SELECT * FROM (SELECT a FROM t) WHERE x = 1"));
  EXPECT_EQ(p.from_part, L"");
  EXPECT_EQ(p.where_part, L"x = 1");
  EXPECT_EQ(p.get_query(), L"SELECT * FROM (SELECT a FROM t)  WHERE x = 1");

  ASSERT_TRUE(p.initialize(L"SELECT * FROM (SELECT * FROM (SELECT a FROM t) y) z ORDER BY 1"));
  EXPECT_EQ(p.from_part, L"z");
  EXPECT_EQ(p.order_part, L"1");
  EXPECT_EQ(p.get_query(), L"SELECT * FROM (SELECT * FROM (SELECT a FROM t) y) z ORDER BY 1");
  EXPECT_TRUE(p.is_ok());
  p.sub_parser->sub_parser->ok = false;
  EXPECT_FALSE(p.is_ok());  // the flag is read through every level
}

TEST(query_parser, hostile_texts_fail_cleanly) {
  udb_query_parser p;
  EXPECT_FALSE(p.initialize(L"SELECT a) FROM t"));        // the rest would be dropped silently
  EXPECT_FALSE(p.initialize(L"SELECT f(a FROM t"));       // never closed
  EXPECT_FALSE(p.initialize(L"SELECT * FROM (SELECT a FROM t"));
  EXPECT_FALSE(p.initialize(L"SELECT 'a FROM t"));
  EXPECT_FALSE(p.initialize(L"SELECT [a FROM t"));
  EXPECT_FALSE(p.initialize(L"SELECT a] FROM t"));
  EXPECT_FALSE(p.initialize(L""));
  EXPECT_TRUE(p.initialize(L"SELECT "));

  ASSERT_TRUE(p.initialize(L"SELECT a FROM t WHERE  "));  // the clause would end before it starts
  EXPECT_EQ(p.where_part, L"");
  EXPECT_EQ(p.from_part, L"t");
}

TEST(query_parser, nesting_is_bounded) {
  udb_query_parser p;
  EXPECT_TRUE(p.initialize(nested(udb_query_parser::max_nesting)));
  EXPECT_EQ(p.get_query(), nested(udb_query_parser::max_nesting));
  EXPECT_FALSE(p.initialize(nested(udb_query_parser::max_nesting + 1)));
  EXPECT_FALSE(p.initialize(nested(5000)));
  std::wstring parens = L"SELECT " + std::wstring(100000, L'(') + L"a" + std::wstring(100000, L')') + L" FROM t";
  ASSERT_TRUE(p.initialize(parens));  // plain parentheses cost no recursion
  EXPECT_EQ(p.from_part, L"t");
}

TEST(query_parser, second_initialize_replaces_the_first) {
  udb_query_parser p;
  ASSERT_TRUE(p.initialize(L"SELECT a, b INTO x FROM t WHERE c = 1"));
  const auto first = p.get_query();
  ASSERT_TRUE(p.initialize(L"SELECT a, b INTO x FROM t WHERE c = 1"));
  EXPECT_EQ(p.get_query(), first);
  EXPECT_EQ(p.select_list.size(), 2u);
  ASSERT_TRUE(p.initialize(L"SELECT z FROM u"));
  EXPECT_EQ(p.into_part, L"");
  EXPECT_EQ(p.where_part, L"");
  EXPECT_EQ(p.sub_parser, nullptr);
}

}  // namespace

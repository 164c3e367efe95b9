#include <gtest/gtest.h>

#include "dao/dao_query_rewriter.h"

namespace {

std::wstring rewritten(const std::wstring& text) {
  std::wstring result;
  EXPECT_TRUE(dao_rewrite_query(text, result)) << std::string(text.begin(), text.end());
  return result;
}

TEST(query_rewriter, owneraccess_phrase_is_cut_in_any_case) {
  acc_query_parser upper(L"SELECT a FROM q WITH OWNERACCESS OPTION;");
  ASSERT_TRUE(upper.is_ok());
  EXPECT_EQ(upper.from_part, L"q");
  acc_query_parser lower(L"  SELECT a FROM q with ownerAccess option;");
  ASSERT_TRUE(lower.is_ok());
  EXPECT_EQ(lower.get_query(), L"SELECT a FROM q");
  EXPECT_FALSE(acc_query_parser(L"DELETE FROM q").is_ok());
}

TEST(query_rewriter, names_get_brackets_only_when_plain_names_hold_blanks) {
  EXPECT_EQ(make_safe(L"My Table.My Field"), L"[My Table].[My Field]");
  EXPECT_EQ(make_safe(L"[A B].C"), L"[A B].C");
  EXPECT_EQ(make_safe(L"t.*"), L"t.*");
  EXPECT_EQ(make_safe(L"Sum(x)"), L"Sum(x)");
  EXPECT_EQ(make_safe(L"a_b"), L"a_b");
  EXPECT_EQ(make_safe(L"a b_c"), L"a b_c");  // one unjudgeable character keeps the whole item
  EXPECT_EQ(make_safe(L"Имя Поля.x"), L"[Имя Поля].x");
}

TEST(query_rewriter, concatenation_becomes_concat) {
  EXPECT_EQ(normalize_concat(L"[First Name] & \" \" & [Last Name]"), L"CONCAT([First Name] , \" \" , [Last Name])");
  EXPECT_EQ(normalize_concat(L"UCase(a & b)"), L"UCase(CONCAT(a , b))");
  EXPECT_EQ(normalize_concat(L"'a&b'"), L"'a&b'");
  EXPECT_EQ(normalize_concat(L"[a&b]"), L"[a&b]");
  EXPECT_EQ(normalize_concat(L"a & b, c & d"), L"CONCAT(a , b),CONCAT( c , d)");
  EXPECT_EQ(normalize_concat(L"f(x), a & b"), L"f(x),CONCAT( a , b)");
  // Inside square brackets a comma, a quote or a parenthesis is part of the name.
  EXPECT_EQ(normalize_concat(L"[Last, First] & 'x'"), L"CONCAT([Last, First] , 'x')");
  EXPECT_EQ(normalize_concat(L"[O'Brien] & x"), L"CONCAT([O'Brien] , x)");
  EXPECT_EQ(normalize_concat(L"')' & [x(]"), L"CONCAT(')' , [x(])");
  std::wstring many;
  for (int i = 0; i < 100000; ++i) many += L"a & b,";
  EXPECT_EQ(normalize_concat(many).size(), 100000u * std::wstring(L"CONCAT(a , b),").size());  // in linear time
  EXPECT_EQ(combine_chunks({}, L"x"), L"x");
  EXPECT_EQ(combine_chunks({L"a", L"b"}, L""), L"CONCAT(a,b)");
}

TEST(query_rewriter, select_items_and_order_are_rewritten) {
  EXPECT_EQ(rewritten(L"SELECT [First Name] & \" \" & [Last Name] AS FullName FROM People"),
            L"SELECT CONCAT([First Name] , \" \" , [Last Name]) AS FullName FROM People");
  EXPECT_EQ(rewritten(L"SELECT CAST(x AS INT) AS y FROM t"), L"SELECT CAST(x AS INT) AS y FROM t");
  EXPECT_EQ(rewritten(L"SELECT My Table.My Field FROM t ORDER BY a & b"),
            L"SELECT [My Table].[My Field] FROM t ORDER BY CONCAT(a , b)");
  // FROM, WHERE and GROUP BY stay as written.
  EXPECT_EQ(rewritten(L"SELECT a FROM t WHERE b & c = 'x' GROUP BY d & e"),
            L"SELECT a FROM t WHERE b & c = 'x' GROUP BY d & e");
}

TEST(query_rewriter, unbalanced_or_deep_items_are_rejected) {
  std::wstring result = L"untouched";
  acc_query_parser parser(L"SELECT a FROM t");
  parser.select_list = {L"a) & b"};
  parser.make_ansi();
  EXPECT_FALSE(parser.is_ok());

  bool unclosed = true;
  normalize_concat(L"f(a & b", unclosed);  // the group's text would be lost
  EXPECT_FALSE(unclosed);

  const std::wstring deep = std::wstring(5000, L'(') + L"a & b" + std::wstring(5000, L')');
  bool accepted = true;
  normalize_concat(deep, accepted);
  EXPECT_FALSE(accepted);
  EXPECT_FALSE(dao_rewrite_query(L"SELECT " + deep + L" FROM t", result));
  EXPECT_EQ(result, L"untouched");
}

}  // namespace

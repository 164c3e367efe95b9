// Which names PostgreSQL takes, and the safe names made for the others.
#include <gtest/gtest.h>

#include <string>

#include "pgs/pgs_validator.h"
#include "tk/tk_string.h"

namespace {

std::wstring repeat(const std::wstring& piece, int count) {
  std::wstring text;
  for (int i = 0; i < count; ++i) text += piece;
  return text;
}

}  // namespace

TEST(PgsValidator, AcceptsLettersDigitsAndFewSymbols) {
  pgs_validator v;
  for (const wchar_t* ok : {L"Order Date", L"2010", L"Stra\u00DFe", L"\u0436\u0436", L"a$b.c_d", L"\u8868\u683C"})
    EXPECT_TRUE(v.is_acceptable(ok)) << tk_to_utf8(ok);
  for (const wchar_t* bad : {L"", L"Order-Date", L"_x", L" a", L"a\"b", L"it's", L"a;b", L"tab\there"})
    EXPECT_FALSE(v.is_acceptable(bad)) << tk_to_utf8(bad);
}

TEST(PgsValidator, SafeNamesReplaceAndPrefix) {
  pgs_validator v;
  EXPECT_EQ(v.get_safe_name(L"Order-Date"), L"Order_Date");
  EXPECT_EQ(v.get_safe_name(L"_x"), L"A_x");
  EXPECT_EQ(v.get_safe_name(L""), L"A");
  EXPECT_EQ(v.get_safe_name(L"a\"(b int);drop table c;--"), L"a__b int__drop table c___");
  EXPECT_EQ(v.get_safe_name(L"\"quoted\""), L"A_quoted_");
}

TEST(PgsValidator, LengthIsCountedInUtf8Bytes) {
  pgs_validator v;
  EXPECT_TRUE(v.is_acceptable(repeat(L"a", 63)));
  EXPECT_FALSE(v.is_acceptable(repeat(L"a", 64)));
  EXPECT_EQ(v.get_safe_name(repeat(L"a", 64)), repeat(L"a", 62));
  // 40 Cyrillic letters are 80 bytes: cut to whole letters within 62 bytes.
  EXPECT_FALSE(v.is_acceptable(repeat(L"\u0436", 40)));
  EXPECT_EQ(v.get_safe_name(repeat(L"\u0436", 40)), repeat(L"\u0436", 31));
  // 70 CJK characters are 210 bytes; the result fits and keeps whole characters.
  const std::wstring cjk = v.get_safe_name(repeat(L"\u8868", 70));
  EXPECT_EQ(cjk, repeat(L"\u8868", 20));
  EXPECT_LE(tk_to_utf8(cjk).size(), 63u);
}

TEST(PgsValidator, RestrictedAndUsedNamesGetNumbers) {
  pgs_validator v;
  v.restricted.push_back(L"id");
  EXPECT_FALSE(v.is_acceptable(L"ID"));
  EXPECT_EQ(v.get_safe_name(L"ID"), L"ID00000");
  v.restricted.push_back(L"ID00000");
  EXPECT_EQ(v.get_safe_name(L"id"), L"id00001");
  // Cut names that become equal stay unique through the number.
  const std::wstring long_name = repeat(L"\u0436", 40);
  const std::wstring first = v.get_safe_name(long_name + L"1");
  v.restricted.push_back(first);
  const std::wstring second = v.get_safe_name(long_name + L"2");
  EXPECT_NE(first, second);
  EXPECT_LE(tk_to_utf8(second).size(), 63u);
}

TEST(PgsValidator, SeedingKeepsEveryName) {
  udb_schema columns;
  columns.push_back(std::make_unique<t_ftd>(0, L"A", VT_I4, false, false, ole_variant(), 0));
  columns.push_back(std::make_unique<t_ftd>(0, L"A", VT_I4, false, false, ole_variant(), 0));
  pgs_fn_validator fn(columns);
  EXPECT_EQ(fn.existing.size(), 2u);
  EXPECT_TRUE(fn.is_duplicated(L"a"));

  pgs_tn_validator tn({L"t1"}, {L"t2", L"t1"});
  EXPECT_EQ(tn.existing, (std::vector<std::wstring>{L"t1", L"t2", L"t1"}));

  pgs_in_validator in;
  udb_indexes indexes;
  indexes.push_back(udb_index{L"PrimaryKey", false, true, {L"id"}});
  in.seed(indexes);
  in.seed(indexes);
  EXPECT_EQ(in.existing.size(), 2u);
  EXPECT_THROW(pgs_in_validator second, tk_mail_assertion);
}

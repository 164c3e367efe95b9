// Quoting of names, literals and connection-string values.
#include <gtest/gtest.h>

#include <string>

#include "pgs/pgs_sql_text.h"

namespace {

std::wstring repeat(const std::wstring& piece, int count) {
  std::wstring text;
  for (int i = 0; i < count; ++i) text += piece;
  return text;
}

bool is_whole_utf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const std::size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (i + len > s.size()) return false;
    for (std::size_t k = 1; k < len; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += len;
  }
  return true;
}

}  // namespace

TEST(PgsQuoting, IdentifiersAreQuotedWholeAndLowercasedAsciiOnly) {
  EXPECT_EQ(pgs_quote_ident(L"Order Date", false), "\"order date\"");
  EXPECT_EQ(pgs_quote_ident(L"Price.Net", false), "\"price.net\"");
  EXPECT_EQ(pgs_quote_ident(L"No.", false), "\"no.\"");
  EXPECT_EQ(pgs_quote_ident(L"select", false), "\"select\"");
  EXPECT_EQ(pgs_quote_ident(L"a\"(b int);drop table c;--", false), "\"a\"\"(b int);drop table c;--\"");
  EXPECT_EQ(pgs_quote_ident(L"\u00C4rger", false), "\"\u00C4rger\"");  // only A-Z fold
  EXPECT_EQ(pgs_quote_ident(L"Sheet1", true), "\"Sheet1\"");
}

TEST(PgsQuoting, TableNamesSplitAtTheFirstDotOnly) {
  EXPECT_EQ(pgs_quote_table(L"Sales.Sheet1", false), "\"sales\".\"sheet1\"");
  EXPECT_EQ(pgs_quote_table(L"a.b.c", false), "\"a\".\"b.c\"");
  EXPECT_EQ(pgs_quote_table(L"plain", false), "\"plain\"");
  EXPECT_EQ(pgs_quote_table(L"s\".t\"", false), "\"s\"\"\".\"t\"\"\"");
}

TEST(PgsQuoting, LongNamesFitSixtyThreeBytesWholeAndStayDistinct) {
  const std::wstring cyrillic = repeat(L"\u0436", 70);  // 140 bytes
  const std::wstring cjk = repeat(L"\u8868", 70);       // 210 bytes
  for (const std::wstring& name : {cyrillic, cjk, repeat(L"x", 64)}) {
    const std::string fitted = pgs_object_name(name, false);
    EXPECT_LE(fitted.size(), pgs_max_name_bytes);
    EXPECT_TRUE(is_whole_utf8(fitted));
    EXPECT_EQ(fitted, pgs_object_name(name, false)) << "fitting must be deterministic";
  }
  // Names that share the kept prefix differ in their hash suffix.
  EXPECT_NE(pgs_object_name(cyrillic + L"1", false), pgs_object_name(cyrillic + L"2", false));
  // At the limit nothing changes.
  const std::wstring exact = repeat(L"y", 63);
  EXPECT_EQ(pgs_object_name(exact, false), std::string(63, 'y'));
  EXPECT_EQ(pgs_fit_name(std::string(64, 'y')).substr(0, 55), std::string(54, 'y') + "_");
}

TEST(PgsQuoting, LiteralsDoubleApostrophesOnly) {
  EXPECT_EQ(pgs_sql_literal(std::string("O'Brien")), "'O''Brien'");
  EXPECT_EQ(pgs_sql_literal(std::string("a\\b")), "'a\\b'");
  EXPECT_EQ(pgs_sql_literal(std::string("x');drop table t;--")), "'x'');drop table t;--'");
  EXPECT_EQ(pgs_sql_literal(std::wstring(L"it's")), L"'it''s'");
  EXPECT_EQ(pgs_sql_literal(std::string()), "''");
}

TEST(PgsConninfo, ValuesAreQuotedAndEmptyItemsLeftOut) {
  EXPECT_EQ(pgs_conninfo_value("p w'x\\y"), "'p w\\'x\\\\y'");
  EXPECT_EQ(pgs_conninfo_value(""), "''");

  const pgs_conninfo full = pgs_build_conninfo("db.example", "bob", "s3cret", "sales", 5433);
  EXPECT_EQ(full.primary,
            "user='bob' password='s3cret' host='db.example' dbname='sales' port='5433' connect_timeout='10'");
  EXPECT_EQ(full.fallback, "user='bob' password='s3cret' host='db.example' port='5433' connect_timeout='10'");

  const pgs_conninfo bare = pgs_build_conninfo("", "", "", "postgres", 0);
  EXPECT_EQ(bare.primary, "dbname='postgres' connect_timeout='10'");
  EXPECT_EQ(bare.fallback, "connect_timeout='10'");

  // An unquoted "password= host=h" would swallow the host; quoted, each value stays its own.
  const pgs_conninfo tricky = pgs_build_conninfo("h", "u", " host=evil", "d b", 0);
  EXPECT_EQ(tricky.primary, "user='u' password=' host=evil' host='h' dbname='d b' connect_timeout='10'");
}

TEST(PgsConninfo, SecretsAreMaskedInTexts) {
  EXPECT_EQ(pgs_mask_secret("failed for pw hunter2 and hunter2", "hunter2"), "failed for pw *** and ***");
  EXPECT_EQ(pgs_mask_secret("nothing here", ""), "nothing here");
}

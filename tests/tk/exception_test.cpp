#include "tk/tk_exception.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace {

TEST(TkException, UnknownTextForEmptyOrLevelOnly) {
  const tk_exception level_only(1);
  EXPECT_STREQ(level_only.what(), "Unknown exception");
  EXPECT_EQ(level_only.code(), 0);
  EXPECT_EQ(level_only.level(), 1);

  const tk_exception empty_text(std::string(), 1);
  EXPECT_EQ(empty_text.message(), "Unknown exception");
  EXPECT_EQ(empty_text.code(), 0);

  const tk_exception text("Cannot open", 0);
  EXPECT_EQ(text.message(), "Cannot open");
  EXPECT_EQ(text.level(), 0);
}

TEST(TkException, WideTextIsStoredAsUtf8) {
  const tk_exception e(std::wstring(L"Bl\u00e4tter \u20ac"), 1);
  EXPECT_EQ(e.message(), "Bl\xc3\xa4tter \xe2\x82\xac");
}

TEST(TkException, FormatFormTakesLongArgumentsWhole) {
  const std::string big(100 * 1024, 'x');
  const tk_exception e("Table %s not found", big, 1);
  EXPECT_EQ(e.message(), "Table " + big + " not found");
  const tk_exception wide(L"Sheet %s", std::wstring(L"\u00c4"), 0);
  EXPECT_EQ(wide.message(), "Sheet \xc3\x84");
}

TEST(TkException, CopyKeepsMessageCodeAndLevel) {
  errno = ENOENT;
  const tk_exception_ex original("Cannot open: ", 0);
  const tk_exception_ex copy(original);  // NOLINT
  EXPECT_EQ(copy.message(), original.message());
  EXPECT_EQ(copy.code(), ENOENT);
  EXPECT_EQ(copy.level(), 0);
}

TEST(TkExceptionEx, PrefixFollowedBySystemText) {
  const tk_exception_ex e("Cannot open file: ", 1, EACCES);
  EXPECT_EQ(e.code(), EACCES);
  EXPECT_EQ(e.message(), "Cannot open file: Permission denied");

  const tk_exception_ex zero("x: ", 0, 0);
  EXPECT_EQ(zero.code(), 0);
  EXPECT_GT(zero.message().size(), std::string("x: ").size());

  errno = EISDIR;
  const tk_exception_ex from_errno;
  EXPECT_EQ(from_errno.code(), EISDIR);
  EXPECT_EQ(from_errno.level(), 1);
  EXPECT_EQ(from_errno.message(), "Is a directory");
}

TEST(TkMailAssertion, CodeIsHexOfSiteText) {
  const tk_mail_assertion file_site("tk_file", 20);
  EXPECT_EQ(file_site.message(), "Internal error: \ncode=746b5f66696c655c3230");
  EXPECT_EQ(file_site.level(), 2);
  EXPECT_EQ(file_site.code(), 0);

  const tk_mail_assertion singleton_site("..\\TK/tk_singl", 59);
  EXPECT_EQ(singleton_site.message(), "Internal error: \ncode=2e2e5c544b2f746b5f73696e676c5c3539");
}

TEST(TkMailAssertion, MacrosThrowWithTheirSite) {
  try {
    TK_ASSERT_SITE("tk_file", 20);
    FAIL() << "no throw";
  } catch (const tk_exception& e) {
    EXPECT_EQ(e.message(), tk_mail_assertion::make_message("tk_file", 20));
    EXPECT_EQ(e.level(), tk_level_internal);
  }
  EXPECT_NO_THROW(TK_ASSERT(1 + 1 == 2, "tk_file", 20));
  EXPECT_THROW(TK_ASSERT(false, "tk_file", 20), tk_mail_assertion);
}

TEST(TkFinalException, PassesTkExceptionHandlers) {
  bool caught_as_tk = false;
  bool caught_as_std = false;
  try {
    try {
      throw tk_final_exception();
    } catch (const tk_exception&) {
      caught_as_tk = true;
    }
  } catch (const std::exception&) {
    caught_as_std = true;
  }
  EXPECT_FALSE(caught_as_tk);
  EXPECT_TRUE(caught_as_std);
}

}  // namespace

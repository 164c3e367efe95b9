#include "tk/tk_format.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(TkFormat, PercentSTakesNarrowAndWideText) {
  const std::wstring wide = L"\u00e4\u20ac\U0001F600";
  const wchar_t* wide_c = L"Sheet1$";
  EXPECT_EQ(tk_format("%s|%s|%s|%s", std::string("a"), "b", wide, wide_c),
            "a|b|\xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80|Sheet1$");
  EXPECT_EQ(tk_format(L"%s=%d", std::wstring(L"n"), 5), "n=5");
  EXPECT_EQ(tk_wformat(L"%s-%s", "\xc3\xa4", std::wstring(L"\u00e9")), L"\u00e4-\u00e9");
  EXPECT_EQ(tk_wformat("%s", static_cast<const wchar_t*>(nullptr)), L"(null)");
}

TEST(TkFormat, WindowsConversionFormsAreAccepted) {
  EXPECT_EQ(tk_format("%I64d/%I64u", -5LL, 7ULL), "-5/7");
  EXPECT_EQ(tk_format("%S and %C", "narrow", 'c'), "narrow and c");
  EXPECT_EQ(tk_format("%ws", std::wstring(L"w")), "w");
  EXPECT_EQ(tk_format("%08X %02d:%02d 100%%", 0xABCu, 9, 5), "00000ABC 09:05 100%");
  // A text that merely contains these letters is left alone.
  EXPECT_EQ(tk_format("SELECT * FROM [%s] WHERE I=1", "Sheet1$"), "SELECT * FROM [Sheet1$] WHERE I=1");
}

TEST(TkFormat, MismatchDoesNotThrow) {
  std::string text;
  EXPECT_NO_THROW(text = tk_format("%d rows", std::string("x")));
  EXPECT_NE(text.find("%d rows"), std::string::npos);
  EXPECT_NO_THROW(text = tk_format("%s and %s", "one"));
  EXPECT_NE(text.find("format error"), std::string::npos);
}

TEST(TkFormat, NumbersIgnoreTheLocale) {
  const char* previous = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = previous ? previous : "C";
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 locale not installed";
  const std::string text = tk_format("%.2f", 1.5);
  std::setlocale(LC_NUMERIC, saved.c_str());
  EXPECT_EQ(text, "1.50");
}

}  // namespace

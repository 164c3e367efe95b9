#include "tk/tk_string.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace {

using namespace std::string_literals;

TEST(TkStringConversion, Utf8RoundTripsAllPlanes) {
  EXPECT_EQ(tk_to_utf8(L"\u00e4"), "\xc3\xa4");
  EXPECT_EQ(tk_to_utf8(L"\U0001F600"), "\xf0\x9f\x98\x80");
  EXPECT_EQ(tk_utf8_to_unicode("\xf0\x9f\x98\x80"), L"\U0001F600");
  const std::wstring mixed = L"a\u00e4\u20ac\U00010348z";
  EXPECT_EQ(tk_utf8_to_unicode(tk_to_utf8(mixed)), mixed);
  EXPECT_EQ(tk_to_ansi(mixed), tk_to_utf8(mixed));
  EXPECT_EQ(tk_ansi_to_unicode(tk_to_utf8(mixed)), mixed);
  EXPECT_EQ(tk_to_utf8(L""), "");
  EXPECT_EQ(tk_utf8_to_unicode(""), L"");
  // A byte-order mark is an ordinary character here.
  EXPECT_EQ(tk_utf8_to_unicode("\xef\xbb\xbf" "a"), L"\ufeffa");
}

TEST(TkStringConversion, InvalidUtf8BecomesReplacementCharacters) {
  EXPECT_EQ(tk_utf8_to_unicode("\xc3\x28"), L"\ufffd(");
  EXPECT_EQ(tk_utf8_to_unicode("\xc0\xaf"), L"\ufffd\ufffd");          // overlong
  EXPECT_EQ(tk_utf8_to_unicode("\xed\xa0\x80"), L"\ufffd\ufffd\ufffd");  // surrogate
  EXPECT_EQ(tk_utf8_to_unicode("a\xe2\x82"), L"a\ufffd");               // cut off at the end
  EXPECT_EQ(tk_utf8_to_unicode("\xf4\x90\x80\x80"), L"\ufffd\ufffd\ufffd\ufffd");  // above U+10FFFF
  EXPECT_EQ(tk_utf8_to_unicode("\xff" "b"), L"\ufffdb");
}

TEST(TkStringConversion, UnencodableWideValuesBecomeReplacement) {
  std::wstring bad;
  bad.push_back(static_cast<wchar_t>(0xD800));
  bad.push_back(static_cast<wchar_t>(0x110000));
  EXPECT_EQ(tk_to_utf8(bad), "\xef\xbf\xbd\xef\xbf\xbd");
}

TEST(TkStringConversion, TextAfterEmbeddedNulIsDropped) {
  EXPECT_EQ(tk_utf8_to_unicode("ab\0cd"s), L"ab");
  EXPECT_EQ(tk_to_utf8(L"ab\0cd"s), "ab");
}

TEST(TkStringConversion, CStringHoldersAndCp1252) {
  tk_free_buffer<char> narrow;
  EXPECT_FALSE(tk_to_narrow(nullptr, narrow));
  EXPECT_EQ(narrow.get(), nullptr);
  ASSERT_TRUE(tk_to_narrow(L"\u00e4", narrow));
  EXPECT_STREQ(narrow.get(), "\xc3\xa4");
  tk_free_buffer<wchar_t> wide;
  EXPECT_FALSE(tk_to_wide(nullptr, wide));
  ASSERT_TRUE(tk_to_wide("\xc3\xa4", wide));
  EXPECT_STREQ(wide.get(), L"\u00e4");

  EXPECT_EQ(tk_cp1252_to_unicode("\x80 \xe4\x81z"), L"\u20ac \u00e4\ufffdz");
}

TEST(TkStringCompare, FoldsCaseBeyondAscii) {
  EXPECT_EQ(tk_compare_no_case(L"Sheet1", L"SHEET1"), 0);
  EXPECT_EQ(tk_compare_no_case("Sheet1", "SHEET1"), 0);
  EXPECT_EQ(tk_compare_no_case(L"\u00c4PFEL", L"\u00e4pfel"), 0);
  EXPECT_EQ(tk_compare_no_case("\xc3\x84PFEL", "\xc3\xa4pfel"), 0);
  EXPECT_EQ(tk_compare_no_case(L"\u03a3\u039f\u03a6\u0399\u0391", L"\u03c3\u03bf\u03c6\u03b9\u03b1"), 0);  // Greek
  EXPECT_EQ(tk_compare_no_case(L"\u03c2", L"\u03a3"), 0);  // final sigma
  EXPECT_NE(tk_compare_no_case(L"stra\u00dfe", L"STRASSE"), 0);  // simple folding: no expansion
  EXPECT_LT(tk_compare_no_case(L"abc", L"ABD"), 0);
  EXPECT_GT(tk_compare_no_case(L"abd", L"ABC"), 0);
  EXPECT_LT(tk_compare_no_case(L"ab", L"ABC"), 0);
  EXPECT_GT(tk_compare_no_case("b", "A"), 0);
}

TEST(TkStringCompare, ResultsDoNotDependOnTheLocale) {
  const char* previous = std::setlocale(LC_ALL, nullptr);
  const std::string saved = previous ? previous : "C";
  if (!std::setlocale(LC_ALL, "tr_TR.UTF-8")) GTEST_SKIP() << "tr_TR.UTF-8 locale not installed";
  const int file = tk_compare_no_case(L"FILE", L"file");
  const int narrow_file = tk_compare_no_case("FILE", "file");
  const int dotted = tk_compare_no_case(L"\u0130", L"i");
  const bool alnum = tk_is_alnum(U'I');
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_EQ(file, 0);
  EXPECT_EQ(narrow_file, 0);
  EXPECT_NE(dotted, 0);  // the default folding leaves the dotted capital I alone
  EXPECT_TRUE(alnum);
}

TEST(TkStringCompare, LetterOrDigitInAnyScript) {
  EXPECT_TRUE(tk_is_alnum(U'a'));
  EXPECT_TRUE(tk_is_alnum(U'7'));
  EXPECT_TRUE(tk_is_alnum(U'\u00e4'));
  EXPECT_TRUE(tk_is_alnum(U'\u0416'));  // Cyrillic
  EXPECT_TRUE(tk_is_alnum(U'\u0663'));  // Arabic-Indic digit
  EXPECT_FALSE(tk_is_alnum(U'_'));
  EXPECT_FALSE(tk_is_alnum(U' '));
  EXPECT_FALSE(tk_is_alnum(U'\u20ac'));
  EXPECT_FALSE(tk_is_alnum(static_cast<char32_t>(0x110000)));
}

TEST(TkStringTrim, BlanksOnly) {
  EXPECT_EQ(tk_trim("   "), "");
  EXPECT_EQ(tk_trim(L" a b "), L"a b");
  EXPECT_EQ(tk_trim("\ta"), "\ta");
  EXPECT_EQ(tk_trim_left(L"  x "), L"x ");
  EXPECT_EQ(tk_trim_right("  x \n"), "  x \n");
  EXPECT_EQ(tk_trim(L""), L"");
  std::wstring text = L"  in place  ";
  tk_trim_left_in_place(text);
  EXPECT_EQ(text, L"in place  ");
  tk_trim_right_in_place(text);
  EXPECT_EQ(text, L"in place");
  std::wstring blanks = L"   ";
  tk_trim_right_in_place(blanks);
  EXPECT_EQ(blanks, L"");
}

TEST(TkStringEdit, LowerCaseChangesAsciiOnlyAndReturnsCopy) {
  std::string narrow = "AbC\xc3\x84";
  EXPECT_EQ(tk_string::to_lower(narrow), "abc\xc3\x84");
  EXPECT_EQ(narrow, "abc\xc3\x84");
  std::wstring wide = L"SHEET\u00c4";
  EXPECT_EQ(tk_wstring::to_lower(wide), L"sheet\u00c4");
  EXPECT_EQ(wide, L"sheet\u00c4");
}

TEST(TkStringEdit, ReplaceAllScansOnAfterInsertedText) {
  std::wstring text = L"a.b.c";
  EXPECT_EQ(tk_wstring::replace_all(text, L".", L".."), L"a..b..c");
  EXPECT_EQ(text, L"a..b..c");
  std::wstring unchanged = L"abc";
  EXPECT_EQ(tk_wstring::replace_all(unchanged, L"", L"x"), L"abc");
  std::wstring quotes = L"O'Brien's";
  EXPECT_EQ(tk_wstring::replace_all(quotes, L"'", L"''"), L"O''Brien''s");
}

TEST(TkStringLists, SplitKeepsEmptyPiecesAndJoinInverts) {
  EXPECT_TRUE(tk_split(L"", L',').empty());
  EXPECT_EQ(tk_split(L"a,,b", L','), (std::vector<std::wstring>{L"a", L"", L"b"}));
  EXPECT_EQ(tk_split(L"a,", L','), (std::vector<std::wstring>{L"a", L""}));
  EXPECT_EQ(tk_split(L"abc", L','), (std::vector<std::wstring>{L"abc"}));
  EXPECT_EQ(tk_join({}, L','), L"");
  EXPECT_EQ(tk_join(tk_split(L"a,,b,", L','), L','), L"a,,b,");
}

TEST(TkStringMisc, HexAndClipboard) {
  const unsigned char bytes[] = {0x0A, 0xFF};
  EXPECT_EQ(tk_to_hex(bytes, 2), "0AFF");
  EXPECT_EQ(tk_to_hex(bytes, 0), "");

  std::wstring copied;
  tk_set_clipboard_sink([&](const std::wstring& text) {
    copied = text;
    return true;
  });
  tk_copy_to_clipboard2(L"Fehler \u00e4");
  tk_set_clipboard_sink(nullptr);
  EXPECT_EQ(copied, L"Fehler \u00e4");
  EXPECT_NO_THROW(tk_copy_to_clipboard2(L"nobody listens"));
}

}  // namespace

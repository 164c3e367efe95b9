// The scanner's run test and the platform's UTF-8 check against a code-point-by-code-point
// reference: where a text stops being plain XML character data, or well-formed UTF-8.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/unicode_text.h"
#include "workbook/xlsx/wb_xml_chars.h"

namespace {

// The code point at `i` with its length, or length 0 when the bytes there are no well-formed
// UTF-8: every way a sequence fails (overlong, surrogate, above U+10FFFF, cut short) is decoded
// and judged by its value.
std::pair<char32_t, std::size_t> decode_one(const std::string& s, std::size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) return {c, 1};
  std::size_t n;
  char32_t cp;
  if ((c & 0xE0) == 0xC0) n = 2, cp = c & 0x1F;
  else if ((c & 0xF0) == 0xE0) n = 3, cp = c & 0x0F;
  else if ((c & 0xF8) == 0xF0) n = 4, cp = c & 0x07;
  else return {0, 0};
  if (i + n > s.size()) return {0, 0};
  for (std::size_t k = 1; k < n; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) return {0, 0};
    cp = (cp << 6) | (b & 0x3F);
  }
  static const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {0, 0};
  return {cp, n};
}

std::size_t reference_utf8(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto [cp, n] = decode_one(s, i);
    if (n == 0) return i;
    i += n;
  }
  return i;
}

std::size_t reference_xml(const std::string& s, bool attribute) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto [cp, n] = decode_one(s, i);
    if (n == 0 || cp == 0xFFFE || cp == 0xFFFF || cp == '&' || cp == '<' || cp == '\r') return i;
    if (cp < 0x20 && (attribute || (cp != '\t' && cp != '\n'))) return i;
    i += n;
  }
  return i;
}

std::size_t reference_count(const std::string& s) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < s.size(); i += decode_one(s, i).second) ++count;
  return count;
}

void expect_all_agree(const std::string& s) {
  SCOPED_TRACE(::testing::PrintToString(s));
  EXPECT_EQ(wb_xml_plain_prefix(s, false), reference_xml(s, false));
  EXPECT_EQ(wb_xml_plain_prefix(s, true), reference_xml(s, true));
  const std::size_t valid = reference_utf8(s);
  EXPECT_EQ(platform::utf8_valid_prefix(s), valid);
  EXPECT_EQ(platform::utf8_count_code_points(s.substr(0, valid)), reference_count(s.substr(0, valid)));
}

}  // namespace

TEST(XmlChars, PlainRunsAndUtf8ChecksAgreeWithTheReferenceAtEveryOffset) {
  const std::vector<std::string> pieces = {
      "\xC0\x80", "\xC1\xBF", "\xE0\x80\x80", "\xE0\x9F\xBF", "\xF0\x8F\xBF\xBF",  // overlong
      "\xED\xA0\x80", "\xED\xBF\xBF",                                              // surrogates
      "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF", "\xFE",                      // above U+10FFFF
      "\x80", "\xBF", "\xE2\x82", "\xF0\x9F\x98", "\xC3",                          // cut short, lone
      "\xEF\xBF\xBE", "\xEF\xBF\xBF", "\xEF\xBF\xBD", "\xF4\x8F\xBF\xBF",          // U+FFFE, U+FFFF, fine
      "\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xED\x9F\xBF", "\xF0\x90\x80\x80",  // the least and most of each
      "\xF0\x9F\x98\x80", "\xD0\x96", "\xE2\x82\xAC",                              // common
      "&", "<", ">", "\r", "\n", "\t", std::string(1, '\0'), "\x01", "\x1F", "\x7F", " ", "\\"};
  // Each piece at every position of an ASCII run and at its end, where the sixteen-byte and the
  // eight-byte steps give way to the byte-by-byte ones.
  for (const auto& piece : pieces)
    for (std::size_t before = 0; before <= 34; ++before)
      for (const std::size_t after : {0, 1, 7, 15, 16, 17, 40}) {
        expect_all_agree(std::string(before, 'a') + piece + std::string(after, 'b'));
        expect_all_agree(std::string(before, 'a') + "\xD0\x96\xE2\x82\xAC" + piece + std::string(after, 'b'));
      }
  // Random mixtures of the pieces and ASCII.
  std::mt19937 random(23);
  for (int round = 0; round < 20000; ++round) {
    std::string s;
    const int parts = static_cast<int>(random() % 12);
    for (int p = 0; p < parts; ++p) {
      if (random() % 3 == 0) s += pieces[random() % pieces.size()];
      else s += std::string(random() % 20, static_cast<char>('a' + random() % 26));
    }
    expect_all_agree(s);
  }
}

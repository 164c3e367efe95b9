#pragma once
// Locale-free Unicode primitives: UTF-8 <-> UTF-32 codec and the character
// properties the rest of the system needs (ICU simple case folding, alnum).

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

/// Length of the well-formed UTF-8 sequence that starts `bytes` (1 to 4), or 0 when it is
/// ill-formed or cut short: an overlong form, a surrogate, a value above U+10FFFF (Unicode table
/// 3-7). Empty input gives 0.
inline int utf8_sequence_length(std::string_view bytes) {
  if (bytes.empty()) return 0;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const unsigned char lead = p[0];
  if (lead < 0x80) return 1;
  int len;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's range
  if (lead >= 0xC2 && lead <= 0xDF) len = 2;
  else if (lead >= 0xE0 && lead <= 0xEF) len = 3, low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
  else if (lead >= 0xF0 && lead <= 0xF4) len = 4, low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
  else return 0;
  if (bytes.size() < static_cast<std::size_t>(len) || p[1] < low || p[1] > high) return 0;
  for (int k = 2; k < len; ++k)
    if ((p[k] & 0xC0) != 0x80) return 0;
  return len;
}

/// Length of the longest prefix of `bytes` that is well-formed UTF-8 of whole sequences (the
/// whole length when all of it is). Runs of ASCII are checked eight bytes at a time.
std::size_t utf8_valid_prefix(std::string_view bytes);

/// Code points of well-formed UTF-8 (bytes that are no continuation byte), counted a word at a
/// time.
std::size_t utf8_count_code_points(std::string_view utf8);

/// Decodes UTF-8; each maximal invalid subpart becomes U+FFFD. Never throws
/// except std::bad_alloc. Embedded NULs are decoded like any other character.
std::u32string utf8_decode(std::string_view bytes);

/// Appends the UTF-8 form of one code point; surrogates and values above
/// U+10FFFF are written as U+FFFD.
void utf8_append(std::string& out, char32_t c);

/// Encodes UTF-32 code points as UTF-8 (invalid code points as U+FFFD).
std::string utf8_encode(std::u32string_view text);

/// ICU simple (one-to-one) default case folding; independent of the locale.
char32_t fold_case(char32_t c);

/// ICU u_isalnum: a letter or a decimal digit.
bool is_alnum(char32_t c);

}  // namespace platform

#pragma once
// Locale-free Unicode primitives: UTF-8 <-> UTF-32 codec and the character
// properties the rest of the system needs (ICU simple case folding, alnum).

#include <string>
#include <string_view>

namespace platform {

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

#pragma once
// UTF-16 and Latin-1 text of the file to UTF-8. Lone surrogates become U+FFFD.
#include <cstdint>
#include <string>
#include <string_view>

/// Appends UTF-16 code units one at a time; a pair split between two calls is still joined.
class wb_utf8_builder {
 public:
  explicit wb_utf8_builder(std::string& out) : out_(out) {}
  void put_utf16(char16_t unit);
  /// One byte per character: U+0000-U+00FF.
  void put_latin1(unsigned char byte);
  /// Ends the text: a high surrogate still waiting becomes U+FFFD.
  void finish();

 private:
  void put_code_point(char32_t cp);
  std::string& out_;
  char16_t pending_high_ = 0;
};

std::string wb_utf16_to_utf8(std::u16string_view text);

#pragma once
// Byte strings of Excel 5.0/95 workbooks: their characters are in the code page the CODEPAGE record
// names. Single-byte pages decode through a 256-entry table; double-byte pages (932, 936, 949, 950)
// through an ICU converter kept per reading thread, so one object may serve several threads.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class wb_xls_code_page {
 public:
  /// Latin-1, the meaning of one-byte characters in BIFF8 strings.
  wb_xls_code_page();
  /// The code page of a CODEPAGE record; throws wb_xls_unreadable for a number that is no code page
  /// of Excel and for one that cannot be decoded here.
  explicit wb_xls_code_page(std::uint16_t number);

  std::uint16_t number() const { return number_; }
  /// Appends the UTF-8 of `length` bytes; bytes that are no character of the page become U+FFFD.
  void append(const unsigned char* bytes, std::size_t length, std::string& out) const;

 private:
  std::uint16_t number_ = 1200;
  std::string converter_;           // ICU name; empty when the table decodes
  std::array<char16_t, 256> table_{};  // single-byte pages: the character of each byte
};

#include "workbook/xls/utf8_text.h"

void wb_utf8_builder::put_code_point(char32_t cp) {
  if (cp < 0x80) {
    out_.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out_.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out_.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out_.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out_.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out_.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out_.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out_.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out_.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out_.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void wb_utf8_builder::put_utf16(char16_t unit) {
  if (pending_high_ != 0) {
    if (unit >= 0xDC00 && unit <= 0xDFFF) {
      put_code_point(0x10000 + ((static_cast<char32_t>(pending_high_) - 0xD800) << 10) + (unit - 0xDC00));
      pending_high_ = 0;
      return;
    }
    put_code_point(0xFFFD);
    pending_high_ = 0;
  }
  if (unit >= 0xD800 && unit <= 0xDBFF) {
    pending_high_ = unit;
  } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
    put_code_point(0xFFFD);
  } else {
    put_code_point(unit);
  }
}

void wb_utf8_builder::put_latin1(unsigned char byte) {
  if (pending_high_ != 0) {
    put_code_point(0xFFFD);
    pending_high_ = 0;
  }
  put_code_point(byte);
}

void wb_utf8_builder::finish() {
  if (pending_high_ != 0) put_code_point(0xFFFD);
  pending_high_ = 0;
}

std::string wb_utf16_to_utf8(std::u16string_view text) {
  std::string out;
  wb_utf8_builder b(out);
  for (char16_t c : text) b.put_utf16(c);
  b.finish();
  return out;
}

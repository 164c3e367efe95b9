#include "workbook/xls/code_page.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ucnv_err.h>

#include <memory>
#include <utility>
#include <vector>

#include "workbook/xls/utf8_text.h"
#include "workbook/xls/xls_failure.h"

namespace {

struct converter_closer {
  void operator()(UConverter* c) const { ucnv_close(c); }
};
using converter_ptr = std::unique_ptr<UConverter, converter_closer>;

// Every byte sequence that is no character of the page becomes U+FFFD (ICU's own substitute is
// U+001A for some single-byte pages).
void to_replacement_character(const void*, UConverterToUnicodeArgs* args, const char*, int32_t,
                              UConverterCallbackReason reason, UErrorCode* err) {
  if (reason > UCNV_IRREGULAR) return;  // reset, close, clone: nothing to write
  static const UChar replacement = 0xFFFD;
  *err = U_ZERO_ERROR;
  ucnv_cbToUWriteUChars(args, &replacement, 1, 0, err);
}

converter_ptr open_converter(const std::string& name) {
  UErrorCode err = U_ZERO_ERROR;
  converter_ptr c(ucnv_open(name.c_str(), &err));
  if (U_FAILURE(err) || !c) return nullptr;
  err = U_ZERO_ERROR;
  ucnv_setToUCallBack(c.get(), to_replacement_character, nullptr, nullptr, nullptr, &err);
  return U_FAILURE(err) ? nullptr : std::move(c);
}

// The ICU converter of each code page a CODEPAGE record of Excel names; "" for a number that is
// none of them, which is refused rather than read as whatever ICU happens to call by that number
// (the EBCDIC pages among 437-869, for one). The Mac pages of Excel that ICU has no table for
// (Japanese, Chinese, Korean, Arabic, Hebrew, Thai, Icelandic, Croatian) and Johab (1361) are
// named, so a workbook in them is refused as one ICU cannot decode.
std::string converter_name(std::uint16_t number) {
  switch (number) {
    case 367: return "US-ASCII";
    case 437: case 720: case 737: case 775: case 850: case 852: case 855: case 857: case 858:
    case 860: case 861: case 862: case 863: case 864: case 865: case 866: case 869:
      return "ibm-" + std::to_string(number);  // the OEM (MS-DOS) pages
    case 874: case 932: case 936: case 949: case 950: case 1361:
    case 1250: case 1251: case 1252: case 1253: case 1254: case 1255: case 1256: case 1257: case 1258:
      return "windows-" + std::to_string(number);
    case 10000:
    case 32768: return "macintosh";  // 32768: the Apple Roman of early Macintosh versions
    case 10001: return "x-mac-japanese";
    case 10002: return "x-mac-chinesetrad";
    case 10003: return "x-mac-korean";
    case 10004: return "x-mac-arabic";
    case 10005: return "x-mac-hebrew";
    case 10006: return "x-mac-greek";
    case 10007: return "x-mac-cyrillic";
    case 10008: return "x-mac-chinesesimp";
    case 10021: return "x-mac-thai";
    case 10029: return "x-mac-centraleurroman";
    case 10079: return "x-mac-icelandic";
    case 10081: return "x-mac-turkish";
    case 10082: return "x-mac-croatian";
    case 32769: return "windows-1252";  // 32769: the Windows 3.x page of early versions
    default: return "";
  }
}

// One converter per double-byte page and reading thread, opened at its first string: a converter
// holds state between calls, so threads cannot share one, and opening one per string was the cost.
UConverter* thread_converter(const std::string& name) {
  thread_local std::vector<std::pair<std::string, converter_ptr>> open;
  for (auto& [n, c] : open)
    if (n == name) return c.get();
  converter_ptr c = open_converter(name);
  if (!c) return nullptr;
  open.emplace_back(name, std::move(c));
  return open.back().second.get();
}

}  // namespace

wb_xls_code_page::wb_xls_code_page() {
  for (std::size_t b = 0; b < table_.size(); ++b) table_[b] = static_cast<char16_t>(b);
}

wb_xls_code_page::wb_xls_code_page(std::uint16_t number) : wb_xls_code_page() {
  number_ = number;
  if (number == 1200) return;  // UTF-16: a byte string holds the low bytes of its code units
  const std::string name = converter_name(number);
  if (name.empty())
    throw wb_xls_unreadable("code page " + std::to_string(number) + " is not supported: it is no code page of Excel");
  converter_ptr c = open_converter(name);
  if (!c)
    throw wb_xls_unreadable("code page " + std::to_string(number) +
                            " is not supported: no converter for it is installed");
  if (ucnv_getMaxCharSize(c.get()) > 1) {
    converter_ = name;
    return;
  }
  for (std::size_t b = 0; b < table_.size(); ++b) {
    const char byte = static_cast<char>(b);
    UChar unit[2];
    UErrorCode err = U_ZERO_ERROR;
    ucnv_reset(c.get());
    const int32_t n = ucnv_toUChars(c.get(), unit, 2, &byte, 1, &err);
    table_[b] = U_SUCCESS(err) && n == 1 ? static_cast<char16_t>(unit[0]) : u'\uFFFD';
  }
}

void wb_xls_code_page::append(const unsigned char* bytes, std::size_t length, std::string& out) const {
  if (converter_.empty()) {
    wb_utf8_builder b(out);
    for (std::size_t i = 0; i < length; ++i) b.put_utf16(table_[bytes[i]]);
    b.finish();
    return;
  }
  if (length == 0) return;
  UConverter* c = thread_converter(converter_);
  if (!c) throw wb_xls_unreadable("the converter of code page " + std::to_string(number_) + " cannot be opened");
  ucnv_resetToUnicode(c);
  // A double-byte page gives at most one UTF-16 unit per byte, plus a replacement for a cut last byte.
  std::vector<UChar> units(length + 2);
  UErrorCode err = U_ZERO_ERROR;
  const int32_t n = ucnv_toUChars(c, units.data(), static_cast<int32_t>(units.size()),
                                  reinterpret_cast<const char*>(bytes), static_cast<int32_t>(length), &err);
  if (U_FAILURE(err)) throw wb_xls_unreadable("a text cannot be decoded from code page " + std::to_string(number_));
  out += wb_utf16_to_utf8(
      std::u16string_view(reinterpret_cast<const char16_t*>(units.data()), static_cast<std::size_t>(n)));
}

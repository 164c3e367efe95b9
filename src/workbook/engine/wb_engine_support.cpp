#include "workbook/engine/wb_engine_support.h"

#include "platform/unicode_text.h"
#include "tk/tk_string.h"

std::wstring wb_widen(std::string_view utf8) {
  std::wstring wide(utf8.size(), L'\0');
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c >= 0x80) {
      const std::u32string decoded = platform::utf8_decode(utf8);
      return std::wstring(decoded.begin(), decoded.end());
    }
    wide[i] = static_cast<wchar_t>(c);
  }
  return wide;
}
std::string wb_narrow(std::wstring_view text) { return tk_to_utf8(text); }

wb_error wb_no_current_row() { return wb_error(wb_err_no_current_record, "There is no current row."); }
wb_error wb_read_only() { return wb_error(wb_err_read_only, "The workbook is open read-only."); }
wb_error wb_closed() { return wb_error(wb_err_closed, "The object has been closed."); }
wb_error wb_not_supported() {
  return wb_error(wb_err_not_supported, "This operation is not supported on a workbook.");
}
wb_error wb_no_item(const std::wstring& name) {
  return wb_error(wb_err_no_such_item, "No item named '" + wb_narrow(name) + "' in this collection.");
}

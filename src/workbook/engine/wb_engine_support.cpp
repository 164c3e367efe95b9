#include "workbook/engine/wb_engine_support.h"

#include "tk/tk_string.h"

std::wstring wb_widen(std::string_view utf8) { return tk_utf8_to_unicode(utf8); }
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

#include "workbook/wb_errors.h"

wb_error wb_unreadable(const std::string& path, const std::string& reason) {
  return wb_error(wb_err_unreadable, "File '" + path + "' is not a readable workbook: " + reason + ".");
}

wb_error wb_encrypted(const std::string& path) {
  return wb_error(wb_err_protected, "Workbook '" + path + "' is encrypted with a password.");
}

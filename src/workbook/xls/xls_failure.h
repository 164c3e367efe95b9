#pragma once
// Failures inside the .xls reader. The reader's entry points turn them into wb_error with the file's name.
#include <stdexcept>
#include <string>

/// The file cannot be read as a workbook; what() is the reason ("corrupt ...", "BIFF5 ...").
class wb_xls_unreadable : public std::runtime_error {
 public:
  explicit wb_xls_unreadable(const std::string& reason) : std::runtime_error(reason) {}
};

/// The workbook is encrypted with a password.
class wb_xls_encrypted : public std::runtime_error {
 public:
  wb_xls_encrypted() : std::runtime_error("encrypted") {}
};

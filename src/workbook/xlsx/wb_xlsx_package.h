#pragma once
// The globals of an .xlsx package: where its parts are, its worksheets, date system, cell styles
// and shared strings.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "workbook/wb_reader.h"
#include "workbook/xlsx/wb_zip_archive.h"

/// Every distinct text of the workbook in one buffer, addressed by offsets.
class wb_shared_strings {
 public:
  void add(std::string_view text);
  std::size_t size() const { return offsets_.empty() ? 0 : offsets_.size() - 1; }
  std::string_view at(std::size_t i) const {
    return std::string_view(bytes_).substr(offsets_[i], offsets_[i + 1] - offsets_[i]);
  }
  std::uint64_t bytes() const { return bytes_.size(); }

 private:
  std::string bytes_;
  std::vector<std::uint64_t> offsets_{0};
};

struct wb_xlsx_sheet_part {
  wb_sheet_info info;
  std::string part;  // ZIP entry name of the sheet XML
  std::string unreadable;  // why the sheet cannot be read, when that shows in the workbook's globals
};

class wb_xlsx_package {
 public:
  /// Reads relationships, workbook and styles (throws wb_error).
  explicit wb_xlsx_package(const std::string& path);
  /// The same for a package held in memory; `name` stands for the path in errors.
  wb_xlsx_package(const std::string& name, std::string_view bytes);

  const wb_zip_archive& archive() const { return archive_; }
  const std::vector<wb_xlsx_sheet_part>& sheets() const { return sheets_; }
  bool date1904() const { return date_system_ == wb_date_system::from_1904; }
  wb_date_system date_system() const { return date_system_; }
  /// The number style of cell format `xf` (general when out of range).
  wb_number_style style(std::uint32_t xf) const { return xf < styles_.size() ? styles_[xf] : wb_number_style::general; }
  /// Loaded at the first use.
  const wb_shared_strings& shared_strings();
  const std::string& path() const { return archive_.path(); }

 private:
  void read_package();
  void read_workbook(const std::string& part);
  void read_styles(const std::string& part);

  wb_zip_archive archive_;
  std::vector<wb_xlsx_sheet_part> sheets_;
  std::vector<wb_number_style> styles_;
  std::string shared_strings_part_;
  std::mutex shared_strings_mutex_;
  std::unique_ptr<wb_shared_strings> shared_strings_;
  wb_date_system date_system_ = wb_date_system::from_1900;
};

/// Resolves a relationship target against the folder of the part that names it.
std::string wb_resolve_part(const std::string& base_part, const std::string& target);

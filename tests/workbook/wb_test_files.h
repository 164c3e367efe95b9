#pragma once
// Workbooks made at test time: a temporary folder, raw ZIP packages from literal parts, and a
// minimal .xlsx package around one or more sheet XML texts.
#include <map>
#include <string>
#include <vector>

namespace wb_test {

/// A fresh folder removed with the object.
class temp_dir {
 public:
  temp_dir();
  ~temp_dir();
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

/// Writes a ZIP of `parts` (name -> bytes), deflated.
void write_zip(const std::string& path, const std::map<std::string, std::string>& parts);
void write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);

/// Parts of a minimal package: worksheets named and filled as given, optional shared strings and
/// styles, and extra workbook XML inside <workbook> (e.g. a workbookPr).
struct xlsx_parts {
  std::vector<std::pair<std::string, std::string>> sheets;  // name, <sheetData> inner XML
  std::vector<std::string> shared_strings;                   // <si> inner XML each
  std::string styles;                                        // whole styles part, or empty
  std::string workbook_extra;
  std::string ns = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
  std::string rel_ns = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
};
inline xlsx_parts one_sheet(std::string name, std::string sheet_data) {
  xlsx_parts p;
  p.sheets = {{std::move(name), std::move(sheet_data)}};
  return p;
}
std::map<std::string, std::string> build_xlsx(const xlsx_parts& p);
void write_xlsx(const std::string& path, const xlsx_parts& p);

}  // namespace wb_test

#include "wb_test_files.h"

#include <zip.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace wb_test {

temp_dir::temp_dir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "wbtestXXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

temp_dir::~temp_dir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void write_zip(const std::string& path, const std::map<std::string, std::string>& parts) {
  int err = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  if (!z) throw std::runtime_error("zip_open failed");
  for (const auto& [name, bytes] : parts) {
    zip_source_t* src = zip_source_buffer(z, bytes.data(), bytes.size(), 0);
    if (!src || zip_file_add(z, name.c_str(), src, ZIP_FL_ENC_UTF_8) < 0) throw std::runtime_error("zip add failed");
  }
  if (zip_close(z) != 0) throw std::runtime_error("zip_close failed");
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::map<std::string, std::string> build_xlsx(const xlsx_parts& p) {
  std::map<std::string, std::string> parts;
  const std::string rels_ns = "http://schemas.openxmlformats.org/package/2006/relationships";
  const std::string type = p.rel_ns;
  parts["[Content_Types].xml"] = "<?xml version=\"1.0\"?><Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"/>";
  parts["_rels/.rels"] = "<?xml version=\"1.0\"?><Relationships xmlns=\"" + rels_ns +
                         "\"><Relationship Id=\"rId1\" Type=\"" + type +
                         "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>";
  std::string wb = "<?xml version=\"1.0\"?><workbook xmlns=\"" + p.ns + "\" xmlns:r=\"" + p.rel_ns + "\">" +
                   p.workbook_extra + "<sheets>";
  std::string rels = "<?xml version=\"1.0\"?><Relationships xmlns=\"" + rels_ns + "\">";
  for (std::size_t i = 0; i < p.sheets.size(); ++i) {
    const std::string n = std::to_string(i + 1);
    wb += "<sheet name=\"" + p.sheets[i].first + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
    rels += "<Relationship Id=\"rId" + n + "\" Type=\"" + type + "/worksheet\" Target=\"worksheets/sheet" + n + ".xml\"/>";
    parts["xl/worksheets/sheet" + n + ".xml"] = "<?xml version=\"1.0\"?><worksheet xmlns=\"" + p.ns +
                                                "\"><sheetData>" + p.sheets[i].second + "</sheetData></worksheet>";
  }
  wb += "</sheets></workbook>";
  if (!p.shared_strings.empty()) {
    rels += "<Relationship Id=\"rIdS\" Type=\"" + type + "/sharedStrings\" Target=\"sharedStrings.xml\"/>";
    std::string sst = "<?xml version=\"1.0\"?><sst xmlns=\"" + p.ns + "\">";
    for (const auto& si : p.shared_strings) sst += "<si>" + si + "</si>";
    parts["xl/sharedStrings.xml"] = sst + "</sst>";
  }
  if (!p.styles.empty()) {
    rels += "<Relationship Id=\"rIdT\" Type=\"" + type + "/styles\" Target=\"styles.xml\"/>";
    parts["xl/styles.xml"] = p.styles;
  }
  parts["xl/workbook.xml"] = wb;
  parts["xl/_rels/workbook.xml.rels"] = rels + "</Relationships>";
  return parts;
}

void write_xlsx(const std::string& path, const xlsx_parts& p) { write_zip(path, build_xlsx(p)); }

}  // namespace wb_test

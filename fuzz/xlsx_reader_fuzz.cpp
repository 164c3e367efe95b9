// Any input opens, lists, types and streams every sheet through the engine, or fails with an engine
// error: never a crash, a hang or unbounded memory. The package is read from memory, so nothing is
// written to disk.
#include <zip.h>

#include <cstdint>
#include <string>
#include <vector>

#include "workbook/wb_reader.h"
#include "workbook/wb_sheet_model.h"

namespace {

// An input starting with '<' is taken as a worksheet's XML and wrapped into a package, so the
// fuzzer reaches the sheet scanner and the sheet model without first learning the ZIP format.
bool wrap_package(const std::string& sheet, std::string& package) {
  static const std::string rels =
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship "
      "Id=\"r\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
      "Target=\"xl/workbook.xml\"/></Relationships>";
  static const std::string workbook =
      "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
      "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets><sheet "
      "name=\"S\" sheetId=\"1\" r:id=\"s\"/></sheets></workbook>";
  static const std::string workbook_rels =
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship "
      "Id=\"s\" Type=\"x/worksheet\" Target=\"sheet.xml\"/><Relationship Id=\"t\" Type=\"x/sharedStrings\" "
      "Target=\"sst.xml\"/><Relationship Id=\"u\" Type=\"x/styles\" Target=\"styles.xml\"/></Relationships>";
  static const std::string sst =
      "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><si><t>a</t></si><si><r><t>b</t>"
      "</r></si></sst>";
  static const std::string styles =
      "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><numFmts><numFmt "
      "numFmtId=\"164\" formatCode=\"yyyy-mm-dd\"/></numFmts><cellXfs><xf numFmtId=\"0\"/><xf numFmtId=\"164\"/>"
      "<xf numFmtId=\"7\"/></cellXfs></styleSheet>";
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* out = zip_source_buffer_create(nullptr, 0, 0, &error);
  zip_error_fini(&error);
  if (!out) return false;
  zip_source_keep(out);
  zip_t* z = zip_open_from_source(out, ZIP_TRUNCATE, nullptr);
  if (!z) {
    zip_source_free(out);
    return false;
  }
  const std::pair<const char*, const std::string*> parts[] = {{"_rels/.rels", &rels},
                                                              {"xl/workbook.xml", &workbook},
                                                              {"xl/_rels/workbook.xml.rels", &workbook_rels},
                                                              {"xl/sst.xml", &sst},
                                                              {"xl/styles.xml", &styles},
                                                              {"xl/sheet.xml", &sheet}};
  for (const auto& [name, bytes] : parts) {
    zip_source_t* src = zip_source_buffer(z, bytes->data(), bytes->size(), 0);
    if (!src || zip_file_add(z, name, src, 0) < 0) {
      zip_source_free(src);
      zip_discard(z);
      zip_source_free(out);
      return false;
    }
    zip_set_file_compression(z, static_cast<zip_uint64_t>(zip_name_locate(z, name, 0)), ZIP_CM_STORE, 0);
  }
  bool ok = zip_close(z) == 0;
  if (!ok) zip_discard(z);
  zip_stat_t st;
  if (ok && zip_source_open(out) == 0) {
    zip_source_stat(out, &st);
    package.resize(static_cast<std::size_t>(st.size));
    ok = zip_source_read(out, package.data(), st.size) == static_cast<zip_int64_t>(st.size);
    zip_source_close(out);
  } else {
    ok = false;
  }
  zip_source_free(out);
  return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  if (!input.empty() && input[0] == '<') {
    std::string package;
    if (!wrap_package(input, package)) return 0;
    input = std::move(package);
  }
  try {
    auto reader = wb_open_xlsx_bytes("fuzz.xlsx", input);
    for (std::size_t i = 0; i < reader->sheets().size(); ++i) {
      try {
        for (bool header : {true, false}) {
          const wb_sheet_layout layout = wb_profile_sheet(*reader, i, header);
          wb_row_cursor rows(*reader, i, layout);
          std::vector<wb_value> row;
          while (rows.read(row)) {
          }
        }
      } catch (const wb_error&) {
      }
    }
  } catch (const wb_error&) {
  }
  return 0;
}

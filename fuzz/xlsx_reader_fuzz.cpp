// Any input opens, lists, types and streams every sheet through the engine, or fails with an engine
// error: never a crash, a hang or unbounded memory. Inputs are written to a file because the reader
// works on paths.
#include <unistd.h>
#include <zip.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "workbook/wb_reader.h"
#include "workbook/wb_sheet_model.h"

namespace {

// An input starting with '<' is taken as a worksheet's XML and wrapped into a package, so the
// fuzzer reaches the sheet scanner and the sheet model without first learning the ZIP format.
bool write_package(const std::string& path, const std::string& sheet) {
  static const std::string rels =
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship "
      "Id=\"r\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
      "Target=\"xl/workbook.xml\"/></Relationships>";
  static const std::string workbook =
      "<workbook xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets><sheet "
      "name=\"S\" sheetId=\"1\" r:id=\"s\"/></sheets></workbook>";
  static const std::string workbook_rels =
      "<Relationships><Relationship Id=\"s\" Type=\"x/worksheet\" Target=\"sheet.xml\"/><Relationship Id=\"t\" "
      "Type=\"x/sharedStrings\" Target=\"sst.xml\"/></Relationships>";
  static const std::string sst = "<sst><si><t>a</t></si><si><r><t>b</t></r></si></sst>";
  int error = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (!z) return false;
  const std::pair<const char*, const std::string*> parts[] = {{"_rels/.rels", &rels},
                                                              {"xl/workbook.xml", &workbook},
                                                              {"xl/_rels/workbook.xml.rels", &workbook_rels},
                                                              {"xl/sst.xml", &sst},
                                                              {"xl/sheet.xml", &sheet}};
  for (const auto& [name, bytes] : parts) {
    zip_source_t* src = zip_source_buffer(z, bytes->data(), bytes->size(), 0);
    if (!src || zip_file_add(z, name, src, 0) < 0) {
      zip_source_free(src);
      zip_discard(z);
      return false;
    }
  }
  return zip_close(z) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = "/tmp/xlsx_reader_fuzz_" + std::to_string(getpid()) + ".xlsx";
  const std::string input(reinterpret_cast<const char*>(data), size);
  if (!input.empty() && input[0] == '<') {
    if (!write_package(path, input)) return 0;
  } else if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  } else {
    return 0;
  }
  try {
    auto reader = wb_open_xlsx(path);
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

// A package of hand-written parts, end to end: a 1904 workbook whose workbook part also holds the
// extension's workbookPr (as current spreadsheet versions write it) loads its dates as the file
// means them; without its relationships part it is refused before anything is touched.
#include <zip.h>

#include <map>
#include <stdexcept>

#include "e2e_support.h"

namespace {

using strings = std::vector<std::string>;

const std::string main_ns = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const std::string rel_ns = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
const std::string rels_open = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";

std::string rel(const std::string& id, const std::string& type, const std::string& target) {
  return "<Relationship Id=\"" + id + "\" Type=\"" + rel_ns + "/" + type + "\" Target=\"" + target + "\"/>";
}

void write_package(const std::string& path, const std::map<std::string, std::string>& parts) {
  int error = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  for (const auto& [name, bytes] : parts) {
    zip_source_t* src = z ? zip_source_buffer(z, bytes.data(), bytes.size(), 0) : nullptr;
    if (!src || zip_file_add(z, name.c_str(), src, 0) < 0) throw std::runtime_error("zip add failed");
  }
  if (zip_close(z) != 0) throw std::runtime_error("zip_close failed");
}

TEST(E2ePackage, Dates1904BesideExtensionsAndAWorkbookWithoutItsRelationships) {
  TAMARIND_REQUIRE_SERVER();
  e2e::scratch_dir dir;
  e2e::database_guard db{"e2e_pkg"};
  std::map<std::string, std::string> parts = {
      {"_rels/.rels", rels_open + rel("rId1", "officeDocument", "xl/workbook.xml") + "</Relationships>"},
      {"xl/workbook.xml", "<workbook xmlns=\"" + main_ns + "\" xmlns:r=\"" + rel_ns + "\"><workbookPr date1904=\"1\"/>"
                          "<sheets><sheet name=\"Dates\" sheetId=\"1\" r:id=\"rId1\"/></sheets><extLst><ext uri=\"{1}\" "
                          "xmlns:x15=\"http://schemas.microsoft.com/office/spreadsheetml/2010/11/main\"><x15:workbookPr "
                          "chartTrackingRefBase=\"1\"/></ext></extLst></workbook>"},
      {"xl/_rels/workbook.xml.rels", rels_open + rel("rId1", "worksheet", "sheet1.xml") +
                                         rel("rId2", "styles", "styles.xml") + "</Relationships>"},
      {"xl/styles.xml",
       "<styleSheet xmlns=\"" + main_ns + "\"><cellXfs><xf/><xf numFmtId=\"14\"/></cellXfs></styleSheet>"},
      {"xl/sheet1.xml", "<worksheet xmlns=\"" + main_ns + "\"><sheetData><row><c t=\"inlineStr\"><is><t>n</t></is></c>"
                        "<c t=\"inlineStr\"><is><t>d</t></is></c></row><row><c><v>1</v></c><c s=\"1\"><v>1</v></c></row>"
                        "<row><c><v>2</v></c><c s=\"1\"><v>43831</v></c></row></sheetData></worksheet>"}};
  const auto convert = [&](const std::string& src) {
    return e2e::run_corvel(e2e::join({"--src=" + src, "--dest=" + db.name(), "--extr_fn"}, e2e::server_options(false)));
  };
  write_package(dir.file("dates.xlsx"), parts);
  e2e::run_result r = convert(dir.file("dates.xlsx"));
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(db.rows("SELECT n, d::date FROM dates ORDER BY n"), (strings{"1|1904-01-02", "2|2024-01-02"}));

  // Mode 0 would replace the destination: the refusal comes first.
  parts.erase("xl/_rels/workbook.xml.rels");
  write_package(dir.file("norels.xlsx"), parts);
  r = convert(dir.file("norels.xlsx"));
  EXPECT_NE(r.status, 0) << r.out << r.err;
  EXPECT_EQ(db.rows("SELECT count(*) FROM dates"), (strings{"2"}));
}

}  // namespace

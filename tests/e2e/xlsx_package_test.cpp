// Packages of hand-written parts, end to end: what other writers put into a workbook's parts
// reaches the server as the file means it, or the workbook is refused before anything is touched.
#include <zip.h>

#include <map>
#include <stdexcept>

#include "e2e_support.h"

namespace {

using e2e::join;
using e2e::run_corvel;
using e2e::server_options;
using strings = std::vector<std::string>;

void write_package(const std::string& path, const std::map<std::string, std::string>& parts) {
  int error = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (!z) throw std::runtime_error("zip_open failed");
  for (const auto& [name, bytes] : parts) {
    zip_source_t* src = zip_source_buffer(z, bytes.data(), bytes.size(), 0);
    if (!src || zip_file_add(z, name.c_str(), src, ZIP_FL_ENC_UTF_8) < 0) throw std::runtime_error("zip add failed");
  }
  if (zip_close(z) != 0) throw std::runtime_error("zip_close failed");
}

// One sheet "Dates" (n, d): d formatted as a date, in a workbook counting from 1904 whose
// workbook part also holds the extension's workbookPr, as current spreadsheet versions write it.
std::map<std::string, std::string> dates_1904_package() {
  const std::string main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
  const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
  const std::string pkg = "http://schemas.openxmlformats.org/package/2006/relationships";
  return {
      {"[Content_Types].xml",
       "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"><Default Extension=\"xml\" "
       "ContentType=\"application/xml\"/></Types>"},
      {"_rels/.rels", "<Relationships xmlns=\"" + pkg + "\"><Relationship Id=\"rId1\" Type=\"" + rel +
                          "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
      {"xl/workbook.xml",
       "<workbook xmlns=\"" + main + "\" xmlns:r=\"" + rel + "\"><workbookPr date1904=\"1\"/><sheets><sheet name=\"Dates\" "
       "sheetId=\"1\" r:id=\"rId1\"/></sheets><extLst><ext uri=\"{140A7094-0E35-4892-8432-C4D2E57EDEB5}\" "
       "xmlns:x15=\"http://schemas.microsoft.com/office/spreadsheetml/2010/11/main\"><x15:workbookPr "
       "chartTrackingRefBase=\"1\"/></ext></extLst></workbook>"},
      {"xl/_rels/workbook.xml.rels",
       "<Relationships xmlns=\"" + pkg + "\"><Relationship Id=\"rId1\" Type=\"" + rel +
           "/worksheet\" Target=\"worksheets/sheet1.xml\"/><Relationship Id=\"rId2\" Type=\"" + rel +
           "/styles\" Target=\"styles.xml\"/></Relationships>"},
      {"xl/styles.xml", "<styleSheet xmlns=\"" + main + "\"><cellXfs count=\"2\"><xf numFmtId=\"0\"/><xf numFmtId=\"14\"/>"
                        "</cellXfs></styleSheet>"},
      {"xl/worksheets/sheet1.xml",
       "<worksheet xmlns=\"" + main + "\"><sheetData><row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>n</t></is></c>"
       "<c r=\"B1\" t=\"inlineStr\"><is><t>d</t></is></c></row><row r=\"2\"><c r=\"A2\"><v>1</v></c><c r=\"B2\" s=\"1\">"
       "<v>1</v></c></row><row r=\"3\"><c r=\"A3\"><v>2</v></c><c r=\"B3\" s=\"1\"><v>43831</v></c></row></sheetData>"
       "</worksheet>"},
  };
}

class E2ePackage : public testing::Test {
 protected:
  void SetUp() override { TAMARIND_REQUIRE_SERVER(); }
  e2e::run_result convert(const std::string& src) {
    return run_corvel(join({"--src=" + src, "--dest=" + db.name(), "--extr_fn"}, server_options(false)));
  }

  e2e::scratch_dir dir;
  e2e::database_guard db{"e2e_pkg"};
};

TEST_F(E2ePackage, Dates1904BesideExtensionsAndAWorkbookWithoutItsRelationships) {
  auto parts = dates_1904_package();
  const std::string book = dir.file("dates1904.xlsx");
  write_package(book, parts);
  e2e::run_result r = convert(book);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(db.rows("SELECT n, d::date FROM dates ORDER BY n"), (strings{"1|1904-01-02", "2|2024-01-02"}));

  // Without the workbook's relationships no sheet can be found: the workbook is refused, and the
  // destination (which mode 0 would replace) stays as it was.
  parts.erase("xl/_rels/workbook.xml.rels");
  const std::string broken = dir.file("norels.xlsx");
  write_package(broken, parts);
  r = convert(broken);
  EXPECT_NE(r.status, 0) << r.out << r.err;
  EXPECT_EQ(db.tables(), (strings{"public.dates"}));
  EXPECT_EQ(db.rows("SELECT count(*) FROM dates"), (strings{"2"}));
}

}  // namespace

// The .xlsx reader on hand-made packages: what common writers never produce but files hold.
#include <gtest/gtest.h>

#include <gmock/gmock.h>

#include <regex>
#include <span>
#include <tuple>

#include "wb_test_files.h"
#include "workbook/wb_engine.h"
#include "workbook/wb_reader.h"
#include "workbook/xlsx/wb_xlsx_package.h"
#include "workbook/xlsx/wb_xlsx_sheet.h"

namespace {

struct read_cell {
  std::uint32_t row, col;
  wb_value_kind kind;
  wb_number_style style;
  double number;
  bool boolean;
  std::string text;
};

std::vector<read_cell> read_all(wb_reader& r, std::size_t sheet = 0) {
  struct sink : wb_cell_sink {
    std::vector<read_cell> cells;
    void cell(const wb_cell& c) override {
      cells.push_back({c.row, c.col, c.kind, c.style, c.number, c.boolean, std::string(c.text)});
    }
  } s;
  r.read_sheet(sheet, s);
  return s.cells;
}

// The cells of a sheet read by one parser.
std::vector<read_cell> read_all(const std::string& path, std::size_t sheet, wb_sheet_parser parser) {
  wb_xlsx_package package(path);
  std::vector<read_cell> cells;
  wb_row_view row;
  for (auto stream = wb_open_xlsx_sheet(package, sheet, parser); stream->next_row(row);)
    for (const wb_cell& c : std::span(row.cells, row.count))
      cells.push_back({c.row, c.col, c.kind, c.style, c.number, c.boolean, std::string(c.text)});
  return cells;
}

long error_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const wb_error& e) {
    return e.number();
  }
  return 0;
}

class XlsxReader : public ::testing::Test {
 protected:
  std::unique_ptr<wb_reader> open(const wb_test::xlsx_parts& p) {
    wb_test::write_xlsx(path_, p);
    return wb_open_workbook(path_);
  }
  long open_error(const std::map<std::string, std::string>& parts) {
    wb_test::write_zip(path_, parts);
    return error_of([&] {
      auto r = wb_open_workbook(path_);
      for (std::size_t i = 0; i < r->sheets().size(); ++i) read_all(*r, i);
    });
  }
  long sheet_error(const std::string& sheet_data, std::vector<std::string> sst = {}) {
    wb_test::xlsx_parts p;
    p.sheets = {{"S", sheet_data}};
    p.shared_strings = std::move(sst);
    wb_test::write_xlsx(path_, p);
    return error_of([&] {
      auto r = wb_open_workbook(path_);
      read_all(*r);
    });
  }
  wb_test::temp_dir dir_;
  std::string path_ = dir_.file("book.xlsx");
};

TEST_F(XlsxReader, CellsWithoutReferencesFollowThePreviousOnes) {
  auto r = open(wb_test::one_sheet("S", "<row><c><v>1</v></c><c><v>2</v></c></row><row r=\"4\"><c r=\"C4\"><v>3</v></c><c><v>4</v></c></row>"
                        "<row><c><v>5</v></c></row>"));
  const auto cells = read_all(*r);
  ASSERT_EQ(cells.size(), 5u);
  EXPECT_EQ(cells[1].row, 0u);
  EXPECT_EQ(cells[1].col, 1u);
  EXPECT_EQ(cells[2].row, 3u);
  EXPECT_EQ(cells[2].col, 2u);
  EXPECT_EQ(cells[3].col, 3u);
  EXPECT_EQ(cells[4].row, 4u);
  EXPECT_EQ(cells[4].col, 0u);
}

TEST_F(XlsxReader, StringKindsAndEscapes) {
  wb_test::xlsx_parts p;
  p.shared_strings = {"<t>plain</t>", "<r><t>ri</t></r><r><rPr/><t>ch</t></r><rPh><t>PHON</t></rPh>",
                      "<t>a_x0042_c_x000D_</t>", "<t>_xD83D__xDE00_ lone _xD800_ bad _x12G4_</t>", "<t></t>"};
  p.sheets = {{"S", "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v></c>"
                    "<c r=\"C1\" t=\"s\"><v>2</v></c><c r=\"D1\" t=\"s\"><v>3</v></c><c r=\"E1\" t=\"s\"><v>4</v></c>"
                    "<c r=\"F1\" t=\"inlineStr\"><is><r><t>in</t></r><r><t xml:space=\"preserve\"> line</t></r></is></c>"
                    "<c r=\"G1\" t=\"str\"><f>A1</f><v>formula text</v></c>"
                    "<c r=\"H1\" t=\"inlineStr\"><is><t></t></is></c></row>"}};
  auto r = open(p);
  const auto cells = read_all(*r);
  ASSERT_EQ(cells.size(), 6u);  // the two empty texts are blanks
  EXPECT_EQ(cells[0].text, "plain");
  EXPECT_EQ(cells[1].text, "rich");
  EXPECT_EQ(cells[2].text, "aBc\r");
  EXPECT_EQ(cells[3].text, "\xF0\x9F\x98\x80 lone \xEF\xBF\xBD bad _x12G4_");
  EXPECT_EQ(cells[4].text, "in line");
  EXPECT_EQ(cells[5].text, "formula text");
}

TEST_F(XlsxReader, ValueKindsStylesAndFormulas) {
  wb_test::xlsx_parts p;
  p.styles =
      "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
      "<numFmts count=\"2\"><numFmt numFmtId=\"164\" formatCode=\"yyyy\\-mm\\-dd\"/>"
      "<numFmt numFmtId=\"165\" formatCode=\"[$EUR] #,##0.00\"/></numFmts>"
      "<cellStyleXfs count=\"1\"><xf numFmtId=\"14\"/></cellStyleXfs>"
      "<cellXfs count=\"5\"><xf numFmtId=\"0\"/><xf numFmtId=\"164\"/><xf numFmtId=\"165\"/><xf numFmtId=\"7\"/>"
      "<xf numFmtId=\"21\"/></cellXfs></styleSheet>";
  p.sheets = {{"S", "<row r=\"1\"><c r=\"A1\"><v>1.5</v></c><c r=\"B1\" s=\"1\"><v>43831</v></c>"
                    "<c r=\"C1\" s=\"2\"><v>2.25</v></c><c r=\"D1\" s=\"3\"><v>3</v></c><c r=\"E1\" s=\"4\"><v>0.5</v></c>"
                    "<c r=\"F1\" t=\"b\"><v>1</v></c><c r=\"G1\" t=\"e\"><v>#DIV/0!</v></c>"
                    "<c r=\"H1\"><f>1+1</f></c><c r=\"I1\" s=\"1\"/><c r=\"J1\"><f>2*2</f><v>4</v></c>"
                    "<c r=\"K1\" s=\"99\"><v>7</v></c></row>"}};
  auto r = open(p);
  const auto cells = read_all(*r);
  ASSERT_EQ(cells.size(), 9u);  // the formula without a result and the styled blank are not cells
  EXPECT_EQ(cells[0].style, wb_number_style::general);
  EXPECT_EQ(cells[1].style, wb_number_style::date);
  EXPECT_EQ(cells[2].style, wb_number_style::currency);
  EXPECT_EQ(cells[3].style, wb_number_style::currency);
  EXPECT_EQ(cells[4].style, wb_number_style::date);
  EXPECT_EQ(cells[5].kind, wb_value_kind::boolean);
  EXPECT_TRUE(cells[5].boolean);
  EXPECT_EQ(cells[6].kind, wb_value_kind::error);
  EXPECT_EQ(cells[7].number, 4);
  EXPECT_EQ(cells[7].col, 9u);
  EXPECT_EQ(cells[8].style, wb_number_style::general);  // a style past the table
}

TEST_F(XlsxReader, DateCellsAndTheDateSystem) {
  wb_test::xlsx_parts p;
  p.workbook_extra = "<workbookPr date1904=\"true\"/>";
  p.sheets = {{"S", "<row r=\"1\"><c r=\"A1\" t=\"d\"><v>2020-01-31T10:15:00</v></c>"
                    "<c r=\"B1\" t=\"d\"><v>not a date</v></c><c r=\"C1\" t=\"d\"><v>1900-01-05</v></c></row>"}};
  auto r = open(p);
  EXPECT_TRUE(r->date1904());
  const auto cells = read_all(*r);
  ASSERT_EQ(cells.size(), 3u);
  EXPECT_EQ(cells[0].style, wb_number_style::date);
  // 2020-01-31 is 43861 in the 1900 system, 1462 less in 1904's.
  EXPECT_NEAR(cells[0].number, 43861 - 1462 + 10.25 / 24, 1e-9);
  EXPECT_EQ(cells[1].kind, wb_value_kind::text);
  EXPECT_EQ(cells[2].kind, wb_value_kind::text);  // before 1904: no serial of this workbook counts it
}

TEST_F(XlsxReader, DateSystemWithoutTheLeapDayOf1900) {
  const std::string dates = "<row r=\"1\"><c r=\"A1\" t=\"d\"><v>1899-12-31</v></c>"
                            "<c r=\"B1\" t=\"d\"><v>1900-01-01T06:00:00</v></c><c r=\"C1\" t=\"d\"><v>1900-03-01</v></c>"
                            "<c r=\"D1\" t=\"d\"><v>1899-12-29</v></c></row>";
  struct attribute_case {
    std::string extra;
    wb_date_system system;
  };
  for (const auto& [extra, system] :
       {attribute_case{"<workbookPr dateCompatibility=\"false\"/>", wb_date_system::from_1900_without_leap_day},
        attribute_case{"<workbookPr dateCompatibility=\"0\"/>", wb_date_system::from_1900_without_leap_day},
        attribute_case{"<workbookPr dateCompatibility=\"true\"/>", wb_date_system::from_1900},
        attribute_case{"<workbookPr/>", wb_date_system::from_1900},
        attribute_case{"<workbookPr date1904=\"1\" dateCompatibility=\"false\"/>", wb_date_system::from_1904}}) {
    wb_test::xlsx_parts p;
    p.workbook_extra = extra;
    p.sheets = {{"S", dates}};
    auto r = open(p);
    EXPECT_EQ(r->date_system(), system) << extra;
    EXPECT_EQ(r->date1904(), system == wb_date_system::from_1904) << extra;
    if (system != wb_date_system::from_1900_without_leap_day) continue;
    // ISO dates become the serials of this system: the date serials themselves.
    const auto cells = read_all(*r);
    ASSERT_EQ(cells.size(), 4u);
    EXPECT_EQ(cells[0].style, wb_number_style::date);
    EXPECT_EQ(cells[0].number, 1);
    EXPECT_EQ(cells[1].number, 2.25);
    EXPECT_EQ(cells[2].number, 61);
    EXPECT_EQ(cells[3].kind, wb_value_kind::text);  // before the zero day: no serial counts it
  }
}

TEST_F(XlsxReader, StrictNamespacesAbsoluteTargetsHiddenAndChartSheets) {
  std::map<std::string, std::string> parts;
  const std::string r = "http://purl.oclc.org/ooxml/officeDocument/relationships";
  const std::string ns = "http://purl.oclc.org/ooxml/spreadsheetml/main";
  const std::string pr = "http://schemas.openxmlformats.org/package/2006/relationships";
  parts["_rels/.rels"] = "<Relationships xmlns=\"" + pr + "\"><Relationship Id=\"a\" Type=\"" + r +
                         "/officeDocument\" Target=\"/xl/book.xml\"/></Relationships>";
  parts["xl/book.xml"] = "<x:workbook xmlns:x=\"" + ns + "\" xmlns:r=\"" + r +
                         "\"><x:sheets><x:sheet name=\"One\" sheetId=\"1\" r:id=\"r1\"/>"
                         "<x:sheet name=\"Chart\" sheetId=\"2\" r:id=\"r2\"/>"
                         "<x:sheet name=\"Hid\" sheetId=\"3\" state=\"veryHidden\" r:id=\"r3\"/></x:sheets></x:workbook>";
  parts["xl/_rels/book.xml.rels"] = "<Relationships xmlns=\"" + pr + "\"><Relationship Id=\"r1\" Type=\"" + r +
                                    "/worksheet\" Target=\"/xl/ws/../ws/a.xml\"/><Relationship Id=\"r2\" Type=\"" + r +
                                    "/chartsheet\" Target=\"cs/c.xml\"/><Relationship Id=\"r3\" Type=\"" + r +
                                    "/worksheet\" Target=\"WS/B.XML\"/></Relationships>";
  parts["xl/ws/a.xml"] = "<x:worksheet xmlns:x=\"" + ns + "\"><x:sheetData><x:row r=\"2\"><x:c r=\"B2\"><x:v>9</x:v></x:c>"
                         "</x:row></x:sheetData></x:worksheet>";
  parts["xl/ws/b.xml"] = "<worksheet xmlns=\"" + ns + "\"><sheetData/></worksheet>";
  wb_test::write_zip(path_, parts);
  auto reader = wb_open_workbook(path_);
  ASSERT_EQ(reader->sheets().size(), 2u);
  EXPECT_EQ(reader->sheets()[0].name, "One");
  EXPECT_FALSE(reader->sheets()[0].hidden);
  EXPECT_EQ(reader->sheets()[1].name, "Hid");
  EXPECT_TRUE(reader->sheets()[1].hidden);
  const auto cells = read_all(*reader);
  ASSERT_EQ(cells.size(), 1u);
  EXPECT_EQ(cells[0].row, 1u);
  EXPECT_EQ(cells[0].number, 9);
  EXPECT_TRUE(read_all(*reader, 1).empty());  // found case-insensitively
}

// Current spreadsheet versions repeat elements in extension namespaces (x15:workbookPr beside
// workbookPr); only the main namespace's elements count, in every part.
TEST_F(XlsxReader, ElementsCountByTheirNamespace) {
  const std::string x15 = " xmlns:x15=\"http://schemas.microsoft.com/office/spreadsheetml/2010/11/main\"";
  for (const auto& [extra, system] : std::vector<std::pair<std::string, wb_date_system>>{
           {"<workbookPr date1904=\"1\"/><extLst><ext" + x15 + "><x15:workbookPr/></ext></extLst>",
            wb_date_system::from_1904},
           {"<x15:workbookPr" + x15 + " date1904=\"1\"/>", wb_date_system::from_1900},
           {"<workbookPr x15:date1904=\"1\"" + x15 + "/>", wb_date_system::from_1900}}) {
    wb_test::xlsx_parts p = wb_test::one_sheet("S", "");
    p.workbook_extra = extra;
    EXPECT_EQ(open(p)->date_system(), system) << extra;
  }
  wb_test::xlsx_parts p;
  p.shared_strings = {"<t>one</t><e:t xmlns:e=\"urn:e\">NOT</e:t>"};
  p.styles = "<x:styleSheet xmlns:x=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" xmlns:e=\"urn:e\">"
             "<x:numFmts><e:numFmt numFmtId=\"164\" formatCode=\"yyyy\"/><x:numFmt numFmtId=\"165\" formatCode=\"yyyy\"/>"
             "</x:numFmts><x:cellXfs><x:xf/><x:xf numFmtId=\"164\"/><e:xf numFmtId=\"14\"/><x:xf numFmtId=\"165\"/>"
             "</x:cellXfs></x:styleSheet>";
  p.sheets = {{"S", "<row r=\"1\" xmlns:e=\"urn:e\"><c r=\"A1\" t=\"s\"><v>0</v></c><e:c r=\"B1\"><e:v>5</e:v></e:c>"
                    "<c r=\"C1\" e:t=\"s\" s=\"1\"><v>7</v><e:v>8</e:v></c><c r=\"D1\" s=\"2\"><v>9</v></c></row>"
                    "<e:row r=\"1\" xmlns:e=\"urn:e\"><c r=\"E1\"><v>1</v></c></e:row>"}};
  wb_test::write_xlsx(path_, p);
  for (const auto parser : {wb_sheet_parser::scanner, wb_sheet_parser::expat}) {
    const auto cells = read_all(path_, 0, parser);
    ASSERT_EQ(cells.size(), 3u);
    EXPECT_EQ(cells[0].text, "one");
    EXPECT_EQ(cells[1].number, 7);
    EXPECT_EQ(cells[1].style, wb_number_style::general);  // 164 is only an extension's format
    EXPECT_EQ(cells[2].style, wb_number_style::date);     // the extension's xf is no cell format
  }
  // A part in another namespace altogether would read as empty: it is refused.
  auto foreign = wb_test::build_xlsx(p);
  foreign["xl/worksheets/sheet1.xml"] =
      "<worksheet xmlns=\"urn:e\"><sheetData><row><c><v>1</v></c></row></sheetData></worksheet>";
  wb_test::write_zip(path_, foreign);
  for (const auto parser : {wb_sheet_parser::scanner, wb_sheet_parser::expat})
    EXPECT_EQ(error_of([&] { read_all(path_, 0, parser); }), wb_err_unreadable);
  p.styles = "<styleSheet xmlns=\"urn:e\"/>";
  EXPECT_EQ(error_of([&] { open(p); }), wb_err_unreadable);
}

TEST_F(XlsxReader, InlineStringTakesItsTextFromIsOnce) {
  auto r = open(wb_test::one_sheet(
      "S", "<row r=\"1\"><c t=\"inlineStr\"><v>1.</v><is><t>1.</t></is></c><c t=\"inlineStr\"><is><r><t>a</t></r>"
           "<r><t>b</t></r></is><v>x</v></c><c t=\"inlineStr\"><v>only v</v></c><c t=\"inlineStr\"><v>v</v><is><t/></is>"
           "</c><c><v>3</v><is><t>4</t></is></c></row>"));
  for (const auto parser : {wb_sheet_parser::scanner, wb_sheet_parser::expat}) {
    const auto cells = read_all(path_, 0, parser);
    ASSERT_EQ(cells.size(), 4u);  // the fourth's <is> is empty: a blank
    EXPECT_EQ(cells[0].text + cells[1].text + cells[2].text, "1.abonly v");
    EXPECT_EQ(cells[3].number, 3);
  }
}

// Conditional formats (dxfs) carry number formats whose ids may repeat those of cell formats.
TEST_F(XlsxReader, FormatsOfConditionalFormatsNeverTypeCells) {
  for (const auto& [format, dxf_format, style] : std::vector<std::tuple<std::string, std::string, wb_number_style>>{
           {"0.00", "yyyy-mm-dd", wb_number_style::general}, {"yyyy-mm-dd", "0.00", wb_number_style::date}}) {
    wb_test::xlsx_parts p = wb_test::one_sheet("S", "<row r=\"1\"><c r=\"A1\" s=\"1\"><v>43831</v></c></row>");
    p.styles = "<styleSheet><numFmts><numFmt numFmtId=\"164\" formatCode=\"" + format + "\"/></numFmts><cellXfs><xf/>"
               "<xf numFmtId=\"164\"/></cellXfs><dxfs><dxf><numFmt numFmtId=\"164\" formatCode=\"" + dxf_format +
               "\"/></dxf></dxfs></styleSheet>";
    EXPECT_EQ(read_all(*open(p))[0].style, style) << format << " / " << dxf_format;
  }
}

// A U+0000 in a text (only the _x0000_ escape can write one) is a character like any other.
TEST_F(XlsxReader, TextsAreNeverCutAtUPlus0000) {
  wb_test::xlsx_parts p = wb_test::one_sheet("S", "<row><c t=\"s\"><v>0</v></c><c t=\"s\"><v>1</v></c><c t=\"inlineStr\">"
                                                  "<is><t>c_x0000__xD83D__xDE00_</t></is></c></row>");
  p.shared_strings = {"<t>a_x0000_b</t>", "<t>_x0000_</t>"};
  auto r = open(p);
  const auto cells = read_all(*r);
  ASSERT_EQ(cells.size(), 3u);
  EXPECT_EQ(cells[0].text, std::string("a\0b", 3));
  EXPECT_EQ(cells[1].text, std::string(1, '\0'));
  EXPECT_EQ(cells[2].text, std::string("c\0\xF0\x9F\x98\x80", 6));
  // Typed and delivered whole through the sheet model and the engine.
  auto engine = wb_make_workbook_engine();
  auto db = engine->open_database(std::wstring(path_.begin(), path_.end()), false, true, L"Excel 5.0; HDR=No; IMEX=1;");
  auto rs = db->create_querydef(L"", L"SELECT * FROM [S$]")->open_recordset(wb_open_dynaset, wb_open_read_only);
  EXPECT_EQ(rs->fields()->item(0)->value().get_bstr(), std::wstring(L"a\0b", 3));
  EXPECT_EQ(rs->fields()->item(2)->value().get_bstr(), std::wstring(L"c\0\U0001F600", 3));
}

// Shapes of packages that writers other than the spreadsheet program produce, read as peers read them.
TEST_F(XlsxReader, PackageShapesOtherWritersProduce) {
  wb_test::xlsx_parts p = wb_test::one_sheet("S", "<row><c t=\"s\"><v>1</v></c><c s=\"\"><v>43831</v></c></row>");
  p.shared_strings = {"<t>a</t>", "<t>b</t>"};
  p.styles = "<styleSheet><cellXfs><xf numFmtId=\"14\"/></cellXfs></styleSheet>";
  auto parts = wb_test::build_xlsx(p);
  auto& sst = parts["xl/sharedStrings.xml"];
  sst.replace(sst.find("<sst ") + 5, 0, "count=\"9\" uniqueCount=\"7\" ");  // more than it holds
  parts.erase("[Content_Types].xml");
  std::map<std::string, std::string> backslashed;
  for (auto [name, bytes] : parts) backslashed[std::regex_replace(name, std::regex("/"), "\\")] = bytes;
  for (const auto& package : {parts, backslashed}) {
    wb_test::write_zip(path_, package);
    std::unique_ptr<wb_reader> readers[] = {wb_open_workbook(path_), wb_open_xlsx_bytes("m", wb_test::read_file(path_))};
    for (auto& reader : readers) {
      const auto cells = read_all(*reader);
      ASSERT_EQ(cells.size(), 2u);
      EXPECT_EQ(cells[0].text, "b");
      EXPECT_EQ(cells[1].style, wb_number_style::date);  // s="" is style 0
    }
  }
  EXPECT_EQ(sheet_error("<row><c t=\"s\"><v>2</v></c></row>", {"<t>a</t>", "<t>b</t>"}), wb_err_unreadable);
  // Without the package's relationships the content types, else the usual place, name the workbook.
  parts.erase("_rels/.rels");
  EXPECT_EQ(open_error(parts), 0);
  parts["xl/book.xml"] = parts["xl/workbook.xml"];
  parts["xl/_rels/book.xml.rels"] = parts["xl/_rels/workbook.xml.rels"];
  parts.erase("xl/workbook.xml");
  EXPECT_EQ(open_error(parts), wb_err_unreadable);
  parts["[Content_Types].xml"] = "<Types><Override PartName=\"/xl/book.xml\" ContentType=\"application/"
                                 "vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/></Types>";
  EXPECT_EQ(open_error(parts), 0);
}

// A sheet whose part cannot be found fails alone, as a damaged one does, and the others are read; a
// workbook whose sheets cannot be found at all is damaged, never an empty workbook.
TEST_F(XlsxReader, SheetsThatCannotBeFoundFailAloneUnlessNoneCanBe) {
  const auto outcome = [&](std::map<std::string, std::string> parts, const std::string& drop) -> std::string {
    parts.erase(drop);
    wb_test::write_zip(path_, parts);
    std::string result;
    try {
      auto r = wb_open_workbook(path_);
      for (std::size_t i = 0; i < r->sheets().size(); ++i) {
        result += r->sheets()[i].name + ": ";
        try {
          result += std::to_string(read_all(*r, i).size()) + " cell(s); ";
        } catch (const wb_error& e) {
          result += std::to_string(e.number()) + " " + e.what() + "; ";
        }
      }
    } catch (const wb_error& e) {
      return "workbook " + std::to_string(e.number()) + " " + e.what();
    }
    return result;
  };
  wb_test::xlsx_parts book;
  book.sheets = {{"Module", "<row><c><v>1</v></c></row>"}, {"Sheet2", "<row><c><v>2</v></c></row>"},
                 {"Data", "<row><c><v>4</v></c><c><v>5</v></c></row>"}};
  auto parts = wb_test::build_xlsx(book);
  using testing::MatchesRegex;
  EXPECT_THAT(outcome(parts, "xl/worksheets/sheet2.xml"),
              MatchesRegex("Module: 1 cell\\(s\\); Sheet2: 3274 .*the part 'xl/worksheets/sheet2.xml' of sheet "
                           "'Sheet2' is missing.*; Data: 2 cell\\(s\\); "));
  auto& wb = parts["xl/workbook.xml"];
  wb.replace(wb.find("rId1"), 4, "");
  EXPECT_THAT(outcome(parts, ""), MatchesRegex("Module: 3274 .*sheet 'Module' names relationship '', which "
                                               "'xl/_rels/workbook.xml.rels' does not hold.*; Sheet2: 1 cell.*; "
                                               "Data: 2 cell\\(s\\); "));
  wb.replace(wb.find("r:id=\"\""), 7, "r:id=\"rId7\"");
  EXPECT_THAT(outcome(parts, ""), MatchesRegex("Module: 3274 .*'rId7'.*; Sheet2: 1 cell.*; Data: 2 cell.*"));
  EXPECT_THAT(outcome(parts, "xl/_rels/workbook.xml.rels"),
              MatchesRegex("workbook 3274 .*'xl/_rels/workbook.xml.rels'.*"));
  wb = "<workbook/>";  // no sheets at all needs no relationships
  EXPECT_EQ(outcome(parts, "xl/_rels/workbook.xml.rels"), "");
}

TEST_F(XlsxReader, DamagedSheetsGiveUnreadable) {
  EXPECT_EQ(sheet_error("<row r=\"2\"/><row r=\"2\"/>"), wb_err_unreadable);
  EXPECT_EQ(sheet_error("<row r=\"3\"/><row r=\"1\"/>"), wb_err_unreadable);
  EXPECT_EQ(sheet_error("<row r=\"1048577\"><c><v>1</v></c></row>"), wb_err_unreadable);
  EXPECT_EQ(sheet_error("<row><c r=\"XFE1\"><v>1</v></c></row>"), wb_err_unreadable);
  EXPECT_EQ(sheet_error("<row><c r=\"XFD1\"><v>1</v></c></row>"), 0);
  EXPECT_EQ(sheet_error("<row><c t=\"s\"><v>1</v></c></row>", {"<t>only</t>"}), wb_err_unreadable);
  EXPECT_EQ(sheet_error("<row><c t=\"s\"><v>-1</v></c></row>", {"<t>only</t>"}), wb_err_unreadable);
  EXPECT_EQ(sheet_error("<row><c><v>12abc</v></c></row>"), wb_err_unreadable);
  EXPECT_EQ(sheet_error("<row><c><v>1e999</v></c></row>"), wb_err_unreadable);
  EXPECT_EQ(sheet_error("<row><c t=\"b\"><v>2</v></c></row>"), wb_err_unreadable);
  EXPECT_EQ(sheet_error("<row><c r=\"1A\"><v>2</v></c></row>"), wb_err_unreadable);
  EXPECT_EQ(sheet_error("<row><c><v>1</v></row>"), wb_err_unreadable);  // malformed XML
  std::string long_text(32768, 'x');
  EXPECT_EQ(sheet_error("<row><c t=\"inlineStr\"><is><t>" + long_text + "</t></is></c></row>"), wb_err_unreadable);
  long_text.pop_back();
  EXPECT_EQ(sheet_error("<row><c t=\"inlineStr\"><is><t>" + long_text + "</t></is></c></row>"), 0);
  std::string deep;
  for (int i = 0; i < 200; ++i) deep += "<x>";
  EXPECT_EQ(sheet_error(deep), wb_err_unreadable);
}

TEST_F(XlsxReader, HostileXmlIsRefused) {
  auto parts = wb_test::build_xlsx(wb_test::one_sheet("S", "<row><c><v>1</v></c></row>"));
  auto doctype = parts;
  doctype["xl/worksheets/sheet1.xml"] =
      "<?xml version=\"1.0\"?><!DOCTYPE l [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;\">]>"
      "<worksheet><sheetData><row><c t=\"inlineStr\"><is><t>&b;</t></is></c></row></sheetData></worksheet>";
  EXPECT_EQ(open_error(doctype), wb_err_unreadable);
  auto in_workbook = parts;
  in_workbook["xl/workbook.xml"] = "<!DOCTYPE w SYSTEM \"file:///etc/passwd\">" + parts["xl/workbook.xml"].substr(21);
  EXPECT_EQ(open_error(in_workbook), wb_err_unreadable);
  auto undefined = parts;
  undefined["xl/worksheets/sheet1.xml"] = "<worksheet><sheetData><row><c><v>&x;</v></c></row></sheetData></worksheet>";
  EXPECT_EQ(open_error(undefined), wb_err_unreadable);
  auto huge_attr = parts;
  huge_attr["xl/worksheets/sheet1.xml"] = "<worksheet a=\"" + std::string(17u << 20, 'a') + "\"/>";
  EXPECT_EQ(open_error(huge_attr), wb_err_unreadable);
}

TEST_F(XlsxReader, ForeignAndBrokenFilesGiveTheirErrors) {
  EXPECT_EQ(error_of([&] { wb_open_workbook(dir_.file("missing.xlsx")); }), wb_err_file_not_found);
  for (const std::string& bytes : {std::string(), std::string("PK\x03\x04", 4), std::string("hello, world\n"),
                                  std::string("<html><body>x</body></html>"), std::string(8, '\0')}) {
    wb_test::write_file(path_, bytes);
    EXPECT_EQ(error_of([&] { wb_open_workbook(path_); }), wb_err_unreadable) << bytes;
  }
  EXPECT_EQ(open_error({{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"}, {"content.xml", "<a/>"}}),
            wb_err_unreadable);
  EXPECT_EQ(open_error({{"[Content_Types].xml", "<Types/>"}, {"xl/workbook.bin", "binary"}}), wb_err_unreadable);
  auto bin = wb_test::build_xlsx(wb_test::one_sheet("S", ""));
  bin["_rels/.rels"] = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                       "<Relationship Id=\"r\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                       "relationships/officeDocument\" Target=\"xl/workbook.bin\"/></Relationships>";
  EXPECT_EQ(open_error(bin), wb_err_unreadable);
  auto missing_sheet = wb_test::build_xlsx(wb_test::one_sheet("S", ""));
  missing_sheet.erase("xl/worksheets/sheet1.xml");
  EXPECT_EQ(open_error(missing_sheet), wb_err_unreadable);
}

TEST_F(XlsxReader, TruncatedAndCorruptedPackagesNeverCrash) {
  wb_test::xlsx_parts p;
  std::string rows;
  for (int i = 1; i <= 300; ++i) rows += "<row r=\"" + std::to_string(i) + "\"><c><v>" + std::to_string(i * 7) + "</v></c></row>";
  p.sheets = {{"S", rows}};
  p.shared_strings = {"<t>x</t>"};
  const auto good = [&] {
    wb_test::write_xlsx(path_, p);
    return wb_test::read_file(path_);
  }();
  for (std::size_t cut = 0; cut < good.size(); cut += good.size() / 97 + 1) {
    wb_test::write_file(path_, good.substr(0, cut));
    const long e = error_of([&] {
      auto r = wb_open_workbook(path_);
      for (std::size_t i = 0; i < r->sheets().size(); ++i) read_all(*r, i);
    });
    EXPECT_EQ(e, wb_err_unreadable) << "cut at " << cut;
  }
  for (std::size_t at = 30; at < good.size(); at += 37) {
    std::string bad = good;
    bad[at] = static_cast<char>(bad[at] ^ 0x5A);
    wb_test::write_file(path_, bad);
    const long e = error_of([&] {
      auto r = wb_open_workbook(path_);
      for (std::size_t i = 0; i < r->sheets().size(); ++i) read_all(*r, i);
    });
    EXPECT_TRUE(e == 0 || e == wb_err_unreadable) << "flipped at " << at;
  }
}

TEST_F(XlsxReader, ZipBombIsRefusedBeforeInflating) {
  auto parts = wb_test::build_xlsx(wb_test::one_sheet("S", ""));
  // 80 MB of one byte deflates about a thousandfold: past the ratio a real sheet reaches.
  parts["xl/worksheets/sheet1.xml"] = "<worksheet><sheetData/>" + std::string(80u << 20, ' ') + "</worksheet>";
  EXPECT_EQ(open_error(parts), wb_err_unreadable);
}

TEST_F(XlsxReader, RowStreamPausesAfterEachRow) {
  std::string rows;
  for (int i = 1; i <= 1000; ++i) rows += "<row r=\"" + std::to_string(i * 2) + "\"><c><v>" + std::to_string(i) + "</v></c></row>";
  auto r = open(wb_test::one_sheet("S", rows));
  auto a = r->open_sheet(0);
  auto b = r->open_sheet(0);
  wb_row_view va, vb;
  ASSERT_TRUE(a->next_row(va));
  ASSERT_TRUE(a->next_row(va));
  ASSERT_TRUE(b->next_row(vb));
  EXPECT_EQ(va.row, 3u);
  EXPECT_EQ(va.cells[0].number, 2);
  EXPECT_EQ(vb.row, 1u);
  int n = 2;
  while (a->next_row(va)) ++n;
  EXPECT_EQ(n, 1000);
}

TEST_F(XlsxReader, RowStreamHandsOutEveryRowBeforeTheDamage) {
  // Rows are decoded ahead of the reader: the rows before a damaged one still come out, in order
  // and with their texts, and only then the error.
  std::string rows;
  const int good = 20000;
  for (int i = 1; i <= good; ++i)
    rows += "<row r=\"" + std::to_string(i) + "\"><c t=\"inlineStr\"><is><t>text " + std::to_string(i) +
            "</t></is></c><c><v>" + std::to_string(i) + "</v></c></row>";
  rows += "<row r=\"" + std::to_string(good + 1) + "\"><c><v>12abc</v></c></row>";
  auto r = open(wb_test::one_sheet("S", rows));
  auto stream = r->open_sheet(0);
  wb_row_view v;
  int n = 0;
  long error = 0;
  try {
    while (stream->next_row(v)) {
      ++n;
      ASSERT_EQ(v.count, 2u);
      ASSERT_EQ(v.row, static_cast<std::uint32_t>(n - 1));
      ASSERT_EQ(v.cells[0].text, "text " + std::to_string(n));
      ASSERT_EQ(v.cells[1].number, n);
    }
  } catch (const wb_error& e) {
    error = e.number();
  }
  EXPECT_EQ(n, good);
  EXPECT_EQ(error, wb_err_unreadable);
}

TEST_F(XlsxReader, RowStreamLeftEarlyStopsItsDecoding) {
  std::string rows;
  for (int i = 1; i <= 50000; ++i) rows += "<row r=\"" + std::to_string(i) + "\"><c><v>" + std::to_string(i) + "</v></c></row>";
  auto r = open(wb_test::one_sheet("S", rows));
  for (int taken : {0, 1, 3000}) {
    auto stream = r->open_sheet(0);
    wb_row_view v;
    for (int i = 0; i < taken; ++i) ASSERT_TRUE(stream->next_row(v));
    stream.reset();  // must neither hang nor crash while the worker is ahead
  }
  EXPECT_EQ(read_all(*r).size(), 50000u);
}

}  // namespace

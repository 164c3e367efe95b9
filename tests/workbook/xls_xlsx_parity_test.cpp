// The same workbook content as .xls (a committed fixture) and as .xlsx (written here) gives the
// same cells from both readers.
#include <gtest/gtest.h>

#include "wb_test_files.h"
#include "xls_test_support.h"

using xls_test::cell;

TEST(XlsXlsxParity, BothReadersDeliverTheSameCells) {
  wb_test::xlsx_parts p;
  p.shared_strings = {"<t>Name</t>", "<t>Amount</t>", "<t>When</t>", "<t>Flag</t>", "<t>Note</t>",
                      "<t>Ann</t>", "<t>caf\u00e9 cr\u00e8me</t>", "<t>Bob</t>", "<t>\u041b\u0438\u0441\u04421</t>",
                      "<t>\U0001F600 smile</t>",
                      "<r><t>bold</t></r><r><t xml:space=\"preserve\"> part</t></r>", "<t>plain label</t>",
                      "<t>rich label</t>"};
  p.styles =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
      "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
      "<numFmts count=\"3\"><numFmt numFmtId=\"164\" formatCode=\"YYYY-MM-DD\"/>"
      "<numFmt numFmtId=\"165\" formatCode=\"YYYY-MM-DD HH:MM:SS\"/>"
      "<numFmt numFmtId=\"166\" formatCode=\"&quot;$&quot;#,##0.00\"/></numFmts>"
      "<cellXfs count=\"4\"><xf numFmtId=\"0\"/><xf numFmtId=\"164\"/><xf numFmtId=\"165\"/>"
      "<xf numFmtId=\"166\"/></cellXfs></styleSheet>";
  p.sheets = {
      {"Data",
       "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v></c><c r=\"C1\" t=\"s\"><v>2</v></c>"
       "<c r=\"D1\" t=\"s\"><v>3</v></c><c r=\"E1\" t=\"s\"><v>4</v></c></row>"
       "<row r=\"2\"><c r=\"A2\" t=\"s\"><v>5</v></c><c r=\"B2\"><v>12</v></c><c r=\"C2\" s=\"1\"><v>43861</v></c>"
       "<c r=\"D2\" t=\"b\"><v>1</v></c><c r=\"E2\" t=\"s\"><v>6</v></c></row>"
       "<row r=\"3\"><c r=\"A3\" t=\"s\"><v>7</v></c><c r=\"B3\"><v>2.5</v></c>"
       "<c r=\"C3\" s=\"2\"><v>44362.427083333336</v></c><c r=\"D3\" t=\"b\"><v>0</v></c>"
       "<c r=\"E3\" t=\"s\"><v>8</v></c></row>"
       "<row r=\"4\"><c r=\"A4\" t=\"s\"><v>9</v></c><c r=\"B4\" s=\"3\"><v>1234.5</v></c>"
       "<c r=\"C4\"><f>40+2</f><v>42</v></c><c r=\"D4\" t=\"e\"><v>#DIV/0!</v></c>"
       "<c r=\"E4\" t=\"str\"><f>\"hel\"&amp;\"lo\"</f><v>hello</v></c></row>"
       "<row r=\"5\"><c r=\"A5\" t=\"b\"><f>1=1</f><v>1</v></c><c r=\"B5\" t=\"e\"><f>1/0</f><v>#DIV/0!</v></c>"
       "<c r=\"C5\" t=\"str\"><f>\"\"</f><v></v></c><c r=\"D5\" s=\"1\"/><c r=\"E5\" t=\"s\"><v>10</v></c>"
       "<c r=\"G5\" s=\"1\"><f>2+2</f><v>43831</v></c></row>"
       "<row r=\"6\"><c r=\"A6\"><v>1</v></c><c r=\"B6\"><v>-3</v></c><c r=\"C6\"><v>0.25</v></c>"
       "<c r=\"D6\" t=\"s\"><v>11</v></c><c r=\"E6\" t=\"s\"><v>12</v></c></row>"
       "<row r=\"7\"><c r=\"A7\" s=\"1\"/><c r=\"B7\" s=\"1\"/></row>"}};
  wb_test::temp_dir dir;
  wb_test::write_xlsx(dir.file("same.xlsx"), p);

  auto xlsx = wb_open_xlsx(dir.file("same.xlsx"));
  auto xls = wb_open_xls(xls_test::fixture("basic.xls"));
  std::vector<cell> from_xlsx = xls_test::read_all(*xlsx, 0);
  std::vector<cell> from_xls = xls_test::read_all(*xls, 0);
  EXPECT_EQ(from_xls.size(), 29u);
  EXPECT_EQ(from_xls, from_xlsx);
  EXPECT_EQ(xls->date1904(), xlsx->date1904());
}

// Cell records of every kind a workbook stream carries, texts holding NUL, rows stored out of order,
// Excel 5.0/95 workbooks in their code pages, and the versions still refused.
#include <gtest/gtest.h>

#include <tuple>

#include "workbook/xls/xls_open.h"
#include "xls_test_support.h"

using namespace xls_test;

namespace {

std::string opening_error(const std::string& bytes) {
  try {
    auto r = wb_open_xls_bytes(bytes, "t.xls");
    for (std::size_t i = 0; i < r->sheets().size(); ++i) read_all(*r, i);
  } catch (const wb_error& e) {
    EXPECT_EQ(e.number(), wb_err_unreadable);
    return e.what();
  }
  return "";
}

std::vector<cell> cells_of(const std::string& bytes, std::size_t sheet = 0) {
  auto r = wb_open_xls_bytes(bytes, "t.xls");
  return read_all(*r, sheet);
}

std::vector<std::string> texts(const std::vector<cell>& cells) {
  std::vector<std::string> out;
  for (const auto& c : cells) out.push_back(c.kind == wb_value_kind::text ? c.text : std::to_string(c.number));
  return out;
}

/// A BIFF2 cell: row, column, three attribute bytes (XF 15 in the first), then `value`.
std::string biff2_cell(std::uint16_t type, std::uint16_t row, std::uint16_t col, const std::string& value) {
  std::string p;
  put16(p, row);
  put16(p, col);
  return record(type, p + std::string("\x0F\0\0", 3) + value);
}

std::string bytes_of(double v) { return std::string(reinterpret_cast<const char*>(&v), 8); }

}  // namespace

TEST(XlsCellRecords, EveryFormulaNumberAndOlderCellRecordDeliversItsValue) {
  using biff5::formula;
  std::string integer;
  put16(integer, 42);
  const std::string cells =
      formula(0, 0, bytes_of(1.5), 0x0406) + formula(0, 1, bytes_of(2.5), 0x0206) + formula(0, 2, bytes_of(3.5)) +
      formula(1, 0, biff5::text_result(), 0x0406) + record(0x0207, xl_string("four-o-six")) +
      formula(1, 1, std::string("\x01\0\x01\0\0\0\xFF\xFF", 8), 0x0406) +  // boolean TRUE
      biff2_cell(0x0002, 2, 0, integer) + biff2_cell(0x0003, 2, 1, bytes_of(-7.25)) +
      biff2_cell(0x0004, 2, 2, std::string("\x03" "old", 4)) + biff2_cell(0x0005, 2, 3, std::string("\x01\0", 2)) +
      biff2_cell(0x0001, 2, 4, "");  // a BIFF2 BLANK holds nothing
  const auto got = cells_of(compound(workbook_stream("", cells)));
  ASSERT_EQ(got.size(), 9u);
  EXPECT_EQ(texts(got), (std::vector<std::string>{std::to_string(1.5), std::to_string(2.5), std::to_string(3.5),
                                                  "four-o-six", std::to_string(0.0), std::to_string(42.0),
                                                  std::to_string(-7.25), "old", std::to_string(0.0)}));
  EXPECT_EQ(got[4].kind, wb_value_kind::boolean);
  EXPECT_TRUE(got[4].boolean);
  EXPECT_EQ(got[8].kind, wb_value_kind::boolean);
  EXPECT_TRUE(got[8].boolean);

  // A cell record too short for its value is an error with the reason, never a row that vanishes.
  for (const std::string& damaged : {record(0x0006, at(0, 0) + "1234"), record(0x0206, at(0, 0)),
                                     record(0x0406, at(0, 0) + "1234"), biff2_cell(0x0003, 0, 0, "1234"),
                                     biff2_cell(0x0004, 0, 0, "\x09" "ab"), record(0x00BD, at(0, 0) + "123")}) {
    const std::string reason = opening_error(compound(workbook_stream("", damaged)));
    EXPECT_TRUE(reason.find("shorter") != std::string::npos || reason.find("MULRK") != std::string::npos) << reason;
  }
}

TEST(XlsCellRecords, TextsKeepTheirNulCharacters) {
  const std::string nul("a\0b", 3);
  std::string shared;  // one SST string that crosses into a CONTINUE record after its NUL
  put16(shared, 4);
  shared += std::string("\0x\0", 3);
  std::string sst_head;
  put32(sst_head, 1);
  put32(sst_head, 1);
  std::string rstring = at(0, 3) + xl_string(nul);
  put16(rstring, 0);  // no formatting runs
  const std::string globals = record(0x00FC, sst_head + shared) + record(0x003C, std::string("\x01" "y\0\0\0", 5));
  std::string sst_cell = at(0, 2);
  put32(sst_cell, 0);
  const std::string cells = record(0x0204, at(0, 0) + xl_string(nul)) +
                            record(0x0204, at(0, 1) + xl_string(nul, true)) + record(0x00FD, sst_cell) +
                            record(0x00D6, rstring) +
                            biff5::formula(0, 4, biff5::text_result()) + record(0x0207, xl_string(nul, true));
  EXPECT_EQ(texts(cells_of(compound(workbook_stream(globals, cells)))),
            (std::vector<std::string>{nul, nul, std::string("x\0y\0", 4), nul, nul}));

  const std::string book = biff5::workbook_stream(
      biff5::codepage(1252), {{"S", biff5::label(0, 0, nul) + biff5::formula(0, 1, biff5::text_result()) +
                                        record(0x0207, biff5::bytes(nul))}});
  EXPECT_EQ(texts(cells_of(compound(book, nullptr, "Book"))), (std::vector<std::string>{nul, nul}));
}

TEST(XlsCellRecords, RowsStoredOutOfOrderAreReadInRowOrder) {
  std::string mulrk = at(0, 1).substr(0, 4);  // row 0, from column 1: two RK numbers
  for (std::uint32_t v : {10u, 11u}) {
    put16(mulrk, 15);
    put32(mulrk, (v << 2) | 0x02);
  }
  put16(mulrk, 2);
  const std::string cells = number_cell(5, 0, 5) + number_cell(2, 1, 21) +
                            biff5::formula(9, 0, biff5::text_result()) + record(0x04BC, "shared") +
                            record(0x0207, xl_string("nine")) + number_cell(2, 0, 20) +  // row 2 again, column 0
                            bof(0x0020) + number_cell(1, 0, 99) + eof() +                  // a chart's own cells
                            record(0x00BD, mulrk) + record(0x0204, at(0, 0) + xl_string("head"));
  const std::string file = compound(workbook_stream("", cells));
  EXPECT_EQ(texts(cells_of(file)),
            (std::vector<std::string>{std::to_string(10.0), std::to_string(11.0), "head", std::to_string(21.0),
                                      std::to_string(20.0), std::to_string(5.0), "nine"}));

  // The row stream the typing pass and the row pass both read: rows ascend, each whole once.
  auto r = wb_open_xls_bytes(file, "t.xls");
  for (int pass = 0; pass < 2; ++pass) {
    auto rows = r->open_sheet(0);
    std::vector<std::pair<std::uint32_t, std::size_t>> seen;
    wb_row_view row;
    while (rows->next_row(row)) seen.emplace_back(row.row, row.count);
    EXPECT_EQ(seen, (std::vector<std::pair<std::uint32_t, std::size_t>>{{0, 3}, {2, 2}, {5, 1}, {9, 1}}));
  }

  // A formula met out of order still needs its STRING record.
  const std::string no_string =
      number_cell(3, 0, 1) + biff5::formula(1, 0, biff5::text_result()) + number_cell(2, 0, 1);
  EXPECT_NE(opening_error(compound(workbook_stream("", no_string))).find("no STRING record"), std::string::npos);
}

TEST(XlsCellRecords, ExcelFiveWorkbooksReadInTheirCodePages) {
  using namespace biff5;
  // Windows-1252: sheet names and texts with é and €, a date in the 1904 system by a FORMAT of its
  // own and by a built-in one, formulas' cached number and text, a second worksheet.
  std::vector<std::uint16_t> formats(16, 0);
  formats.push_back(164);
  formats.push_back(14);
  const std::string globals = codepage(1252) + record(0x0022, std::string("\x01\0", 2)) + format(164, "yyyy\xAD" "mm") +
                              xfs(formats);
  const std::string first = label(0, 0, "caf\xE9 \x80" "5") + number_cell(0, 1, 0) +
                            record(0x0203, at(1, 0, 16) + bytes_of(36526)) +
                            record(0x027E, at(1, 1, 17) + std::string("\x02\x02\0\0", 4)) +  // RK 128
                            formula(2, 0, number_result(6.5)) + formula(2, 1, text_result()) +
                            record(0x0207, bytes("r\xE9sum\xE9"));
  const std::string stream = workbook_stream(globals, {{"Caf\xE9 \x80", first}, {"Zwei", number_cell(0, 0, 2)}});
  for (const char* name : {"Book", "BOOK", "Workbook"}) {
    SCOPED_TRACE(name);
    auto r = wb_open_xls_bytes(compound(stream, nullptr, name), "t.xls");
    ASSERT_EQ(r->sheets().size(), 2u);
    EXPECT_EQ(r->sheets()[0].name, "Caf\u00e9 \u20ac");
    EXPECT_EQ(r->sheets()[1].name, "Zwei");
    EXPECT_TRUE(r->date1904());
    const auto got = read_all(*r, 0);
    ASSERT_EQ(got.size(), 6u);
    EXPECT_EQ(got[0].text, "caf\u00e9 \u20ac5");
    EXPECT_EQ(got[2].style, wb_number_style::date);
    EXPECT_EQ(got[2].number, 36526);
    EXPECT_EQ(got[3].style, wb_number_style::date);
    EXPECT_EQ(got[3].number, 128);
    EXPECT_EQ(got[4].number, 6.5);
    EXPECT_EQ(got[5].text, "r\u00e9sum\u00e9");
    ASSERT_EQ(read_all(*r, 1).size(), 1u);
    EXPECT_EQ(read_all(*r, 1)[0].number, 2);
  }

  // Code page 932: a double-byte sheet name and text; a lead byte cut off at the end is U+FFFD.
  const std::string sjis = workbook_stream(codepage(932), {{"\x95\x5C", label(0, 0, "\x93\xFA\x96\x7B" "1\x93")}});
  auto r = wb_open_xls_bytes(compound(sjis, nullptr, "Book"), "t.xls");
  EXPECT_EQ(r->sheets()[0].name, "\u8868");
  EXPECT_EQ(read_all(*r, 0)[0].text, "\u65e5\u672c" "1\ufffd");
  // Code page 936, a Cyrillic single-byte page, Mac Roman, and a byte that is no character of ASCII.
  const auto one_text = [](std::uint16_t page, const std::string& bytes) {
    return texts(cells_of(compound(workbook_stream(codepage(page), {{"S", label(0, 0, bytes)}}), nullptr, "Book")))[0];
  };
  EXPECT_EQ(one_text(936, "\xD6\xD0\xCE\xC4"), "\u4e2d\u6587");
  EXPECT_EQ(one_text(1251, "\xCF\xF0\xE8"), "\u041f\u0440\u0438");
  EXPECT_EQ(one_text(10000, "\x8E"), "\u00e9");
  EXPECT_EQ(one_text(367, "a\xE9"), "a\ufffd");
  // A code page nothing decodes is refused with its number, not read as another.
  const std::string unknown_page = compound(workbook_stream(codepage(4242), {{"S", ""}}), nullptr, "Book");
  EXPECT_NE(opening_error(unknown_page).find("code page 4242 is not supported"), std::string::npos);
}

// Excel 5.0/95 books written by other programs open their sheets with BIFF8's BOF version; the book's
// own BOF says how they are read.
TEST(XlsCellRecords, ExcelFiveBooksWhoseSheetsClaimBiff8AreReadAsExcelFive) {
  using namespace biff5;
  auto r = wb_open_xls_bytes(compound(mac_central_european_book(), nullptr, "Book"), "t.xls");
  ASSERT_EQ(r->sheets().size(), 1u);
  EXPECT_EQ(r->sheets()[0].name, "\u00c4rkusz1");
  EXPECT_EQ(texts(read_all(*r, 0)), (std::vector<std::string>{"Ilo\u015b\u0107", "Miejscowo\u015b\u0107", "128.000000",
                                                              "\u0141\u00f3d\u017a", "12.340000", "\u017b\u00f3\u0142w"}));
  // Cyrillic and Greek Macintosh pages, Vietnamese (combining accents) and Estonian Windows pages.
  for (auto [page, bytes, text] : {std::tuple<std::uint16_t, const char*, const char*>{10007, "\x8F\xF0\xE8", "\u041f\u0440\u0438"},
                                   {10006, "\xB6\xEC\xEC\xC0\xE4\xE1", "\u0395\u03bb\u03bb\u03ac\u03b4\u03b1"},
                                   {1258, "Ti\xEA\xEC" "ng", "Ti\u00ea\u0301ng"},
                                   {1257, "J\xF5geva", "J\u00f5geva"}}) {
    SCOPED_TRACE(page);
    const std::string book = workbook_stream(codepage(page), {{bytes, label(0, 0, bytes)}}, 0x0600);
    auto one = wb_open_xls_bytes(compound(book, nullptr, "Book"), "t.xls");
    EXPECT_EQ(one->sheets()[0].name, text);
    EXPECT_EQ(texts(read_all(*one, 0)), (std::vector<std::string>{text}));
  }
  // A sheet that does not open with a worksheet BOF is still refused.
  std::string chart = workbook_stream(codepage(1252), {{"S", ""}}, 0x0600);
  chart[chart.rfind(std::string("\x09\x08\x10\0\0\x06\x10\0", 8)) + 6] = 0x20;
  EXPECT_NE(opening_error(compound(chart, nullptr, "Book")).find("a sheet starts with a BOF of another kind"),
            std::string::npos);
}

// Only the code pages Excel names in a CODEPAGE record are read; any other number is refused with it,
// not read as whatever else ICU calls by that number (EBCDIC 500 among the OEM numbers).
TEST(XlsCellRecords, OnlyTheCodePagesOfExcelAreRead) {
  using namespace biff5;
  const auto book = [](std::uint16_t page, const std::string& bytes) {
    return compound(workbook_stream(codepage(page), {{"S", label(0, 0, bytes)}}), nullptr, "Book");
  };
  EXPECT_EQ(texts(cells_of(book(720, "\xE9"))), (std::vector<std::string>{"\u0644"}));
  EXPECT_EQ(texts(cells_of(book(858, "\xD5"))), (std::vector<std::string>{"\u20ac"}));
  EXPECT_EQ(texts(cells_of(book(32769, "\x80"))), (std::vector<std::string>{"\u20ac"}));
  const auto refused = [&](std::uint16_t page, const std::string& why) {
    return opening_error(book(page, "a")).find("code page " + std::to_string(page) + " is not supported: " + why) !=
           std::string::npos;
  };
  for (std::uint16_t page : {37, 500, 870, 875, 1026, 1047, 20127, 28591, 65001})
    EXPECT_TRUE(refused(page, "it is no code page of Excel")) << page;
  // Pages of Excel that ICU cannot decode are refused as such.
  for (std::uint16_t page : {1361, 10079}) EXPECT_TRUE(refused(page, "no converter")) << page;
}

TEST(XlsCellRecords, OlderVersionsAreRefusedWithTheirReason) {
  for (auto [bof_type, version] : {std::pair<std::uint16_t, const char*>{0x0009, "BIFF2 format (Excel 2.x)"},
                                   {0x0209, "BIFF3 format (Excel 3.0)"},
                                   {0x0409, "BIFF4 format (Excel 4.0)"}}) {
    std::string payload;
    put16(payload, 2);
    put16(payload, 0x0010);
    const std::string reason = opening_error(compound(record(bof_type, payload) + eof(), nullptr, "Book"));
    EXPECT_NE(reason.find(version), std::string::npos) << reason;
    EXPECT_NE(reason.find("only Excel 5.0 and later workbooks"), std::string::npos) << reason;
  }
  EXPECT_NE(opening_error(compound(bof(0x0005, 0x0400) + eof())).find("unknown BIFF version 1024"), std::string::npos);
}

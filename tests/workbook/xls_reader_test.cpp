// The .xls reader against the committed fixtures (tests/fixtures/xls/make_xls.py writes them).
#include <gtest/gtest.h>

#include "xls_test_support.h"
#include "workbook/xls/xls_open.h"

using namespace xls_test;

namespace {

constexpr auto txt = wb_value_kind::text;
constexpr auto boo = wb_value_kind::boolean;
constexpr auto err = wb_value_kind::error;
constexpr auto gen = wb_number_style::general;
constexpr auto date = wb_number_style::date;
constexpr auto money = wb_number_style::currency;

cell B(std::uint32_t r, std::uint32_t c, bool b) { return {r, c, boo, gen, b, 0, ""}; }
cell E(std::uint32_t r, std::uint32_t c) { return {r, c, err, gen, false, 0, ""}; }

long error_number_of(const std::string& path) {
  try {
    wb_open_xls(path);
  } catch (const wb_error& e) {
    return e.number();
  }
  return 0;
}

std::string error_text_of(const std::string& path) {
  try {
    wb_open_xls(path);
  } catch (const wb_error& e) {
    return e.what();
  }
  return "";
}

}  // namespace

TEST(XlsReader, ListsWorksheetsInOrderWithHiddenOnesAndWithoutChartSheets) {
  auto r = wb_open_xls(fixture("basic.xls"));
  ASSERT_EQ(r->sheets().size(), 4u);
  EXPECT_EQ(r->sheets()[0].name, "Data");
  EXPECT_FALSE(r->sheets()[0].hidden);
  EXPECT_EQ(r->sheets()[1].name, "Hidden");
  EXPECT_TRUE(r->sheets()[1].hidden);
  EXPECT_EQ(r->sheets()[2].name, "Very");  // very hidden
  EXPECT_TRUE(r->sheets()[2].hidden);
  EXPECT_EQ(r->sheets()[3].name, "Q1.2020");
  EXPECT_FALSE(r->date1904());
}

TEST(XlsReader, DeliversEveryKindOfValueCellInFileOrder) {
  auto r = wb_open_xls(fixture("basic.xls"));
  std::vector<cell> expected = {
      T(0, 0, "Name"), T(0, 1, "Amount"), T(0, 2, "When"), T(0, 3, "Flag"), T(0, 4, "Note"),
      T(1, 0, "Ann"), N(1, 1, 12), N(1, 2, 43861, date), B(1, 3, true), T(1, 4, "caf\u00e9 cr\u00e8me"),
      T(2, 0, "Bob"), N(2, 1, 2.5), N(2, 2, 44362.427083333336, date), B(2, 3, false),
      T(2, 4, "\u041b\u0438\u0441\u04421"),
      T(3, 0, "\U0001F600 smile"), N(3, 1, 1234.5, money), N(3, 2, 42), E(3, 3), T(3, 4, "hello"),
      // Formula results TRUE and an error; an empty-text result and the styled blank are blank.
      B(4, 0, true), E(4, 1), T(4, 4, "bold part"), N(4, 6, 43831, date),
      // MULRK (integer, negative, hundredths), LABEL, RSTRING; the embedded chart's cell is skipped.
      N(5, 0, 1), N(5, 1, -3), N(5, 2, 0.25), T(5, 3, "plain label"), T(5, 4, "rich label")};
  EXPECT_EQ(read_all(*r, 0), expected);
  // Reading again gives the same cells.
  EXPECT_EQ(read_all(*r, 0), expected);
  EXPECT_EQ(read_all(*r, 1), std::vector<cell>{T(0, 0, "secret")});
  EXPECT_EQ(read_all(*r, 3), std::vector<cell>{N(0, 0, 7)});
}

TEST(XlsReader, RowStreamHandsOutTheSameCellsRowByRow) {
  auto r = wb_open_xls(fixture("basic.xls"));
  std::vector<cell> pushed = read_all(*r, 0);
  auto stream = r->open_sheet(0);
  std::vector<cell> pulled;
  std::vector<std::uint32_t> rows;
  wb_row_view row;
  while (stream->next_row(row)) {
    rows.push_back(row.row);
    for (std::size_t i = 0; i < row.count; ++i) {
      const wb_cell& c = row.cells[i];
      EXPECT_EQ(c.row, row.row);
      pulled.push_back({c.row, c.col, c.kind, c.style, c.boolean, c.number, std::string(c.text)});
    }
  }
  EXPECT_EQ(pulled, pushed);
  EXPECT_EQ(rows, (std::vector<std::uint32_t>{0, 1, 2, 3, 4, 5}));
  EXPECT_FALSE(stream->next_row(row));
}

TEST(XlsReader, ReadsThe1904DateSystem) {
  auto r = wb_open_xls(fixture("date1904.xls"));
  EXPECT_TRUE(r->date1904());
  EXPECT_EQ(read_all(*r, 0), std::vector<cell>{N(0, 0, 0, date)});
}

TEST(XlsReader, SharedStringsContinueAcrossRecords) {
  auto r = wb_open_xls(fixture("long_texts.xls"));
  std::vector<cell> cells = read_all(*r, 0);
  ASSERT_EQ(cells.size(), 3003u);
  std::string wide, latin, rich;
  for (int k = 0; k < 9000; ++k) wide += (k % 7 == 0) ? "\u0436" : "a";
  for (int k = 0; k < 12000; ++k) {
    char32_t cp = 0xE0 + k % 20;
    latin += static_cast<char>(0xC0 | (cp >> 6));
    latin += static_cast<char>(0x80 | (cp & 0x3F));
  }
  rich = std::string(8300, 'x') + std::string(10, 'y');
  std::size_t item = 0;
  for (const cell& c : cells) {
    ASSERT_EQ(c.kind, txt);
    if (c.col == 0) {
      EXPECT_EQ(c.text, "item " + std::to_string(item));
      EXPECT_EQ(c.row, item);
      ++item;
    } else if (c.row == 0) {
      EXPECT_EQ(c.text, wide);
    } else if (c.row == 1) {
      EXPECT_EQ(c.text, latin);
    } else {
      EXPECT_EQ(c.text, rich);
    }
  }
  EXPECT_EQ(item, 3000u);
}

TEST(XlsReader, ReadsStreamsInTheMiniStreamAndFrom4096ByteSectors) {
  for (const char* name : {"mini_stream.xls", "sector4096.xls"}) {
    SCOPED_TRACE(name);
    auto r = wb_open_xls(fixture(name));
    ASSERT_EQ(r->sheets().size(), 1u);
    EXPECT_EQ(r->sheets()[0].name, "Small");
    EXPECT_EQ(read_all(*r, 0), (std::vector<cell>{T(0, 0, "tiny"), N(0, 1, 3)}));
  }
}

TEST(XlsReader, RefusesEncryptedAndOlderWorkbooksWithTheirReasons) {
  EXPECT_EQ(error_number_of(fixture("filepass.xls")), wb_err_protected);
  EXPECT_EQ(error_number_of(fixture("encrypted.xlsx")), wb_err_protected);
  EXPECT_EQ(error_text_of(fixture("encrypted.xlsx")),
            "Workbook '" + fixture("encrypted.xlsx") + "' is encrypted with a password.");
  // A BIFF5 globals BOF over BIFF8 records (a shared-string table); a BIFF8 stream stored as "Book" reads (the BOF tells).
  EXPECT_EQ(error_number_of(fixture("biff5_bof.xls")), wb_err_unreadable);
  EXPECT_NE(error_text_of(fixture("biff5_bof.xls")).find("BIFF version differs"), std::string::npos);
  EXPECT_EQ(read_all(*wb_open_xls(fixture("book_stream.xls")), 0), (std::vector<cell>{T(0, 0, "tiny"), N(0, 1, 3)}));
  EXPECT_EQ(error_text_of(fixture("no_workbook.xls")),
            "File '" + fixture("no_workbook.xls") + "' is not a readable workbook: no workbook stream.");
  EXPECT_EQ(error_number_of(fixture("missing.xls")), wb_err_file_not_found);
  EXPECT_EQ(error_number_of(fixture("make_xls.py")), wb_err_unreadable);
}

TEST(XlsReader, CompoundKindTellsWorkbooksFromEncryptedPackages) {
  EXPECT_EQ(wb_cfb_kind(fixture("basic.xls")), wb_cfb_content::workbook);
  EXPECT_EQ(wb_cfb_kind(fixture("book_stream.xls")), wb_cfb_content::workbook);
  EXPECT_EQ(wb_cfb_kind(fixture("encrypted.xlsx")), wb_cfb_content::encrypted_package);
  EXPECT_EQ(wb_cfb_kind(fixture("no_workbook.xls")), wb_cfb_content::other);
  EXPECT_EQ(wb_cfb_kind(fixture("make_xls.py")), wb_cfb_content::not_compound);
  EXPECT_THROW(wb_cfb_kind(fixture("missing.xls")), wb_error);
}

TEST(XlsReader, OpenWorkbookRoutesCompoundDocumentsHere) {
  auto r = wb_open_workbook(fixture("basic.xls"));
  EXPECT_EQ(r->sheets().size(), 4u);
  try {
    wb_open_workbook(fixture("encrypted.xlsx"));
    FAIL();
  } catch (const wb_error& e) {
    EXPECT_EQ(e.number(), wb_err_protected);
  }
}

// Excel 5.0/95 workbooks (BIFF5, "Book" stream, texts in their code pages) and .xls files as other
// programs write them, converted end to end.
#include "../workbook/xls_bytes.h"
#include "e2e_support.h"

namespace {

using strings = std::vector<std::string>;

TEST(E2eBiff5, ExcelFiveWorkbookLandsWithItsTextsDatesAndFormulaResults) {
  TAMARIND_REQUIRE_SERVER();
  using namespace xls_test;
  using namespace xls_test::biff5;
  e2e::scratch_dir dir;
  e2e::database_guard db{"e2e_biff5"};

  std::vector<std::uint16_t> formats(16, 0);
  formats.push_back(14);  // XF 16: a built-in date format
  const double serial = 36925;  // 2001-02-03
  const std::string first = label(0, 0, "Name") + label(0, 1, "Betrag") + label(0, 2, "Datum") +
                            label(1, 0, "Caf\xE9 \x80") + formula(1, 1, number_result(6.5)) +
                            record(0x0203, at(1, 2, 16) + number_result(serial)) +
                            formula(2, 0, text_result()) + record(0x0207, bytes("R\xE9sum\xE9")) +
                            number_cell(2, 1, -2);
  const std::string second = label(0, 0, "k") + number_cell(1, 0, 7);
  const std::string path =
      dir.write("old.xls", compound(workbook_stream(codepage(1252) + xfs(formats),
                                                    {{"Ums\xE4tze", first}, {"Zwei", second}}),
                                    nullptr, "Book"));

  const e2e::run_result r = e2e::run_corvel(
      e2e::join({"--src=" + path, "--extr_fn", "--dest=" + db.name()}, e2e::server_options(false)));
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("(2 worksheets)"), std::string::npos) << r.out;
  EXPECT_EQ(db.tables(), (strings{"public.ums\u00e4tze", "public.zwei"}));
  EXPECT_EQ(db.rows("SELECT name, betrag, datum::date FROM public.\"ums\u00e4tze\" ORDER BY betrag"),
            (strings{"R\u00e9sum\u00e9|-2|<null>", "Caf\u00e9 \u20ac|6.5|2001-02-03"}));
  EXPECT_EQ(db.rows("SELECT k FROM public.zwei"), (strings{"7"}));
}

// Written by another program: the book's BOF says Excel 5.0/95, its sheet's BOF BIFF8's 0x0600; texts
// in Mac Central European (10029), numbers as RK values.
TEST(E2eBiff5, ExcelFiveBookWhoseSheetClaimsBiff8LandsWithItsNamesAndValues) {
  TAMARIND_REQUIRE_SERVER();
  using namespace xls_test;
  using namespace xls_test::biff5;
  e2e::scratch_dir dir;
  e2e::database_guard db{"e2e_biff5_mac"};
  const std::string path = dir.write("mac.xls", compound(mac_central_european_book(), nullptr, "Book"));
  const e2e::run_result r = e2e::run_corvel(
      e2e::join({"--src=" + path, "--extr_fn", "--dest=" + db.name()}, e2e::server_options(false)));
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(db.tables(), (strings{"public.\u00c4rkusz1"}));
  EXPECT_EQ(db.columns("public", "\u00c4rkusz1"),
            (strings{"ilo\u015b\u0107:double precision", "miejscowo\u015b\u0107:character varying"}));
  EXPECT_EQ(db.rows("SELECT * FROM public.\"\u00c4rkusz1\" ORDER BY 1"),
            (strings{"12.34|\u017b\u00f3\u0142w", "128|\u0141\u00f3d\u017a"}));
}

// A shared-string table holding fewer strings than its count: the strings present load; a cell
// naming one past them is NULL, and its row is reported with the reason.
TEST(E2eBiff5, CellsPastTheSharedStringsTheWorkbookHoldsAreReportedWithTheirRows) {
  TAMARIND_REQUIRE_SERVER();
  using namespace xls_test;
  e2e::scratch_dir dir;
  e2e::database_guard db{"e2e_xls_sst"};
  const std::string sst = std::string("\5\0\0\0\5\0\0\0", 8) + xl_string("name") + xl_string("n") + xl_string("Anna");
  const auto shared = [](std::uint16_t row, std::uint16_t col, std::uint32_t index) {  // LABELSST
    return record(0x00FD, at(row, col) + std::string(reinterpret_cast<const char*>(&index), 4));
  };
  const std::string cells = shared(0, 0, 0) + shared(0, 1, 1) + shared(1, 0, 2) + number_cell(1, 1, 1) +
                            shared(2, 0, 4) + number_cell(2, 1, 2) + shared(3, 0, 2) + number_cell(3, 1, 3);
  const std::string path = dir.write("sst.xls", compound(workbook_stream(record(0x00FC, sst), cells)));
  const e2e::run_result r = e2e::run_corvel(
      e2e::join({"--src=" + path, "--extr_fn", "--dest=" + db.name()}, e2e::server_options(false)));
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("S, record #2: Column 'name': its text is shared string 4, past the 3 strings the workbook "
                       "holds; it is stored as NULL."),
            std::string::npos)
      << r.out;
  EXPECT_EQ(db.rows("SELECT name, n FROM public.s ORDER BY n"), (strings{"Anna|1", "<null>|2", "Anna|3"}));
}

}  // namespace

// An Excel 5.0/95 workbook (BIFF5, "Book" stream, Windows-1252 texts) converted end to end.
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

}  // namespace

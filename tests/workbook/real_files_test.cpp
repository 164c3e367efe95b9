// Workbooks written by other programs than the ones the other tests use (a headless office suite's
// .xlsx and .xls export, a Python workbook library), committed under tests/fixtures/real and made
// by make_real.sh there: the engine lists, types and reads them as those writers spell things.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "tk/tk_string.h"
#include "workbook/wb_engine.h"

namespace {

struct column {
  std::wstring name;
  int type;
  long size;
  bool operator==(const column&) const = default;
};

std::ostream& operator<<(std::ostream& os, const column& c) {
  return os << tk_to_utf8(c.name) << ":" << c.type << "/" << c.size;
}

using table_rows = std::vector<std::vector<std::string>>;

std::string fixture(const std::string& name) { return std::string(TAMARIND_SOURCE_DIR) + "/tests/fixtures/real/" + name; }

class RealFiles : public ::testing::Test {
 protected:
  ole_com_ptr<wb_database> open(const std::string& name, bool header = true) {
    engine_ = wb_make_workbook_engine();
    const std::string path = fixture(name);
    return engine_->open_database(std::wstring(path.begin(), path.end()), false, true,
                                  header ? L"Excel 5.0; IMEX=1;" : L"Excel 5.0; HDR=No; IMEX=1;");
  }
  static std::vector<std::wstring> tables(wb_database& db) {
    auto defs = db.tabledefs();
    std::vector<std::wstring> names;
    for (int i = 0; i < defs->count(); ++i) names.push_back(defs->item(i)->name());
    return names;
  }
  static std::vector<column> columns(wb_database& db, const std::wstring& table) {
    auto fields = db.tabledefs()->item(table)->fields();
    std::vector<column> out;
    for (int i = 0; i < fields->count(); ++i) {
      auto f = fields->item(i);
      out.push_back({f->name(), f->type(), f->size()});
    }
    return out;
  }
  static ole_com_ptr<wb_recordset> select(wb_database& db, const std::wstring& table) {
    return db.create_querydef(L"", L"SELECT * FROM [" + table + L"]")->open_recordset(wb_open_dynaset, wb_open_read_only);
  }
  // Every row as the text of its values; NULL as "<null>".
  static table_rows rows(wb_database& db, const std::wstring& table) {
    auto rs = select(db, table);
    auto fields = rs->fields();
    table_rows out;
    for (; !rs->eof(); rs->move_next()) {
      std::vector<std::string> row;
      for (int i = 0; i < fields->count(); ++i) {
        const ole_variant v = fields->item(i)->value();
        row.push_back(v.is_null() ? "<null>" : v.to_string());
      }
      out.push_back(row);
    }
    return out;
  }
  // The variant types of one row.
  static std::vector<VARTYPE> types_of_row(wb_database& db, const std::wstring& table, int row) {
    auto rs = select(db, table);
    for (int i = 0; i < row; ++i) rs->move_next();
    auto fields = rs->fields();
    std::vector<VARTYPE> out;
    for (int i = 0; i < fields->count(); ++i) out.push_back(fields->item(i)->value().get_type());
    return out;
  }
  ole_com_ptr<wb_engine> engine_;
};

long error_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const wb_error& e) {
    return e.number();
  }
  return 0;
}

constexpr const char* null_value = "<null>";

// The office suite's typed sheet: a leading empty row and column, a header with a blank and a
// duplicate, every kind of value, an empty row inside, formatted empty rows and columns after.
// "Early": this export writes the suite's own serials, 2 for 1900-01-01 and 60 for 1900-02-28, which
// the 1900 system reads as 1900-01-02 and as no date, so the column is text.
table_rows office_suite_data_rows() {
  return {
      {"Ann", "12", "2021-06-15", "1899-12-30 10:15:00", "2020-01-01 12:30:45.123", "19.99", "0.25", "1", null_value,
       "1e+300", "24", "  padded  ", "007", "0.5", "1900-01-02", "1.5"},
      {"Bob", "-3.5", "1900-03-01", "1899-12-30", "1999-12-31 23:59:59.999", "-0.01", "1.5", "0", null_value, "1e-300",
       "Bob!", "line one\nline two", "00123", "1.5", "60", "-2.25"},
      {"Zo\u00eb", "0.1", "1999-12-31", "1899-12-30 23:59:59", "1900-03-01 06:00:00", "1234567.89", "-0.125", "1",
       null_value, "123456789012345", null_value, "tab\there", "1e5", "2.5", null_value, null_value},
      std::vector<std::string>(16, null_value),
      {"Dee", "7", "2024-02-29", "1899-12-30 12:00:00", "2038-01-19 03:14:07", "0", "0", "0", null_value, "0", null_value,
       "\u03a9 \u2211 \U0001F600", " ", "3.5", null_value, null_value},
      {"Eve", null_value, null_value, null_value, null_value, null_value, null_value, null_value, null_value, null_value,
       "1", null_value, null_value, null_value, null_value, null_value},
  };
}

class OfficeSuiteBook : public RealFiles, public ::testing::WithParamInterface<const char*> {};

TEST_P(OfficeSuiteBook, ListsWorksheetsOnlyUnderTheirEngineNames) {
  auto db = open(GetParam());
  EXPECT_EQ(tables(*db.get()), (std::vector<std::wstring>{L"Data$", L"'Hidden one$'", L"'\u041b\u0438\u0441\u0442 1.2$'",
                                                          L"'Bob's$'", L"Merged$", L"Empty$"}));
  EXPECT_EQ(columns(*db.get(), L"'\u041b\u0438\u0441\u0442 1.2$'"),
            (std::vector<column>{{L"\u041a\u043b\u044e\u0447", wb_dao_text, 255},
                                 {L"\u0417\u043d\u0430\u0447\u0435\u043d\u0438\u0435", wb_dao_double, 8}}));
  EXPECT_EQ(rows(*db.get(), L"'Hidden one$'"), (table_rows{{"a", "1"}, {"Bold and plain", "2"}}));
  EXPECT_EQ(rows(*db.get(), L"'bob's$'"), (table_rows{{"1"}}));
  // Merged cells hold their value in the first cell only; a header cell under a merge is blank.
  EXPECT_EQ(columns(*db.get(), L"Merged$"),
            (std::vector<column>{{L"Region", wb_dao_text, 255}, {L"F2", wb_dao_text, 255}, {L"Total", wb_dao_double, 8}}));
  EXPECT_EQ(rows(*db.get(), L"Merged$"), (table_rows{{"North", "a", "1"}, {null_value, "b", "2"}}));
  // Only formatted cells: one empty text column, no rows.
  EXPECT_EQ(columns(*db.get(), L"Empty$"), (std::vector<column>{{L"F1", wb_dao_text, 255}}));
  EXPECT_EQ(db.get()->tabledefs()->item(L"Empty$")->record_count(), 0);
}

TEST_P(OfficeSuiteBook, TypesEveryColumnAndReadsEveryValue) {
  auto db = open(GetParam());
  // The suite's .xls export stores 0 as the cached result of a text formula, and no STRING record:
  // there the formula column holds numbers and an error only, so it is a number column.
  const bool xls = std::string(GetParam()).ends_with(".xls");
  const short calc_type = xls ? wb_dao_double : wb_dao_text;
  const short calc_size = xls ? 8 : 255;
  EXPECT_EQ(columns(*db.get(), L"Data$"),
            (std::vector<column>{{L"Name", wb_dao_text, 255},
                                 {L"Amount", wb_dao_double, 8},
                                 {L"When", wb_dao_date, 8},
                                 {L"Time", wb_dao_date, 8},
                                 {L"Stamp", wb_dao_date, 8},
                                 {L"Price", wb_dao_currency, 8},
                                 {L"Share", wb_dao_double, 8},
                                 {L"Flag", wb_dao_boolean, 1},
                                 {L"F9", wb_dao_text, 255},
                                 {L"Amount1", wb_dao_double, 8},
                                 {L"Calc", calc_type, calc_size},
                                 {L"Note", wb_dao_text, 255},
                                 {L"Code", wb_dao_text, 255},
                                 {L"amount#total", wb_dao_double, 8},
                                 {L"Early", wb_dao_text, 255},
                                 {L"Euro", wb_dao_currency, 8}}));
  // The formatted rows below the data are no rows; the empty row inside the data is one.
  EXPECT_EQ(db.get()->tabledefs()->item(L"Data$")->record_count(), 6);
  table_rows expected = office_suite_data_rows();
  if (xls) expected[1][10] = "0";
  EXPECT_EQ(rows(*db.get(), L"Data$"), expected);
  EXPECT_EQ(types_of_row(*db.get(), L"Data$", 0),
            (std::vector<VARTYPE>{VT_BSTR, VT_R8, VT_DATE, VT_DATE, VT_DATE, VT_CY, VT_R8, VT_BOOL, VT_NULL, VT_R8,
                                  static_cast<VARTYPE>(xls ? VT_R8 : VT_BSTR), VT_BSTR, VT_BSTR, VT_R8, VT_BSTR, VT_CY}));
  auto rs = select(*db.get(), L"Data$");
  EXPECT_EQ(rs->fields()->item(5)->value().get_cy().int64, 199900);  // 19.99 exactly
  EXPECT_DOUBLE_EQ(rs->fields()->item(4)->value().get_date(), 43831 + (12 * 3600 + 30 * 60 + 45.123) / 86400);
}

TEST_P(OfficeSuiteBook, HeaderRowOffDeliversTheHeaderAsData) {
  auto db = open(GetParam(), false);
  const auto cols = columns(*db.get(), L"Data$");
  ASSERT_EQ(cols.size(), 16u);
  EXPECT_EQ(cols[0], (column{L"F1", wb_dao_text, 255}));
  EXPECT_EQ(cols[1], (column{L"F2", wb_dao_text, 255}));  // "Amount" above numbers
  EXPECT_EQ(cols[8], (column{L"F9", wb_dao_text, 255}));
  const table_rows r = rows(*db.get(), L"Data$");
  ASSERT_EQ(r.size(), 7u);
  EXPECT_EQ(r[0][9], "Amount");
  EXPECT_EQ(r[0][13], "amount.total");
  EXPECT_EQ(r[1][1], "12");
  EXPECT_EQ(r[1][2], "2021-06-15");  // a date among texts is delivered as text
}

TEST_P(OfficeSuiteBook, WideSheetAndTheLongestText) {
  std::string wide = GetParam();
  wide.replace(wide.find("typed"), 5, "wide");
  auto db = open(wide);
  const auto cols = columns(*db.get(), L"Wide$");
  ASSERT_EQ(cols.size(), 200u);
  for (int i = 0; i < 200; ++i) EXPECT_EQ(cols[i], (column{L"c" + std::to_wstring(i), wb_dao_double, 8}));
  const table_rows r = rows(*db.get(), L"Wide$");
  ASSERT_EQ(r.size(), 2u);
  for (int i = 0; i < 200; ++i) EXPECT_EQ(r[1][i], std::to_string(i));

  EXPECT_EQ(columns(*db.get(), L"Long$"),
            (std::vector<column>{{L"text", wb_dao_memo, 0}, {L"n", wb_dao_double, 8}}));
  const table_rows l = rows(*db.get(), L"Long$");
  ASSERT_EQ(l.size(), 2u);
  ASSERT_EQ(l[0][0].size(), 32767u);
  std::string want(32767, ' ');
  for (std::size_t i = 0; i < want.size(); ++i) want[i] = static_cast<char>('a' + i % 26);
  EXPECT_EQ(l[0][0], want);
  EXPECT_EQ(l[1], (std::vector<std::string>{"short", "2"}));
}

TEST_P(OfficeSuiteBook, DatesCountedFrom1904) {
  std::string mac = GetParam();
  mac.replace(mac.find("typed"), 5, "1904");
  auto db = open(mac);
  EXPECT_EQ(columns(*db.get(), L"Mac$"), (std::vector<column>{{L"day", wb_dao_date, 8}, {L"n", wb_dao_double, 8}}));
  EXPECT_EQ(rows(*db.get(), L"Mac$"),
            (table_rows{{"1904-01-02", "1"}, {"2000-02-29", "2"}, {"2010-07-04 18:00:00", "3"}}));
}

// Formulas filled down columns (one shared formula each in the .xls) deliver their cached results.
TEST_P(OfficeSuiteBook, FormulasFilledDownAColumn) {
  std::string name = GetParam();
  name.replace(name.find("typed"), 5, "formulas");
  const bool xls = name.ends_with(".xls");
  auto db = open(name);
  // Comparisons are numbers under a TRUE/FALSE format: the suite stores no boolean results.
  const std::vector<column> common{{L"a", wb_dao_double, 8}, {L"twice", wb_dao_double, 8}};
  auto cols = columns(*db.get(), L"Formulas$");
  ASSERT_EQ(cols.size(), 6u);
  EXPECT_EQ(cols[0], common[0]);
  EXPECT_EQ(cols[1], common[1]);
  EXPECT_EQ(cols[3], (column{L"big", wb_dao_double, 8}));
  const table_rows r = rows(*db.get(), L"Formulas$");
  if (xls) {
    // The .xls export stores 0 for every text result.
    EXPECT_EQ(cols[2], (column{L"label", wb_dao_double, 8}));
    EXPECT_EQ(cols[5], (column{L"either", wb_dao_double, 8}));
    EXPECT_EQ(r, (table_rows{{"1", "2", "0", "0", "-0.5", "1"},
                             {"2", "4", "0", "0", "-1", "2"},
                             {"3", "6", "0", "1", null_value, "0"},
                             {"4", "8", "0", "1", "1", "0"},
                             {"5", "10", "0", "1", "0.5", "0"}}));
  } else {
    EXPECT_EQ(cols[2], (column{L"label", wb_dao_text, 255}));
    EXPECT_EQ(cols[5], (column{L"either", wb_dao_text, 255}));
    EXPECT_EQ(r, (table_rows{{"1", "2", "1x", "0", "-0.5", "1"},
                             {"2", "4", "2x", "0", "-1", "2"},
                             {"3", "6", "3x", "1", null_value, "big"},
                             {"4", "8", "4x", "1", "1", "big"},
                             {"5", "10", "5x", "1", "0.5", "big"}}));
  }
}

// An error result is an empty cell: numbers with a #DIV/0! among them are still a Double column.
TEST_P(OfficeSuiteBook, AnErrorAmongNumbersKeepsTheColumnDouble) {
  std::string name = GetParam();
  name.replace(name.find("typed"), 5, "formulas");
  auto db = open(name);
  EXPECT_EQ(columns(*db.get(), L"Formulas$").at(4), (column{L"inverse", wb_dao_double, 8}));
  EXPECT_EQ(types_of_row(*db.get(), L"Formulas$", 0).at(4), VT_R8);
  EXPECT_EQ(types_of_row(*db.get(), L"Formulas$", 2).at(4), VT_NULL);
}

INSTANTIATE_TEST_SUITE_P(XlsxAndXls, OfficeSuiteBook, ::testing::Values("lo_typed.xlsx", "lo_typed.xls"),
                         [](const auto& info) { return std::string(info.param).ends_with(".xls") ? "xls" : "xlsx"; });

TEST_F(RealFiles, OpenDocumentSpreadsheetIsNoReadableWorkbook) {
  EXPECT_EQ(error_of([&] { open("lo_1904.ods"); }), 3274);
}

// The suite's other .xlsx export writes its own serials (1899-12-30 is day 0, no 1900-02-29) and
// says so with workbookPr dateCompatibility="false".
TEST_F(RealFiles, SerialsCountedWithoutTheLeapDayOf1900) {
  auto db = open("lo_early.xlsx");
  EXPECT_EQ(columns(*db.get(), L"Early$"), (std::vector<column>{{L"day", wb_dao_date, 8}}));
  EXPECT_EQ(rows(*db.get(), L"Early$"), (table_rows{{"1900-01-01"}, {"1900-02-28"}, {"1900-03-01"}, {"2020-01-01"}}));
}

TEST_F(RealFiles, PythonLibraryStyledBook) {
  auto db = open("op_styled.xlsx");
  // The chart sheet is no table; the hidden one is.
  EXPECT_EQ(tables(*db.get()), (std::vector<std::wstring>{L"'Sales 2020.Q1$'", L"secret$", L"'O'Neil's list$'"}));
  EXPECT_EQ(columns(*db.get(), L"'Sales 2020.Q1$'"),
            (std::vector<column>{{L"Region", wb_dao_text, 255},
                                 {L"Units", wb_dao_double, 8},
                                 {L"Price", wb_dao_double, 8},  // 1e-07 and 9.99e+99 are no exact currency
                                 {L"Day", wb_dao_date, 8},
                                 {L"Stamp", wb_dao_date, 8},
                                 {L"Ok", wb_dao_boolean, 1},
                                 {L"Note", wb_dao_text, 255},
                                 {L"F8", wb_dao_text, 255},
                                 {L"units1", wb_dao_double, 8}}));
  // Formatted cells in column A and in J:M down to row 29 widen nothing; the formula saved without
  // a result is NULL.
  EXPECT_EQ(rows(*db.get(), L"'Sales 2020.Q1$'"),
            (table_rows{{"North", "10", "2.5", "2020-01-31", "2020-01-31 08:05:30.250", "1", "first", null_value, null_value},
                        {"South", "0", "1e-07", "1900-03-01", "2021-12-31 23:59:59.999", "0", " trail ", null_value, "5"},
                        {"East", "-7", "9.99e+99", "9999-12-31", "1970-01-01", "1", "multi\nline", null_value, "6"}}));
  EXPECT_EQ(rows(*db.get(), L"secret$"), (table_rows{{"v"}}));
  EXPECT_EQ(rows(*db.get(), L"'O'Neil's list$'"), (table_rows{{"O'Neil"}}));
}

TEST_F(RealFiles, PythonLibraryDates) {
  auto mac = open("op_1904.xlsx");
  EXPECT_EQ(columns(*mac.get(), L"Mac$"), (std::vector<column>{{L"day", wb_dao_date, 8}, {L"at", wb_dao_date, 8}}));
  EXPECT_EQ(rows(*mac.get(), L"Mac$"),
            (table_rows{{"1904-01-02", "1899-12-30 06:30:00"}, {"2000-02-29", "1899-12-30 00:00:00.500"}}));
  // ISO dates in t="d" cells; 1899-12-31 has no serial in the 1900 system, so it stays text.
  auto iso = open("op_iso_dates.xlsx");
  EXPECT_EQ(columns(*iso.get(), L"Iso$"), (std::vector<column>{{L"when", wb_dao_date, 8}, {L"early", wb_dao_text, 255}}));
  EXPECT_EQ(rows(*iso.get(), L"Iso$"), (table_rows{{"2022-05-06 07:08:09", "1899-12-31"}, {"2000-01-01", "2000-01-02"}}));
}

TEST_F(RealFiles, InlineRichTextAndSharedAndArrayFormulas) {
  auto db = open("op_strings.xlsx");
  EXPECT_EQ(columns(*db.get(), L"Text$"), (std::vector<column>{{L"text", wb_dao_text, 255},
                                                               {L"n", wb_dao_double, 8},
                                                               {L"tens", wb_dao_double, 8},
                                                               {L"upper", wb_dao_text, 255}}));
  EXPECT_EQ(rows(*db.get(), L"Text$"), (table_rows{{"Bold and italic", "1", "10", null_value},
                                                   {" inline A ", "2", "20", null_value},
                                                   {"1.50", "3", "30", "1.50"}}));
}

}  // namespace

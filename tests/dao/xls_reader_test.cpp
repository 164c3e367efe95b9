#include <gtest/gtest.h>

#include "dao/dao_database.h"
#include "dao/dao_engine.h"
#include "dao/dao_exception.h"
#include "dao_test_support.h"

using namespace dao_test;

namespace {

wb_fake_table named(const std::wstring& name) {
  wb_fake_table t;
  t.name = name;
  t.fields = {text_field(L"F1")};
  t.rows = {{ole_variant(name)}};
  return t;
}

/// A reader over a scripted workbook: the file only needs the ZIP signature.
struct fake_book {
  temp_dir dir;
  fake_engine_scope fake;
  test_reader reader;
  explicit fake_book(const std::vector<std::wstring>& tables) {
    for (const auto& t : tables) fake.script().tables.push_back(named(t));
    const std::string path = dir.file("book.xlsx");
    write_bytes(path, std::string("PK\x03\x04", 4) + std::string(20, '\0'));
    reader.set_source(wide(path));
  }
};

}  // namespace

TEST(XlsReaderNames, Simplify) {
  EXPECT_EQ(L"Sheet1", xls_reader::simplify_name(L"Sheet1$"));
  EXPECT_EQ(L"My Data", xls_reader::simplify_name(L"'My Data$'"));
  EXPECT_EQ(L"Q1", xls_reader::simplify_name(L"'Q1 $'"));
  EXPECT_EQ(L"Bob's", xls_reader::simplify_name(L"'Bob's$'"));
  EXPECT_EQ(L"$", xls_reader::simplify_name(L"$"));
  EXPECT_EQ(L"''", xls_reader::simplify_name(L"''"));
  EXPECT_EQ(L"a$", xls_reader::simplify_name(L"a$$"));
  // Only U+0020 is a blank here.
  EXPECT_EQ(L"\tx", xls_reader::simplify_name(L"' \tx $'"));
  EXPECT_EQ(L"", xls_reader::simplify_name(L"'   $'"));
}

TEST(XlsReaderListing, KeepsWorksheetsOnly) {
  fake_book book({L"Sheet1$", L"'My Data$'", L"Print_Area", L"A$B", L"$", L"''", L"'Q1 $'"});
  std::vector<std::wstring> sheets;
  ASSERT_TRUE(book.reader.get_all_sheets(sheets));
  // "$" is a worksheet whose own name is empty: listed under it, never dropped unseen.
  EXPECT_EQ((std::vector<std::wstring>{L"Sheet1", L"My Data", L"", L"Q1"}), sheets);
  const auto& map = book.reader.get_worksheets();
  ASSERT_EQ(4u, map.size());
  EXPECT_EQ(4, map.at(L"").position);
  EXPECT_EQ(L"Sheet1$", map.at(L"Sheet1").table);
  EXPECT_EQ(L"'My Data$'", map.at(L"My Data").table);
  EXPECT_EQ(L"'Q1 $'", map.at(L"Q1").table);
}

TEST(XlsReaderListing, ListerOpensReadOnlyWithoutHeaderRow) {
  fake_book book({L"Sheet1$"});
  std::vector<std::wstring> sheets;
  ASSERT_TRUE(book.reader.get_all_sheets(sheets));
  ASSERT_EQ(1u, book.fake.script().connects.size());
  EXPECT_EQ(L"Excel 5.0; HDR=No; IMEX=1;", book.fake.script().connects[0]);
  EXPECT_TRUE(book.fake.script().read_only_flags[0]);
  EXPECT_FALSE(book.fake.script().exclusive_flags[0]);
  EXPECT_EQ(1, book.fake.script().closes);  // the database went with the lister
  EXPECT_FALSE(dao_engine::has_instance());
}

TEST(XlsReaderListing, NoSourceListsNothingAndOpensNothing) {
  fake_engine_scope fake;
  fake.script().tables = {named(L"Sheet1$")};
  test_reader reader;
  std::vector<std::wstring> sheets{L"old"};
  EXPECT_FALSE(reader.get_all_sheets(sheets));
  EXPECT_TRUE(sheets.empty());
  EXPECT_TRUE(fake.script().opened_paths.empty());
}

TEST(XlsReaderSelection, ANewSelectionReplacesTheWorksheetsAndKeepsTheQueries) {
  fake_book book({L"Sheet1$", L"Sheet2$"});
  book.reader.store_query_entries({{L"big", L"SELECT * FROM [Sheet1$]"}}, {});
  std::vector<std::wstring> sheets;
  ASSERT_TRUE(book.reader.get_all_sheets(sheets));
  EXPECT_TRUE(book.reader.set_sel_sheets({L"Sheet1"}).empty());
  EXPECT_EQ(2u, book.reader.selected_tables().size());

  // Listed again and selected again, as a run does: the query stays, the worksheets are replaced.
  ASSERT_TRUE(book.reader.get_all_sheets(sheets));
  EXPECT_EQ(std::vector<std::wstring>{L"Nope"}, book.reader.set_sel_sheets({L"Sheet2", L"Nope"}));
  const auto& selected = book.reader.selected_tables();
  ASSERT_EQ(2u, selected.size());
  EXPECT_EQ(L"SELECT * FROM [Sheet1$]", selected.at(L"big"));
  EXPECT_EQ(L"", selected.at(L"Sheet2"));
  ASSERT_EQ(1u, book.reader.get_worksheets().size());
  EXPECT_EQ(L"Sheet2$", book.reader.get_worksheets().at(L"Sheet2").table);

  // The page's queries replace the selected queries; the worksheets stay.
  book.reader.store_query_entries({{L"other", L"SELECT 2"}}, {});
  ASSERT_EQ(2u, selected.size());
  EXPECT_EQ(0u, selected.count(L"big"));
  EXPECT_EQ(L"SELECT 2", selected.at(L"other"));
  EXPECT_EQ(1u, selected.count(L"Sheet2"));
}

TEST(XlsReaderListing, OpenXlsConnectStrings) {
  fake_engine_scope fake;
  dao_engine engine(0);
  ASSERT_TRUE(engine.set_version_if(0));
  xls_reader::open_xls(engine, L"a.xls", true);
  xls_reader::open_xls(engine, L"a.xls", false);
  EXPECT_EQ((std::vector<std::wstring>{L"Excel 5.0; IMEX=1;", L"Excel 5.0; HDR=No; IMEX=1;"}), fake.script().connects);
}

TEST(XlsReaderListing, NoEngineMeansNothingListed) {
  temp_dir dir;
  fake_engine_scope fake({3});
  fake.script().tables = {named(L"Sheet1$")};
  test_reader reader;
  const std::string path = dir.file("book.xlsx");
  write_bytes(path, std::string("PK\x03\x04", 4) + std::string(20, '\0'));
  reader.set_source(wide(path));
  std::vector<std::wstring> sheets{L"old"};
  EXPECT_FALSE(reader.get_all_sheets(sheets));
  EXPECT_TRUE(sheets.empty());
  EXPECT_TRUE(fake.script().opened_paths.empty());
}

TEST(XlsReaderListing, OpenFailurePassesOutAndReleasesTheEngine) {
  fake_book book({L"Sheet1$"});
  book.fake.script().failures["open_database"] = {3274, L"File is not a readable workbook."};
  std::vector<std::wstring> sheets;
  EXPECT_THROW(book.reader.get_all_sheets(sheets), dao_exception);
  EXPECT_FALSE(dao_engine::has_instance());
}

TEST(XlsReaderListing, NamesThatSimplifyAlikeGetDistinctEntries) {
  // A made-up name never takes a real worksheet's name, even that of a worksheet listed later, or
  // one that differs in case alone.
  fake_book book({L"'Data$'", L"Data$", L"'Data $'", L"'Data (2)$'", L"'data (4)$'"});
  std::vector<std::wstring> sheets;
  ASSERT_TRUE(book.reader.get_all_sheets(sheets));
  EXPECT_EQ((std::vector<std::wstring>{L"Data", L"Data (3)", L"Data (5)", L"Data (2)", L"data (4)"}), sheets);
  const auto& map = book.reader.get_worksheets();
  EXPECT_EQ(L"'Data$'", map.at(L"Data").table);
  EXPECT_EQ(1, map.at(L"Data (3)").position);
  EXPECT_EQ(L"'Data $'", map.at(L"Data (5)").table);
  EXPECT_EQ(L"'Data (2)$'", map.at(L"Data (2)").table);
  EXPECT_EQ(3, map.at(L"Data (2)").position);
}

TEST(XlsReaderSelection, KeepsFoundNamesAndReportsTheRest) {
  fake_book book({L"Sheet1$", L"Sheet2$"});
  std::vector<std::wstring> sheets;
  ASSERT_TRUE(book.reader.get_all_sheets(sheets));
  const auto missing = book.reader.set_sel_sheets({L"Sheet2", L"Nope", L"SHEET1"});
  EXPECT_EQ((std::vector<std::wstring>{L"Nope", L"SHEET1"}), missing);
  ASSERT_EQ(1u, book.reader.get_worksheets().size());
  EXPECT_EQ(L"Sheet2$", book.reader.get_worksheets().at(L"Sheet2").table);
  ASSERT_EQ(1u, book.reader.selected_tables().size());
  EXPECT_EQ(L"", book.reader.selected_tables().at(L"Sheet2"));
  // A later selection works on what is left and replaces the selected tables.
  EXPECT_EQ(std::vector<std::wstring>{L"Sheet1"}, book.reader.set_sel_sheets({L"Sheet1"}));
  EXPECT_TRUE(book.reader.get_worksheets().empty());
  EXPECT_TRUE(book.reader.selected_tables().empty());
}

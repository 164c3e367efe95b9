// The source side over real workbooks written at test time.
#include <gtest/gtest.h>
#include <xlsxwriter.h>

#include "dao/dao_database.h"
#include "dao/dao_engine.h"
#include "dao/dao_exception.h"
#include "dao/dao_record.h"
#include "dao/dao_recordset.h"
#include "dao_test_support.h"
#include "tk/tk_string.h"
#include "wb_test_files.h"

#include <algorithm>
#include "udb/udb_types.h"

using namespace dao_test;

namespace {

/// One sheet "Data": a header row and three rows of every kind the engine types.
void write_typed_book(const std::string& path) {
  lxw_workbook* wb = workbook_new(path.c_str());
  lxw_worksheet* ws = workbook_add_worksheet(wb, "Data");
  lxw_format* money = workbook_add_format(wb);
  format_set_num_format(money, "$#,##0.00");
  lxw_format* date = workbook_add_format(wb);
  format_set_num_format(date, "yyyy-mm-dd hh:mm");
  lxw_format* time = workbook_add_format(wb);
  format_set_num_format(time, "hh:mm");
  const char* heads[] = {"Name", "Amount", "When", "Flag", "Num", "Time"};
  for (int c = 0; c < 6; ++c) worksheet_write_string(ws, 0, static_cast<lxw_col_t>(c), heads[c], nullptr);
  worksheet_write_string(ws, 1, 0, "alpha", nullptr);
  worksheet_write_number(ws, 1, 1, 12.5, money);
  worksheet_write_number(ws, 1, 2, 45366.5, date);  // 2024-03-15 12:00
  worksheet_write_boolean(ws, 1, 3, 1, nullptr);
  worksheet_write_number(ws, 1, 4, 2.25, nullptr);
  worksheet_write_number(ws, 1, 5, 0.4270833333333333, time);  // 10:15
  // Row 2 leaves Name and Num blank.
  worksheet_write_number(ws, 2, 1, 3, money);
  worksheet_write_number(ws, 2, 2, 45367, date);
  worksheet_write_boolean(ws, 2, 3, 0, nullptr);
  worksheet_write_number(ws, 2, 5, 0, time);  // midnight: day 0 alone
  worksheet_write_string(ws, 3, 0, "gamma", nullptr);
  worksheet_write_number(ws, 3, 1, 0.25, money);
  worksheet_write_number(ws, 3, 2, 45368.75, date);
  worksheet_write_boolean(ws, 3, 3, 1, nullptr);
  worksheet_write_number(ws, 3, 4, -1, nullptr);
  worksheet_write_number(ws, 3, 5, 0.5, time);
  ASSERT_EQ(LXW_NO_ERROR, workbook_close(wb));
}

/// Sheets with odd names; each holds its own name in A1 so a test can tell which one it opened.
void write_named_book(const std::string& path, const std::vector<std::string>& names) {
  lxw_workbook* wb = workbook_new(path.c_str());
  for (const auto& n : names) {
    lxw_worksheet* ws = workbook_add_worksheet(wb, n.c_str());
    ASSERT_NE(nullptr, ws) << n;
    worksheet_write_string(ws, 0, 0, n.c_str(), nullptr);
  }
  ASSERT_EQ(LXW_NO_ERROR, workbook_close(wb));
}

struct real_source {
  dao_engine engine{0};
  real_source() { EXPECT_TRUE(engine.set_version_if(3)); }
};

}  // namespace

TEST(DaoWorkbook, ColumnsTypesAndValuesOfARealSheet) {
  temp_dir dir;
  const std::string path = dir.file("typed.xlsx");
  write_typed_book(path);
  real_source src;
  auto db = xls_reader::open_xls(src.engine, wide(path), true);
  ASSERT_EQ(std::vector<std::wstring>{L"Data$"}, db->get_tables());
  auto rs = db->get_table(L"Data$", 1);
  ASSERT_TRUE(rs);
  EXPECT_EQ(3, rs->rec_count);
  const udb_schema& s = rs->schema;
  ASSERT_EQ(6u, s.size());
  EXPECT_EQ(L"Name", s[0].name);
  EXPECT_EQ(VT_BSTR, s[0].vartype);
  EXPECT_EQ(255u, s[0].size);
  EXPECT_EQ(VT_CY, s[1].vartype);
  EXPECT_EQ(VT_DATE, s[2].vartype);
  EXPECT_EQ(udb_reserved_date_time, s[2].reserved);
  EXPECT_EQ(VT_BOOL, s[3].vartype);
  EXPECT_EQ(VT_R8, s[4].vartype);
  EXPECT_EQ(VT_DATE, s[5].vartype);
  // No column of a workbook has a default: text columns carry the empty text, others nothing.
  EXPECT_EQ(L"", s[0].value.to_wstring());
  for (std::size_t i = 1; i < s.size(); ++i) EXPECT_TRUE(s[i].value.is_empty()) << i;

  ASSERT_FALSE(rs->is_eof());
  udb_record* r = rs->get_item();
  ASSERT_EQ(6u, r->size());
  EXPECT_EQ(L"alpha", r->at(0).to_wstring());
  EXPECT_EQ(VT_CY, r->at(1).get_type());
  EXPECT_EQ("12.5", r->at(1).to_string().substr(0, 4));
  EXPECT_EQ(L"2024-03-15 12:00:00", r->at(2).to_wstring().substr(0, 19));
  EXPECT_EQ(VT_BOOL, r->at(3).get_type());
  EXPECT_TRUE(r->at(3).get_bool());
  EXPECT_EQ(2.25, r->at(4).get_double());
  // A time of day prints without the day-0 date, never a second short.
  EXPECT_EQ(L"0000-00-00 10:15:00", r->at(5).to_wstring());
  EXPECT_EQ("0000-00-00 10:15:00", r->at(5).to_string());

  rs->next();
  r = rs->get_item();
  EXPECT_TRUE(r->at(0).is_null());
  EXPECT_EQ(VT_NULL, r->at(0).get_type());
  EXPECT_EQ(VT_NULL, r->at(4).get_type());
  EXPECT_FALSE(r->at(3).get_bool());
  EXPECT_EQ(L"00:00:00", r->at(5).to_wstring());
  EXPECT_EQ("00:00:00", r->at(5).to_string());
  EXPECT_EQ(L"2024-03-16", r->at(2).to_wstring().substr(0, 10));

  rs->next();
  r = rs->get_item();
  EXPECT_EQ(L"2024-03-17 18:00:00", r->at(2).to_wstring().substr(0, 19));
  EXPECT_EQ(-1.0, r->at(4).get_double());
  rs->next();
  EXPECT_TRUE(rs->is_eof());
  // Read again from the start after the end.
  rs->reset();
  EXPECT_FALSE(rs->is_eof());
  EXPECT_EQ(L"alpha", rs->get_item()->at(0).to_wstring());
}

TEST(DaoWorkbook, HeaderRowOptionAndRecordCount) {
  temp_dir dir;
  const std::string path = dir.file("typed.xlsx");
  write_typed_book(path);
  real_source src;
  auto db = xls_reader::open_xls(src.engine, wide(path), false);
  auto rs = db->get_table(L"Data$", 1);
  EXPECT_EQ(4, rs->rec_count);
  EXPECT_EQ(L"F1", rs->schema[0].name);
  // The header row is data now, so the columns of texts and numbers are texts.
  EXPECT_EQ(VT_BSTR, rs->schema[1].vartype);
  EXPECT_EQ(L"Name", rs->get_item()->at(0).to_wstring());
  rs.reset();
  EXPECT_EQ(4u, db->get_records_count(L"SELECT * FROM [Data$]"));
  EXPECT_EQ(4u, db->get_records_count(L"SELECT * FROM [Data$];"));
  EXPECT_TRUE(db->test_query(L"SELECT * FROM [Data$]"));
  EXPECT_FALSE(db->test_query(L"SELECT * FROM [Nope$]"));
}

TEST(DaoWorkbook, EmptySheetIsAtEndAtOnce) {
  temp_dir dir;
  const std::string path = dir.file("empty.xlsx");
  write_named_book(path, {"Full"});
  lxw_workbook* wb = workbook_new(path.c_str());
  workbook_add_worksheet(wb, "Empty");
  ASSERT_EQ(LXW_NO_ERROR, workbook_close(wb));
  real_source src;
  auto db = xls_reader::open_xls(src.engine, wide(path), true);
  auto rs = db->get_table(L"Empty$", 1);
  EXPECT_TRUE(rs->is_eof());
  EXPECT_EQ(0, rs->rec_count);
  ASSERT_EQ(1u, rs->schema.size());
  EXPECT_EQ(VT_BSTR, rs->schema[0].vartype);
}

TEST(DaoWorkbook, EngineErrorsBecomeDaoExceptions) {
  temp_dir dir;
  real_source src;
  try {
    xls_reader::open_xls(src.engine, wide(dir.file("missing.xlsx")), true);
    FAIL() << "no exception";
  } catch (const dao_exception& e) {
    EXPECT_EQ(0x00010000 | 3024, e.code());
    EXPECT_NE(std::string::npos, e.message().find("missing.xlsx"));
  }
  const std::string junk = dir.file("junk.xlsx");
  write_bytes(junk, std::string("PK\x03\x04", 4) + std::string(60, 'x'));
  try {
    xls_reader::open_xls(src.engine, wide(junk), true);
    FAIL() << "no exception";
  } catch (const dao_exception& e) {
    EXPECT_EQ(0x00010000 | 3274, e.code());
    EXPECT_EQ(tk_level_recoverable, e.level());
  }
}

TEST(DaoWorkbookReader, ListsAndSelectsSheetsBySimplifiedNames) {
  temp_dir dir;
  const std::string path = dir.file("names.xlsx");
  write_named_book(path, {"Sheet1", "My Data", "2019", "Bob's", "Лист1", "Q1.2020"});
  test_reader reader;
  reader.set_source(wide(path));
  std::vector<std::wstring> sheets{L"stale"};
  ASSERT_TRUE(reader.get_all_sheets(sheets));
  EXPECT_EQ((std::vector<std::wstring>{L"Sheet1", L"My Data", L"2019", L"Bob's", L"Лист1", L"Q1.2020"}), sheets);
  EXPECT_EQ(L"'My Data$'", reader.get_worksheets().at(L"My Data").table);
  EXPECT_FALSE(dao_engine::has_instance());  // the lister's engine is gone

  const auto missing = reader.set_sel_sheets({L"Bob's", L"sheet1", L"Лист1", L"Nope"});
  EXPECT_EQ((std::vector<std::wstring>{L"sheet1", L"Nope"}), missing);
  ASSERT_EQ(2u, reader.get_worksheets().size());
  EXPECT_EQ(2u, reader.selected_tables().size());
  EXPECT_EQ(L"", reader.selected_tables().at(L"Bob's"));

  // Each selected worksheet opens as its own table.
  real_source src;
  auto db = xls_reader::open_xls(src.engine, wide(path), false);
  for (const auto& [name, sheet] : reader.get_worksheets()) {
    auto rs = db->get_table(sheet.table, 1);
    ASSERT_TRUE(rs) << tk_to_utf8(name);
    EXPECT_EQ(name, rs->get_item()->at(0).to_wstring());
  }
}

TEST(DaoWorkbookReader, SheetsWhoseNamesSimplifyAlikeStayReachable) {
  temp_dir dir;
  const std::string path = dir.file("twins.xlsx");
  write_named_book(path, {"Data", "Data ", "Data (2)"});
  test_reader reader;
  reader.set_source(wide(path));
  std::vector<std::wstring> sheets;
  ASSERT_TRUE(reader.get_all_sheets(sheets));
  EXPECT_EQ((std::vector<std::wstring>{L"Data", L"Data (3)", L"Data (2)"}), sheets);
  ASSERT_EQ(3u, reader.get_worksheets().size());
  reader.set_sel_sheets(sheets);
  real_source src;
  auto db = xls_reader::open_xls(src.engine, wide(path), false);
  std::vector<std::wstring> contents;
  for (const auto& entry : reader.get_worksheets())
    contents.push_back(db->get_table_at(entry.second.position, 1)->get_item()->at(0).to_wstring());
  std::sort(contents.begin(), contents.end());
  EXPECT_EQ((std::vector<std::wstring>{L"Data", L"Data ", L"Data (2)"}), contents);
}

TEST(DaoWorkbookReader, WorksheetsOfOneNameOrEqualButForCaseEachGiveTheirOwnRows) {
  // Other writers than the spreadsheet program allow such names. Each sheet holds its position.
  temp_dir dir;
  const std::string path = dir.file("twins.xlsx");
  wb_test::xlsx_parts parts;
  for (const char* name : {"data", "Data", "DATA", "Twin", "Twin"})
    parts.sheets.emplace_back(name, "<row><c><v>" + std::to_string(parts.sheets.size() + 1) + "</v></c></row>");
  wb_test::write_xlsx(path, parts);
  test_reader reader;
  reader.set_source(wide(path));
  std::vector<std::wstring> sheets;
  ASSERT_TRUE(reader.get_all_sheets(sheets));
  EXPECT_EQ((std::vector<std::wstring>{L"data", L"Data", L"DATA", L"Twin", L"Twin (2)"}), sheets);
  real_source src;
  auto db = xls_reader::open_xls(src.engine, wide(path), false);
  const auto first = [](std::unique_ptr<udb_recordset> rs) { return rs->get_item()->at(0).to_wstring(); };
  EXPECT_EQ(L"5", first(db->get_table_at(reader.get_worksheets().at(L"Twin (2)").position, 1)));
  // A query finds the spelling it names; one that only case ties to several spellings finds none.
  EXPECT_EQ(L"3", first(db->get_query(L"q", L"SELECT * FROM [DATA$]", 1)));
  EXPECT_EQ(L"2", first(db->get_table(L"Data$", 1)));
  EXPECT_EQ(L"4", first(db->get_query(L"q", L"SELECT * FROM [twin$]", 1)));
  EXPECT_THROW(db->get_query(L"q", L"SELECT * FROM [dAtA$]", 1), dao_exception);
}

TEST(DaoWorkbookReader, ListerRefusesWhatIsNoWorkbook) {
  temp_dir dir;
  test_reader reader;
  const std::string text = dir.file("notes.xls");
  write_bytes(text, "just some text, not a workbook");
  reader.set_source(wide(text));
  std::vector<std::wstring> sheets{L"old"};
  EXPECT_FALSE(reader.get_all_sheets(sheets));
  EXPECT_TRUE(sheets.empty());
  const std::string tiny = dir.file("tiny.xls");
  write_bytes(tiny, "1234567");
  reader.set_source(wide(tiny));
  EXPECT_THROW(reader.get_all_sheets(sheets), tk_exception);
  EXPECT_FALSE(dao_engine::has_instance());
  // Selecting before any listing finds nothing.
  test_reader fresh;
  EXPECT_EQ(std::vector<std::wstring>{L"Data"}, fresh.set_sel_sheets({L"Data"}));
}

TEST(DaoWorkbookReader, CompoundDocumentWorkbook) {
  const std::string fixtures = std::string(TAMARIND_SOURCE_DIR) + "/tests/fixtures/xls/";
  test_reader reader;
  reader.set_source(wide(fixtures + "basic.xls"));
  std::vector<std::wstring> sheets;
  ASSERT_TRUE(reader.get_all_sheets(sheets));
  EXPECT_EQ((std::vector<std::wstring>{L"Data", L"Hidden", L"Very", L"Q1.2020"}), sheets);
  reader.set_sel_sheets({L"Data"});

  dao_engine engine(0);
  ASSERT_TRUE(engine.set_version_if(xls_dao_version(wide(fixtures + "basic.xls")).get_version()));
  EXPECT_EQ(0, engine.get_version_key());
  auto db = xls_reader::open_xls(engine, wide(fixtures + "basic.xls"), true);
  auto rs = db->get_table(reader.get_worksheets().at(L"Data").table, 1);
  ASSERT_TRUE(rs);
  EXPECT_EQ(L"Name", rs->schema[0].name);
  udb_record* r = rs->get_item();
  EXPECT_EQ(L"Ann", r->at(0).to_wstring());
  EXPECT_EQ(L"2020-01-31", r->at(2).to_wstring().substr(0, 10));
  rs.reset();
  db.reset();
  try {
    xls_reader::open_xls(engine, wide(fixtures + "filepass.xls"), true);
    FAIL() << "no exception";
  } catch (const dao_exception& e) {
    EXPECT_EQ(0x00010000 | 3161, e.code());
  }
}

TEST(DaoWorkbook, EachRowReadsAFreshRecordWhateverTheCallerChanged) {
  temp_dir dir;
  const std::string path = dir.file("typed.xlsx");
  write_typed_book(path);
  real_source src;
  auto db = xls_reader::open_xls(src.engine, wide(path), true);
  auto rs = db->get_table(L"Data$", 1);
  ASSERT_TRUE(rs);
  udb_record* r = rs->get_item();
  ASSERT_EQ(6u, r->size());
  // A caller that renames, retypes or empties fields of one row must not see it on the next.
  r->at(0).name = L"renamed";
  r->at(0).size = 1;
  r->at(0).b_not_null = true;
  r->at(1).change_type(VT_BSTR);
  r->at(4).set_null();
  rs->next();
  r = rs->get_item();
  EXPECT_EQ(L"Name", r->at(0).name);
  EXPECT_EQ(255, r->at(0).size);
  EXPECT_FALSE(r->at(0).b_not_null);
  EXPECT_TRUE(r->at(0).is_null());
  EXPECT_EQ(VT_CY, r->at(1).get_type());
  EXPECT_EQ(VT_NULL, r->at(4).get_type());
  rs->next();
  r = rs->get_item();
  EXPECT_EQ(L"gamma", r->at(0).to_wstring());
  EXPECT_EQ(-1.0, r->at(4).get_double());
  EXPECT_EQ(L"2024-03-17 18:00:00", r->at(2).to_wstring().substr(0, 19));
  // Past the end a record still comes, with no values and the columns' types.
  rs->next();
  ASSERT_TRUE(rs->is_eof());
  r = rs->get_item();
  ASSERT_EQ(6u, r->size());
  EXPECT_TRUE(r->at(0).is_empty());
  EXPECT_EQ(VT_BSTR, r->at(0).get_type());
  EXPECT_EQ(VT_DATE, r->at(2).get_type());
}

// The workbook engine over files written by a common spreadsheet writer: listing, header rows,
// column typing over every row, values, dates, the cursor, and the engine's error numbers.
#include <gtest/gtest.h>
#include <xlsxwriter.h>

#include <cmath>

#include "wb_test_files.h"
#include "workbook/sql/wb_sql_query.h"
#include "workbook/wb_engine.h"

namespace {

struct xlsx_book {
  explicit xlsx_book(const std::string& path, bool constant_memory = false) {
    lxw_workbook_options o{};
    o.constant_memory = constant_memory;
    wb = workbook_new_opt(path.c_str(), &o);
  }
  ~xlsx_book() {
    if (wb) workbook_close(wb);
  }
  void close() {
    workbook_close(wb);
    wb = nullptr;
  }
  lxw_worksheet* sheet(const char* name) { return workbook_add_worksheet(wb, name); }
  lxw_format* number_format(const char* code) {
    lxw_format* f = workbook_add_format(wb);
    format_set_num_format(f, code);
    return f;
  }
  lxw_workbook* wb;
};

long error_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const wb_error& e) {
    return e.number();
  }
  return 0;
}

struct column_info {
  std::wstring name;
  int type;
  long size;
};

class WorkbookEngine : public ::testing::Test {
 protected:
  ole_com_ptr<wb_database> open(bool header = true) {
    engine_ = wb_make_workbook_engine();
    return engine_->open_database(tk_wide(path_), false, true, header ? L"Excel 5.0; IMEX=1;" : L"Excel 5.0; HDR=No; IMEX=1;");
  }
  static std::wstring tk_wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }
  std::vector<std::wstring> table_names(wb_database& db) {
    auto defs = db.tabledefs();
    std::vector<std::wstring> names;
    for (int i = 0; i < defs->count(); ++i) names.push_back(defs->item(i)->name());
    return names;
  }
  std::vector<column_info> columns(wb_database& db, const std::wstring& table) {
    auto fields = db.tabledefs()->item(table)->fields();
    std::vector<column_info> out;
    for (int i = 0; i < fields->count(); ++i) {
      auto f = fields->item(i);
      out.push_back({f->name(), f->type(), f->size()});
    }
    return out;
  }
  ole_com_ptr<wb_recordset> select(wb_database& db, const std::wstring& table) {
    return db.create_querydef(L"", L"SELECT * FROM [" + table + L"]")->open_recordset(wb_open_dynaset, wb_open_read_only);
  }
  // Every row as the text of its values ("" for NULL).
  std::vector<std::vector<std::string>> rows(wb_database& db, const std::wstring& table) {
    auto rs = select(db, table);
    auto fields = rs->fields();
    std::vector<std::vector<std::string>> out;
    for (; !rs->eof(); rs->move_next()) {
      std::vector<std::string> row;
      for (int i = 0; i < fields->count(); ++i) {
        const ole_variant v = fields->item(i)->value();
        row.push_back(v.is_null() ? "" : v.to_string());
      }
      out.push_back(row);
    }
    return out;
  }
  ole_variant value_at(wb_database& db, const std::wstring& table, int row, int col) {
    auto rs = select(db, table);
    for (int i = 0; i < row; ++i) rs->move_next();
    return rs->fields()->item(col)->value();
  }

  wb_test::temp_dir dir_;
  std::string path_ = dir_.file("book.xlsx");
  ole_com_ptr<wb_engine> engine_;
};

TEST_F(WorkbookEngine, ListsWorksheetsUnderTheEngineNames) {
  {
    xlsx_book b(path_);
    for (const char* n : {"Sheet1", "My Data", "Q1.2020", "2019", "Bob's", "\xD0\x9B\xD0\xB8\xD1\x81\xD1\x82\x31", "Hid"})
      b.sheet(n);
    worksheet_hide(workbook_get_worksheet_by_name(b.wb, "Hid"));
    lxw_chart* chart = workbook_add_chart(b.wb, LXW_CHART_LINE);
    chart_add_series(chart, nullptr, "=Sheet1!$A$1:$A$2");
    chartsheet_set_chart(workbook_add_chartsheet(b.wb, "Chart"), chart);
    workbook_define_name(b.wb, "Sales", "=Sheet1!$A$1:$A$2");
  }
  auto db = open();
  EXPECT_EQ(table_names(*db.get()), (std::vector<std::wstring>{L"Sheet1$", L"'My Data$'", L"'Q1.2020$'", L"'2019$'",
                                                          L"'Bob's$'", L"Лист1$", L"Hid$"}));
  EXPECT_EQ(db->tabledefs()->item(L"sheet1$")->name(), L"Sheet1$");
  EXPECT_EQ(error_of([&] { db->tabledefs()->item(L"Nope$"); }), wb_err_no_such_item);
  EXPECT_EQ(engine_->errors().at(0).number, wb_err_no_such_item);
  // Both bracket forms name the sheet; an unknown one is 3078.
  EXPECT_TRUE(select(*db.get(), L"'My Data$'")->eof());
  EXPECT_TRUE(select(*db.get(), L"My Data$")->eof());
  EXPECT_EQ(error_of([&] { select(*db.get(), L"Other$"); }), wb_err_no_such_sheet);
  // Any other SELECT runs as SQL over the sheets: an unknown column is the engine's 3061.
  EXPECT_EQ(error_of([&] { db->create_querydef(L"", L"SELECT a FROM [Sheet1$]")->open_recordset(2, 4); }),
            wb_err_no_such_column);
}

TEST_F(WorkbookEngine, HeaderRowOnAndOff) {
  {
    xlsx_book b(path_);
    auto* s = b.sheet("S");
    // The block starts at B3: leading empty rows and columns are not part of the table.
    worksheet_write_string(s, 2, 1, "Name", nullptr);
    worksheet_write_string(s, 2, 2, "name", nullptr);
    worksheet_write_number(s, 2, 3, 2.5, nullptr);
    worksheet_write_string(s, 2, 5, "a.b", nullptr);
    worksheet_write_string(s, 3, 1, "x", nullptr);
    worksheet_write_number(s, 5, 5, 7, nullptr);  // row 5 is interior and empty
    worksheet_write_blank(s, 9, 1, b.number_format("0.00"));  // a trailing formatted cell
  }
  auto db = open(true);
  const auto cols = columns(*db.get(), L"S$");
  ASSERT_EQ(cols.size(), 5u);
  EXPECT_EQ(cols[0].name, L"Name");
  EXPECT_EQ(cols[1].name, L"name1");
  EXPECT_EQ(cols[2].name, L"2#5");
  EXPECT_EQ(cols[3].name, L"F4");
  EXPECT_EQ(cols[4].name, L"a#b");
  EXPECT_EQ(db->tabledefs()->item(L"S$")->record_count(), 3);
  const auto r = rows(*db.get(), L"S$");
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0][0], "x");
  EXPECT_EQ(r[1], (std::vector<std::string>{"", "", "", "", ""}));
  EXPECT_EQ(r[2][4], "7");

  auto no_header = open(false);
  const auto plain = columns(*no_header.get(), L"S$");
  EXPECT_EQ(plain[0].name, L"F1");
  EXPECT_EQ(plain[4].name, L"F5");
  EXPECT_EQ(plain[4].type, wb_dao_text);  // "a.b" and 7: mixed
  EXPECT_EQ(no_header->tabledefs()->item(L"S$")->record_count(), 4);
  EXPECT_EQ(rows(*no_header.get(), L"S$")[0][4], "a.b");
  EXPECT_EQ(rows(*no_header.get(), L"S$")[3][4], "7");
}

TEST_F(WorkbookEngine, EmptyAndHeaderOnlySheets) {
  {
    xlsx_book b(path_);
    b.sheet("Empty");
    worksheet_write_string(b.sheet("Head"), 0, 0, "Only", nullptr);
  }
  auto db = open();
  const auto empty = columns(*db.get(), L"Empty$");
  ASSERT_EQ(empty.size(), 1u);
  EXPECT_EQ(empty[0].name, L"F1");
  EXPECT_EQ(empty[0].type, wb_dao_text);
  EXPECT_EQ(empty[0].size, 255);
  auto rs = select(*db.get(), L"Empty$");
  EXPECT_TRUE(rs->eof());
  EXPECT_TRUE(rs->bof());
  EXPECT_EQ(error_of([&] { rs->move_next(); }), wb_err_no_current_record);
  EXPECT_EQ(error_of([&] { rs->move_first(); }), wb_err_no_current_record);
  EXPECT_EQ(error_of([&] { rs->fields()->item(0)->value(); }), wb_err_no_current_record);
  EXPECT_EQ(columns(*db.get(), L"Head$")[0].name, L"Only");
  EXPECT_EQ(db->tabledefs()->item(L"Head$")->record_count(), 0);
  EXPECT_TRUE(select(*db.get(), L"Head$")->eof());
}

TEST_F(WorkbookEngine, ColumnTypesComeFromEveryRow) {
  const std::string memo(300, 'm');
  {
    xlsx_book b(path_, true);
    lxw_format* money = b.number_format("$#,##0.00");
    auto* s = b.sheet("T");
    const char* heads[] = {"num", "mixed", "memo", "cur", "cur5", "curnum", "bool", "text", "none"};
    for (int c = 0; c < 9; ++c) worksheet_write_string(s, 0, static_cast<lxw_col_t>(c), heads[c], nullptr);
    for (int r = 1; r <= 6000; ++r) {
      worksheet_write_number(s, r, 0, r + 0.5, nullptr);
      if (r == 5000) worksheet_write_string(s, r, 1, "late text", nullptr);
      else worksheet_write_number(s, r, 1, r == 1 ? 3 : 2.5, nullptr);
      worksheet_write_string(s, r, 2, r == 5000 ? memo.c_str() : "short", nullptr);
      worksheet_write_number(s, r, 3, 12.3456, money);
      worksheet_write_number(s, r, 4, r == 4000 ? 1.23456 : 2, money);
      worksheet_write_number(s, r, 5, 3, r == 10 ? nullptr : money);
      worksheet_write_boolean(s, r, 6, r % 2, nullptr);
      worksheet_write_string(s, r, 7, "t", nullptr);
    }
    worksheet_write_string(s, 6001, 8, "", nullptr);
  }
  auto db = open();
  const auto cols = columns(*db.get(), L"T$");
  ASSERT_EQ(cols.size(), 9u);
  EXPECT_EQ(cols[0].type, wb_dao_double);
  EXPECT_EQ(cols[0].size, 8);
  EXPECT_EQ(cols[1].type, wb_dao_text);
  EXPECT_EQ(cols[2].type, wb_dao_memo);
  EXPECT_EQ(cols[2].size, 0);
  EXPECT_EQ(cols[3].type, wb_dao_currency);
  EXPECT_EQ(cols[4].type, wb_dao_double);
  EXPECT_EQ(cols[5].type, wb_dao_double);
  EXPECT_EQ(cols[6].type, wb_dao_boolean);
  EXPECT_EQ(cols[7].type, wb_dao_text);
  EXPECT_EQ(cols[7].size, 255);
  EXPECT_EQ(cols[8].type, wb_dao_text);  // a header without data; the empty text below adds no row
  EXPECT_EQ(db->tabledefs()->item(L"T$")->record_count(), 6000);

  auto rs = select(*db.get(), L"T$");
  auto f = rs->fields();
  EXPECT_EQ(f->item(1)->value().to_string(), "3");
  EXPECT_EQ(f->item(1)->value().get_type(), VT_BSTR);
  EXPECT_EQ(f->item(3)->value().get_type(), VT_CY);
  EXPECT_EQ(f->item(3)->value().get_cy().int64, 123456);
  EXPECT_EQ(f->item(6)->value().get_type(), VT_BOOL);
  EXPECT_EQ(f->item(0)->value().get_double(), 1.5);
  rs->move_next();
  EXPECT_EQ(f->item(1)->value().to_string(), "2.5");
  for (int i = 2; i < 5000; ++i) rs->move_next();
  EXPECT_EQ(f->item(1)->value().to_string(), "late text");
  EXPECT_EQ(f->item(2)->value().to_string(), memo);  // whole, never cut
  EXPECT_EQ(f->item(4)->value().get_double(), 2);
}

TEST_F(WorkbookEngine, DatesTimesAndTheirText) {
  {
    xlsx_book b(path_);
    lxw_format* date = b.number_format("yyyy-mm-dd");
    lxw_format* time = b.number_format("hh:mm");
    auto* s = b.sheet("D");
    worksheet_write_string(s, 0, 0, "when", nullptr);
    worksheet_write_string(s, 0, 1, "mixed", nullptr);
    const double serials[] = {59, 61, 0.4270833333333333, 0.99999999537, 43831.5};
    for (int i = 0; i < 5; ++i) {
      worksheet_write_number(s, i + 1, 0, serials[i], i == 2 || i == 3 ? time : date);
      worksheet_write_number(s, i + 1, 1, serials[i], i == 2 || i == 3 ? time : date);
    }
    worksheet_write_number(s, 6, 1, 60, date);  // 1900-02-29 is no date: the column mixes
    worksheet_write_boolean(s, 7, 1, 1, nullptr);
  }
  auto db = open();
  const auto cols = columns(*db.get(), L"D$");
  EXPECT_EQ(cols[0].type, wb_dao_date);
  EXPECT_EQ(cols[1].type, wb_dao_text);
  const auto r = rows(*db.get(), L"D$");
  EXPECT_EQ(r[0][1], "1900-02-28");
  EXPECT_EQ(r[1][1], "1900-03-01");
  EXPECT_EQ(r[2][1], "10:15:00");
  EXPECT_EQ(r[3][1], "1899-12-31");  // 23:59:59.9996 carries into the next day
  EXPECT_EQ(r[4][1], "2020-01-01 12:00:00");
  EXPECT_EQ(r[5][1], "60");
  EXPECT_EQ(r[6][1], "TRUE");
  const ole_variant t = value_at(*db.get(), L"D$", 2, 0);
  EXPECT_EQ(t.get_type(), VT_DATE);
  EXPECT_EQ(t.get_systemtime().hour, 10);
  EXPECT_EQ(t.get_systemtime().minute, 15);
  EXPECT_EQ(t.get_systemtime().second, 0);
  EXPECT_EQ(value_at(*db.get(), L"D$", 1, 0).get_date(), 61);
  EXPECT_EQ(value_at(*db.get(), L"D$", 0, 0).get_date(), 60);
}

TEST_F(WorkbookEngine, FormulasDeliverTheirCachedResults) {
  {
    xlsx_book b(path_);
    auto* s = b.sheet("F");
    worksheet_write_string(s, 0, 0, "n", nullptr);
    worksheet_write_string(s, 0, 1, "t", nullptr);
    worksheet_write_formula_num(s, 1, 0, "=1+1", nullptr, 2);
    worksheet_write_formula_str(s, 1, 1, "=\"a\"&\"b\"", nullptr, "ab");
    worksheet_write_formula_num(s, 2, 0, "=2+2", nullptr, 4);
  }
  auto db = open();
  const auto r = rows(*db.get(), L"F$");
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0][0], "2");
  EXPECT_EQ(r[0][1], "ab");
  EXPECT_EQ(r[1][0], "4");
  EXPECT_EQ(r[1][1], "");
}

TEST_F(WorkbookEngine, ErrorCellsAreNullAndWidenTheBlock) {
  wb_test::xlsx_parts p = wb_test::one_sheet(
      "E", "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>h</t></is></c><c r=\"B1\" t=\"e\"><v>#N/A</v></c></row>"
           "<row r=\"2\"><c r=\"A2\"><v>1</v></c><c r=\"B2\" t=\"e\"><v>#REF!</v></c></row>"
           "<row r=\"3\"><c r=\"C3\" t=\"e\"><v>#NAME?</v></c></row>");
  wb_test::write_xlsx(path_, p);
  auto db = open();
  const auto cols = columns(*db.get(), L"E$");
  ASSERT_EQ(cols.size(), 3u);
  EXPECT_EQ(cols[1].name, L"F2");
  EXPECT_EQ(cols[0].type, wb_dao_double);
  const auto r = rows(*db.get(), L"E$");
  EXPECT_EQ(r, (std::vector<std::vector<std::string>>{{"1", "", ""}, {"", "", ""}}));
}

TEST_F(WorkbookEngine, Workbook1904Dates) {
  wb_test::xlsx_parts p = wb_test::one_sheet("S", "<row r=\"1\"><c r=\"A1\" s=\"1\"><v>0</v></c></row>"
                                                  "<row r=\"2\"><c r=\"A2\" s=\"1\"><v>1</v></c></row>");
  p.workbook_extra = "<workbookPr date1904=\"1\"/>";
  p.styles = "<styleSheet><cellXfs><xf numFmtId=\"0\"/><xf numFmtId=\"14\"/></cellXfs></styleSheet>";
  wb_test::write_xlsx(path_, p);
  auto db = open(false);
  EXPECT_EQ(value_at(*db.get(), L"S$", 0, 0).get_date(), 0);  // serial 0 is a time of day in both systems
  EXPECT_EQ(value_at(*db.get(), L"S$", 1, 0).get_date(), 1463);  // 1904-01-02
}

TEST_F(WorkbookEngine, CursorMovesAndCountQuery) {
  {
    xlsx_book b(path_);
    auto* s = b.sheet("C");
    worksheet_write_string(s, 0, 0, "v", nullptr);
    for (int r = 1; r <= 3; ++r) worksheet_write_number(s, r, 0, r, nullptr);
  }
  auto db = open();
  auto rs = select(*db.get(), L"C$");
  auto v = rs->fields()->item(0);
  EXPECT_FALSE(rs->bof());
  EXPECT_EQ(v->value().get_double(), 1);
  rs->move_next();
  rs->move_next();
  EXPECT_EQ(v->value().get_double(), 3);
  rs->move_previous();
  EXPECT_EQ(v->value().get_double(), 2);
  rs->move_next();
  rs->move_next();
  EXPECT_TRUE(rs->eof());
  EXPECT_EQ(error_of([&] { rs->move_next(); }), wb_err_no_current_record);
  EXPECT_EQ(error_of([&] { v->value(); }), wb_err_no_current_record);
  rs->move_previous();
  EXPECT_EQ(v->value().get_double(), 3);
  rs->move_first();
  EXPECT_EQ(v->value().get_double(), 1);
  rs->move_previous();
  EXPECT_TRUE(rs->bof());
  EXPECT_EQ(error_of([&] { rs->move_previous(); }), wb_err_no_current_record);
  rs->move_next();
  EXPECT_EQ(v->value().get_double(), 1);

  auto other = select(*db.get(), L"C$");  // independent of the first
  EXPECT_EQ(other->fields()->item(0)->value().get_double(), 1);

  for (const wchar_t* sql : {L"select count(*) from (SELECT * FROM [C$])", L"SELECT COUNT(*) FROM ( select * from [c$]; ) ;"}) {
    auto count = db->create_querydef(L"", sql)->open_recordset(2, 4);
    const ole_variant n = count->fields()->item(0)->value();
    EXPECT_EQ(n.get_type(), VT_I4);
    EXPECT_EQ(n.to_long(), 3);
  }
  EXPECT_EQ(db->create_querydef(L"", L"SELECT * FROM [C$];")->fields()->count(), 1);
}

TEST_F(WorkbookEngine, ReadOnlyClosedAndRefusedOpens) {
  { xlsx_book b(path_); worksheet_write_number(b.sheet("S"), 0, 0, 1, nullptr); }
  auto db = open();
  auto td = db->tabledefs()->item(0);
  EXPECT_EQ(error_of([&] { db->create_tabledef(L"x", 0, L"", L""); }), wb_err_read_only);
  EXPECT_EQ(error_of([&] { td->create_field(L"x", 10, 5); }), wb_err_read_only);
  EXPECT_EQ(error_of([&] { db->create_querydef(L"", L"SELECT * FROM [S$]")->open_recordset(2, 8); }), wb_err_read_only);
  EXPECT_EQ(error_of([&] { select(*db.get(), L"S$")->add_new(); }), wb_err_read_only);
  EXPECT_EQ(td->fields()->item(0)->value().get_type(), VT_EMPTY);
  EXPECT_EQ(td->indexes()->count(), 0);
  EXPECT_EQ(db->querydefs()->count(), 0);
  auto rs = select(*db.get(), L"S$");
  db->close();
  db->close();
  EXPECT_EQ(error_of([&] { db->tabledefs(); }), wb_err_closed);
  EXPECT_EQ(error_of([&] { rs->move_next(); }), wb_err_closed);
  EXPECT_EQ(error_of([&] { td->record_count(); }), wb_err_closed);
  EXPECT_EQ(engine_->errors().at(0).description, L"The object has been closed.");

  EXPECT_EQ(error_of([&] { engine_->open_database(L"/no/such/file.xlsx", false, true, L"Excel 5.0;"); }),
            wb_err_file_not_found);
  EXPECT_EQ(error_of([&] { engine_->open_database(tk_wide(path_), false, true, L";pwd=x"); }), wb_err_not_a_workbook_db);
  EXPECT_EQ(error_of([&] { engine_->create_database(L"x.mdb", L"", 0); }), wb_err_not_supported);
  EXPECT_FALSE(wb_create_engine(4));
  EXPECT_TRUE(wb_create_engine(0));
}

TEST_F(WorkbookEngine, TooManyColumnsIsRefusedWhenTyped) {
  {
    xlsx_book b(path_);
    auto* s = b.sheet("Wide");
    for (int c = 0; c <= 1600; ++c) worksheet_write_number(s, 0, static_cast<lxw_col_t>(c), c, nullptr);
    auto* ok = b.sheet("Ok");
    for (int c = 0; c < 1600; ++c) worksheet_write_number(ok, 0, static_cast<lxw_col_t>(c), c, nullptr);
  }
  auto db = open(false);
  EXPECT_EQ(table_names(*db.get()).size(), 2u);  // listing reads no cell
  EXPECT_EQ(error_of([&] { db->tabledefs()->item(0)->record_count(); }), wb_err_too_many_fields);
  EXPECT_EQ(engine_->errors().at(0).description, L"Worksheet 'Wide' has 1601 columns; at most 1600 can be converted.");
  EXPECT_EQ(columns(*db.get(), L"Ok$").size(), 1600u);
}

}  // namespace

#include <gtest/gtest.h>

#include "dao/dao_database.h"
#include "dao/dao_engine.h"
#include "dao/dao_exception.h"
#include "dao/dao_record.h"
#include "dao/dao_recordset.h"
#include "dao_test_support.h"
#include "udb/udb_types.h"

using namespace dao_test;

namespace {

wb_fake_field with_default(wb_fake_field f, const std::wstring& value) {
  f.default_value = value;
  return f;
}

struct table_fixture {
  fake_engine_scope fake;
  dao_engine engine{0};
  std::unique_ptr<dao_database> db;

  explicit table_fixture(wb_fake_table table) {
    fake.script().tables = {std::move(table)};
    EXPECT_TRUE(engine.set_version_if(3));
    auto opened = engine.open_db(L"data.mdb", 0x20, L"");
    db.reset(static_cast<dao_database*>(opened.release()));
  }
  std::unique_ptr<udb_recordset> open() { return db->get_table(fake.script().tables[0].name, 1); }
};

wb_fake_table rows_table(int n) {
  wb_fake_table t;
  t.name = L"T";
  t.fields = {typed_field(L"n", wb_dao_double)};
  for (int i = 0; i < n; ++i) t.rows.push_back({ole_variant(static_cast<double>(i))});
  return t;
}

std::vector<double> read_all(udb_recordset& rs) {
  std::vector<double> out;
  for (; !rs.is_eof(); rs.next()) out.push_back(rs.get_item()->at(0).get_double());
  return out;
}

}  // namespace

TEST(DaoRecordsetDefaults, CleaningOfTableDefaults) {
  wb_fake_table t;
  t.name = L"T";
  t.fields = {
      with_default(text_field(L"eq_dq"), L"=\"abc\""),
      with_default(text_field(L"eq_sq"), L"='x'"),
      with_default(typed_field(L"eq_num", wb_dao_long, 4), L"=5"),
      with_default(text_field(L"eq_only"), L"="),
      with_default(typed_field(L"d", wb_dao_date), L"#2001-01-01#"),
      with_default(typed_field(L"now1", wb_dao_date), L"#Now()#"),
      with_default(typed_field(L"now2", wb_dao_date), L"NOW()"),
      with_default(text_field(L"long", 10), L"12345678901"),
      with_default(text_field(L"nosize", 0), L"12345678901"),
      with_default(text_field(L"quoted"), L"\"hi\""),
      with_default(text_field(L"eq_nested"), L"=\"\"x\"\""),
      with_default(typed_field(L"g", wb_dao_guid, 16), L""),
      typed_field(L"plain", wb_dao_double),
  };
  table_fixture fx(t);
  auto rs = fx.open();
  const udb_schema& s = rs->schema;
  ASSERT_EQ(13u, s.size());
  EXPECT_EQ(L"abc", s[0].value.to_wstring());
  EXPECT_EQ(L"x", s[1].value.to_wstring());
  EXPECT_EQ(VT_I4, s[2].value.get_type());
  EXPECT_EQ(5, s[2].value.to_long());
  EXPECT_EQ(VT_BSTR, s[3].value.get_type());
  EXPECT_EQ(L"", s[3].value.to_wstring());
  EXPECT_EQ(VT_DATE, s[4].value.get_type());
  EXPECT_EQ(udb_reserved_date_time, s[4].reserved);
  EXPECT_EQ(L"2001-01-01", s[4].value.to_wstring().substr(0, 10));
  for (std::size_t i : {5u, 6u}) {
    EXPECT_EQ(udb_reserved_date_now, s[i].reserved) << i;
    EXPECT_TRUE(s[i].value.is_empty()) << i;
    EXPECT_EQ(VT_DATE, s[i].vartype) << i;
  }
  EXPECT_EQ(L"", s[7].value.to_wstring());  // 11 characters do not fit 10
  EXPECT_EQ(L"12345678901", s[8].value.to_wstring());
  EXPECT_EQ(L"hi", s[9].value.to_wstring());
  // The '=' form strips one pair of quotes only; the plain-text rule does not strip again.
  EXPECT_EQ(L"\"x\"", s[10].value.to_wstring());
  EXPECT_EQ(udb_reserved_date_time, s[11].reserved);
  EXPECT_EQ(VT_BLOB, s[11].vartype);
  EXPECT_EQ(0, s[12].reserved);
  EXPECT_EQ(VT_R8, s[12].vartype);
  EXPECT_TRUE(s[12].value.is_empty());
}

TEST(DaoRecordsetSchema, FlagsAndSizesOfColumns) {
  wb_fake_table t;
  t.name = L"T";
  auto id = typed_field(L"id", wb_dao_long, 4);
  id.attributes = 0x10;
  id.required = true;
  t.fields = {id, text_field(L"name", 40)};
  table_fixture fx(t);
  auto rs = fx.open();
  ASSERT_EQ(2u, rs->schema.size());
  EXPECT_TRUE(rs->schema[0].auto_increment);
  EXPECT_TRUE(rs->schema[0].b_not_null);
  EXPECT_EQ(VT_I4, rs->schema[0].vartype);
  EXPECT_FALSE(rs->schema[1].auto_increment);
  EXPECT_FALSE(rs->schema[1].b_not_null);
  EXPECT_EQ(40u, rs->schema[1].size);
  EXPECT_EQ(L"name", rs->schema[1].name);
}

TEST(DaoRecordsetSchema, IndexesOfTheTable) {
  wb_fake_table t = rows_table(1);
  t.fields.push_back(text_field(L"s"));
  t.indexes = {{L"ix_s", false, false, {L"s"}}, {L"pk", true, true, {L"n", L"s"}}, {L"IX_S", false, true, {L"n"}}};
  table_fixture fx(t);
  auto rs = fx.open();
  ASSERT_EQ(2u, rs->indexes.size());
  EXPECT_EQ(L"ix_s", rs->indexes[0].name);
  EXPECT_EQ((std::vector<std::wstring>{L"n", L"s"}), rs->indexes[1].fields);
  EXPECT_TRUE(rs->indexes[1].primary);
  EXPECT_EQ(1, rs->n_u_index);
  fx.fake.script().null_results.insert("index_fields");
  EXPECT_THROW(fx.open(), tk_exception);
}

TEST(DaoRecordsetReading, EmptyTableIsAtEndAtOnce) {
  table_fixture fx(rows_table(0));
  auto rs = fx.open();
  EXPECT_TRUE(rs->is_eof());
  EXPECT_EQ(0, rs->rec_count);
  // Neither move changes anything when there is nothing to move over.
  rs->reset();
  rs->prev();
  EXPECT_TRUE(rs->is_eof());
}

TEST(DaoRecordsetReading, ResetAfterTheEndReadsEveryRowAgain) {
  table_fixture fx(rows_table(3));
  auto rs = fx.open();
  EXPECT_EQ((std::vector<double>{0, 1, 2}), read_all(*rs));
  rs->reset();
  EXPECT_FALSE(rs->is_eof());
  EXPECT_EQ((std::vector<double>{0, 1, 2}), read_all(*rs));
  // Back from the end, prev lands on the last row.
  rs->prev();
  EXPECT_FALSE(rs->is_eof());
  EXPECT_EQ(2.0, rs->get_item()->at(0).get_double());
  // At the first row, prev does not move.
  rs->reset();
  rs->prev();
  rs->prev();
  EXPECT_FALSE(rs->is_eof());
}

TEST(DaoRecordsetReading, RecordsBelongToTheRecordset) {
  table_fixture fx(rows_table(2));
  auto rs = fx.open();
  udb_record* first = rs->get_item();
  ASSERT_EQ(1u, first->size());
  udb_record* second = rs->get_item();
  EXPECT_NE(nullptr, second);
  EXPECT_EQ(0.0, second->at(0).get_double());
  // Values were copied at construction: a move does not change them.
  rs->next();
  EXPECT_EQ(0.0, second->at(0).get_double());
  rs->next();
  EXPECT_TRUE(rs->is_eof());
  // Past the end the engine refuses another move.
  EXPECT_THROW(rs->next(), dao_exception);
}

TEST(DaoRecordsetReading, ValueReadFailureLeavesTheColumnType) {
  table_fixture fx(rows_table(1));
  auto rs = fx.open();
  rs->next();
  ASSERT_TRUE(rs->is_eof());
  udb_record* past = rs->get_item();
  ASSERT_EQ(1u, past->size());
  EXPECT_TRUE(past->at(0).is_empty());
  EXPECT_EQ(VT_R8, past->at(0).get_type());
}

TEST(DaoRecordsetReading, AppendingIsRefused) {
  table_fixture fx(rows_table(1));
  auto rs = fx.open();
  udb_record record;
  EXPECT_THROW(rs->append_record(record), tk_exception);
}

TEST(DaoRecordsetQuery, SchemaOfAStoredQueryAndItsCount) {
  fake_engine_scope fake;
  wb_fake_table result;
  result.fields = {with_default(typed_field(L"d", wb_dao_date), L"#2001-02-03#"),
                   with_default(text_field(L"s"), L"\"q\""), with_default(text_field(L"e"), L"=x")};
  ole_variant null_value;
  null_value.set_null();
  result.rows = {{null_value, ole_variant(L"a"), ole_variant(L"b")}};
  fake.script().results[L"SELECT * FROM q"] = result;
  wb_fake_table count;
  count.fields = {typed_field(L"c", wb_dao_long, 4)};
  count.rows = {{ole_variant(7)}};
  fake.script().results[L"select count(*) from (SELECT * FROM q)"] = count;
  dao_engine engine(0);
  ASSERT_TRUE(engine.set_version_if(3));
  auto db = engine.open_dao_src(L"b.xlsx", L"Excel 5.0;", 1);
  auto rs = db->get_query(L"q", L"SELECT * FROM q", 1);
  EXPECT_EQ(7, rs->rec_count);
  EXPECT_TRUE(rs->is_query());
  EXPECT_EQ(L"SELECT * FROM q", rs->query_text);
  // A query's defaults: dates and texts lose their delimiters, with no '=' form and no now().
  ASSERT_EQ(3u, rs->schema.size());
  EXPECT_EQ(udb_reserved_date_time, rs->schema[0].reserved);
  EXPECT_EQ(L"2001-02-03", rs->schema[0].value.to_wstring().substr(0, 10));
  EXPECT_EQ(L"q", rs->schema[1].value.to_wstring());
  EXPECT_EQ(L"=x", rs->schema[2].value.to_wstring());
  EXPECT_EQ(0, rs->schema[2].reserved);
  EXPECT_TRUE(rs->indexes.empty());
  EXPECT_FALSE(rs->is_eof());
  udb_record* rec = rs->get_item();
  ASSERT_EQ(3u, rec->size());
  EXPECT_TRUE(rec->at(0).is_null());
  EXPECT_EQ(VT_NULL, rec->at(0).get_type());
  EXPECT_EQ(L"a", rec->at(1).to_wstring());
}

#include <gtest/gtest.h>

#include "dao/dao_database.h"
#include "dao/dao_engine.h"
#include "dao/dao_exception.h"
#include "dao/dao_recordset.h"
#include "dao_test_support.h"

using namespace dao_test;

namespace {

wb_fake_table sheet(const std::wstring& name, long attributes = 0) {
  wb_fake_table t;
  t.name = name;
  t.attributes = attributes;
  t.fields = {text_field(L"A")};
  t.rows = {{ole_variant(L"x")}, {ole_variant(L"y")}};
  return t;
}

struct fake_source {
  fake_engine_scope fake;
  dao_engine engine{0};
  fake_source() { EXPECT_TRUE(engine.set_version_if(3)); }
  std::unique_ptr<dao_database> open(int mode = 1) { return engine.open_dao_src(L"book.xlsx", L"Excel 5.0;", mode); }
  std::unique_ptr<dao_database> open_db(int mode) {
    auto db = engine.open_db(L"data.mdb", mode, L"");
    return std::unique_ptr<dao_database>(static_cast<dao_database*>(db.release()));
  }
};

}  // namespace

TEST(DaoDatabase, ListsUserTablesOnly) {
  fake_source src;
  auto& s = src.fake.script();
  s.tables = {sheet(L"Sheet1$"), sheet(L"MSysObjects", static_cast<long>(0x80000002ul)), sheet(L"Sheet2$"),
              sheet(L"Linked", 0x40000000L), sheet(L"Hidden", 2)};
  auto db = src.open();
  EXPECT_EQ((std::vector<std::wstring>{L"Sheet1$", L"Sheet2$"}), db->get_tables());
  EXPECT_FALSE(db->case_sensitive);
  EXPECT_TRUE(db->is_table_exist(L"SHEET1$"));
}

TEST(DaoDatabase, GetTableSqlAndOptions) {
  fake_source src;
  src.fake.script().tables = {sheet(L"Sheet1$")};
  auto db = src.open();
  auto rs = db->get_table(L"Sheet1$", 1);
  ASSERT_TRUE(rs);
  EXPECT_EQ(L"SELECT * FROM [Sheet1$]", src.fake.script().sqls.back());
  EXPECT_EQ(wb_open_read_only, src.fake.script().recordset_options.back());
  EXPECT_EQ(wb_open_dynaset, src.fake.script().recordset_types.back());
  EXPECT_EQ(2, rs->rec_count);
  rs.reset();
  auto append = db->get_table(L"Sheet1$", 0);
  EXPECT_EQ(wb_open_append_only, src.fake.script().recordset_options.back());
}

TEST(DaoDatabase, GetTableOfUnlistedNameIsAnAssertionBeforeAnyEngineCall) {
  fake_source src;
  src.fake.script().tables = {sheet(L"Sheet1$"), sheet(L"Sys", 2)};
  auto db = src.open();
  const auto sqls = src.fake.script().sqls.size();
  EXPECT_THROW(db->get_table(L"Sys", 1), tk_mail_assertion);
  EXPECT_THROW(db->get_table(L"Nowhere$", 1), tk_mail_assertion);
  EXPECT_EQ(sqls, src.fake.script().sqls.size());
}

TEST(DaoDatabase, EngineErrorsInGetTableAreDaoExceptions) {
  fake_source src;
  src.fake.script().tables = {sheet(L"Sheet1$")};
  auto db = src.open();
  src.fake.script().failures["record_count"] = {3274, L"File 'book.xlsx' is not a readable workbook: corrupt."};
  try {
    db->get_table(L"Sheet1$", 1);
    FAIL() << "no exception";
  } catch (const dao_exception& e) {
    EXPECT_EQ(0x00010CCA, e.code());
    EXPECT_EQ(tk_level_recoverable, e.level());
  }
  src.fake.script().failures.clear();
  src.fake.script().null_results.insert("open_recordset");
  try {
    db->get_table(L"Sheet1$", 1);
    FAIL() << "no exception";
  } catch (const dao_exception&) {
    FAIL() << "a null object is no engine error";
  } catch (const tk_exception& e) {
    EXPECT_EQ(tk_level_error, e.level());
  }
}

TEST(DaoDatabase, ViewsAreRewritten) {
  fake_source src;
  auto& s = src.fake.script();
  s.queries = {
      {L"v1", L"SELECT Iif([a]<>1, UCase([b]), Nz([c],0)) FROM [T]![x]", {}},
      {L"v2", L"SELECT ascii(x), lenient FROM t ORDER BY x ASC", {}},
      {L"v3", L"SELECT my_len(a), len (b), LEN(c) FROM t", {}},
      {L"v4", L"SELECT * FROM t WHERE a ALIKE 'x%'", {}},
      {L"v1", L"SELECT 2", {}},
  };
  auto db = src.open(1);  // workbook mode: views are read, foreign keys are not
  ASSERT_EQ(4u, db->views.size());
  EXPECT_EQ(L"SELECT if([a]!=1, upper([b]), ifnull([c],0)) FROM [T].[x]", db->views[L"v1"]);
  EXPECT_EQ(L"SELECT ascii(x),lenient FROM t ORDER BY x ASC", db->views[L"v2"]);
  EXPECT_EQ(L"SELECT my_len(a),length (b),length(c) FROM t", db->views[L"v3"]);
  EXPECT_EQ(L"SELECT * FROM t WHERE a like 'x%'", db->views[L"v4"]);
}

TEST(DaoDatabase, UnbalancedQueryIsLeftOutNotAnInternalError) {
  fake_source src;
  src.fake.script().queries = {{L"bad", L"SELECT a) & b FROM t", {}},
                               {L"open", L"SELECT (a FROM t", {}},
                               {L"quoted", L"SELECT ')' & [x(] FROM t", {}},
                               {L"good", L"SELECT (a) FROM t", {}}};
  std::unique_ptr<dao_database> db;
  ASSERT_NO_THROW(db = src.open(1));
  EXPECT_EQ(0u, db->views.count(L"bad"));
  EXPECT_EQ(0u, db->views.count(L"open"));
  EXPECT_EQ(1u, db->views.count(L"quoted"));
  EXPECT_EQ(1u, db->views.count(L"good"));
}

TEST(DaoDatabase, NoViewsModeAndViewErrorsDoNotFailTheOpen) {
  fake_source src;
  src.fake.script().queries = {{L"v", L"SELECT 1", {}}};
  EXPECT_TRUE(src.open(0x81)->views.empty());
  src.fake.script().failures["querydefs"] = {3420, L"The object has been closed."};
  std::unique_ptr<dao_database> db;
  ASSERT_NO_THROW(db = src.open(1));
  EXPECT_TRUE(db->views.empty());
}

TEST(DaoDatabase, ForeignKeysFromRelationshipRows) {
  fake_source src;
  wb_fake_table rels;
  rels.name = L"MSysRelationships";
  for (const wchar_t* n : {L"szRelationship", L"szColumn", L"szObject", L"szReferencedObject", L"szReferencedColumn"})
    rels.fields.push_back(text_field(n));
  rels.fields.push_back(typed_field(L"grbit", wb_dao_long, 4));
  auto row = [](const wchar_t* rel, const wchar_t* col, const wchar_t* obj, const wchar_t* ref, const wchar_t* refcol) {
    return std::vector<ole_variant>{ole_variant(rel), ole_variant(col), ole_variant(obj), ole_variant(ref),
                                    ole_variant(refcol), ole_variant(0)};
  };
  rels.rows = {row(L"r1", L"a", L"orders", L"customers", L"id"), row(L"r1", L"b", L"orders", L"customers", L"id2"),
               row(L"r2", L"c", L"lines", L"orders", L"oid")};
  src.fake.script().results[L"SELECT szRelationship, szColumn, szObject, szReferencedObject, szReferencedColumn, "
                            L"grbit FROM MSysRelationships ORDER BY szRelationship"] = rels;
  auto db = src.open_db(0);
  ASSERT_EQ(2u, db->relationships.size());
  const auto& first = db->relationships[0];
  EXPECT_EQ(L"orders", first.table);
  EXPECT_EQ(L"customers", first.ref_table);
  EXPECT_EQ((std::vector<std::wstring>{L"a", L"b"}), first.columns);
  EXPECT_EQ((std::vector<std::wstring>{L"id", L"id2"}), first.ref_columns);
  EXPECT_FALSE(first.name.empty());
  EXPECT_EQ(L"lines", db->relationships[1].table);
  EXPECT_NE(first.name, db->relationships[1].name);
  // Either no-foreign-key bit skips the read.
  EXPECT_TRUE(src.open_db(0x40)->relationships.empty());
}

TEST(DaoDatabase, ForeignKeyErrorsReachTheReporterAndTheOpenGoesOn) {
  fake_source src;
  std::wstring context;
  int code = 0;
  auto previous = dao_set_fkey_error_reporter([&](const dao_exception& e, const std::wstring& c) {
    context = c;
    code = e.code();
  });
  src.fake.script().failures["create_querydef"] = {3011, L"The engine could not find the object."};
  std::unique_ptr<dao_database> db;
  ASSERT_NO_THROW(db = src.open_db(0));
  dao_set_fkey_error_reporter(previous);
  EXPECT_EQ(L"data.mdb", context);
  EXPECT_EQ(0x00010BC3, code);
  EXPECT_TRUE(db->relationships.empty());
}

TEST(DaoDatabase, RelationshipRowOfWrongWidthIsAnAssertion) {
  fake_source src;
  wb_fake_table rels;
  rels.fields = {text_field(L"a"), text_field(L"b")};
  rels.rows = {{ole_variant(L"r"), ole_variant(L"c")}};
  src.fake.script().results[L"SELECT szRelationship, szColumn, szObject, szReferencedObject, szReferencedColumn, "
                            L"grbit FROM MSysRelationships ORDER BY szRelationship"] = rels;
  EXPECT_THROW(src.open_db(0), tk_mail_assertion);
}

TEST(DaoDatabase, QueriesCountsAndTests) {
  fake_source src;
  src.fake.script().tables = {sheet(L"Sheet1$")};
  auto db = src.open();
  EXPECT_EQ(2u, db->get_records_count(L"SELECT * FROM [Sheet1$]"));
  EXPECT_EQ(L"select count(*) from (SELECT * FROM [Sheet1$])", src.fake.script().sqls.back());
  // A trailing ';' would not nest.
  EXPECT_EQ(2u, db->get_records_count(L"SELECT * FROM [Sheet1$] ; "));
  EXPECT_EQ(L"select count(*) from (SELECT * FROM [Sheet1$])", src.fake.script().sqls.back());

  auto q = db->get_query(L"q", L"SELECT * FROM [Sheet1$]", 1);
  ASSERT_TRUE(q);
  EXPECT_TRUE(q->is_query());
  EXPECT_EQ(2, q->rec_count);
  EXPECT_TRUE(q->indexes.empty());
  EXPECT_EQ(wb_open_read_only, src.fake.script().recordset_options.back());

  EXPECT_TRUE(db->test_query(L"SELECT * FROM [Sheet1$]"));
  EXPECT_EQ(wb_open_deny_write, src.fake.script().recordset_options.back());
  EXPECT_FALSE(db->test_query(L"SELECT * FROM [Nope$]"));
  EXPECT_FALSE(db->test_query(L"DELETE FROM x"));
}

TEST(DaoDatabase, HelperCursorsAreClosed) {
  fake_source src;
  src.fake.script().tables = {sheet(L"Sheet1$")};
  auto db = src.open();
  // A failing close is recorded in the engine's error list: that shows the close happened, and
  // that its failure did not fail the count.
  src.fake.script().failures["close"] = {9999, L"close"};
  EXPECT_EQ(2u, db->get_records_count(L"SELECT * FROM [Sheet1$]"));
  ASSERT_FALSE(src.engine.get_engine()->errors().empty());
  EXPECT_EQ(9999, src.engine.get_engine()->errors()[0].number);
  EXPECT_TRUE(db->test_query(L"SELECT * FROM [Sheet1$]"));
  // Destroying a record set and the database with a failing close throws nothing.
  auto rs = db->get_table(L"Sheet1$", 1);
  EXPECT_NO_THROW(rs.reset());
  EXPECT_NO_THROW(db.reset());
}

TEST(DaoDatabase, DeleteAndCreateTables) {
  fake_source src;
  src.fake.script().tables = {sheet(L"T1"), sheet(L"T2")};
  auto ro = src.open_db(0x21);
  EXPECT_THROW(ro->delete_tab(L"T1"), tk_mail_assertion);
  EXPECT_THROW(ro->create_table(L"T3", udb_schema(), udb_indexes()), tk_mail_assertion);
  ro.reset();
  auto db = src.open_db(0x20);
  EXPECT_THROW(db->delete_tab(L"Nope"), tk_mail_assertion);
  EXPECT_TRUE(db->delete_tab(L"t1"));
  EXPECT_EQ(std::vector<std::wstring>{L"T2"}, db->get_tables());
  EXPECT_EQ(std::vector<std::wstring>{L"t1"}, src.fake.script().removed_tables);
  EXPECT_THROW(db->create_table(L"T2", udb_schema(), udb_indexes()), tk_mail_assertion);
  auto created = db->create_table(L"T3", udb_schema(), udb_indexes());
  ASSERT_TRUE(created);
  EXPECT_TRUE(db->is_table_exist(L"T3"));
  EXPECT_EQ(wb_open_append_only, src.fake.script().recordset_options.back());
  created.reset();
  db.reset();
  auto existing = src.open_db(0x28);
  auto reopened = existing->create_table(L"T2", udb_schema(), udb_indexes());
  EXPECT_TRUE(reopened);
}

TEST(DaoTextRewriting, FindAndReplace) {
  EXPECT_EQ(2, dao_find_no_case(L"abCDef", L"cd", 0));
  EXPECT_EQ(-1, dao_find_no_case(L"abCDef", L"cd", 3));
  EXPECT_EQ(-1, dao_find_no_case(L"abc", L"abcd", 0));
  EXPECT_EQ(3, dao_find_no_case(L"abc", L"", 3));
  EXPECT_EQ(-1, dao_find_no_case(L"abc", L"", 4));
  EXPECT_EQ(-1, dao_find_no_case(L"abc", L"a", 3));
  EXPECT_EQ(1, dao_find_no_case(L"xÄBy", L"äb", 0));
  // A replacement holding its own pattern ends.
  std::wstring text = L"a<>b<>c";
  dao_replace_all(text, L"<>", L"<><>");
  EXPECT_EQ(L"a<><>b<><>c", text);
  text = L"Nz(a) + nz (b) + my_nz(c) + nzx(d) + nz";
  dao_replace_word(text, L"nz", L"ifnull");
  EXPECT_EQ(L"ifnull(a) + ifnull (b) + my_nz(c) + nzx(d) + nz", text);
}

// pgs_database against a real server: table lists, schemas, tables and keys with hostile names.
#include <cstdlib>
#include <memory>
#include <string>

#include <pqxx/pqxx>
#include <pqxx/tablewriter>

#include "pg_test.h"
#include "pgs/pgs_database.h"
#include "pgs/pgs_engine.h"
#include "pgs/pgs_exception.h"
#include "pgs/pgs_sql_text.h"
#include "pgs/pgs_util.h"
#include "tk/tk_string.h"

namespace {

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::unique_ptr<t_ftd> col(const std::wstring& name, VARTYPE vt, std::uint32_t size = 0, int reserved = 0,
                           const ole_variant& def = ole_variant()) {
  return std::make_unique<t_ftd>(size, name, vt, false, false, def, reserved);
}

class ServerPgsDatabase : public ::testing::Test {
 protected:
  void SetUp() override {
    TAMARIND_REQUIRE_SERVER();
    engine = std::make_unique<pgs_engine>();
    engine->connect(env("PGHOST"), env("PGUSER"), env("PGPASSWORD"), "", std::atoi(env("PGPORT").c_str()));
    name = tk_utf8_to_unicode(tamarind_test::unique_database_name("tmd_pgs_db"));
    db = engine->create_db(name);
  }
  void TearDown() override {
    db.reset();
    if (engine && !name.empty()) engine->delete_db(name);
    engine.reset();
  }

  // One value from the destination database, read on the engine's connection.
  std::string scalar(const std::string& sql) {
    pqxx::nontransaction tx(engine->connection());
    const pqxx::row row = tx.exec1(sql);
    return row[0].is_null() ? "<null>" : row[0].as<std::string>();
  }
  int count(const std::string& sql) { return std::stoi(scalar("SELECT count(*) FROM (" + sql + ") AS q")); }

  std::unique_ptr<pgs_engine> engine;
  std::wstring name;
  std::unique_ptr<pgs_database> db;
};

}  // namespace

TEST_F(ServerPgsDatabase, TableListHoldsSchemaQualifiedLowercasedNames) {
  db->query(L"CREATE TABLE sheet1 (a int)");
  std::unique_ptr<pgs_database> reopened = engine->open_db(name, 4, L"");
  EXPECT_TRUE(reopened->is_table_exist(L"Public.Sheet1"));
  EXPECT_FALSE(reopened->is_table_exist(L"sheet1"));
  EXPECT_TRUE(reopened->is_table_exist(L"pg_catalog.pg_class"));  // listed without a pattern
  std::unique_ptr<pgs_database> in_public = engine->open_db(name, 4, L"public");
  EXPECT_TRUE(in_public->is_table_exist(L"sheet1"));
  EXPECT_FALSE(in_public->is_table_exist(L"pg_class"));
}

TEST_F(ServerPgsDatabase, SplitNameForms) {
  const struct {
    const wchar_t* name;
    const wchar_t* schema;
    const wchar_t* table;
  } cases[] = {
      {L"\"a\".\"b\"", L"a", L"b"}, {L"\"a.b\"", L"public", L"a.b"}, {L"a.b.c", L"a", L"b.c"},
      {L".t", L"", L"t"},           {L"Sheet1", L"public", L"Sheet1"}, {L"\"", L"public", L"\""},
  };
  for (const auto& c : cases) {
    const auto [schema, table] = db->split_name(c.name);
    EXPECT_EQ(schema, c.schema) << tk_to_utf8(c.name);
    EXPECT_EQ(table, c.table) << tk_to_utf8(c.name);
  }
  EXPECT_EQ(pgs_base_db::make_safe_tname(L"t", L"s"), L"s.t");
  EXPECT_EQ(pgs_base_db::make_safe_tname(L"t", L""), L"t");
}

TEST_F(ServerPgsDatabase, HostileWorksheetAndSchemaNamesCreateExactlyThoseObjects) {
  db->query(L"CREATE TABLE c (x int)");
  udb_schema columns;
  columns.push_back(col(L"Amount", VT_R8));
  const std::wstring evil = L"a\"(b int);drop table c;--";
  db->build_table(L"public." + evil, columns, udb_indexes());
  EXPECT_EQ(count("SELECT 1 FROM pg_tables WHERE schemaname = 'public' AND tablename = " +
                  pgs_sql_literal(tk_to_utf8(evil))), 1);
  EXPECT_EQ(count("SELECT 1 FROM pg_tables WHERE tablename = 'c'"), 1) << "c must survive";
  EXPECT_TRUE(db->is_table_exist(L"public." + evil));

  const std::wstring schema = L"Sales \"x'; drop schema public cascade;--";
  db->create_schema(schema);
  db->create_schema(schema);  // IF NOT EXISTS
  db->create_schema(L"PUBLIC");
  db->build_table(schema + L".Sheet 1", columns, udb_indexes());
  EXPECT_EQ(count("SELECT 1 FROM pg_tables WHERE schemaname = " + pgs_sql_literal(pgs_object_name(schema, false)) +
                  " AND tablename = 'sheet 1'"),
            1);
  EXPECT_TRUE(db->is_table_exist(schema + L".sheet 1"));
  EXPECT_EQ(count("SELECT 1 FROM pg_namespace WHERE nspname = 'public'"), 1);
}

TEST_F(ServerPgsDatabase, LongNamesAreCreatedListedAndFoundAgainByOneFunction) {
  std::wstring sheet;
  for (int i = 0; i < 35; ++i) sheet += L"\u0416";  // 70 bytes, upper case
  udb_schema columns;
  columns.push_back(col(L"a", VT_I4));
  db->build_table(L"public." + sheet, columns, udb_indexes());
  const std::string fitted = pgs_object_name(sheet, false);
  EXPECT_LE(fitted.size(), 63u);
  EXPECT_EQ(count("SELECT 1 FROM pg_tables WHERE tablename = " + pgs_sql_literal(fitted)), 1);
  EXPECT_TRUE(db->is_table_exist(L"public." + sheet));
  std::unique_ptr<pgs_database> reopened = engine->open_db(name, 40, L"");
  EXPECT_TRUE(reopened->is_table_exist(L"public." + sheet));
  EXPECT_TRUE(reopened->delete_tab(L"public." + sheet));
  EXPECT_EQ(count("SELECT 1 FROM pg_tables WHERE tablename = " + pgs_sql_literal(fitted)), 0);
}

TEST_F(ServerPgsDatabase, EveryColumnTypeIsCreatedAsMapped) {
  udb_schema columns;
  columns.push_back(col(L"i2", VT_I2, 0, 0, ole_variant(L"3")));
  columns.push_back(col(L"i4", VT_I4));
  columns.push_back(col(L"ui4", VT_UI4));
  columns.push_back(col(L"r4", VT_R4));
  columns.push_back(col(L"r8", VT_R8, 0, 0, ole_variant(L"1e3")));
  columns.push_back(col(L"cy", VT_CY));
  columns.push_back(col(L"dec", VT_DECIMAL, 0, 0x0C02));
  columns.push_back(col(L"ts", VT_DATE, 0, 1, ole_variant(L"2011-03-04 10:20:30")));
  columns.push_back(col(L"d", VT_DATE, 0, 2));
  columns.push_back(col(L"t", VT_DATE, 0, 3));
  columns.push_back(col(L"vc", VT_BSTR, 20, 0, ole_variant(L"O'Brien")));
  columns.push_back(col(L"txt", VT_BSTR, 0, 0, ole_variant(L"dropped")));
  columns.push_back(col(L"ok", VT_BOOL, 0, 0, ole_variant(L"true")));
  columns.push_back(col(L"bin", VT_BLOB));
  columns.push_back(col(L"obj", VT_BLOB_OBJECT));
  db->build_table(L"public.types", columns, udb_indexes());
  const auto type_of = [&](const char* column) {
    return scalar("SELECT data_type FROM information_schema.columns WHERE table_schema = 'public' AND "
                  "table_name = 'types' AND column_name = '" + std::string(column) + "'");
  };
  EXPECT_EQ(type_of("i2"), "smallint");
  EXPECT_EQ(type_of("ui4"), "bigint");
  EXPECT_EQ(type_of("r4"), "double precision");  // FLOAT is double precision on the server
  EXPECT_EQ(type_of("r8"), "double precision");
  EXPECT_EQ(type_of("dec"), "numeric");
  EXPECT_EQ(type_of("ts"), "timestamp without time zone");
  EXPECT_EQ(type_of("d"), "date");
  EXPECT_EQ(type_of("t"), "time without time zone");
  EXPECT_EQ(type_of("vc"), "character varying");
  EXPECT_EQ(type_of("txt"), "text");
  EXPECT_EQ(type_of("ok"), "boolean");
  EXPECT_EQ(type_of("obj"), "bytea");
  db->query(L"INSERT INTO types (i4) VALUES (1)");
  EXPECT_EQ(scalar("SELECT i2 || '|' || r8 || '|' || vc || '|' || ts || '|' || ok || '|' || "
                   "coalesce(txt, 'none') FROM types"),
            "3|1000|O'Brien|2011-03-04 10:20:30|true|none");
  EXPECT_EQ(scalar("SELECT numeric_precision || ',' || numeric_scale FROM information_schema.columns WHERE "
                   "table_name = 'types' AND column_name = 'dec'"),
            "12,2");
}

TEST_F(ServerPgsDatabase, QuotedIdentifiersComeBackAsTheyWereWritten) {
  std::wstring long_utf8;
  for (int i = 0; i < 31; ++i) long_utf8 += L"\u0436";
  long_utf8 += L"x";  // 63 bytes
  for (const std::wstring& column : {std::wstring(L"\""), std::wstring(L"\\"), std::wstring(L"'"),
                                     std::wstring(L"a\tb"), std::wstring(L"a\nb"), std::wstring(L"a.b"),
                                     std::wstring(L"O'Brien"), std::wstring(L"select"), long_utf8}) {
    db->query(L"DROP TABLE IF EXISTS q");
    db->query(L"CREATE TABLE q (" + tk_utf8_to_unicode(pgs_quote_ident(column, false)) + L" int)");
    EXPECT_EQ(scalar("SELECT column_name FROM information_schema.columns WHERE table_name = 'q'"),
              pgs_object_name(column, false));
  }
}

TEST_F(ServerPgsDatabase, CopyAndSqlTextRoundTrip) {
  db->query(L"CREATE TABLE rt (t text, n int, b bytea, d timestamp, tm time, f double precision)");
  const std::wstring texts[] = {L"a\tb", L"back\\slash", L"\\N", L"\\.", L"O'Brien", L"\u0436\u8868", L"", L"cr\r"};
  {
    pqxx::work tx(engine->connection());
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    pqxx::tablewriter writer(tx, "rt");
#pragma GCC diagnostic pop
    for (const std::wstring& text : texts) {
      const std::wstring line = to_pgs_str(text, VT_BSTR, 0, pgs_copy_mode) + L"\t" +
                                to_pgs_str(L"", VT_I4, 0, pgs_copy_mode) + L"\t" +
                                to_pgs_str(L"0x41FF", VT_BLOB, 0, pgs_copy_mode) + L"\t" +
                                to_pgs_str(L"0000-00-00 10:15:00", VT_DATE, 0, pgs_copy_mode) + L"\t" +
                                to_pgs_str(L"0000-00-00 10:15:00.005", VT_DATE, 3, pgs_copy_mode) + L"\t" +
                                to_pgs_str(L"1234567.891", VT_R8, 0, pgs_copy_mode);
      writer.write_raw_line(tk_to_utf8(line));
    }
    writer.complete();
    tx.commit();
  }
  EXPECT_EQ(count("SELECT 1 FROM rt"), 8);
  for (const std::wstring& text : texts) {
    std::wstring expected = text;
    tk_wstring::replace_all(expected, L"\r", L"");
    EXPECT_EQ(count("SELECT 1 FROM rt WHERE t = " + pgs_sql_literal(tk_to_utf8(expected))), 1) << tk_to_utf8(text);
    // The SQL form of the same value reads back the same.
    EXPECT_EQ(scalar("SELECT " + tk_to_utf8(to_pgs_str(text, VT_BSTR, 0, pgs_sql_mode)) + "::text"),
              tk_to_utf8(expected));
  }
  EXPECT_EQ(scalar("SELECT count(*) FROM rt WHERE n IS NULL AND b = '\\x41ff'::bytea AND "
                   "d = '1899-12-30 10:15:00' AND tm = '10:15:00.005' AND f = 1234567.891"),
            "8");
  EXPECT_EQ(scalar("SELECT encode(" + tk_to_utf8(to_pgs_str(L"0x41FF", VT_BLOB, 0, pgs_sql_mode)) + ", 'hex')"),
            "41ff");
}

TEST_F(ServerPgsDatabase, DeleteTabDropsDependentsAndReportsWhetherListed) {
  udb_schema columns;
  columns.push_back(col(L"a", VT_I4));
  db->build_table(L"public.Sheet1", columns, udb_indexes());
  db->query(L"CREATE VIEW v AS SELECT * FROM sheet1");
  EXPECT_TRUE(db->delete_tab(L"Public.SHEET1"));
  EXPECT_EQ(count("SELECT 1 FROM pg_views WHERE viewname = 'v'"), 0);
  EXPECT_FALSE(db->is_table_exist(L"public.sheet1"));
  EXPECT_FALSE(db->delete_tab(L"public.never_there"));
}

TEST_F(ServerPgsDatabase, TestQueryChangesNothing) {
  EXPECT_TRUE(db->test_query(L"CREATE TABLE probe (a int)"));
  EXPECT_EQ(count("SELECT 1 FROM pg_tables WHERE tablename = 'probe'"), 0);
  EXPECT_FALSE(db->test_query(L"CREATE TABLE (("));
  EXPECT_THROW(db->query(L"SELEC 1"), pgs_exception);
  try {
    db->query(L"SELECT * FROM no_such_table");
    ADD_FAILURE() << "a missing table must fail";
  } catch (const pgs_exception& e) {
    EXPECT_EQ(e.sqlstate(), "42P01");
    EXPECT_EQ(e.statement(), "SELECT * FROM no_such_table");
    EXPECT_EQ(e.level(), 0);
  }
}

TEST_F(ServerPgsDatabase, ForeignKeysWithRulesAndAFailureThatStopsTheRest) {
  db->query(L"CREATE TABLE parent (id int PRIMARY KEY)");
  db->query(L"CREATE TABLE child (pid int, qid int)");
  udb_relationships keys;
  keys.push_back(udb_relationship(L"FK_plain", L"", L"child", L"parent", {L"pid"}, {L"id"}, L""));
  keys.push_back(udb_relationship(L"FK_cascade", L"", L"public.child", L"public.parent", {L"qid"}, {L"id"},
                                  L" ON DELETE CASCADE "));
  db->create_relationships(keys);
  EXPECT_EQ(scalar("SELECT confdeltype FROM pg_constraint WHERE conname = 'fk_plain'"), "a");
  EXPECT_EQ(scalar("SELECT confdeltype FROM pg_constraint WHERE conname = 'fk_cascade'"), "c");

  udb_relationships bad;
  bad.push_back(udb_relationship(L"FK_bad", L"", L"child", L"nowhere", {L"pid"}, {L"id"}, L""));
  bad.push_back(udb_relationship(L"FK_later", L"", L"child", L"parent", {L"pid"}, {L"id"}, L""));
  try {
    db->create_relationships(bad);
    ADD_FAILURE() << "a missing referenced table must fail";
  } catch (const pgs_exception& e) {
    EXPECT_EQ(e.message().rfind("Cannot create foreign key:", 0), 0u) << e.message();
  }
  EXPECT_EQ(count("SELECT 1 FROM pg_constraint WHERE conname = 'fk_later'"), 0);

  udb_relationships injected;
  injected.push_back(udb_relationship(L"FK_rule", L"", L"child", L"parent", {L"pid"}, {L"id"},
                                      L"ON DELETE CASCADE; DROP TABLE parent"));
  EXPECT_THROW(db->create_relationships(injected), pgs_exception);
  EXPECT_EQ(count("SELECT 1 FROM pg_tables WHERE tablename = 'parent'"), 1);
}

TEST_F(ServerPgsDatabase, TablesWithIndexesAndCreationErrors) {
  udb_schema columns;
  columns.push_back(col(L"Key", VT_I4));
  columns.push_back(col(L"Name", VT_BSTR, 255));
  columns.push_back(col(L"Memo", VT_BSTR, 0));
  udb_indexes indexes;
  indexes.push_back(udb_index{L"PrimaryKey", true, true, {L"Key"}});
  indexes.push_back(udb_index{L"ByName", false, false, {L"Name"}});
  indexes.push_back(udb_index{L"ByMemo", false, false, {L"Memo"}});
  db->build_table(L"public.indexed", columns, indexes);
  EXPECT_EQ(count("SELECT 1 FROM pg_indexes WHERE tablename = 'indexed'"), 2);
  EXPECT_EQ(scalar("SELECT is_nullable FROM information_schema.columns WHERE table_name = 'indexed' AND "
                   "column_name = 'key'"),
            "NO");
  try {
    db->build_table(L"public.indexed", columns, udb_indexes());
    ADD_FAILURE() << "a second CREATE TABLE must fail";
  } catch (const pgs_exception& e) {
    EXPECT_EQ(e.message().rfind("Cannot create table: CREATE TABLE \"public\".\"indexed\"", 0), 0u) << e.message();
    EXPECT_EQ(e.sqlstate(), "42P07");
  }
}

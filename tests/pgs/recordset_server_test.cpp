// Reading tables of a real server: columns, defaults and keys from the catalogue, the row count, and
// rows through the cursor.
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

#include <pqxx/pqxx>

#include "pg_test.h"
#include "pgs/pgs_database.h"
#include "pgs/pgs_engine.h"
#include "pgs/pgs_recordset.h"
#include "pgs/pgs_t_ftd.h"
#include "tk/tk_string.h"
#include "udb/udb_types.h"

namespace {

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

class ServerPgsRecordset : public ::testing::Test {
 protected:
  void SetUp() override {
    TAMARIND_REQUIRE_SERVER();
    engine = std::make_unique<pgs_engine>();
    engine->connect(env("PGHOST"), env("PGUSER"), env("PGPASSWORD"), "", std::atoi(env("PGPORT").c_str()));
    name = tk_utf8_to_unicode(tamarind_test::unique_database_name("tmd_pgs_rs"));
    db = engine->create_db(name);
  }
  void TearDown() override {
    db.reset();
    if (engine && !name.empty()) engine->delete_db(name);
    engine.reset();
  }

  // Runs the statements, then opens the table as a fresh database object sees it.
  std::unique_ptr<pgs_recordset> open(const std::string& ddl, const std::wstring& table, int mode = 1) {
    if (!ddl.empty()) db->query(tk_utf8_to_unicode(ddl));
    db = engine->open_db(name, 8, L"");
    std::unique_ptr<udb_recordset> rs = db->get_table(table, mode);
    return std::unique_ptr<pgs_recordset>(static_cast<pgs_recordset*>(rs.release()));
  }

  std::unique_ptr<pgs_engine> engine;
  std::wstring name;
  std::unique_ptr<pgs_database> db;
};

const t_ftd& column(const udb_recordset& rs, const std::wstring& name) { return rs.schema.get_field1(name); }

}  // namespace

TEST_F(ServerPgsRecordset, ColumnsTypesDefaultsAndAutoIncrementFromTheCatalogue) {
  auto rs = open(
      "CREATE TABLE public.shape (id serial, big bigserial, label varchar(20) DEFAULT 'abc' NOT NULL, "
      "n integer DEFAULT 5, flag boolean DEFAULT false, ts timestamp, d date, t time, price money, "
      "note text, \"Mixed Case\" double precision);"
      "INSERT INTO public.shape (label) VALUES ('x'), ('y')",
      L"public.shape");
  ASSERT_EQ(rs->schema.size(), 11u);
  EXPECT_EQ(rs->rec_count, 2);
  EXPECT_EQ(rs->get_rec_count(), 2);
  EXPECT_TRUE(column(*rs, L"id").auto_increment);
  EXPECT_TRUE(column(*rs, L"id").b_not_null);
  EXPECT_TRUE(column(*rs, L"id").value.is_empty());
  EXPECT_FALSE(column(*rs, L"big").auto_increment);  // only the first counter column is marked
  EXPECT_TRUE(column(*rs, L"big").value.is_empty());
  const t_ftd& label = column(*rs, L"label");
  EXPECT_EQ(label.vartype, VT_BSTR);
  EXPECT_EQ(label.size, 20u);
  EXPECT_TRUE(label.b_not_null);
  EXPECT_EQ(label.value.to_wstring(), L"abc");
  EXPECT_EQ(dynamic_cast<const pgs_t_ftd&>(label).orig_type, "character varying");
  EXPECT_EQ(column(*rs, L"n").vartype, VT_I4);
  EXPECT_EQ(column(*rs, L"n").value.to_wstring(), L"5");
  EXPECT_FALSE(column(*rs, L"n").b_not_null);
  EXPECT_EQ(column(*rs, L"flag").vartype, VT_BOOL);
  EXPECT_FALSE(column(*rs, L"flag").value.get_bool());
  EXPECT_EQ(column(*rs, L"ts").reserved, udb_reserved_date_time);
  EXPECT_EQ(column(*rs, L"d").reserved, udb_reserved_date_only);
  EXPECT_EQ(column(*rs, L"t").reserved, udb_reserved_time_only);
  EXPECT_EQ(column(*rs, L"price").vartype, VT_R8);
  EXPECT_EQ(rs->schema[10].name, L"Mixed Case");
  EXPECT_EQ(rs->n_u_index, -1);
}

// The column statement reads the catalogue of one table directly; it must give exactly what the
// standard information schema gives for that table, whatever the column types.
TEST_F(ServerPgsRecordset, ColumnStatementAgreesWithTheInformationSchema) {
  auto rs = open(
      "CREATE SCHEMA odd_schema;"
      "CREATE DOMAIN public.short_text AS varchar(12) NOT NULL;"
      "CREATE DOMAIN public.int_list AS integer[];"
      "CREATE TYPE public.mood AS ENUM ('sad', 'ok');"
      "CREATE TABLE odd_schema.wide_t (id serial PRIMARY KEY, v varchar(40) DEFAULT 'x''y', "
      "c char(3), b bit(4), vb bit varying(9), n numeric(12,3), n2 numeric, r real, d double precision, "
      "i2 smallint, i8 bigint DEFAULT 7, ts timestamp(2), tz timestamptz, tm time(1) with time zone, "
      "iv interval, dt date DEFAULT now(), arr integer[], dom public.short_text, doma public.int_list, "
      "m public.mood, j jsonb, bin bytea, money_col money, dropped int, g int GENERATED ALWAYS AS (i2 * 2) STORED);"
      "ALTER TABLE odd_schema.wide_t DROP COLUMN dropped;"
      "CREATE TABLE public.wide_t (other int)",
      L"odd_schema.wide_t");
  ASSERT_EQ(rs->schema.size(), 24u);
  pqxx::connection check(tamarind_test::server_connection_string(tk_to_utf8(name)));
  pqxx::work tx(check);
  const auto ours = tx.exec_params(rs->get_table_sql(), "odd_schema", "wide_t");
  const auto standard = tx.exec(
      "SELECT ordinal_position, column_name, data_type, character_maximum_length, column_default, is_nullable, "
      "numeric_precision, numeric_precision_radix, numeric_scale, datetime_precision FROM information_schema.columns "
      "WHERE table_schema = 'odd_schema' AND table_name = 'wide_t' ORDER BY ordinal_position");
  ASSERT_EQ(ours.size(), standard.size());
  ASSERT_EQ(ours.columns(), standard.columns());
  for (pqxx::result::size_type r = 0; r < ours.size(); ++r)
    for (pqxx::row::size_type c = 0; c < ours.columns(); ++c) {
      SCOPED_TRACE(std::string(standard[r][1].c_str()) + " / " + standard.column_name(c));
      EXPECT_EQ(ours[r][c].is_null(), standard[r][c].is_null());
      EXPECT_EQ(std::string(ours[r][c].c_str()), std::string(standard[r][c].c_str()));
    }
}

TEST_F(ServerPgsRecordset, AMissingTableGivesAnEmptySchemaAndNoCount) {
  pgs_recordset rs(*db, L"nosuchschema.nosuchtable", db->relationships, 1);
  EXPECT_TRUE(rs.schema.empty());
  EXPECT_EQ(rs.rec_count, 0);
  EXPECT_TRUE(rs.indexes.empty());
  pgs_recordset query(*db, L"q", L"SELECT 1", db->relationships, 1);
  EXPECT_TRUE(query.schema.empty());
  EXPECT_FALSE(query.is_query());
  EXPECT_EQ(query.schema_name(), L"public");
}

TEST_F(ServerPgsRecordset, KeysInKeyOrderNamedRightAfterADroppedColumn) {
  auto rs = open(
      "CREATE TABLE public.keyed (gone int, a int, b int, c text, PRIMARY KEY (b, a));"
      "ALTER TABLE public.keyed DROP COLUMN gone;"
      "CREATE INDEX keyed_c ON public.keyed (c, a);"
      "CREATE INDEX keyed_expr ON public.keyed ((lower(c)));",
      L"public.keyed");
  ASSERT_GE(rs->indexes.size(), 2u);
  ASSERT_EQ(rs->n_u_index, 0);
  const udb_index& pk = rs->indexes[0];
  EXPECT_TRUE(pk.primary);
  EXPECT_EQ(pk.fields, (std::vector<std::wstring>{L"b", L"a"}));
  const udb_index& plain = rs->indexes.get_index(L"keyed_c");
  EXPECT_FALSE(plain.unique);
  EXPECT_EQ(plain.fields, (std::vector<std::wstring>{L"c", L"a"}));
  // An expression index names no column (number 0): it is kept without columns.
  EXPECT_TRUE(rs->indexes.get_index(L"keyed_expr").fields.empty());
}

TEST_F(ServerPgsRecordset, KeysOfASameNamedTableInAnotherSchemaStayApart) {
  auto rs = open(
      "CREATE SCHEMA other;"
      "CREATE TABLE other.twin (x int PRIMARY KEY, y int);"
      "CREATE INDEX twin_y ON other.twin (y);"
      "CREATE TABLE public.twin (x int, y int);",
      L"public.twin");
  EXPECT_TRUE(rs->indexes.empty());
  EXPECT_EQ(rs->n_u_index, -1);
  EXPECT_TRUE(db->relationships.empty());
}

TEST_F(ServerPgsRecordset, ForeignKeysWithoutFollowingTheReferencedTables) {
  auto rs = open(
      "CREATE TABLE public.node (id int PRIMARY KEY, parent int REFERENCES public.node(id) ON DELETE CASCADE);"
      "CREATE SCHEMA ref;"
      "CREATE TABLE ref.kind (k1 int, k2 int, PRIMARY KEY (k2, k1));"
      "CREATE TABLE public.item (id int, a int, b int, FOREIGN KEY (a, b) REFERENCES ref.kind (k2, k1));"
      "CREATE TABLE public.cycle_a (id int PRIMARY KEY, b int);"
      "CREATE TABLE public.cycle_b (id int PRIMARY KEY, a int REFERENCES public.cycle_a(id));"
      "ALTER TABLE public.cycle_a ADD FOREIGN KEY (b) REFERENCES public.cycle_b(id);",
      L"public.node");
  ASSERT_EQ(db->relationships.size(), 1u);  // a self-reference is read once, not endlessly
  const udb_relationship& self = db->relationships[0];
  EXPECT_EQ(self.table, L"public.node");
  EXPECT_EQ(self.ref_table, L"public.node");
  EXPECT_EQ(self.columns, (std::vector<std::wstring>{L"parent"}));
  EXPECT_EQ(self.ref_columns, (std::vector<std::wstring>{L"id"}));
  EXPECT_EQ(self.rule, L"ON DELETE CASCADE");

  db->relationships.clear();
  auto item = db->get_table(L"public.item", 1);
  ASSERT_EQ(db->relationships.size(), 1u);
  EXPECT_EQ(db->relationships[0].ref_table, L"ref.kind");  // the referenced table's own schema
  EXPECT_EQ(db->relationships[0].columns, (std::vector<std::wstring>{L"a", L"b"}));
  EXPECT_EQ(db->relationships[0].ref_columns, (std::vector<std::wstring>{L"k2", L"k1"}));
  EXPECT_EQ(db->relationships[0].rule, L"");  // no action

  db->relationships.clear();
  auto cycle = db->get_table(L"public.cycle_a", 1);
  EXPECT_EQ(db->relationships.size(), 1u);
}

TEST_F(ServerPgsRecordset, RowsThroughTheCursorInBlocks) {
  auto rs = open("CREATE TABLE public.many (n int); INSERT INTO public.many SELECT generate_series(1, 25001)",
                 L"public.many");
  EXPECT_EQ(rs->rec_count, 25001);
  rs->reset();
  long long sum = 0;
  int rows = 0;
  while (!rs->is_eof()) {
    udb_record* record = rs->get_item();
    ASSERT_NE(record, nullptr);
    sum += record->at(0).get_type() == VT_I4 ? record->at(0).to_long() : 0;
    ++rows;
    rs->next();
  }
  EXPECT_EQ(rows, 25001);
  EXPECT_EQ(sum, 25001LL * 25002 / 2);
  EXPECT_EQ(rs->get_item(), nullptr);
  rs->reset();  // a second pass starts over
  ASSERT_FALSE(rs->is_eof());
  EXPECT_EQ(rs->get_item()->at(0).to_wstring(), L"1");
}

TEST_F(ServerPgsRecordset, ValuesReadBackAsTheirColumnTypes) {
  auto rs = open(
      "CREATE TABLE public.vals (id int, flag boolean, price money, ts timestamp(3), d date, txt text, bin bytea);"
      "INSERT INTO public.vals VALUES (1, true, 12.34, '2011-03-04 13:20:05.005', '2011-03-04', E'a\\tb \u0416',"
      " '\\x00ff'), (2, false, NULL, '1999-12-31 23:59:59.999', NULL, '', NULL), (3, NULL, -5, NULL, NULL, NULL, NULL)",
      L"public.vals");
  db->query(L"SET lc_monetary = 'C'");
  rs->reset();
  std::vector<std::vector<std::wstring>> rows;
  std::vector<std::vector<VARTYPE>> types;
  while (!rs->is_eof()) {
    udb_record* record = rs->get_item();
    rows.emplace_back();
    types.emplace_back();
    for (const auto& field : *record) {
      rows.back().push_back(field->to_wstring());
      types.back().push_back(field->get_type());
    }
    rs->next();
  }
  ASSERT_EQ(rows.size(), 3u);
  std::sort(rows.begin(), rows.end());
  EXPECT_EQ(rows[0], (std::vector<std::wstring>{L"1", L"1", L"12.34", L"2011-03-04 13:20:05.005", L"2011-03-04",
                                                L"a\tb \u0416", L"0x00FF"}));
  EXPECT_EQ(rows[1], (std::vector<std::wstring>{L"2", L"0", L"", L"1999-12-31 23:59:59.999", L"", L"", L""}));
  EXPECT_EQ(rows[2][1], L"");  // a NULL boolean stays empty, not false
  EXPECT_EQ(rows[2][2], L"-5");
}

TEST_F(ServerPgsRecordset, UpperCaseNamesAreLookedUpLowercased) {
  auto rs = open("CREATE TABLE public.mixed (a int PRIMARY KEY)", L"Public.MIXED");
  ASSERT_EQ(rs->schema.size(), 1u);
  EXPECT_EQ(rs->indexes.size(), 1u);
  EXPECT_EQ(rs->bare_table_name(), L"MIXED");
}

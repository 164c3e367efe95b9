// CREATE TABLE and index statements built from source columns and indexes (no server needed).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "pgs/pgs_ddl.h"
#include "pgs/pgs_engine.h"

namespace {

std::unique_ptr<t_ftd> col(const std::wstring& name, VARTYPE vt, std::uint32_t size = 0,
                           const ole_variant& def = ole_variant(), bool not_null = false, bool autoinc = false,
                           int reserved = 0) {
  return std::make_unique<t_ftd>(size, name, vt, not_null, autoinc, def, reserved);
}

class PgsDdl : public ::testing::Test {
 protected:
  pgs_engine engine;  // quoting rules and the process-wide index names; never connected here
};

}  // namespace

TEST_F(PgsDdl, ColumnsAreQuotedWholeAndTypedWithoutOids) {
  udb_schema columns;
  columns.push_back(col(L"No.", VT_I4));
  columns.push_back(col(L"Price.Net", VT_R8));
  columns.push_back(col(L"Name", VT_BSTR, 20, ole_variant(L"n/a")));
  columns.push_back(col(L"Notes", VT_BSTR, 0, ole_variant(L"none")));
  columns.push_back(col(L"Qty", VT_I2, 99, ole_variant(L"5")));
  columns.push_back(col(L"Blob", VT_BLOB_OBJECT, 0));
  pgs_schema_initializer init(L"Sales.Sheet1", columns, udb_indexes());
  EXPECT_EQ(init.create_table_statement(),
            "CREATE TABLE \"sales\".\"sheet1\" (\"no.\" INTEGER, \"price.net\" DOUBLE PRECISION, "
            "\"name\" VARCHAR(20)  DEFAULT 'n/a', \"notes\" TEXT, \"qty\" SMALLINT DEFAULT 5, \"blob\" BYTEA)");
}

TEST_F(PgsDdl, NamesDifferingInCaseBecomeDistinctAndOnlyRenamedOnesAreMapped) {
  udb_schema columns;
  columns.push_back(col(L"ID", VT_I4));
  columns.push_back(col(L"id", VT_I4));
  columns.push_back(col(L"Order-Date", VT_DATE));
  columns.push_back(col(L"a\"(b int);drop table c;--", VT_BSTR, 10));
  pgs_schema_initializer init(L"public.t", columns, udb_indexes());
  const udb_schema& safe = init.safe_columns();
  ASSERT_EQ(safe.size(), 4u);
  EXPECT_EQ(safe[0].name, L"ID");
  EXPECT_EQ(safe[1].name, L"id00000");
  EXPECT_EQ(safe[2].name, L"Order_Date");
  EXPECT_EQ(init.column_map(), (pgs_names_map{{L"id", L"id00000"},
                                              {L"Order-Date", L"Order_Date"},
                                              {L"a\"(b int);drop table c;--", L"a__b int__drop table c___"}}));
  EXPECT_NE(init.create_table_statement().find("\"a__b int__drop table c___\" VARCHAR(10) "), std::string::npos);
}

TEST_F(PgsDdl, NotNullRulesAndAutoIncrementDefaults) {
  udb_schema columns;
  columns.push_back(col(L"Counter", VT_I4, 0, ole_variant(L"7"), false, true));
  columns.push_back(col(L"Key", VT_I4));
  columns.push_back(col(L"Must", VT_BSTR, 5, ole_variant(), true));
  udb_indexes indexes;
  indexes.push_back(udb_index{L"PrimaryKey", true, true, {L"Key"}});
  pgs_schema_initializer init(L"public.t", columns, indexes);
  EXPECT_EQ(init.create_table_statement(),
            "CREATE TABLE \"public\".\"t\" (\"counter\" INTEGER NOT NULL, \"key\" INTEGER NOT NULL, "
            "\"must\" VARCHAR(5)  NOT NULL)");
}

TEST_F(PgsDdl, IndexesOverUnboundedOrMissingColumnsAreSkippedAndCoveredOnesDropped) {
  udb_schema columns;
  columns.push_back(col(L"a", VT_I4));
  columns.push_back(col(L"b", VT_BSTR, 255));
  columns.push_back(col(L"memo", VT_BSTR, 0));
  columns.push_back(col(L"Order-Date", VT_DATE));
  pgs_schema_initializer schema(L"public.t", columns, udb_indexes());
  udb_indexes source;
  source.push_back(udb_index{L"ab", false, false, {L"a", L"b"}});
  source.push_back(udb_index{L"a_only", false, false, {L"A"}});       // covered by ab
  source.push_back(udb_index{L"on_memo", false, false, {L"memo"}});   // TEXT: not indexable
  source.push_back(udb_index{L"ghost", false, false, {L"missing"}});  // no such column
  source.push_back(udb_index{L"u-date", true, false, {L"Order-Date"}});
  source.push_back(udb_index{L"pk", true, true, {L"b"}});
  pgs_indexes_initializer init(L"public.t", schema.safe_columns(), source, schema.column_map());
  EXPECT_EQ(init.index_statements(),
            (std::vector<std::string>{"CREATE INDEX ON \"public\".\"t\" (\"a\", \"b\")",
                                      "CREATE UNIQUE INDEX ON \"public\".\"t\" (\"order_date\")",
                                      "ALTER TABLE \"public\".\"t\" ADD PRIMARY KEY (\"b\")"}));
  EXPECT_EQ(init.index_list()[1].name, L"u_date");

  // In the other order both are built; a name used by an earlier table is renumbered.
  udb_indexes again;
  again.push_back(udb_index{L"a_only", false, false, {L"a"}});
  again.push_back(udb_index{L"ab", false, false, {L"a", L"b"}});
  pgs_indexes_initializer second(L"public.t2", schema.safe_columns(), again, schema.column_map());
  ASSERT_EQ(second.index_list().size(), 2u);
  EXPECT_EQ(second.index_list()[0].name, L"a_only");
  EXPECT_EQ(second.index_list()[1].name, L"ab00000");
}

TEST_F(PgsDdl, IndexHelpers) {
  const udb_index ab{L"ab", false, false, {L"A", L"b"}};
  EXPECT_TRUE(pgs_index_starts_with(ab, {}));
  EXPECT_TRUE(pgs_index_starts_with(ab, {L"a"}));
  EXPECT_FALSE(pgs_index_starts_with(ab, {L"b"}));
  EXPECT_FALSE(pgs_index_starts_with(ab, {L"a", L"b", L"c"}));
  udb_indexes list;
  list.push_back(ab);
  list.push_back(udb_index{L"pk", false, true, {L"k"}});
  EXPECT_TRUE(pgs_is_index_field(list, L"b", false));
  EXPECT_FALSE(pgs_is_index_field(list, L"b", true));
  EXPECT_FALSE(pgs_is_index_field(list, L"K", true));  // exact names
  const pgs_names_map map{{L"Order-Date", L"Order_Date"}};
  EXPECT_EQ(pgs_get_mapped_name(map, L"order-date", false), L"Order_Date");
  EXPECT_EQ(pgs_get_mapped_name(map, L"order-date", true), L"order-date");
}

// Worksheet names other writers allow: twins, names equal but for case, and names that give no
// table, or a table in one of the server's own schemas.
#include "e2e_support.h"
#include "wb_test_files.h"

namespace {

using strings = std::vector<std::string>;

class E2eSheetIdentity : public testing::Test {
 protected:
  void SetUp() override { TAMARIND_REQUIRE_SERVER(); }
  /// Converts a package of these worksheets; each holds a header "v" over its own position (1, 2, ...).
  e2e::run_result convert(const strings& names, const strings& extra = {}) {
    wb_test::xlsx_parts parts;
    for (const std::string& name : names)
      parts.sheets.emplace_back(name, "<row><c t=\"inlineStr\"><is><t>v</t></is></c></row><row><c><v>" +
                                          std::to_string(parts.sheets.size() + 1) + "</v></c></row>");
    wb_test::write_xlsx(dir.file("book.xlsx"), parts);
    const strings args = {"--src=" + dir.file("book.xlsx"), "--dest=" + db.name(), "--extr_fn"};
    return e2e::run_corvel(e2e::join(e2e::join(args, e2e::server_options(false)), extra));
  }
  bool printed(const e2e::run_result& r, const std::string& text) { return r.out.find(text) != std::string::npos; }

  e2e::scratch_dir dir;
  e2e::database_guard db{"e2e_ident"};
};

TEST_F(E2eSheetIdentity, WorksheetsOfOneNameOrEqualButForCaseEachLoadTheirOwnRows) {
  const strings book = {"data", "Data", "DATA", "Twin", "Twin"};
  const e2e::run_result upper = convert(book, {"--tab_file=" + dir.write("upper.txt", "DATA\n")});
  EXPECT_EQ(upper.status, 0) << upper.out << upper.err;
  EXPECT_TRUE(printed(upper, "Converting worksheet DATA\n")) << upper.out;
  EXPECT_EQ(db.rows("SELECT v FROM data"), strings{"3"});

  const e2e::run_result twins = convert(book, {"--tab_file=" + dir.write("twins.txt", "Twin\nTwin (2)\n")});
  EXPECT_EQ(twins.status, 0) << twins.out << twins.err;
  EXPECT_EQ(db.rows("SELECT v FROM twin UNION ALL SELECT v FROM \"twin (2)\""), (strings{"4", "5"}));

  // Three spellings of one table never overwrite each other: the first keeps it, two are reported.
  const e2e::run_result all = convert(book);
  EXPECT_EQ(all.status, 1) << all.out << all.err;
  EXPECT_TRUE(printed(all, "Error:\nData: Table 'public.Data' was already written")) << all.out;
  EXPECT_TRUE(printed(all, "Error:\ndata: Table 'public.data' was already written")) << all.out;
  EXPECT_EQ(db.rows("SELECT v FROM data"), strings{"3"});
}

TEST_F(E2eSheetIdentity, NamesThatGiveNoTableOrASystemSchemaAreReportedAndTheRestConverts) {
  const e2e::run_result r =
      convert({"", "[br]", "trail.", "information_schema.x", "pg_temp.t", "PG_CATALOG.c", "pg_toast.o", "Zed"});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  for (const char* report : {"Error:\nWorksheet #1 is named '', which gives no table name.\n",
                             "Error:\ntrail.: Worksheet #3 is named 'trail.', which gives no table name.\n",
                             "Error:\ninformation_schema.x: Schema 'information_schema' belongs to the server's",
                             "Error:\npg_temp.t: Schema 'pg_temp' belongs to the server's",
                             "Error:\nPG_CATALOG.c: Schema 'pg_catalog' belongs to the server's",
                             "Error:\npg_toast.o: Schema 'pg_toast' belongs to the server's"})
    EXPECT_TRUE(printed(r, report)) << report << "\n" << r.out;
  EXPECT_FALSE(printed(r, "syntax")) << r.out;
  EXPECT_EQ(db.tables(), (strings{"public.[br]", "public.zed"}));
  EXPECT_EQ(db.rows("SELECT v FROM \"[br]\""), strings{"2"});
  EXPECT_EQ(db.rows("SELECT (SELECT count(*) FROM pg_namespace WHERE nspname = 'trail') + (SELECT count(*) "
                    "FROM pg_class WHERE relname IN ('x', 't', 'c', 'o') AND relkind = 'r')"),
            strings{"0"});
}

}  // namespace

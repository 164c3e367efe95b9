// Worksheets whose names other writers allow: twins, names equal but for case, and names that give
// no table, or a table in the server's own schemas.
#include <algorithm>

#include "e2e_support.h"
#include "wb_test_files.h"

namespace {

using e2e::join;
using e2e::run_corvel;
using e2e::server_options;
using strings = std::vector<std::string>;

class E2eSheetIdentity : public testing::Test {
 protected:
  void SetUp() override { TAMARIND_REQUIRE_SERVER(); }
  /// A raw package whose worksheets have these names; each holds a header "v" and one row, the
  /// worksheet's position (1, 2, ...), so every table shows which worksheet filled it.
  std::string write_book(const strings& names) {
    wb_test::xlsx_parts parts;
    for (const std::string& name : names) {
      const std::string n = std::to_string(parts.sheets.size() + 1);
      parts.sheets.emplace_back(name, "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>v</t></is></c></row>"
                                      "<row r=\"2\"><c r=\"A2\"><v>" + n + "</v></c></row>");
    }
    const std::string path = dir.file("book.xlsx");
    wb_test::write_xlsx(path, parts);
    return path;
  }
  e2e::run_result convert(const std::string& src, const strings& extra = {}) {
    return run_corvel(join(join({"--src=" + src, "--dest=" + db.name(), "--extr_fn"}, server_options(false)), extra));
  }

  e2e::scratch_dir dir;
  e2e::database_guard db{"e2e_ident"};
};

TEST_F(E2eSheetIdentity, WorksheetsOfOneNameOrEqualButForCaseEachLoadTheirOwnRows) {
  const std::string book = write_book({"data", "Data", "DATA", "Twin", "Twin"});

  const e2e::run_result upper = convert(book, {"--tab_file=" + dir.write("upper.txt", "DATA\n")});
  EXPECT_EQ(upper.status, 0) << upper.out << upper.err;
  EXPECT_NE(upper.out.find("Converting worksheet DATA\n"), std::string::npos) << upper.out;
  EXPECT_EQ(db.rows("SELECT v FROM public.data"), strings{"3"});

  const e2e::run_result twins = convert(book, {"--tab_file=" + dir.write("twins.txt", "Twin\nTwin (2)\n")});
  EXPECT_EQ(twins.status, 0) << twins.out << twins.err;
  EXPECT_EQ(db.rows("SELECT v FROM public.twin"), strings{"4"});
  EXPECT_EQ(db.rows("SELECT v FROM public.\"twin (2)\""), strings{"5"});

  // All of them: the three spellings of one table name never overwrite each other; the first
  // converted keeps its rows, the other two are reported.
  const e2e::run_result all = convert(book);
  EXPECT_EQ(all.status, 1) << all.out << all.err;
  EXPECT_NE(all.out.find("Error:\nData: Table 'public.Data' was already written"), std::string::npos) << all.out;
  EXPECT_NE(all.out.find("Error:\ndata: Table 'public.data' was already written"), std::string::npos) << all.out;
  EXPECT_EQ(db.rows("SELECT v FROM public.data"), strings{"3"});
  EXPECT_EQ(db.rows("SELECT v FROM public.\"twin (2)\""), strings{"5"});
}

TEST_F(E2eSheetIdentity, NamesThatGiveNoTableOrASystemSchemaAreReportedAndTheRestConverts) {
  const std::string book =
      write_book({"", "[br]", "trail.", "information_schema.x", "pg_temp.t", "PG_CATALOG.c", "pg_toast.o", "Zed"});
  const e2e::run_result r = convert(book);
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  // Every worksheet is accounted for: two converted, six reported with their reasons.
  const auto count = [&](const std::string& what) {
    std::size_t n = 0;
    for (auto at = r.out.find(what); at != std::string::npos; at = r.out.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("Converting worksheet "), 2u) << r.out;
  EXPECT_EQ(count("Error:\n"), 6u) << r.out;
  for (const char* report : {"Error:\nWorksheet #1 is named '', which gives no table name.\n",
                             "Error:\ntrail.: Worksheet #3 is named 'trail.', which gives no table name.\n",
                             "Error:\ninformation_schema.x: Schema 'information_schema' belongs to the server's system",
                             "Error:\npg_temp.t: Schema 'pg_temp' belongs to the server's system",
                             "Error:\nPG_CATALOG.c: Schema 'pg_catalog' belongs to the server's system",
                             "Error:\npg_toast.o: Schema 'pg_toast' belongs to the server's system"})
    EXPECT_NE(r.out.find(report), std::string::npos) << report << "\n" << r.out;
  EXPECT_EQ(r.out.find("syntax"), std::string::npos) << r.out;
  EXPECT_EQ(db.tables(), (strings{"public.[br]", "public.zed"}));
  EXPECT_EQ(db.rows("SELECT v FROM public.\"[br]\""), strings{"2"});
  EXPECT_EQ(db.rows("SELECT count(*) FROM pg_namespace WHERE nspname = 'trail'"), strings{"0"});
  EXPECT_EQ(db.rows("SELECT count(*) FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                    "WHERE c.relname IN ('x', 't', 'c', 'o') AND c.relkind = 'r' "
                    "AND (n.nspname = 'information_schema' OR n.nspname LIKE 'pg\\_%')"),
            strings{"0"});
}

}  // namespace

// The destination when worksheets cannot be read, and columns named like the server's own.
#include "e2e_support.h"
#include "wb_test_files.h"

namespace {

using strings = std::vector<std::string>;

const std::string good_rows = R"(<row r="1"><c r="A1"><v>1</v></c><c r="B1"><v>2</v></c></row>)";
const std::string broken_xml = R"(<row r="1"><c r="A1"><v>1</v></row>)";  // a cell never closed
const strings untouched = {"public.bad", "public.good", "public.keep_me"};

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class E2eDestination : public testing::Test {
 protected:
  void SetUp() override {
    TAMARIND_REQUIRE_SERVER();
    db.create();
    db.execute("CREATE TABLE keep_me (x int); CREATE TABLE good (f1 float8, f2 float8);"
               "CREATE TABLE bad (f1 float8, f2 float8); INSERT INTO bad VALUES (-2, -2)");
  }
  /// Converts a package of these worksheets (name, sheetData XML), without the parts in `missing`.
  e2e::run_result convert(const std::vector<std::pair<std::string, std::string>>& sheets, const std::string& mode,
                          const strings& missing = {}, const strings& extra = {}) {
    wb_test::xlsx_parts parts;
    parts.sheets = sheets;
    auto package = wb_test::build_xlsx(parts);
    for (const auto& part : missing) package.erase(part);
    wb_test::write_zip(dir.file("book.xlsx"), package);
    return e2e::run_corvel(e2e::join(
        {"--src=" + dir.file("book.xlsx"), "--dest=" + db.name(), "--mode=" + mode}, e2e::join(e2e::server_options(false), extra)));
  }
  e2e::scratch_dir dir;
  e2e::database_guard db{"e2e_dest"};
};

}  // namespace

TEST_F(E2eDestination, UnreadableOrNoWorksheetsLeaveTheDestinationAndFail) {
  for (const char* mode : {"0", "1"}) {  // worksheets of bad XML; a package missing a sheet's part
    const auto r = convert({{"Broken", broken_xml}, {"Cut", R"(<row r="1"><c r="A1"><v>1</v></c>)"}}, mode);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(has(r.out, "Broken: ") && has(r.out, "Cut: ") &&
                has(r.out, "None of the worksheets to convert can be read; the destination was left as it was."))
        << r.out;
    const auto missing = convert({{"Missing", good_rows}}, mode, {"xl/worksheets/sheet1.xml"});
    EXPECT_EQ(missing.status, 1) << missing.out;
    EXPECT_TRUE(has(missing.out, "Missing: ") && has(missing.out, "None of the worksheets to convert can be read") &&
                has(missing.out, "the part 'xl/worksheets/sheet1.xml' of sheet 'Missing' is missing.")) << missing.out;
    EXPECT_EQ(db.tables(), untouched);
    EXPECT_EQ(db.rows("SELECT f1 FROM bad"), strings{"-2"});
  }
  const auto none = convert({}, "0");
  EXPECT_EQ(none.status, 1);
  EXPECT_TRUE(has(none.out, "There is no worksheet to convert.")) << none.out;
  EXPECT_EQ(db.tables(), untouched);
  // One worksheet readable: mode 1 replaces only its table, mode 0 the database. A worksheet whose
  // part is missing fails alone, as one of bad XML does.
  const auto missing = convert({{"Good", good_rows}, {"Missing", good_rows}}, "1", {"xl/worksheets/sheet2.xml"});
  EXPECT_EQ(missing.status, 1) << missing.out;
  EXPECT_TRUE(has(missing.out, "Missing: ") && has(missing.out, "of sheet 'Missing' is missing.")) << missing.out;
  EXPECT_EQ(db.rows("SELECT (SELECT f1 FROM good), (SELECT f1 FROM bad)"), strings{"1|-2"});
  db.execute("TRUNCATE good");  // the next run must fill it again, not find it filled
  EXPECT_EQ(convert({{"Good", good_rows}, {"Bad", broken_xml}}, "1").status, 1);
  EXPECT_EQ(db.rows("SELECT (SELECT f1 FROM good), (SELECT f1 FROM bad)"), strings{"1|-2"});
  EXPECT_EQ(convert({{"Good", good_rows}, {"Bad", broken_xml}}, "0").status, 1);
  EXPECT_EQ(db.tables(), strings{"public.good"});
}

TEST_F(E2eDestination, ColumnsNamedLikeSystemColumnsAreRenamedAndLoad) {
  std::string header = "<row r=\"1\">", values = "<row r=\"2\">";
  const strings names = {"xmin", "XMAX", "cmin", "Cmax", "ctid", "tableoid", "xmin00000"};
  for (std::size_t i = 0; i < names.size(); ++i) {
    header += "<c t=\"inlineStr\"><is><t>" + names[i] + "</t></is></c>";
    values += "<c><v>" + std::to_string(i + 1) + "</v></c>";
  }
  for (const char* mode : {"1", "3"}) {  // the append pairs the renamed columns again
    const auto r = convert({{"Boxes", header + "</row>" + values + "</row>"}}, mode, {}, {"--extr_fn"});
    EXPECT_EQ(r.status, 0) << r.out;
  }
  EXPECT_EQ(db.rows("SELECT xmin00001, xmax00000, cmin00000, cmax00000, ctid00000, tableoid00000, xmin00000 FROM boxes"),
            (strings{"1|2|3|4|5|6|7", "1|2|3|4|5|6|7"}));  // "xmin00000" is the sheet's own name
}

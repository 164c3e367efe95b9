// What a run does to the destination when the workbook's worksheets cannot be read, and names the
// server keeps for itself.
#include "e2e_support.h"
#include "wb_test_files.h"

namespace {

using e2e::join;
using e2e::run_corvel;
using e2e::server_options;
using strings = std::vector<std::string>;

constexpr const char* good_rows = R"(<row r="1"><c r="A1"><v>1</v></c><c r="B1"><v>2</v></c></row>)";
// A row whose cell is never closed: the sheet's XML breaks off inside it.
constexpr const char* broken_xml = R"(<row r="1"><c r="A1"><v>1</v></row>)";

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class E2eDestination : public testing::Test {
 protected:
  void SetUp() override {
    TAMARIND_REQUIRE_SERVER();
    db.create();
    db.execute(
        "CREATE TABLE keep_me (x integer); INSERT INTO keep_me VALUES (7);"
        "CREATE TABLE good (f1 double precision, f2 double precision); INSERT INTO good VALUES (-1, -1);"
        "CREATE TABLE bad (f1 double precision, f2 double precision); INSERT INTO bad VALUES (-2, -2)");
  }
  /// A package of these worksheets (name, sheetData XML); the parts of `missing` are left out.
  std::string workbook(const std::string& file, const std::vector<std::pair<std::string, std::string>>& sheets,
                       const strings& missing = {}) {
    wb_test::xlsx_parts parts;
    parts.sheets = sheets;
    auto package = wb_test::build_xlsx(parts);
    for (const auto& part : missing) package.erase(part);
    const std::string path = dir.file(file);
    wb_test::write_zip(path, package);
    return path;
  }
  e2e::run_result convert(const std::string& src, const std::string& mode) {
    return run_corvel(join({"--src=" + src, "--dest=" + db.name(), "--mode=" + mode}, server_options(false)));
  }
  strings untouched() const { return {"public.bad", "public.good", "public.keep_me"}; }

  e2e::scratch_dir dir;
  e2e::database_guard db{"e2e_dest"};
};

}  // namespace

TEST_F(E2eDestination, UnreadableOrNoWorksheetsLeaveTheDestinationAndFail) {
  // Every worksheet damaged (bad XML, a part missing from the package): nothing is dropped.
  const std::string all_bad = workbook("all_bad.xlsx", {{"Broken", broken_xml}, {"Missing", good_rows}},
                                       {"xl/worksheets/sheet2.xml"});
  for (const char* mode : {"0", "1"}) {
    const e2e::run_result r = convert(all_bad, mode);
    EXPECT_EQ(r.status, 1) << mode << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "Broken: ")) << r.out;
    EXPECT_TRUE(contains(r.out, "Missing: ")) << r.out;
    EXPECT_TRUE(contains(r.out, "None of the worksheets to convert can be read; the destination was left as it was."))
        << r.out;
    EXPECT_FALSE(contains(r.out, "Converting spreadsheet")) << r.out;
    ASSERT_TRUE(db.exists());
    EXPECT_EQ(db.tables(), untouched()) << mode;
    EXPECT_EQ(db.rows("SELECT f1 FROM bad"), strings{"-2"});
  }
  // No worksheet at all.
  const std::string empty = workbook("empty.xlsx", {});
  const e2e::run_result none = convert(empty, "0");
  EXPECT_EQ(none.status, 1) << none.out << none.err;
  EXPECT_TRUE(contains(none.out, "There is no worksheet to convert.")) << none.out;
  EXPECT_EQ(db.tables(), untouched());

  // Mode 1 with one worksheet readable: only that worksheet's table is replaced.
  const std::string mixed = workbook("mixed.xlsx", {{"Good", good_rows}, {"Bad", broken_xml}});
  const e2e::run_result one = convert(mixed, "1");
  EXPECT_EQ(one.status, 1) << one.out << one.err;
  EXPECT_TRUE(contains(one.out, "Bad: ")) << one.out;
  EXPECT_EQ(db.tables(), untouched());
  EXPECT_EQ(db.rows("SELECT f1 FROM good"), strings{"1"});
  EXPECT_EQ(db.rows("SELECT f1 FROM bad"), strings{"-2"});
  // Mode 0 with one worksheet readable: the database is replaced and holds what could be read.
  const e2e::run_result zero = convert(mixed, "0");
  EXPECT_EQ(zero.status, 1) << zero.out << zero.err;
  EXPECT_EQ(db.tables(), strings{"public.good"});
}

TEST_F(E2eDestination, ColumnsNamedLikeSystemColumnsAreRenamedAndLoad) {
  const std::string names = R"(<row r="1"><c r="A1" t="inlineStr"><is><t>xmin</t></is></c>)"
                            R"(<c r="B1" t="inlineStr"><is><t>XMAX</t></is></c><c r="C1" t="inlineStr"><is><t>cmin</t></is></c>)"
                            R"(<c r="D1" t="inlineStr"><is><t>Cmax</t></is></c><c r="E1" t="inlineStr"><is><t>ctid</t></is></c>)"
                            R"(<c r="F1" t="inlineStr"><is><t>tableoid</t></is></c><c r="G1" t="inlineStr"><is><t>xmin00000</t></is></c></row>)"
                            R"(<row r="2"><c r="A2"><v>1</v></c><c r="B2"><v>2</v></c><c r="C2"><v>3</v></c><c r="D2"><v>4</v></c>)"
                            R"(<c r="E2"><v>5</v></c><c r="F2"><v>6</v></c><c r="G2"><v>7</v></c></row>)";
  const std::string book = workbook("boxes.xlsx", {{"Boxes", names}});
  const strings args = join({"--src=" + book, "--dest=" + db.name(), "--extr_fn"}, server_options(false));
  const e2e::run_result created = run_corvel(join(args, {"--mode=1"}));
  EXPECT_EQ(created.status, 0) << created.out << created.err;
  const strings columns = db.columns("public", "boxes");
  ASSERT_EQ(columns.size(), 7u);
  EXPECT_EQ(columns[0].substr(0, 10), "xmin00001:");  // "xmin00000" is the sheet's own
  EXPECT_EQ(columns[1].substr(0, 10), "xmax00000:");
  EXPECT_EQ(columns[5].substr(0, 14), "tableoid00000:");
  EXPECT_EQ(columns[6].substr(0, 10), "xmin00000:");
  // Appending pairs the renamed columns with the same names.
  const e2e::run_result appended = run_corvel(join(args, {"--mode=3"}));
  EXPECT_EQ(appended.status, 0) << appended.out << appended.err;
  EXPECT_EQ(db.rows("SELECT xmin00001, xmax00000, cmin00000, cmax00000, ctid00000, tableoid00000, xmin00000 FROM boxes"),
            (strings{"1|2|3|4|5|6|7", "1|2|3|4|5|6|7"}));
}

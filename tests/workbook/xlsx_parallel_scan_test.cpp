// A sheet part cut into pieces and scanned on several threads must give exactly what one scan over
// the whole part gives: the same rows and cells, and the same error after the same rows.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "wb_test_files.h"
#include "workbook/wb_errors.h"
#include "workbook/xlsx/wb_xlsx_package.h"
#include "workbook/xlsx/wb_xlsx_sheet.h"

namespace {

constexpr wb_sheet_split one_thread{0, 1, 0, 2};

wb_sheet_split small_pieces(std::size_t bytes, unsigned workers = 3, unsigned in_flight = 4) {
  return wb_sheet_split{0, bytes, workers, in_flight};
}

void dump_row(std::ostringstream& out, const wb_row_view& row) {
  out << "row " << row.row << ':';
  for (std::size_t i = 0; i < row.count; ++i) {
    const wb_cell& c = row.cells[i];
    out << ' ' << c.row << ',' << c.col << '/' << static_cast<int>(c.kind) << '/' << static_cast<int>(c.style) << '/'
        << c.number << '/' << c.boolean << "/[" << c.text << ']';
  }
  out << '\n';
}

// Every sheet's rows as text, ending with the error (number and message) that stopped the reading.
std::string dump(const std::string& path, const wb_sheet_split& split, std::size_t max_rows = SIZE_MAX) {
  std::ostringstream out;
  try {
    wb_xlsx_package package(path);
    for (std::size_t s = 0; s < package.sheets().size(); ++s) {
      auto stream = wb_open_xlsx_sheet(package, s, wb_sheet_parser::scanner, split);
      wb_row_view row;
      for (std::size_t n = 0; n < max_rows && stream->next_row(row); ++n) dump_row(out, row);
      out << "end of sheet\n";
    }
  } catch (const wb_error& e) {
    out << "error " << e.number() << ": " << e.what() << '\n';
  }
  return out.str();
}

std::string sheet(const std::string& rows, const std::string& root = "worksheet", const std::string& prefix = "",
                  const std::string& after = "") {
  const std::string ns = prefix.empty() ? "xmlns" : "xmlns:" + prefix.substr(0, prefix.size() - 1);
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<" + prefix + root + " " + ns +
         "=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><" + prefix + "dimension ref=\"A1\"/><" +
         prefix + "sheetData>" + rows + "</" + prefix + "sheetData>" + after + "</" + prefix + root + ">";
}

// Rows r1..rn of a few cells of every kind; `extra(r)` is put before row r.
template <typename Extra>
std::string rows(int first, int count, Extra extra, const std::string& p = "") {
  std::string s;
  for (int r = first; r < first + count; ++r) {
    const std::string n = std::to_string(r);
    s += extra(r);
    s += "<" + p + "row r=\"" + n + "\" spans=\"1:4\"><" + p + "c r=\"A" + n + "\"><" + p + "v>" + n + ".5</" + p +
         "v></" + p + "c><" + p + "c r=\"B" + n + "\" t=\"s\"><" + p + "v>" + std::to_string(r % 2) + "</" + p +
         "v></" + p + "c><" + p + "c r=\"C" + n + "\" t=\"inlineStr\"><" + p + "is><" + p + "t>text &amp; " + n +
         "</" + p + "t></" + p + "is></" + p + "c><" + p + "c r=\"D" + n + "\" t=\"b\"><" + p + "v>" +
         std::to_string(r % 2) + "</" + p + "v></" + p + "c></" + p + "row>";
  }
  return s;
}
std::string rows(int first, int count) {
  return rows(first, count, [](int) { return std::string(); });
}

class ParallelScan : public ::testing::Test {
 protected:
  // Writes `xml` as the only sheet's part.
  void write(const std::string& xml) {
    auto parts = wb_test::build_xlsx(wb_test::one_sheet("S", ""));
    parts["xl/worksheets/sheet1.xml"] = xml;
    parts["xl/sharedStrings.xml"] =
        "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><si><t>s0</t></si><si><t>s1</t>"
        "</si></sst>";
    parts["xl/_rels/workbook.xml.rels"].insert(
        parts["xl/_rels/workbook.xml.rels"].find("</Relationships>"),
        "<Relationship Id=\"rIdS\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
        "sharedStrings\" Target=\"sharedStrings.xml\"/>");
    wb_test::write_zip(path_, parts);
  }

  // The file at path_ read with pieces of several sizes and thread counts against one thread.
  void same_at_every_cut(const std::string& what, bool expect_error = false) {
    const std::string expected = dump(path_, one_thread);
    ASSERT_EQ(expected.find("error") != std::string::npos, expect_error) << what << '\n' << expected.substr(0, 400);
    for (std::size_t bytes : {1, 40, 97, 300, 1000, 5000})
      for (unsigned workers : {2u, 4u}) {
        const std::string got = dump(path_, small_pieces(bytes, workers, workers + 1));
        ASSERT_EQ(got, expected) << what << ": pieces of " << bytes << " bytes, " << workers << " workers";
      }
  }

  void same(const std::string& xml, const std::string& what, bool expect_error = false) {
    write(xml);
    same_at_every_cut(what, expect_error);
  }

  wb_test::temp_dir dir_;
  std::string path_ = dir_.file("p.xlsx");
};

TEST_F(ParallelScan, AgreesOnEveryFixtureWorkbook) {
  int files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(std::string(TAMARIND_SOURCE_DIR) + "/tests/fixtures")) {
    if (entry.path().extension() != ".xlsx") continue;
    ++files;
    const std::string expected = dump(entry.path().string(), one_thread);
    for (std::size_t bytes : {1, 64, 700})
      EXPECT_EQ(dump(entry.path().string(), small_pieces(bytes)), expected) << entry.path() << ' ' << bytes;
  }
  EXPECT_GT(files, 5);
}

TEST_F(ParallelScan, AgreesOnPlainAndPrettyPrintedSheets) {
  same(sheet(rows(1, 300)), "plain rows");
  same(sheet(rows(1, 200, [](int) { return std::string("\n    "); }) + "\n  "), "indented rows");
  same(sheet(rows(1, 200, [](int r) { return r % 3 ? std::string() : std::string("\r\n\t"); })), "some blanks");
  same("\xEF\xBB\xBF" + sheet(rows(1, 150)), "a byte order mark");
  same(sheet(rows(1, 150, [](int) { return std::string(); }, "x:"), "worksheet", "x:"), "prefixed names");
  same(sheet(rows(1, 150, [](int r) {
         return r % 4 ? std::string()
                      : "<e:row xmlns:e=\"urn:e\" r=\"1\"><e:c><e:v>1</e:v></e:c></e:row><row r=\"" +
                            std::to_string(r * 1000) + "\" xmlns=\"urn:e\"><c><v>9</v></c></row>";
       })),
       "rows of extension namespaces");
  same(sheet(rows(1, 150), "worksheet", "", "<mergeCells count=\"1\"><mergeCell ref=\"A1:B2\"/></mergeCells>"),
       "parts after the rows");
  same(sheet(rows(5, 100) + rows(500, 100) + rows(1048000, 50)), "gaps between rows");
  same(sheet(""), "no rows");
  same(sheet("<row r=\"1\"/><row r=\"2\"></row>" + rows(3, 100) + "<row r=\"200\"/>"), "empty rows");
}

TEST_F(ParallelScan, RowStartsThatAreNoRowStarts) {
  // Text that looks like a row start inside comments, CDATA, instructions and attribute values.
  same(sheet(rows(1, 200, [](int r) {
         return r % 7 ? std::string() : "<!-- <row r=\"" + std::to_string(r) + "\"><c><v>9</v></c></row> -->";
       })),
       "comments");
  same(sheet(rows(1, 100) + "<!-- " + rows(101, 100) + " -->" + rows(201, 100)), "a long comment of rows");
  same(sheet(rows(1, 120, [](int r) {
         return r % 5 ? std::string()
                      : "<row r=\"" + std::to_string(r * 1000) + "\"><c t=\"inlineStr\"><is><t><![CDATA[<row r=\"1\">" +
                            std::string(200, 'z') + "<row>]]></t></is></c></row>";
       })),
       "CDATA", true);  // the CDATA rows break the order of rows: an error at the same place
  same(sheet(rows(1, 100, [](int r) { return r % 9 ? std::string() : std::string("<?pi <row r=\"1\" ?>"); })),
       "instructions");
  same(sheet(rows(1, 100) + "<row r=\"101\" x=\"<row r='1'>\"><c><v>1</v></c></row>" + rows(102, 50)),
       "a '<' in an attribute value", true);
  same(sheet(rows(1, 60) + "<extLst><row r=\"61\"><c><v>1</v></c></row></extLst>" + rows(62, 60)),
       "a row nested in another element");
  same(sheet(rows(1, 60) + "<row r=\"61\"><c><v>1</v></c><row r=\"62\"><c><v>2</v></c></row></row>" + rows(63, 60)),
       "a row inside a row");
}

TEST_F(ParallelScan, RowsWithoutNumbersAndLongRows) {
  std::string unnumbered;
  for (int r = 0; r < 200; ++r) unnumbered += "<row><c><v>" + std::to_string(r) + "</v></c><c t=\"b\"><v>1</v></c></row>";
  same(sheet(unnumbered), "rows without numbers");
  same(sheet(rows(1, 50) + unnumbered + rows(400, 50)), "some rows without numbers");
  std::string wide = "<row r=\"3\">";
  for (int c = 0; c < 2000; ++c) wide += "<c><v>" + std::to_string(c) + "</v></c>";
  wide += "</row>";
  const std::string wide_again = std::string(wide).replace(8, 1, "9");  // row 9 after row 103: an error
  same(sheet(rows(1, 2) + wide + rows(4, 100) + wide_again + rows(104, 20)), "long rows", true);
  same(sheet(rows(1, 20) + "<row r=\"21\"><c t=\"inlineStr\"><is><t>" + std::string(40000, 'q') + "</t></is></c></row>" +
             rows(22, 20)),
       "a cell over the text cap", true);
}

TEST_F(ParallelScan, TheFirstErrorInFileOrderWins) {
  same(sheet(rows(1, 100) + "<row r=\"50\"><c><v>1</v></c></row>" + rows(101, 100)), "a row out of order", true);
  same(sheet(rows(1, 150) + "<row r=\"151\"><c><v>1x</v></c></row>" + rows(152, 50) +
             "<row r=\"300\"><c t=\"s\"><v>7</v></c></row>"),
       "a bad number before a bad string index", true);
  same(sheet(rows(1, 150) + "<row r=\"151\"><c><v>&bogus;</v></c></row>" + rows(152, 50)), "an undefined entity", true);
  same(sheet(rows(1, 150) + "<row r=\"151\"><c><v>1</v></c></rowx>" + rows(152, 50)), "a mismatched tag", true);
  same(sheet(rows(1, 100)).substr(0, 3000), "a part cut short", true);
  same(sheet(rows(1, 100)) + "<trailing/>", "content after the document element", true);
  same(sheet(rows(1, 100) + "<!DOCTYPE x>" + rows(101, 10)), "a document type declaration", true);
  same(sheet(rows(1, 100) + rows(1048570, 10)), "a row past the last row", true);
  std::string crowded = "<row r=\"101\">";
  for (int i = 0; i < 16385; ++i) crowded += "<c/>";
  same(sheet(rows(1, 100) + crowded + "</row>" + rows(102, 10)), "too many cells in a row", true);
  std::string deep;
  for (int i = 0; i < 130; ++i) deep += "<a>";
  same(sheet(rows(1, 100) + deep), "nesting too deep", true);
}

// Random sheets, and random damage to them: whatever one thread makes of the text, so must the pieces.
TEST_F(ParallelScan, AgreesOnRandomAndDamagedSheets) {
  std::mt19937 random(20261209);
  const std::vector<std::string> between = {"", "\n", "  ", "<!-- <row r=\"3\"> -->", "<?x <row ?>"};
  for (int round = 0; round < 60; ++round) {
    std::string body;
    int r = 1;
    const int count = 20 + static_cast<int>(random() % 150);
    for (int i = 0; i < count; ++i) {
      r += 1 + static_cast<int>(random() % 3);
      body += between[random() % between.size()];
      body += random() % 10 == 0 ? "<row>" : "<row r=\"" + std::to_string(r) + "\">";
      const int cells = static_cast<int>(random() % 6);
      for (int c = 0; c < cells; ++c) {
        switch (random() % 4) {
          case 0: body += "<c><v>" + std::to_string(random() % 1000) + "</v></c>"; break;
          case 1: body += "<c t=\"s\"><v>" + std::to_string(random() % 2) + "</v></c>"; break;
          case 2: body += "<c t=\"inlineStr\"><is><t><![CDATA[<row>x]]></t></is></c>"; break;
          default: body += "<c t=\"str\"><f>A1</f><v>a&lt;row b</v></c>"; break;
        }
      }
      body += "</row>";
    }
    std::string xml = sheet(body);
    if (round % 2 == 1) {
      // Damage: a byte changed, removed or doubled somewhere in the rows.
      const std::size_t at = xml.find("<sheetData>") + 11 + random() % body.size();
      const char bytes[] = "<>/\"=& x!-?[]r";
      switch (random() % 3) {
        case 0: xml[at] = bytes[random() % (sizeof bytes - 1)]; break;
        case 1: xml.erase(at, 1); break;
        default: xml.insert(at, 1, xml[at]); break;
      }
    }
    write(xml);
    const std::string expected = dump(path_, one_thread);
    for (std::size_t bytes : {1, 50, 400}) {
      const std::string got = dump(path_, small_pieces(bytes, 2 + round % 3, 2 + round % 4));
      ASSERT_EQ(got, expected) << "round " << round << ", pieces of " << bytes << '\n' << xml;
    }
  }
}

// The ZIP entry's deflated bytes damaged in the middle: the rows before the damage, then the same error.
TEST_F(ParallelScan, ADamagedPartMidSheet) {
  std::mt19937 random(7);
  std::string body;
  for (int r = 1; r <= 30000; ++r)
    body += "<row r=\"" + std::to_string(r) + "\"><c><v>" + std::to_string(random()) + "</v></c><c t=\"inlineStr\"><is><t>" +
            std::to_string(random()) + "</t></is></c></row>";
  write(sheet(body));
  std::string zip = wb_test::read_file(path_);
  const std::size_t entry = zip.find("xl/worksheets/sheet1.xml");
  ASSERT_NE(entry, std::string::npos);
  const std::size_t at = entry + (zip.size() - entry) / 3;
  for (int i = 0; i < 16; ++i) zip[at + static_cast<std::size_t>(i)] = static_cast<char>(zip[at + static_cast<std::size_t>(i)] ^ 0x5A);
  wb_test::write_file(path_, zip);
  const std::string expected = dump(path_, one_thread);
  ASSERT_NE(expected.find("error 3274"), std::string::npos) << expected.substr(expected.size() - 300);
  ASSERT_NE(expected.find("row 100:"), std::string::npos);
  for (std::size_t bytes : {1000, 20000, 100000}) EXPECT_EQ(dump(path_, small_pieces(bytes)), expected) << bytes;
}

TEST_F(ParallelScan, EarlyStopsAndTheDefaultCut) {
  write(sheet(rows(1, 3000, [](int r) { return r % 50 ? std::string() : std::string("<!-- <row > -->"); })));
  const std::string whole = dump(path_, one_thread);
  // The reading side may stop at any row, or before the first; the stream then ends its threads.
  for (std::size_t stop : {0, 1, 7, 500, 2999}) {
    const std::string part = dump(path_, small_pieces(100), stop);
    const std::string expected = dump(path_, one_thread, stop);
    EXPECT_EQ(part, expected) << stop;
    EXPECT_EQ(whole.compare(0, part.size() - 13, part, 0, part.size() - 13), 0);
  }
  for (int i = 0; i < 30; ++i) {
    wb_xlsx_package package(path_);
    auto stream = wb_open_xlsx_sheet(package, 0, wb_sheet_parser::scanner, small_pieces(1 + 37 * i, 2 + i % 3, 2));
    wb_row_view row;
    for (int n = 0; n < i * 10 && stream->next_row(row); ++n) {
    }
  }
  // Production settings: this part is too short to be cut, and is read as one thread reads it.
  EXPECT_EQ(dump(path_, wb_sheet_split{}), whole);
  EXPECT_EQ(dump(path_, wb_sheet_split{0, 2u << 20, 3, 6}), whole);
}

double cpu_seconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long status_kb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(key) + ":";
  while (std::getline(in, line))
    if (line.rfind(prefix, 0) == 0) return std::stol(line.substr(prefix.size()));
  return -1;
}

// A part long enough for the default cut, read through the reader as the engine reads it.
TEST_F(ParallelScan, TheReaderCutsLongPartsAndKeepsEveryRow) {
  write(sheet(rows(1, 40000, [](int r) { return r % 1000 ? std::string() : std::string("<!-- <row r=\"1\"> -->\n"); })));
  const std::string expected = dump(path_, one_thread);
  auto reader = wb_open_xlsx(path_);
  std::ostringstream out;
  auto stream = reader->open_sheet(0);
  wb_row_view row;
  while (stream->next_row(row)) dump_row(out, row);
  out << "end of sheet\n";
  EXPECT_EQ(out.str(), expected);
  EXPECT_NE(expected.find("row 39999:"), std::string::npos);
}

// Timing on a big workbook: TAMARIND_SPLIT_BENCH=<file.xlsx> test_workbook --gtest_also_run_disabled_tests
TEST(ParallelScanTiming, DISABLED_TwoPasses) {
  const char* path = std::getenv("TAMARIND_SPLIT_BENCH");
  if (!path) GTEST_SKIP();
  wb_sheet_split cut;
  if (const char* s = std::getenv("TAMARIND_SPLIT_BENCH_CUT"))  // "piece bytes,workers,pieces in flight"
    std::sscanf(s, "%zu,%u,%u", &cut.piece_bytes, &cut.workers, &cut.pieces_in_flight);
  for (const wb_sheet_split& split : {one_thread, cut, one_thread, cut}) {
    wb_xlsx_package package(path);
    for (int pass = 0; pass < 2; ++pass) {
      std::ofstream("/proc/self/clear_refs") << "5";
      const long rss_start = status_kb("VmRSS");
      const auto start = std::chrono::steady_clock::now();
      const double cpu_start = cpu_seconds();
      auto stream = wb_open_xlsx_sheet(package, 0, wb_sheet_parser::scanner, split);
      wb_row_view row;
      std::size_t rows = 0, cells = 0;
      while (stream->next_row(row)) ++rows, cells += row.count;
      const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      std::printf("workers=%u pass %d: %zu rows %zu cells %.3f s, %.3f s CPU, peak memory +%ld KB\n", split.workers,
                  pass, rows, cells, s, cpu_seconds() - cpu_start, status_kb("VmHWM") - rss_start);
    }
  }
}

}  // namespace

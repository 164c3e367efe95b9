// Command lines corvel refuses before any work, and a server that cannot be reached. None of these
// needs a server: where a connection could be tried, the port is one nothing listens on.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "e2e_support.h"

namespace {

using e2e::dead_server_options;
using e2e::join;
using e2e::run_corvel;

constexpr int refused = 255;

bool starts_with(const std::string& text, const std::string& head) { return text.compare(0, head.size(), head) == 0; }

std::string read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Offsets in a ZIP central directory entry.
constexpr std::size_t central_crc = 16;
constexpr std::size_t central_size = 24;  // the size the part inflates to

/// The package with one 32-bit field of a part's central directory entry replaced, which is what
/// a reader trusts: a wrong checksum is a damaged part, a huge size over few bytes a ZIP bomb.
std::string with_central_field(std::string zip, const std::string& part, std::size_t field, std::uint32_t value) {
  for (std::size_t at = zip.find("PK\x01\x02"); at != std::string::npos; at = zip.find("PK\x01\x02", at + 4)) {
    const std::size_t name_size = static_cast<unsigned char>(zip[at + 28]) | static_cast<unsigned char>(zip[at + 29]) << 8;
    if (zip.compare(at + 46, name_size, part) != 0) continue;
    for (int i = 0; i < 4; ++i) zip[at + field + i] = static_cast<char>(value >> (8 * i));
    return zip;
  }
  ADD_FAILURE() << part << " is not in the package";
  return zip;
}

class E2eRefusal : public testing::Test {
 protected:
  void SetUp() override {
    book = dir.file("book.xlsx");
    e2e::write_workbook(book, e2e::book_sheets());
  }
  std::vector<std::string> valid(std::vector<std::string> extra = {}) {
    return join(join({"--src=" + book, "--dest=refusal_never_made"}, dead_server_options()), extra);
  }

  e2e::scratch_dir dir;
  std::string book;
};

TEST_F(E2eRefusal, UsageForNoArgumentsHelpAndPositionals) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"--help"}, {"--helpme"}, {"foo"},
                                               {"--dest", "--src=x"}, std::vector<std::string>(25, "positional"),
                                               {"--help", "--silent"}}) {
    const e2e::run_result r = run_corvel(args);
    EXPECT_EQ(r.status, refused);
    EXPECT_TRUE(starts_with(r.err, "corvel v1.0, ")) << r.err;
    EXPECT_NE(r.err.find("\nUsage: corvel OPTIONS\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Internal error"), std::string::npos);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.config_untouched);
  }
  const e2e::run_result quiet = run_corvel({"--silent", "--help"});
  EXPECT_EQ(quiet.status, refused);
  EXPECT_EQ(quiet.out + quiet.err, "");
}

TEST_F(E2eRefusal, MissingRequiredOptionsBadModeAndPort) {
  struct probe {
    std::vector<std::string> args;
    std::string err;
  };
  const std::vector<probe> probes = {
      {{"--dest=x"}, "You should enter data source name\n"},
      {{"--extr_fn"}, "You should enter data source name\n"},
      {{"--src=" + book}, "You should enter destination PostgreSQL database name\n"},
      {valid({"--mode=4"}), "Invalid merge/overwrite mode\n"},
      {valid({"--mode=02"}), "Invalid merge/overwrite mode\n"},
      {valid({"--mode=-1"}), "Invalid merge/overwrite mode\n"},
      {valid({"--mode= 1"}), "Invalid merge/overwrite mode\n"},
      {valid({"--mode="}), "Invalid merge/overwrite mode\n"},
      {valid({"--pgport=abc"}), "Invalid port number\n"},
      {valid({"--pgport=0"}), "Invalid port number\n"},
      {valid({"--pgport=70000"}), "Invalid port number\n"},
  };
  for (const probe& p : probes) {
    const e2e::run_result r = run_corvel(p.args);
    EXPECT_EQ(r.status, refused) << p.err;
    EXPECT_EQ(r.err, p.err);
    EXPECT_EQ(r.out, "");
  }
}

TEST_F(E2eRefusal, TableListFileMissingFolderOrEndless) {
  const std::string missing = "Table names file does not exist.\nPlease verify the correct path/name was given.\n";
  for (const std::string& list : {dir.file("none.txt"), dir.path().string()}) {
    const e2e::run_result r = run_corvel(valid({"--tab_file=" + list}));
    EXPECT_EQ(r.status, refused);
    EXPECT_EQ(r.err, missing);
  }
  const e2e::run_result endless = run_corvel(valid({"--tab_file=/dev/zero"}), 20);
  EXPECT_FALSE(endless.timed_out);
  EXPECT_EQ(endless.status, refused);
  EXPECT_EQ(endless.err, "Table names file is a FIFO, a socket or a device, not a regular file.\n");
}

TEST_F(E2eRefusal, UnusableLogFile) {
  const e2e::run_result r = run_corvel(valid({"--logfile=/no/such/dir/x.log"}));
  EXPECT_EQ(r.status, refused);
  EXPECT_EQ(r.out, "Error:\nLogfile path does not exist. Please verify the correct path was given.\n");
}

TEST_F(E2eRefusal, ReadOnlyLogFile) {
  if (::getuid() == 0) GTEST_SKIP() << "root writes read-only files";
  const std::string read_only = dir.write("ro.log", "old\n");
  ::chmod(read_only.c_str(), 0444);
  const e2e::run_result r = run_corvel(valid({"--logfile=" + read_only}));
  EXPECT_EQ(r.status, refused);
  EXPECT_EQ(r.out, "Error:\nLogfile name specifies an existing read-only file.\n");
}

// A source that cannot be read is refused with the fixed text, then on a line of its own what is
// wrong with the file, on the console and in the log.
TEST_F(E2eRefusal, SourcesThatAreNoWorkbook) {
  const std::string package = read_bytes(book);
  const std::string missing = dir.file("missing.xlsx");
  const std::string folder = dir.path().string();
  const std::string empty = dir.write("empty.xlsx", "");
  const std::string tiny = dir.write("tiny.xlsx", "12345");
  const std::string text = dir.write("text.xls", std::string(100, 't'));
  const std::string broken = dir.write("broken.xlsx", std::string("PK\x03\x04", 4) + std::string(200, '\x01'));
  const std::string damaged = dir.write("damaged.xlsx", with_central_field(package, "xl/workbook.xml", central_crc, 0x1234567u));
  const std::string bomb = dir.write("bomb.xlsx", with_central_field(package, "xl/workbook.xml", central_size, 200u << 20));
  const std::string structure =
      "Failed to recognize table structure in the worksheet. You can migrate the data manually via CSV format. "
      "See 'CSV Files' article in the documentation for details.";
  struct probe {
    std::string src;
    int status;
    std::string fixed;
    std::string reason;  // the whole line, or its start when it ends in "("
  };
  const auto about = [&](const std::string& path, const std::string& why) {
    return "File '" + path + "' is not a readable workbook: " + why;
  };
  for (const probe& p : {
           probe{missing, refused, "Bad path or busy with another process", "File '" + missing + "' not found."},
           probe{folder, refused, "Bad path or busy with another process", "'" + folder + "' is a folder, not a workbook file."},
           probe{empty, refused, "File '" + empty + "' does not comply with MS Access format.", about(empty, "the file is empty.")},
           probe{tiny, refused, "File '" + tiny + "' does not comply with MS Access format.", about(tiny, "the file holds only 5 bytes.")},
           probe{text, refused, "Source file doesn't comply with MS Excel format",
                 about(text, "it is neither a ZIP package (.xlsx) nor a compound document (.xls).")},
           probe{broken, 1, structure, about(broken, "damaged ZIP package (")},
           probe{damaged, 1, structure, about(damaged, "part 'xl/workbook.xml' is damaged (CRC error).")},
           probe{bomb, 1, structure, about(bomb, "part 'xl/workbook.xml' inflates beyond the ratio limit of 500:1 (a ZIP bomb).")},
       }) {
    const std::string log = dir.file("run.log");
    const e2e::run_result r = run_corvel(join({"--logfile=" + log, "--src=" + p.src, "--dest=x"}, dead_server_options()));
    EXPECT_EQ(r.status, p.status) << p.src;
    const std::string head = "Error:\n" + p.fixed + "\n";
    ASSERT_TRUE(starts_with(r.out, head)) << r.out;
    const std::string reason = r.out.substr(head.size());
    if (p.reason.back() == '(')
      EXPECT_TRUE(starts_with(reason, p.reason) && reason.find('\n') == reason.size() - 1) << reason;
    else
      EXPECT_EQ(reason, p.reason + "\n");
    // The log keeps the fixed text's own line breaks; the reason is the entry's last line.
    const std::string logged = read_bytes(log);
    EXPECT_NE(logged.find("Error:\n" + p.fixed.substr(0, p.fixed.find(". ") + 1)), std::string::npos) << logged;
    EXPECT_NE(logged.find("\n" + reason.substr(0, reason.size() - 1) + "\r\n"), std::string::npos) << logged;
  }

  // A part damaged inside a worksheet is found while that worksheet is converted: the worksheet's
  // error, with its name in front, and the next worksheet converts.
  if (!tamarind_test::server_configured()) return;
  e2e::database_guard db{"e2e_damaged_sheet"};
  const std::string sheet = dir.write("sheet.xlsx", with_central_field(package, "xl/worksheets/sheet1.xml", central_crc, 7u));
  const e2e::run_result r = run_corvel(join({"--src=" + sheet, "--dest=" + db.name()}, e2e::server_options()));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Error:\nSheet1: " + structure + "\n" + about(sheet, "part 'xl/worksheets/sheet1.xml' is damaged (CRC error).\n")),
            std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Converting worksheet Sheet2\n"), std::string::npos) << r.out;
}

TEST_F(E2eRefusal, RefusedConnectionIsStatusOneWithoutThePassword) {
  const e2e::run_result r =
      run_corvel(valid({"--user=nobody", "--pswd=Top secret'pw"}));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(starts_with(r.out, "Error:\n")) << r.out;
  EXPECT_EQ(r.out.find('\n', 7), r.out.size() - 1) << "one message line: " << r.out;
  EXPECT_EQ((r.out + r.err).find("Top secret"), std::string::npos);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(r.config_untouched);

  const e2e::run_result quiet = run_corvel(valid({"--silent"}));
  EXPECT_EQ(quiet.status, 1);
  EXPECT_EQ(quiet.out + quiet.err, "");
}

}  // namespace

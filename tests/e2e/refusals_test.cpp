// Command lines corvel refuses before any work, and a server that cannot be reached. None of these
// needs a server: where a connection could be tried, the port is one nothing listens on.
#include <sys/stat.h>
#include <unistd.h>

#include "e2e_support.h"

namespace {

using e2e::dead_server_options;
using e2e::join;
using e2e::run_corvel;

constexpr int refused = 255;

bool starts_with(const std::string& text, const std::string& head) { return text.compare(0, head.size(), head) == 0; }

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

TEST_F(E2eRefusal, SourcesThatAreNoWorkbook) {
  const std::string tiny = dir.write("tiny.xlsx", "12345");
  const std::string text = dir.write("text.xls", std::string(100, 't'));
  struct probe {
    std::string src;
    std::string out;  // empty: only "Error:" and one line are checked
  };
  for (const probe& p : {probe{text, "Error:\nSource file doesn't comply with MS Excel format\n"},
                         probe{tiny, "Error:\nFile '" + tiny + "' does not comply with MS Access format.\n"},
                         probe{dir.file("missing.xlsx"), "Error:\nBad path or busy with another process\n"},
                         probe{dir.path().string(), "Error:\nBad path or busy with another process\n"}}) {
    const e2e::run_result r = run_corvel(join(join({"--src=" + p.src, "--dest=x"}, dead_server_options()), {}));
    EXPECT_EQ(r.status, refused) << p.src;
    if (p.out.empty()) {
      EXPECT_TRUE(starts_with(r.out, "Error:\n")) << r.out;
      EXPECT_EQ(r.out.find('\n', 7), r.out.size() - 1) << r.out;
    } else {
      EXPECT_EQ(r.out, p.out);
    }
  }
  // A ZIP signature with a broken body: the engine's error, reported as an error of the run.
  const std::string broken = dir.write("broken.xlsx", std::string("PK\x03\x04", 4) + std::string(200, '\x01'));
  const e2e::run_result r = run_corvel(join({"--src=" + broken, "--dest=x"}, dead_server_options()));
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_TRUE(starts_with(r.out, "Error:\n")) << r.out;
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

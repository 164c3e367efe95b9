// agent_main in process: what each kind of command line prints, where, and the status it ends with.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "agent/agent_main.h"
#include "agent_test_support.h"

namespace {

namespace fs = std::filesystem;

using agent_test::run_agent;

constexpr int refused = 255;

std::string fixture_xls() { return std::string(TAMARIND_SOURCE_DIR) + "/tests/fixtures/xls/basic.xls"; }

/// Options that would reach a server if nothing stopped them before: nothing listens on the port,
/// so an attempt would show as a connection error.
std::vector<std::string> with_dead_server(std::vector<std::string> args) {
  args.push_back("--host=127.0.0.1");
  args.push_back("--pgport=" + std::to_string(agent_test::unused_port()));
  return args;
}

bool starts_with(const std::string& text, const std::string& head) { return text.compare(0, head.size(), head) == 0; }

TEST(AgentMainUsage, NoArgumentsHelpAndPositionalsPrintTheUsage) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"--help"}, {"--helpme"}, {"--src=a", "--dest=b", "--help", "--src=c"}, {"foo"},
        {"--src=a", "--dest"}, std::vector<std::string>(25, "p"), {"--help", "--silent"}}) {
    const auto r = run_agent(args);
    EXPECT_EQ(r.status, refused);
    EXPECT_TRUE(starts_with(r.err, "corvel v1.0, ")) << r.err;
    EXPECT_NE(r.err.find("\nUsage: corvel OPTIONS\n"), std::string::npos);
    EXPECT_EQ(r.err.find("Internal error"), std::string::npos);
    EXPECT_EQ(r.out, "");
  }
  // "--silent" before "--help" silences the usage, not the status.
  const auto quiet = run_agent({"--silent", "--help"});
  EXPECT_EQ(quiet.status, refused);
  EXPECT_EQ(quiet.out + quiet.err, "");
}

TEST(AgentMainChecks, RequiredOptionsInOrder) {
  auto r = run_agent({"--dest=x"});
  EXPECT_EQ(r.status, refused);
  EXPECT_EQ(r.err, "You should enter data source name\n");
  r = run_agent({"--mode=1"});
  EXPECT_EQ(r.err, "You should enter data source name\n");  // the source is checked first
  r = run_agent({"--src=" + fixture_xls()});
  EXPECT_EQ(r.status, refused);
  EXPECT_EQ(r.err, "You should enter destination PostgreSQL database name\n");
  // Ignored options change nothing.
  r = run_agent({"--csv_delim=;", "--from_csv", "--src=" + fixture_xls()});
  EXPECT_EQ(r.err, "You should enter destination PostgreSQL database name\n");
}

TEST(AgentMainChecks, BadModeAndPortAreRefusedBeforeAnyWork) {
  for (const char* mode : {"4", "02", "x", "-1", "+1", " 1", ""}) {
    const auto r = run_agent(with_dead_server({"--src=" + fixture_xls(), "--dest=x", std::string("--mode=") + mode}));
    EXPECT_EQ(r.status, refused) << mode;
    EXPECT_EQ(r.err, "Invalid merge/overwrite mode\n") << mode;
    EXPECT_EQ(r.out, "");
  }
  for (const char* port : {"abc", "0", "70000", ""}) {
    const auto r = run_agent({"--src=" + fixture_xls(), "--dest=x", std::string("--pgport=") + port});
    EXPECT_EQ(r.status, refused) << port;
    EXPECT_EQ(r.err, "Invalid port number\n") << port;
  }
  // A failing option is not silenced by a later "--silent"; an earlier one silences it.
  auto r = run_agent({"--src=a", "--dest=b", "--mode=9", "--silent"});
  EXPECT_EQ(r.err, "Invalid merge/overwrite mode\n");
  r = run_agent({"--silent", "--src=a", "--dest=b", "--mode=9"});
  EXPECT_EQ(r.status, refused);
  EXPECT_EQ(r.out + r.err, "");
}

TEST(AgentMainChecks, TableListFileRefusals) {
  agent_test::scratch_dir dir;
  const std::string missing = "Table names file does not exist.\nPlease verify the correct path/name was given.\n";
  for (const std::string& list : {(dir.path() / "none.txt").string(), dir.path().string()}) {
    const auto r = run_agent(with_dead_server({"--src=" + fixture_xls(), "--dest=x", "--tab_file=" + list}));
    EXPECT_EQ(r.status, refused);
    EXPECT_EQ(r.err, missing);
  }
  // A device is no table-list file: refused before it is read.
  const auto r = run_agent(with_dead_server({"--src=" + fixture_xls(), "--dest=x", "--tab_file=/dev/zero"}));
  EXPECT_EQ(r.status, refused);
  EXPECT_EQ(r.err, "Table names file is a FIFO, a socket or a device, not a regular file.\n");
}

TEST(AgentMainSource, SourcesThatAreNoWorkbookAreRefusedBeforeConnecting) {
  agent_test::scratch_dir dir;
  const std::string tiny = dir.write("tiny.xlsx", "12345");
  const std::string text = dir.write("text.xlsx", std::string(100, 'a'));
  const std::string missing = (dir.path() / "missing.xlsx").string();
  const std::string folder = dir.path().string();
  struct probe {
    std::string src;
    std::string message;
    std::string reason;  // the engine's word on the file, on a line of its own
  };
  for (const probe& p :
       {probe{text, "Source file doesn't comply with MS Excel format",
              "File '" + text + "' is not a readable workbook: it is neither a ZIP package (.xlsx) nor a compound document (.xls)."},
        probe{tiny, "File '" + tiny + "' does not comply with MS Access format.",
              "File '" + tiny + "' is not a readable workbook: the file holds only 5 bytes."},
        // The source is first opened to read its header: a path that is no readable file fails
        // that open.
        probe{missing, "Bad path or busy with another process", "File '" + missing + "' not found."},
        probe{folder, "Bad path or busy with another process", "'" + folder + "' is a folder, not a workbook file."}}) {
    const auto r = run_agent(with_dead_server({"--src=" + p.src, "--dest=x"}));
    EXPECT_EQ(r.status, refused) << p.src;
    EXPECT_EQ(r.out, "Error:\n" + p.message + "\n" + p.reason + "\n");
    EXPECT_EQ(r.out.find("connect"), std::string::npos) << r.out;
  }
}

TEST(AgentMainSource, SelectionMatchingNothingFailsBeforeConnecting) {
  agent_test::scratch_dir dir;
  const std::string list = dir.write("list.txt", "Nope\r\nAlso missing\r\n");
  const auto r = run_agent(with_dead_server({"--src=" + agent_test::sample_workbook(), "--dest=x", "--tab_file=" + list}));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Worksheet Nope not found\nWorksheet Also missing not found\n");
  EXPECT_EQ(r.out, "Error:\nNone of the selected worksheets exists in the workbook.\n");
}

TEST(AgentMainConnection, RefusedConnectionIsReportedWithStatusOneAndNoPassword) {
  const auto r = run_agent(with_dead_server(
      {"--src=" + agent_test::sample_workbook(), "--dest=x", "--user=someone", "--pswd=Secr3t pass'word"}));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(starts_with(r.out, "Error:\n")) << r.out;
  EXPECT_EQ(r.out.find('\n', 7), r.out.size() - 1) << "the message is one line: " << r.out;
  EXPECT_EQ((r.out + r.err).find("Secr3t"), std::string::npos);
  EXPECT_EQ(r.err, "");
  // Silent: nothing at all, the status stays.
  const auto quiet = run_agent(with_dead_server({"--src=" + agent_test::sample_workbook(), "--dest=x", "--silent"}));
  EXPECT_EQ(quiet.status, 1);
  EXPECT_EQ(quiet.out + quiet.err, "");
}

TEST(AgentMainLogFile, UnusableLogFileIsRefused) {
  agent_test::scratch_dir dir;
  const auto r = run_agent(with_dead_server(
      {"--src=" + fixture_xls(), "--dest=x", "--logfile=" + (dir.path() / "no" / "such" / "x.log").string()}));
  EXPECT_EQ(r.status, refused);
  EXPECT_EQ(r.out, "Error:\nLogfile path does not exist. Please verify the correct path was given.\n");
  // A folder is no log file.
  const auto folder = run_agent(with_dead_server({"--src=" + fixture_xls(), "--dest=x", "--logfile=" + dir.path().string()}));
  EXPECT_EQ(folder.status, refused);
  EXPECT_TRUE(starts_with(folder.out, "Error:\n")) << folder.out;
}

std::string file_text(const std::string& path) {
  std::ifstream stream(path, std::ios::binary);
  std::stringstream text;
  text << stream.rdbuf();
  return text.str();
}

TEST(AgentMainLogFile, FailuresLeaveTheirErrorLinesInTheLog) {
  agent_test::scratch_dir dir;
  const std::string log = dir.write("run.log", "old content\n");
  const std::string list = dir.write("list.txt", "Nope\nOrders\n");
  const auto r = run_agent(with_dead_server({"--logfile=" + log, "--src=" + agent_test::sample_workbook(), "--dest=x",
                                             "--pswd=Secr3t", "--tab_file=" + list}));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Worksheet Nope not found\n");
  const std::string content = file_text(log);
  EXPECT_EQ(content.find("old content"), std::string::npos) << content;
  // The missing name, then the failed connection's report as it was before its line feeds became
  // blanks; each entry ends with CR LF.
  const std::size_t missing = content.find("Worksheet Nope not found\r\n");
  const std::size_t report = content.find("Error:\n");
  EXPECT_NE(missing, std::string::npos) << content;
  ASSERT_NE(report, std::string::npos) << content;
  EXPECT_LT(missing, report);
  EXPECT_EQ(content.substr(content.size() - 2), "\r\n");
  // Only error lines reach the log: no method entries or details, and never the password.
  EXPECT_EQ(content.find("parse_cmd_line"), std::string::npos) << content;
  EXPECT_EQ(content.find("parameter #"), std::string::npos) << content;
  EXPECT_EQ(content.find("Secr3t"), std::string::npos) << content;
  // The run never started, so it has no start line.
  EXPECT_EQ(content.find("Conversion started on"), std::string::npos) << content;
}

TEST(AgentMainLogFile, FatalTextsAreLoggedAsTheyAre) {
  agent_test::scratch_dir dir;
  const std::string log = (dir.path() / "run.log").string();
  const std::string odd = dir.write("odd%s%n.tmd", "src=x\r\n[Generic settings]\r\n");
  auto r = run_agent(with_dead_server({"--logfile=" + log, "--profile=" + odd}));
  EXPECT_EQ(r.status, refused);
  EXPECT_EQ(file_text(log), "Cannot load profile " + odd + "\r\n");

  // A log file named after a failing option is never opened: the failure comes first.
  const std::string late = (dir.path() / "late.log").string();
  r = run_agent({"--src=a", "--dest=b", "--mode=4", "--logfile=" + late});
  EXPECT_EQ(r.status, refused);
  EXPECT_EQ(r.err, "Invalid merge/overwrite mode\n");
  EXPECT_FALSE(std::ifstream(late).good());

  r = run_agent({"--logfile=" + log, "--src=a", "--dest=b", "--mode=4"});
  EXPECT_EQ(r.status, refused);
  EXPECT_EQ(file_text(log), "Invalid merge/overwrite mode\r\n");
}

TEST(AgentMainProfile, ProfileRefusals) {
  agent_test::scratch_dir dir;
  const std::string src = agent_test::sample_workbook();
  // A missing profile: reported, refused.
  auto r = run_agent(with_dead_server({"--dest=x", "--profile=" + (dir.path() / "none.tmd").string()}));
  EXPECT_EQ(r.status, refused);
  EXPECT_TRUE(starts_with(r.out, "Error:\n")) << r.out;
  // A folder is no profile, and reading one must not hang.
  r = run_agent(with_dead_server({"--dest=x", "--profile=" + dir.path().string()}));
  EXPECT_EQ(r.status, refused);
  EXPECT_TRUE(starts_with(r.out, "Error:\n")) << r.out;

  // A key before any section: the profile does not load. Its path is shown as it is, even with
  // conversion characters in it.
  const std::string odd = dir.write("odd%s%n.tmd", "src=" + src + "\r\n[Generic settings]\r\ndest=x\r\n");
  r = run_agent(with_dead_server({"--profile=" + odd}));
  EXPECT_EQ(r.status, refused);
  EXPECT_EQ(r.err, "Cannot load profile " + odd + "\n");

  const std::string bad_mode = dir.write("mode.tmd", "[Generic settings]\r\nsrc=" + src + "\r\ndest=x\r\nmode=9\r\n");
  r = run_agent(with_dead_server({"--profile=" + bad_mode}));
  EXPECT_EQ(r.status, refused);
  EXPECT_EQ(r.out, "Error:\nInvalid merge/overwrite mode\n");

  const std::string bad_port =
      dir.write("port.tmd", "[Generic settings]\r\nsrc=" + src + "\r\ndest=x\r\n[pgs settings]\r\nport=abc\r\n");
  r = run_agent({"--profile=" + bad_port});
  EXPECT_EQ(r.status, refused);
  EXPECT_EQ(r.out, "Error:\nInvalid port number\n");
}

TEST(AgentMainProfile, ProfileSelectionWinsOverTheTableList) {
  agent_test::scratch_dir dir;
  const std::string list = dir.write("list.txt", "Orders\n");
  const int port = agent_test::unused_port();
  const std::string profile =
      dir.write("p.tmd", "[Generic settings]\r\nsrc=" + agent_test::sample_workbook() +
                             "\r\ndest=x\r\n[pgs settings]\r\nhost=127.0.0.1\r\nport=" + std::to_string(port) +
                             "\r\n[Selected Tables]\r\nNope\r\n");
  // The profile's selection (a missing sheet) is used, not the list; its port is used too, so
  // "--pgport=abc" is read but not applied.
  const auto r = run_agent({"--profile=" + profile, "--tab_file=" + list, "--pgport=abc"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Worksheet Nope not found\n");
  EXPECT_EQ(r.out, "Error:\nNone of the selected worksheets exists in the workbook.\n");
}

TEST(AgentMainInputs, LogNeverReplacesAnInputSpecialFilesPortsAndThePassword) {
  agent_test::scratch_dir dir;
  const std::string bytes = file_text(agent_test::sample_workbook());
  const std::string book = dir.write("book.xlsx", bytes), list = dir.write("list.txt", "Orders\n");
  const std::string hard = dir.path() / "hard.log", symbolic = dir.path() / "symbolic.log", fifo = dir.path() / "fifo";
  fs::create_hard_link(book, hard);
  fs::create_symlink(book, symbolic);
  const std::string self =
      dir.write("self.tmd", "[Generic settings]\nsrc=" + book + "\nlogfile=" + dir.path().string() + "/self.tmd\n");
  const std::string profile_text = file_text(self);
  // A log that is an input, by any name and in any order of the options, also when a later
  // option is refused first: refused before a byte of it is written.
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--src=" + book, "--dest=x", "--logfile=" + hard},
           {"--logfile=" + symbolic, "--src=" + book, "--dest=x"},
           {"--src=" + book, "--dest=x", "--tab_file=" + list, "--logfile=" + list},
           {"--profile=" + self, "--dest=x"},
           {"--logfile=" + book, "--mode=9", "--src=" + book}}) {
    EXPECT_EQ(run_agent(with_dead_server(args)).status, refused) << args[0];
    EXPECT_TRUE(file_text(book) == bytes && file_text(list) == "Orders\n" && file_text(self) == profile_text);
  }
  EXPECT_EQ(run_agent({"--src=" + book, "--dest=x", "--logfile=" + symbolic}).out,
            "Error:\nLogfile name specifies a file the conversion reads: " + book + "\n");
  // A FIFO without a writer or a device is refused at once as source, table list, log or profile.
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& special : {fifo, std::string("/dev/null")})
    for (const char* option : {"--src=", "--tab_file=", "--logfile=", "--profile="})
      EXPECT_EQ(run_agent(with_dead_server({"--src=" + book, "--dest=x", option + special})).status, refused) << option;
  EXPECT_EQ(run_agent({"--src=" + fifo, "--dest=x"}).err,
            "Source file is a FIFO, a socket or a device, not a regular file.\n");
  EXPECT_EQ(run_agent({"--src=" + book, "--dest=x", "--pgport=54421abc"}).err, "Invalid port number\n");

  // The password leaves the argument memory as soon as it is read; the other arguments stay.
  std::vector<std::string> args{"corvel", "--pswd=Secr3t pw", "--host=127.0.0.1"};
  std::vector<char*> argv{args[0].data(), args[1].data(), args[2].data(), nullptr};
  testing::internal::CaptureStderr();
  EXPECT_EQ(agent_main(3, argv.data()), refused);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::string(argv[1]) + argv[2], "--pswd=xxxxxxxxx--host=127.0.0.1");
}

}  // namespace

#include "udb/udb_profile.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tk/tk_exception.h"
#include "tk/tk_string.h"

namespace fs = std::filesystem;

namespace {

const std::wstring generic = L"Generic settings";
const std::wstring selected = L"Selected Tables";
const std::wstring queries = L"Available Queries";

class profile_test : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/udb_profile_test.XXXXXX";
    ASSERT_NE(::mkdtemp(templ), nullptr);
    dir_ = templ;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::wstring path(const char* name = "p.tmd") const { return tk_utf8_to_unicode((dir_ / name).string()); }
  void write(const std::string& data, const char* name = "p.tmd") const {
    std::ofstream(dir_ / name, std::ios::binary) << data;
  }
  std::string read(const char* name = "p.tmd") const {
    std::ifstream in(dir_ / name, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  // Loads `data` into a fresh profile; the load result goes to `ok`.
  udb_profile load(const std::string& data, bool* ok = nullptr) const {
    write(data);
    udb_profile p;
    const bool result = p.load(path());
    if (ok) *ok = result;
    return p;
  }
  std::string error_of(const std::function<void()>& f) const {
    try {
      f();
    } catch (const tk_exception& e) {
      EXPECT_EQ(e.level(), tk_level_error);
      return e.message();
    }
    return "";
  }

  fs::path dir_;
};

TEST_F(profile_test, FreshProfileStoresItsThreeSectionsInNameOrder) {
  udb_profile p;
  ASSERT_TRUE(p.store(path()));
  EXPECT_EQ(read(), "[Available Queries]\r\n\r\n[Generic settings]\r\n\r\n[Selected Tables]\r\n\r\n");
}

TEST_F(profile_test, KeysAreWrittenInKeyOrderAndWorksheetsBare) {
  udb_profile p;
  p.set_value(generic, L"src", L"b");
  p.set_value(generic, L"dest", L"a");
  p.set_value(generic, L"logfile", L"");
  p.set_value(selected, L"Sheet1", L"");
  p.set_value(selected, L"q", L"SELECT 1");
  p.set_value(L"pgs settings", L"host", L"h");
  ASSERT_TRUE(p.store(path()));
  EXPECT_EQ(read(),
            "[Available Queries]\r\n\r\n"
            "[Generic settings]\r\ndest=a\r\nlogfile=\r\nsrc=b\r\n\r\n"
            "[Selected Tables]\r\nSheet1\r\nq=SELECT 1\r\n\r\n"
            "[pgs settings]\r\nhost=h\r\n\r\n");
}

TEST_F(profile_test, LinesAreParsedAsTheFormatSays) {
  bool ok = false;
  udb_profile p = load(
      "  [S]  \n"
      "a=b=c\n"
      "  k  =  v  \n"
      "\tt=v\n"
      "dup=first\n"
      "dup=second\n"
      "[a=b]\n"
      "x=1\n"
      "\n"
      "[Selected Tables]\n"
      "Sheet1\n"
      "Sheet2=\n"
      "q=SELECT * FROM [Sheet1$]\n",
      &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(p.get_value(L"S", L"a"), L"b=c");
  EXPECT_EQ(p.get_value(L"S", L"k"), L"  v");
  EXPECT_EQ(p.get_value(L"S", L"\tt"), L"v");
  EXPECT_EQ(p.get_value(L"S", L"dup"), L"first");
  EXPECT_EQ(p.get_value(L"a=b", L"x"), L"1");
  const auto& sel = p.get_sel_tables();
  EXPECT_EQ(sel.at(L"Sheet1"), L"");
  EXPECT_EQ(sel.at(L"Sheet2"), L"");
  EXPECT_EQ(sel.at(L"q"), L"SELECT * FROM [Sheet1$]");
  EXPECT_EQ(p.get_list(L"Selected Tables"), std::vector<std::wstring>{L"Sheet1"});
  EXPECT_EQ(p.get_value(L"missing", L"k"), L"");
  EXPECT_EQ(p.get_value(L"S", L"missing"), L"");
}

TEST_F(profile_test, WindowsFilesLoadAsUnixFiles) {
  const std::string unix_text = "[Generic settings]\nsrc=/a b/c.xlsx\nmode=2\n[Selected Tables]\nSheet1";
  std::string windows_text = "\xEF\xBB\xBF";
  for (char c : unix_text) windows_text += c == '\n' ? std::string("\r\n") : std::string(1, c);
  windows_text += "\r\n";
  bool ok_unix = false, ok_windows = false;
  const udb_profile a = load(unix_text, &ok_unix);
  const udb_profile b = load(windows_text, &ok_windows);
  EXPECT_TRUE(ok_unix);
  EXPECT_TRUE(ok_windows);
  EXPECT_EQ(a.get_sections(), b.get_sections());
  EXPECT_EQ(b.get_value(generic, L"src"), L"/a b/c.xlsx");
}

TEST_F(profile_test, LineBeforeAnySectionStopsTheLoad) {
  bool ok = true;
  udb_profile p = load("\n  \nstray=1\n[Generic settings]\nsrc=x\n", &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(p.get_value(generic, L"src"), L"");
  EXPECT_EQ(p.get_sections().size(), 3u);  // what the constructor made stays
  load("element\n", &ok);
  EXPECT_FALSE(ok);
}

TEST_F(profile_test, MissingDirectoryOrSpecialPathIsAnError) {
  const std::string missing = "Profile does not exist. Please verify the correct path/name was given.";
  udb_profile p;
  EXPECT_EQ(error_of([&] { p.load(path("none.tmd")); }), missing);
  EXPECT_EQ(error_of([&] { p.load(tk_utf8_to_unicode(dir_.string())); }), missing);
  const std::string fifo = (dir_ / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(error_of([&] { p.load(tk_utf8_to_unicode(fifo)); }), missing);
}

TEST_F(profile_test, LongLinesLoadAndHugeOnesAreRefused) {
  bool ok = false;
  const std::wstring long_value(10000, L'\u00e4');
  udb_profile p = load("[Generic settings]\nsrc=" + tk_to_utf8(long_value) + "\n", &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(p.get_value(generic, L"src"), long_value);
  EXPECT_EQ(error_of([&] { load("[Generic settings]\nsrc=" + std::string(2u << 20, 'x')); }),
            "Profile line is too long.");
}

TEST_F(profile_test, BinaryFileIsNoProfile) {
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary += static_cast<char>((i * 37 + 11) % 256);
  bool ok = true;
  binary[0] = 'P';  // not a section line
  load(binary, &ok);
  EXPECT_FALSE(ok);
}

TEST_F(profile_test, HostileValuesRoundTrip) {
  udb_profile p;
  const std::vector<std::pair<std::wstring, std::wstring>> values = {
      {L"eq", L"a=b==c="},
      {L"semi", L"x;y; z"},
      {L"quotes", L"\"quoted\" 'single'"},
      {L"inner", L"a   b"},
      {L"leading", L"   lead"},
      {L"non ascii \u00e4\u20ac", L"\U0001F600 \u00df \u4e2d"},
      {L"empty", L""},
      {L"brackets", L"[not a section]"},
      {L"[half", L"open"},
      {L"tab", L"\tx\t"},
      {L"#hash", L"#;comment-like"},
  };
  for (const auto& [k, v] : values) p.set_value(generic, k, v);
  p.set_value(selected, L"a=b", L"");          // a worksheet named with '='
  p.set_value(selected, L"Sheet 1$", L"");
  p.set_value(selected, L"q", L"  select * from [x]");
  p.set_value(queries, L"stored", L"SELECT a=b FROM t");
  ASSERT_TRUE(p.store(path()));

  udb_profile back;
  ASSERT_TRUE(back.load(path()));
  EXPECT_EQ(back.get_sections(), p.get_sections());
  EXPECT_EQ(back.get_list(L"Selected Tables"), (std::vector<std::wstring>{L"Sheet 1$", L"a=b"}));
}

TEST_F(profile_test, ValuesTheFormatCannotHoldAreRefused) {
  struct entry {
    std::wstring section, key, value;
  };
  const entry refused[] = {
      {generic, L"src", L"line\nbreak"},
      {generic, L"src", L"cr\rhere"},
      {generic, L"src", L"trailing "},
      {generic, L" src", L"x"},
      {generic, L"src ", L"x"},
      {generic, L"a=b", L"x"},
      {generic, L"[x", L"y]"},          // reads as a section line
      {generic, std::wstring(L"nul\0x", 5), L"x"},
      {selected, L"Sheet1=", L""},      // reads back as "Sheet1"
      {selected, L"x=select", L""},     // reads back as a query
      {selected, L"", L""},             // an empty line
      {selected, L"q", L"not a query"}, // reads back as a worksheet
      {L"bad\nsection", L"k", L"v"},
  };
  udb_profile p;
  const auto before = p.get_sections();
  for (const auto& e : refused) {
    EXPECT_NE(error_of([&] { p.set_value(e.section, e.key, e.value); }), "") << tk_to_utf8(e.key);
  }
  EXPECT_EQ(p.get_sections(), before);
}

TEST_F(profile_test, FirstValueOfAKeyStays) {
  udb_profile p;
  p.set_value(generic, L"mode", L"1");
  p.set_value(generic, L"mode", L"2");
  EXPECT_EQ(p.get_value(generic, L"mode"), L"1");
  p.add_section(L"New");
  EXPECT_EQ(p.get_sections().count(L"New"), 1u);
}

TEST_F(profile_test, WrittenFilesArePrivateAndFailuresKeepTheOldFile) {
  write("old profile\n");
  ::chmod((dir_ / "p.tmd").c_str(), 0644);
  udb_profile p;
  p.set_value(L"pgs settings", L"pswd", L"secret");
  ASSERT_TRUE(p.store(path()));
  struct stat st {};
  ASSERT_EQ(::stat((dir_ / "p.tmd").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  EXPECT_FALSE(p.store(path("missing/p.tmd")));
  EXPECT_FALSE(fs::exists(dir_ / "missing"));
  EXPECT_FALSE(p.store(tk_utf8_to_unicode(dir_.string())));
  EXPECT_FALSE(p.store(std::wstring(1, static_cast<wchar_t>(0xD800))));

  const std::string before = read();
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit lim{32, 32};
    ::setrlimit(RLIMIT_FSIZE, &lim);
    ::_exit(p.store(path()) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "a failed write was reported as success";
  EXPECT_EQ(read(), before);
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir_)) ++files;
  EXPECT_EQ(files, 1u);  // no temporary left behind
}

}  // namespace

#include "udb/udb_converter.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <unistd.h>

#include "tk/tk_exception.h"
#include "tk/tk_string.h"
#include "udb/udb_profile.h"

namespace fs = std::filesystem;

namespace {

const std::wstring generic = L"Generic settings";
const std::wstring selected_section = L"Selected Tables";

class test_converter : public udb_converter {
 public:
  bool test_connection() override { return true; }
  void set_src(std::wstring s) { src = std::move(s); }
  void set_dest(std::wstring d) { dest = std::move(d); }
  void set_flags(bool only, bool skip) {
    only_definitions = only;
    skip_indexes = skip;
  }
  void select(const std::wstring& name, const std::wstring& sql) { selected[name] = sql; }
  void add_query(const std::wstring& name, const std::wstring& sql) { available_queries[name] = sql; }
};

// The lines a profile writes for one section, in order.
std::vector<std::string> generic_lines(const udb_profile& p) {
  std::vector<std::string> lines;
  for (const auto& [k, v] : p.get_sections().at(generic)) lines.push_back(tk_to_utf8(k + L"=" + v));
  return lines;
}

udb_profile profile_with(std::initializer_list<std::pair<std::wstring, std::wstring>> generic_values) {
  udb_profile p;
  for (const auto& [k, v] : generic_values) p.set_value(generic, k, v);
  return p;
}

std::string error_of(test_converter& c, udb_profile& p) {
  try {
    c.load_profile(p);
  } catch (const tk_exception& e) {
    EXPECT_EQ(e.level(), tk_level_error);
    return e.message();
  }
  return "";
}

TEST(profile_converter, StoresGenericSettingsInKeyOrder) {
  test_converter c;
  c.set_mode(2);
  c.set_src(L"/data/book.xlsx");
  c.set_dest(L"sales");
  udb_profile p;
  EXPECT_TRUE(c.store_profile(p));
  EXPECT_EQ(generic_lines(p), (std::vector<std::string>{"dest=sales", "logfile=", "mode=2", "only definitions=0",
                                                         "skip indexes=0", "src=/data/book.xlsx"}));
}

TEST(profile_converter, FlagsAreTrueForAnythingButZero) {
  struct flag_case {
    const wchar_t* text;
    bool before, after;
  };
  const flag_case cases[] = {{L"0", true, false}, {L"1", false, true}, {L"yes", false, true}, {L"no", false, true},
                             {L"", true, true},   {L"", false, false}};
  for (const auto& fc : cases) {
    test_converter c;
    c.set_flags(fc.before, fc.before);
    udb_profile p = profile_with({{L"only definitions", fc.text}, {L"skip indexes", fc.text}});
    ASSERT_TRUE(c.load_profile(p));
    EXPECT_EQ(c.get_only_definitions(), fc.after) << tk_to_utf8(fc.text);
    EXPECT_EQ(c.get_skip_indexes(), fc.after) << tk_to_utf8(fc.text);
  }
}

TEST(profile_converter, ModeMustBeOneOfTheFourModes) {
  for (int m = 0; m <= 3; ++m) {
    test_converter c;
    c.set_mode(3 - m);
    udb_profile p = profile_with({{L"mode", std::to_wstring(m)}});
    ASSERT_TRUE(c.load_profile(p));
    EXPECT_EQ(c.get_mode(), m);
  }
  test_converter unchanged;
  unchanged.set_mode(2);
  udb_profile empty = profile_with({{L"mode", L""}});
  ASSERT_TRUE(unchanged.load_profile(empty));
  EXPECT_EQ(unchanged.get_mode(), 2);

  for (const wchar_t* bad : {L"12", L"x", L"7", L" 1", L"-1", L"\u0661"}) {
    test_converter c;
    c.set_mode(2);
    c.set_src(L"old src");
    udb_profile p = profile_with({{L"mode", bad}, {L"src", L"new src"}, {L"dest", L"new dest"}});
    p.set_value(selected_section, L"Sheet1", L"");
    EXPECT_EQ(error_of(c, p), "Invalid merge/overwrite mode") << tk_to_utf8(bad);
    EXPECT_EQ(c.get_mode(), 2);  // never the mode that drops the database
    EXPECT_EQ(c.get_src(), L"old src");
    EXPECT_EQ(c.get_dest(), L"");
    EXPECT_TRUE(c.get_selected().empty());
    EXPECT_TRUE(c.get_sel_tables().empty());
  }
}

TEST(profile_converter, UnusableLogFileLeavesEverySettingAlone) {
  test_converter c;
  c.set_mode(1);
  udb_profile p = profile_with({{L"logfile", L"/nonexistent-folder-for-test/run.log"}, {L"mode", L"3"}, {L"src", L"s"}});
  p.set_value(selected_section, L"Sheet1", L"");
  EXPECT_EQ(error_of(c, p), "Logfile path does not exist.\nPlease verify the correct path was given.");
  EXPECT_EQ(c.get_mode(), 1);
  EXPECT_EQ(c.get_src(), L"");
  EXPECT_EQ(c.get_logfile(), "");
  EXPECT_TRUE(c.get_sel_tables().empty());
}

TEST(profile_converter, WorksheetsAndQueriesAreSelected) {
  udb_profile p;
  p.set_value(selected_section, L"Sheet1", L"");
  p.set_value(selected_section, L"q", L"SELECT 1");
  p.set_value(L"Available Queries", L"stored", L"SELECT 2");
  test_converter c;
  ASSERT_TRUE(c.load_profile(p));
  EXPECT_EQ(c.get_selected().size(), 2u);
  EXPECT_EQ(c.get_sel_tables(), std::vector<std::wstring>{L"Sheet1"});
  EXPECT_EQ(c.get_available_queries().at(L"stored"), L"SELECT 2");

  ASSERT_TRUE(c.load_profile(p));  // the same profile again: the same selection, nothing doubled
  EXPECT_EQ(c.get_selected().size(), 2u);
  EXPECT_EQ(c.get_available_queries().size(), 1u);
  EXPECT_EQ(c.get_sel_tables(), std::vector<std::wstring>{L"Sheet1"});

  // Another profile replaces the selection and the stored queries instead of adding to them.
  udb_profile other;
  other.set_value(selected_section, L"Products", L"");
  other.set_value(L"Available Queries", L"cheap", L"SELECT 3");
  ASSERT_TRUE(c.load_profile(other));
  EXPECT_EQ(c.get_sel_tables(), std::vector<std::wstring>{L"Products"});
  ASSERT_EQ(c.get_selected().size(), 1u);
  EXPECT_EQ(c.get_selected().count(L"Products"), 1u);
  ASSERT_EQ(c.get_available_queries().size(), 1u);
  EXPECT_EQ(c.get_available_queries().at(L"cheap"), L"SELECT 3");

  // A profile that is refused keeps the selection it found.
  udb_profile refused = profile_with({{L"mode", L"9"}});
  refused.set_value(selected_section, L"Orders", L"");
  EXPECT_EQ(error_of(c, refused), "Invalid merge/overwrite mode");
  EXPECT_EQ(c.get_sel_tables(), std::vector<std::wstring>{L"Products"});
  EXPECT_EQ(c.get_available_queries().size(), 1u);
}

TEST(profile_converter, SettingsRoundTripThroughAFile) {
  char templ[] = "/tmp/udb_converter_test.XXXXXX";
  ASSERT_NE(::mkdtemp(templ), nullptr);
  const fs::path dir = templ;
  const std::string log = (dir / "run \u00e4.log").string();

  test_converter out;
  out.set_src(L"/data/Q1 = \u00e4\u20ac; \"final\".xlsx");
  out.set_dest(L"db \U0001F600");
  out.set_mode(3);
  out.set_flags(true, false);
  out.set_logfile(log);
  out.select(L"a=b", L"");
  out.select(L"Sheet 2", L"");
  out.select(L"q", L"SELECT * FROM [a=b$]");
  out.add_query(L"q", L"SELECT * FROM [a=b$]");
  udb_profile written;
  ASSERT_TRUE(out.store_profile(written));
  const std::wstring file = tk_utf8_to_unicode((dir / "settings.tmd").string());
  ASSERT_TRUE(written.store(file));

  udb_profile read;
  ASSERT_TRUE(read.load(file));
  test_converter in;
  ASSERT_TRUE(in.load_profile(read));
  EXPECT_EQ(in.get_src(), out.get_src());
  EXPECT_EQ(in.get_dest(), out.get_dest());
  EXPECT_EQ(in.get_mode(), 3);
  EXPECT_TRUE(in.get_only_definitions());
  EXPECT_FALSE(in.get_skip_indexes());
  EXPECT_EQ(in.get_logfile(), log);
  EXPECT_EQ(in.get_selected(), out.get_selected());
  EXPECT_EQ(in.get_available_queries(), out.get_available_queries());
  EXPECT_EQ(in.get_sel_tables(), (std::vector<std::wstring>{L"Sheet 2", L"a=b"}));
  fs::remove_all(dir);
}

TEST(profile_converter, QueriesWithLineBreaksAreStoredOnOneLine) {
  test_converter c;
  c.select(L"q", L"SELECT *\r\nFROM [a$]\nWHERE x\r= 1");
  c.add_query(L"r", L"SELECT 1\nFROM [b$]");
  udb_profile p;
  ASSERT_TRUE(c.store_profile(p));
  EXPECT_EQ(p.get_value(udb_profile::selected_tables_section, L"q"), L"SELECT * FROM [a$] WHERE x = 1");
  EXPECT_EQ(p.get_value(udb_profile::available_queries_section, L"r"), L"SELECT 1 FROM [b$]");
}

TEST(profile_converter, UnstorableValueIsRefused) {
  test_converter c;
  c.set_src(L"/data/book.xlsx ");  // a trailing blank would be lost
  udb_profile p;
  EXPECT_THROW(c.store_profile(p), tk_exception);
}

}  // namespace

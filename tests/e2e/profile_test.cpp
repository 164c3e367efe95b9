// Conversions driven by a profile file, written at test time from the server's settings.
#include <cstdlib>

#include "e2e_support.h"

namespace {

using e2e::join;
using e2e::run_corvel;
using strings = std::vector<std::string>;

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

class E2eProfile : public testing::Test {
 protected:
  void SetUp() override {
    TAMARIND_REQUIRE_SERVER();
    book = dir.file("book.xlsx");
    e2e::write_workbook(book, e2e::book_sheets());
  }
  std::string profile(const std::string& generic, const std::string& pgs, const std::string& tables) {
    return dir.write("p" + std::to_string(++count) + ".tmd",
                     "[Generic settings]\r\n" + generic + "[pgs settings]\r\n" + pgs +
                         "[Selected Tables]\r\n" + tables + "[MS Excel settings]\r\nextract field names=1\r\n");
  }
  std::string server_section() const {
    return "host=" + env("PGHOST") + "\r\nport=" + env("PGPORT") + "\r\nuser=" + env("PGUSER") +
           "\r\npassword=" + env("PGPASSWORD") + "\r\n";
  }

  e2e::scratch_dir dir;
  e2e::database_guard db{"e2e_prof"};
  std::string book;
  int count = 0;
};

TEST_F(E2eProfile, ProfileMergesItsSelectionIntoTheExistingDatabase) {
  db.create();
  db.execute("CREATE TABLE sheet2 (code text, born timestamp); INSERT INTO sheet2 VALUES ('old', NULL)");
  const std::string p =
      profile("src=" + book + "\r\ndest=" + db.name() + "\r\nmode=3\r\n", server_section(), "Sheet2\r\n");
  e2e::run_result r = run_corvel({"--profile=" + p});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(db.rows("SELECT code FROM sheet2 ORDER BY code"), (strings{"A1", "B2", "old"}));
  EXPECT_EQ(db.tables(), (strings{"public.sheet2"}));

  // A later "--mode=" wins; host and table list given after the profile are not applied.
  const std::string list = dir.write("list.txt", "Sheet1\n");
  r = run_corvel({"--profile=" + p, "--mode=1", "--host=bogus.invalid", "--tab_file=" + list});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(db.rows("SELECT code FROM sheet2 ORDER BY code"), (strings{"A1", "B2"}));
  EXPECT_EQ(db.tables(), (strings{"public.sheet2"}));
}

TEST_F(E2eProfile, OptionsBeforeTheProfileYieldAndALaterSourceIsListedAnew) {
  const std::string other = dir.file("other.xlsx");
  e2e::write_workbook(other, {{"Sheet2", {{e2e::cell::str("code")}, {e2e::cell::str("Z9")}}},
                              {"Sheet1", {{e2e::cell::str("id")}, {e2e::cell::num(1)}}}});
  db.create();
  db.execute("CREATE TABLE sheet2 (code text); INSERT INTO sheet2 VALUES ('old')");
  // The profile says mode 3 (append); a "--mode=1" before it yields to it.
  const std::string p =
      profile("src=" + book + "\r\ndest=" + db.name() + "\r\nmode=3\r\n", server_section(), "Sheet2\r\n");
  const e2e::run_result r = run_corvel({"--mode=1", "--profile=" + p, "--src=" + other, "--silent"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_TRUE(r.config_untouched);
  // The later source is listed and converted with the profile's selection.
  EXPECT_EQ(db.rows("SELECT code FROM sheet2 ORDER BY code"), (strings{"Z9", "old"}));
  EXPECT_EQ(db.tables(), (strings{"public.sheet2"}));
}

// Only worksheets become tables: a selected query is reported as not converted, never passed over.
TEST_F(E2eProfile, ASelectedQueryIsReportedAsNotConvertedAndFailsTheRun) {
  const std::string p = profile("src=" + book + "\r\ndest=" + db.name() + "\r\nmode=1\r\n", server_section(),
                                "Sheet2\r\nbig=SELECT * FROM [Sheet1$]\r\n");
  const e2e::run_result r = run_corvel({"--profile=" + p});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Error:\nQuery 'big' was not converted: only worksheets are converted.\n"), std::string::npos) << r.out;
  EXPECT_EQ(db.tables(), (strings{"public.sheet2"}));
}

TEST_F(E2eProfile, RefusedProfilesLeaveTheDestination) {
  db.create();
  db.execute("CREATE TABLE keep_me (x integer)");
  const std::string dest = "dest=" + db.name() + "\r\n";
  const std::string src = "src=" + book + "\r\n";
  struct probe {
    std::string path;
    int status;
  };
  const strings text_source = {dir.write("text.xlsx", std::string(64, 'x'))};
  const std::vector<probe> probes = {
      {dir.file("absent.tmd"), 255},
      {dir.write("orphan.tmd", "mode=0\r\n[Generic settings]\r\n" + src + dest), 255},
      {profile(src + dest + "mode=9\r\n", server_section(), ""), 255},
      {profile(src + dest + "mode=x\r\n", server_section(), ""), 255},
      {profile(src + dest, "port=abc\r\n", ""), 255},
      {profile("src=" + text_source[0] + "\r\n" + dest, server_section(), ""), 255},
      {profile(src + dest, server_section(), "Nope\r\n"), 1},
  };
  for (const probe& p : probes) {
    const e2e::run_result r = run_corvel({"--profile=" + p.path});
    EXPECT_EQ(r.status, p.status) << p.path << "\n" << r.out << r.err;
    EXPECT_EQ(db.tables(), (strings{"public.keep_me"})) << p.path;
  }
}

}  // namespace

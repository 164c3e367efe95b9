#include "tk/tk_file_name.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "tk/tk_exception.h"

namespace fs = std::filesystem;

namespace {

std::string assertion_text(const char* file, int line) { return tk_mail_assertion::make_message(file, line); }

TEST(file_name, SplitsAbsolutePathIntoParts) {
  tk_file_name f("/data/in.d/report.final.xlsx");
  EXPECT_EQ(f.drive(), "");
  EXPECT_EQ(f.dir(), "/data/in.d/");
  EXPECT_EQ(f.name(), "report.final");
  EXPECT_EQ(f.ext(), ".xlsx");
  EXPECT_EQ(f.get_path(), "/data/in.d/");
  EXPECT_EQ(f.get_full_name(), "/data/in.d/report.final.xlsx");
}

TEST(file_name, EdgeShapesSplitAsTheSplitterDoes) {
  struct shape {
    const char* path;
    const char* dir;
    const char* name;
    const char* ext;
  };
  const shape shapes[] = {
      {"/opt/app.d/corvel", "/opt/app.d/", "corvel", ""},  // a dot in a folder is no extension
      {"/home/u/.profile", "/home/u/", "", ".profile"},
      {"/a/b/", "/a/b/", "", ""},
      {"/a/./b/../c.txt", "/a/", "c", ".txt"},
      {"//a//b.txt", "/a/", "b", ".txt"},
      {"/", "/", "", ""},
      {"/a/name.", "/a/", "name", "."},
  };
  for (const auto& s : shapes) {
    tk_file_name f(s.path);
    EXPECT_EQ(f.dir(), s.dir) << s.path;
    EXPECT_EQ(f.name(), s.name) << s.path;
    EXPECT_EQ(f.ext(), s.ext) << s.path;
  }
}

TEST(file_name, RelativePathBecomesAbsolute) {
  tk_file_name f("sub/x.tmd");
  EXPECT_EQ(f.get_full_name(), (fs::current_path() / "sub" / "x.tmd").string());
}

TEST(file_name, NoLengthLimit) {
  std::string dir = "/";
  for (int i = 0; i < 40; ++i) dir += "folder_" + std::to_string(i) + "/";
  tk_file_name f(dir + "book.xls");
  EXPECT_GT(f.get_full_name().size(), 300u);
  EXPECT_EQ(f.dir(), dir);
  EXPECT_EQ(f.name(), "book");
}

TEST(file_name, ReplacedExtensionMakesTheDefaultLogName) {
  tk_file_name f("/opt/app.d/corvel");
  f.set_ext(".log");
  EXPECT_EQ(f.get_full_name(), "/opt/app.d/corvel.log");
  f.set_ext("hlp");  // a '.' is put in front
  EXPECT_EQ(f.get_full_name(), "/opt/app.d/corvel.hlp");
  f.set_dir("/x");  // a '/' is put after
  EXPECT_EQ(f.get_full_name(), "/x/corvel.hlp");
}

TEST(file_name, EmptyPathSplitsTheProgramWithoutName) {
  const std::string program = tk_get_module_file_name();
  ASSERT_FALSE(program.empty());
  EXPECT_EQ(program.front(), '/');
  const std::string dir = tk_get_module_dir();
  EXPECT_EQ(dir, program.substr(0, program.rfind('/') + 1));

  tk_file_name f("");
  EXPECT_EQ(f.dir(), dir);
  EXPECT_EQ(f.name(), "");
  EXPECT_EQ(f.get_full_name(), dir + f.ext());
  tk_file_wname w(L"");
  EXPECT_EQ(w.name(), L"");
  EXPECT_EQ(tk_get_module_file_wname().size(), program.size());  // ASCII build path
}

TEST(file_name, NullPathIsAnInternalError) {
  try {
    tk_file_name f(static_cast<const char*>(nullptr));
    FAIL();
  } catch (const tk_mail_assertion& e) {
    EXPECT_EQ(e.message(), assertion_text("tk_fname", 31));
  }
  try {
    tk_file_wname f(static_cast<const wchar_t*>(nullptr));
    FAIL();
  } catch (const tk_mail_assertion& e) {
    EXPECT_EQ(e.message(), assertion_text("tk_fname", 81));
  }
}

TEST(file_name, WideNamesKeepNonAsciiText) {
  tk_file_wname w(L"/tmp/\u00e4\u20ac.d/\U0001F600 book.xlsx");
  EXPECT_EQ(w.dir(), L"/tmp/\u00e4\u20ac.d/");
  EXPECT_EQ(w.name(), L"\U0001F600 book");
  EXPECT_EQ(w.ext(), L".xlsx");
  EXPECT_EQ(w.get_path(), L"/tmp/\u00e4\u20ac.d/");
  EXPECT_EQ(w.get_full_name(), L"/tmp/\u00e4\u20ac.d/\U0001F600 book.xlsx");
}

TEST(file_name, ProgramFilesAreFoundBesideElseInShare) {
  const std::string dir = tk_get_module_dir();
  const std::string file = "program_file_probe_" + std::to_string(::getpid()) + ".txt";
  // Neither exists: the place beside the program is named.
  EXPECT_EQ(tk_get_program_file(file), dir + file);

  const fs::path share = fs::path(dir) / ".." / "share" / "tamarind";
  std::error_code ec;
  const bool share_existed = fs::exists(share);
  fs::create_directories(share, ec);
  if (ec) GTEST_SKIP() << "cannot create " << share << ": " << ec.message();
  const fs::path shared_file = (share / file).lexically_normal();
  std::ofstream(shared_file) << "x";
  EXPECT_EQ(tk_get_program_file(file), shared_file.string());

  std::ofstream(dir + file) << "x";
  EXPECT_EQ(tk_get_program_file(file), dir + file);  // beside wins

  fs::remove(dir + file);
  fs::remove(shared_file);
  if (!share_existed) {
    fs::remove(share);
    fs::remove(share.parent_path());
  }
}

}  // namespace

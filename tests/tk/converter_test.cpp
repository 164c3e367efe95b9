#include "tk/tk_converter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include <sys/stat.h>
#include <unistd.h>

#include "tk/tk_exception.h"
#include "tk/tk_logger.h"

namespace fs = std::filesystem;

namespace {

class converter_test : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/tk_converter_test.XXXXXX";
    ASSERT_NE(::mkdtemp(templ), nullptr);
    dir_ = templ;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string path(const char* name) const { return (dir_ / name).string(); }

  // Runs set_logfile and returns what it threw ("" when nothing).
  std::string refusal(tk_converter& c, const std::string& name) {
    try {
      c.set_logfile(name);
    } catch (const tk_exception& e) {
      EXPECT_EQ(e.level(), tk_level_error);
      return e.message();
    }
    return "";
  }

  fs::path dir_;
};

TEST_F(converter_test, StartsEmpty) {
  tk_converter c;
  EXPECT_FALSE(c.is_finished());
  EXPECT_FALSE(c.is_silent());
  EXPECT_TRUE(c.get_src().empty());
  EXPECT_TRUE(c.get_dest().empty());
  EXPECT_TRUE(c.get_logfile().empty());
  c.set_silent(true);
  EXPECT_TRUE(c.is_silent());
}

TEST_F(converter_test, NewFileInExistingFolderIsAcceptedWithoutLogger) {
  tk_converter c;
  EXPECT_EQ(refusal(c, path("run.log")), "");
  EXPECT_EQ(c.get_logfile(), path("run.log"));
  EXPECT_FALSE(fs::exists(path("run.log")));  // the check creates nothing
}

TEST_F(converter_test, RefusedNamesStoreNothing) {
  tk_converter c;
  ASSERT_EQ(refusal(c, path("good.log")), "");
  EXPECT_EQ(refusal(c, path("missing/run.log")),
            "Logfile path does not exist.\nPlease verify the correct path was given.");
  EXPECT_EQ(c.get_logfile(), path("good.log"));

  // A folder passes both tests of the name but no line could be written.
  fs::create_directory(path("folder"));
  EXPECT_EQ(refusal(c, path("folder")), "Logfile cannot be written: " + std::string(std::strerror(EISDIR)));
  EXPECT_EQ(c.get_logfile(), path("good.log"));
}

TEST_F(converter_test, UnwritableFilesAreRefused) {
  if (::geteuid() == 0) GTEST_SKIP() << "permission checks do not apply to root";
  tk_converter c;
  std::ofstream(path("ro.log")) << "x";
  ::chmod(path("ro.log").c_str(), 0444);
  EXPECT_EQ(refusal(c, path("ro.log")), "Logfile name specifies an existing read-only file.");

  std::ofstream(path("none.log")) << "x";
  ::chmod(path("none.log").c_str(), 0);
  EXPECT_EQ(refusal(c, path("none.log")), "Logfile cannot be written: " + std::string(std::strerror(EACCES)));

  fs::create_directory(path("ro_dir"));
  ::chmod(path("ro_dir").c_str(), 0555);
  EXPECT_EQ(refusal(c, path("ro_dir/new.log")), "Logfile cannot be written: " + std::string(std::strerror(EACCES)));
  EXPECT_FALSE(fs::exists(path("ro_dir/new.log")));
  EXPECT_TRUE(c.get_logfile().empty());
}

TEST_F(converter_test, ExistingLoggerIsSwitchedAndEnabled) {
  tk_logger logger(path("default.log").c_str(), false, 3, false);
  tk_converter c;
  ASSERT_EQ(refusal(c, path("run.log")), "");
  EXPECT_EQ(logger.file_name(), path("run.log"));
  EXPECT_TRUE(logger.is_enabled());
}

TEST_F(converter_test, EmptyNameIsStoredAndChangesNothingElse) {
  tk_logger logger(path("default.log").c_str(), false, 3, false);
  tk_converter c;
  ASSERT_EQ(refusal(c, path("run.log")), "");
  logger.set_enabled(false);
  EXPECT_EQ(refusal(c, ""), "");
  EXPECT_EQ(c.get_logfile(), "");
  EXPECT_EQ(logger.file_name(), path("run.log"));
  EXPECT_FALSE(logger.is_enabled());
}

}  // namespace

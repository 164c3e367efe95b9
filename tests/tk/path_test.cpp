#include "tk/tk_path.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class path_test : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/tk_path_test.XXXXXX";
    ASSERT_NE(::mkdtemp(templ), nullptr);
    dir_ = templ;
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir_ / "locked", fs::perms::owner_all, ec);
    fs::remove_all(dir_);
  }
  std::string make_file(const char* name, const std::string& data = "data") {
    const fs::path p = dir_ / name;
    std::ofstream(p) << data;
    return p.string();
  }
  fs::path dir_;
};

TEST_F(path_test, FileTestsByMode) {
  const std::string file = make_file("plain.txt");
  EXPECT_TRUE(tk_is_file_exist(file, tk_file_readable));
  EXPECT_TRUE(tk_is_file_exist(file, tk_file_writable));
  EXPECT_TRUE(tk_is_file_exist(std::wstring(file.begin(), file.end()), tk_file_readable));
  EXPECT_FALSE(tk_is_file_exist((dir_ / "missing").string(), tk_file_readable));
  EXPECT_FALSE(tk_is_file_exist(dir_.string(), tk_file_readable));  // a folder is no file
  EXPECT_FALSE(tk_is_file_exist(static_cast<const char*>(nullptr), tk_file_readable));
}

TEST_F(path_test, ReadOnlyFileIsReadableNotWritable) {
  if (::geteuid() == 0) GTEST_SKIP() << "permission checks do not apply to root";
  const std::string file = make_file("ro.txt");
  ::chmod(file.c_str(), 0444);
  EXPECT_TRUE(tk_is_file_exist(file, tk_file_readable));
  EXPECT_FALSE(tk_is_file_exist(file, tk_file_writable));
}

TEST_F(path_test, FifoDoesNotBlock) {
  const std::string fifo = (dir_ / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const auto start = std::chrono::steady_clock::now();
  tk_is_file_exist(fifo, tk_file_readable);
  tk_is_file_exist(fifo, tk_file_writable);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(path_test, PathTestLeavesCurrentFolderAlone) {
  const fs::path before = fs::current_path();
  EXPECT_TRUE(tk_is_path_exist(dir_.string()));
  EXPECT_EQ(fs::current_path(), before);
  EXPECT_FALSE(tk_is_path_exist((dir_ / "missing").string()));
  EXPECT_EQ(fs::current_path(), before);
  EXPECT_FALSE(tk_is_path_exist(make_file("file")));
  EXPECT_TRUE(tk_is_path_exist(""));  // the program's folder
}

TEST_F(path_test, FolderWithoutSearchRightIsNoPath) {
  if (::geteuid() == 0) GTEST_SKIP() << "permission checks do not apply to root";
  const fs::path locked = dir_ / "locked";
  fs::create_directory(locked);
  fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_FALSE(tk_is_path_exist(locked.string()));
}

TEST_F(path_test, TempChdirChangesAndRestores) {
  const fs::path before = fs::current_path();
  {
    tk_temp_chdir change(dir_.string());
    EXPECT_TRUE(change.succeeded());
    EXPECT_EQ(fs::current_path(), fs::canonical(dir_));
  }
  EXPECT_EQ(fs::current_path(), before);
  {
    tk_temp_chdir change((dir_ / "missing").string());
    EXPECT_FALSE(change.succeeded());
    EXPECT_EQ(fs::current_path(), before);
  }
  EXPECT_EQ(fs::current_path(), before);
}

}  // namespace

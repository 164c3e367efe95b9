#include "tk/tk_file.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tk/tk_exception.h"

namespace fs = std::filesystem;

namespace {

class file_test : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/tk_file_test.XXXXXX";
    ASSERT_NE(::mkdtemp(templ), nullptr);
    dir_ = templ;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string make_file(const std::string& data) {
    const fs::path p = dir_ / "f.bin";
    std::ofstream(p, std::ios::binary) << data;
    return p.string();
  }
  std::string read_back() {
    std::ifstream in(dir_ / "f.bin", std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  fs::path dir_;
};

template <class F>
std::string error_of(F&& f) {
  try {
    f();
  } catch (const tk_exception& e) {
    EXPECT_EQ(e.level(), tk_level_error);
    return e.message();
  }
  return "(nothing thrown)";
}

TEST_F(file_test, ReadsInsideTheFile) {
  tk_stdio_file file(make_file(std::string("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C", 12)), 0);
  EXPECT_EQ(file.get_length(), 12u);
  EXPECT_EQ(file.get_word_at(0), 0x0201u);
  EXPECT_EQ(file.get_dword_at(8), 0x0C0B0A09u);
  char last[4];
  file.get_at(8, last, 4);  // exactly up to the end
  EXPECT_EQ(last[3], '\x0C');
  file.get_at(12, last, 0);
  EXPECT_EQ(file.file_name(), (dir_ / "f.bin").string());
}

TEST_F(file_test, ReadsBeyondTheEndThrow) {
  tk_stdio_file file(make_file(std::string(12, 'x')), 0);
  char buf[8];
  EXPECT_EQ(error_of([&] { file.get_at(10, buf, 4); }), "Error reading from file");
  EXPECT_EQ(error_of([&] { file.get_at(13, buf, 0); }), "Error reading from file");
  EXPECT_EQ(error_of([&] { file.get_at(std::numeric_limits<std::int64_t>::max(), buf, 8); }), "Error reading from file");
  EXPECT_EQ(error_of([&] { file.get_at(4, buf, std::numeric_limits<std::uint64_t>::max()); }), "Error reading from file");
  EXPECT_EQ(error_of([&] { file.get_dword_at(10); }), "Error reading from file");
}

TEST_F(file_test, WritePastTheEndPadsWithZeros) {
  const std::string name = make_file(std::string(40, 'a'));
  {
    tk_stdio_file file(name, tk_file_mode_write);
    file.put_at(100, "xyz", 3);
    EXPECT_EQ(file.get_length(), 103u);
  }
  const std::string data = read_back();
  ASSERT_EQ(data.size(), 103u);
  EXPECT_EQ(data.substr(0, 40), std::string(40, 'a'));
  EXPECT_EQ(data.substr(40, 60), std::string(60, '\0'));
  EXPECT_EQ(data.substr(100), "xyz");
}

TEST_F(file_test, OpeningModes) {
  const std::string missing = (dir_ / "new.bin").string();
  EXPECT_EQ(error_of([&] { tk_stdio_file f(missing, 0); }), "Bad path or busy with another process");
  EXPECT_EQ(error_of([&] { tk_stdio_file f(missing, tk_file_mode_write); }), "Error opening file");
  {
    tk_stdio_file created(missing, tk_file_mode_create);
    EXPECT_EQ(created.get_length(), 0u);
    created.put_at(0, "ab", 2);
  }
  EXPECT_EQ(fs::file_size(missing), 2u);
  EXPECT_EQ(error_of([&] { tk_stdio_file f(dir_.string(), 0); }), "Bad path or busy with another process");
  try {
    tk_stdio_file f("", 0);
    FAIL();
  } catch (const tk_mail_assertion& e) {
    EXPECT_EQ(e.message(), tk_mail_assertion::make_message("tk_file", 20));
  }
}

TEST_F(file_test, WritesToAReadOnlyOpenFail) {
  tk_stdio_file file(make_file("abc"), 0);
  EXPECT_EQ(error_of([&] { file.put_at(0, "z", 1); }), "Cannot write into file");
}

TEST_F(file_test, FullDiskIsReportedAtTheWrite) {
  const std::string name = make_file("");
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit lim{1024, 1024};
    ::setrlimit(RLIMIT_FSIZE, &lim);
    try {
      tk_stdio_file file(name, tk_file_mode_write);
      const std::string block(4096, 'b');
      file.put_at(0, block.data(), block.size());
    } catch (const tk_exception& e) {
      ::_exit(e.message() == "Cannot write into file" ? 0 : 2);
    }
    ::_exit(1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace

#include "tk/tk_logger.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

class TkLogger : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tk_logger_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    path_ = (dir_ / "run.log").string();
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string read() const {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void write(const std::string& text) const {
    std::ofstream out(path_, std::ios::binary);
    out << text;
  }

  fs::path dir_;
  std::string path_;
};

TEST_F(TkLogger, WithoutInstanceNothingIsWritten) {
  ASSERT_FALSE(tk_logger::has_instance());
  tk_log(3, "error %s", "x");
  tk_wlog(3, L"error %s", L"x");
  EXPECT_FALSE(fs::exists(path_));
  EXPECT_THROW(tk_logger::instance(), tk_mail_assertion);
  try {
    tk_logger::instance();
  } catch (const tk_exception& e) {
    EXPECT_EQ(e.message(), tk_mail_assertion::make_message("..\\TK/tk_singl", 66));
  }
}

TEST_F(TkLogger, EnabledAtConstructionEmptiesTheFileAndAppendsLines) {
  write("old contents\r\n");
  tk_logger logger(path_.c_str(), true, 2, false);
  EXPECT_EQ(read(), "");
  tk_log(2, "xls_reader::open_xls(%s)", "book.xlsx");
  tk_log(3, "failed: %d", 42);
  EXPECT_EQ(read(), "xls_reader::open_xls(book.xlsx)\r\nfailed: 42\r\n");
}

TEST_F(TkLogger, TruncatesOnceWhenEnabledLaterEvenForDroppedLines) {
  write("old contents\r\n");
  tk_logger logger(path_.c_str(), false, 2, false);
  tk_log(3, "before enabling");
  EXPECT_EQ(read(), "old contents\r\n");

  logger.set_enabled(true);
  tk_log(1, "below the threshold");  // dropped, but empties the file
  EXPECT_TRUE(logger.is_truncated());
  EXPECT_EQ(read(), "");

  tk_log(2, "first");
  // Another name later: appended to, never emptied again in this process.
  const std::string second = (dir_ / "second.log").string();
  {
    std::ofstream(second, std::ios::binary) << "kept\r\n";
  }
  logger.set_file_name(second);
  tk_log(2, "second");
  EXPECT_EQ(read(), "first\r\n");
  std::ifstream in(second, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "kept\r\nsecond\r\n");
}

TEST_F(TkLogger, NullFileNameIsAnAssertionAndDefaultNameEndsInLog) {
  tk_logger logger(path_.c_str(), false, 3, false);
  EXPECT_THROW(logger.set_file_name(static_cast<const char*>(nullptr)), tk_mail_assertion);
  EXPECT_EQ(logger.file_name(), path_);
  const std::string name = tk_logger::make_log_name();
  EXPECT_EQ(fs::path(name).extension(), ".log");
  EXPECT_EQ(fs::path(name).stem(), "test_tk");
}

TEST_F(TkLogger, TimePrefixAndWideUtf8Line) {
  tk_logger logger(path_.c_str(), true, 1, true);
  logger.set_clock([] {
    std::tm t{};
    t.tm_hour = 9;
    t.tm_min = 5;
    t.tm_sec = 7;
    return t;
  });
  tk_wlog(1, L"Bl\u00e4tter %s %s", std::wstring(L"\u20ac\U0001F600"), "n\xc3\xa4rrow");
  EXPECT_EQ(read(), "09:05:07 Bl\xc3\xa4tter \xe2\x82\xac\xf0\x9f\x98\x80 n\xc3\xa4rrow\r\n");
  EXPECT_EQ(read().find('\0'), std::string::npos);
}

TEST_F(TkLogger, VeryLongLineIsWrittenWhole) {
  tk_logger logger(path_.c_str(), true, 1, false);
  const std::wstring long_text(50000, L'\u00e4');
  tk_wlog(2, L"%s", long_text);
  const std::string content = read();
  ASSERT_EQ(content.size(), 100000u + 2u);
  EXPECT_EQ(content.substr(content.size() - 4), "\xc3\xa4\r\n");
}

TEST_F(TkLogger, UnwritableFileLosesTheLineSilently) {
  const std::string directory = dir_.string();
  tk_logger logger(directory.c_str(), true, 1, false);
  EXPECT_NO_THROW(tk_log(3, "lost"));
  EXPECT_TRUE(fs::is_directory(dir_));
}

TEST_F(TkLogger, ConcurrentLinesStayWhole) {
  tk_logger logger(path_.c_str(), true, 1, false);
  constexpr int threads = 8;
  constexpr int lines = 200;
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t)
    workers.emplace_back([t] {
      const std::string payload(300, static_cast<char>('a' + t));
      for (int i = 0; i < lines; ++i) tk_log(2, "%d:%d:%s", t, i, payload);
    });
  for (auto& w : workers) w.join();

  std::istringstream in(read());
  std::string line;
  std::set<std::string> seen;
  while (std::getline(in, line)) {
    ASSERT_FALSE(line.empty());
    ASSERT_EQ(line.back(), '\r');
    line.pop_back();
    const auto first = line.find(':');
    const auto second = line.find(':', first + 1);
    ASSERT_NE(second, std::string::npos) << line;
    const int t = std::stoi(line.substr(0, first));
    EXPECT_EQ(line.substr(second + 1), std::string(300, static_cast<char>('a' + t)));
    seen.insert(line.substr(0, second));
  }
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(threads * lines));
}

}  // namespace

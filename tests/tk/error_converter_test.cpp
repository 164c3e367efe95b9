#include "tk/tk_error_converter.h"
#include "tk/tk_send_bug.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "platform/mail_sink.h"
#include "tk/tk_exception.h"

namespace fs = std::filesystem;

TEST(tk_error_converter, a_code_keeps_the_first_text_loaded_for_it) {
  const tk_error_entry first[] = {{68709, "first"}, {-30082, "login"}, {68709, "same table, later"}};
  const tk_error_entry second[] = {{68709, "second"}, {68726, "structure"}};
  tk_error_converter map(3, first);
  EXPECT_EQ(map.size(), 2u);
  map.load_map(2, second);
  EXPECT_EQ(map.size(), 3u);
  EXPECT_EQ(map.convert(68709), "first");
  EXPECT_EQ(map.convert(-30082), "login");
  EXPECT_EQ(map.convert(68726), "structure");
}

TEST(tk_error_converter, unknown_codes_give_an_empty_text) {
  const tk_error_entry table[] = {{68585, "format"}};
  tk_error_converter map(1, table);
  EXPECT_EQ(map.convert(0), "");  // what assertions and plain exceptions carry
  EXPECT_EQ(map.convert(2), "");  // a system error number
  EXPECT_EQ(map.convert(68585 + 1), "");
  tk_error_converter empty(0, table);
  EXPECT_EQ(empty.convert(68585), "");
}

TEST(tk_error_converter, a_null_table_is_an_internal_error) {
  const std::string expected = tk_mail_assertion::make_message("tk_errco", 43);
  try {
    tk_error_converter map(1, nullptr);
    FAIL() << "no assertion";
  } catch (const tk_mail_assertion& e) {
    EXPECT_EQ(std::string(e.what()), expected);
    EXPECT_EQ(e.level(), tk_level_internal);
  }
  const tk_error_entry table[] = {{1, "one"}};
  tk_error_converter map(1, table);
  EXPECT_THROW(map.load_map(0, nullptr), tk_mail_assertion);
  EXPECT_EQ(map.convert(1), "one");
}

TEST(tk_bug_report, subject_prefix_and_unpadded_date) {
  std::tm when{};
  when.tm_year = 2024 - 1900;
  when.tm_mon = 0;
  when.tm_mday = 5;
  when.tm_hour = 9;
  when.tm_min = 7;
  const tk_bug_report report = tk_make_bug_report("Tamarind 1.0", "Internal error: \ncode=00", when);
  EXPECT_EQ(report.subject, "Bug report on Tamarind 1.0");
  EXPECT_EQ(report.body, "Internal error: \ncode=00");
  EXPECT_EQ(report.date_text, "2024/1/5 9:7");

  const tk_bug_report no_clock = tk_make_bug_report("", "body", std::nullopt);
  EXPECT_EQ(no_clock.subject, "Bug report on ");
  EXPECT_EQ(no_clock.date_text, "");
}

TEST(tk_send_bug, hands_the_report_to_the_mail_program) {
  const fs::path dir = fs::temp_directory_path() / ("send_bug_test." + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path program = dir / "fake-mailer", record = dir / "argv";
  {
    std::ofstream script(program);
    script << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\0' \"$a\"; done > '" << record.string()
           << ".tmp'\nmv '" << record.string() << ".tmp' '" << record.string() << "'\n";
  }
  fs::permissions(program, fs::perms::owner_all);

  ASSERT_TRUE(tk_send_bug("", "Internal error: \ncode=746b", mail_sink(program.string())));
  for (int i = 0; i < 500 && !fs::exists(record); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::ifstream in(record, std::ios::binary);
  const std::string args((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  using namespace std::string_literals;
  EXPECT_EQ(args, "--utf8\0--subject\0Bug report on \0--body\0Internal error: \ncode=746b\0"s +
                      tk_support_mailbox + "\0"s);
  fs::remove_all(dir);

  EXPECT_FALSE(tk_send_bug("Tamarind 1.0", "body", mail_sink("/nonexistent/xdg-email")));
}

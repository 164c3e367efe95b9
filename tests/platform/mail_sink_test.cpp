#include "platform/mail_sink.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

/// A stand-in mail program that records its arguments, NUL-separated, into a file.
class recording_mailer {
public:
  recording_mailer() {
    m_dir = fs::temp_directory_path() / ("mail_sink_test." + std::to_string(::getpid()) + "." +
                                         std::to_string(s_next++));
    fs::create_directories(m_dir);
    m_program = m_dir / "fake-mailer";
    m_record = m_dir / "argv";
    std::ofstream script(m_program);
    // Written to a temporary name first, so a reader never sees half a record.
    script << "#!/bin/sh\n"
           << "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > '" << m_record.string() << ".tmp'\n"
           << "mv '" << m_record.string() << ".tmp' '" << m_record.string() << "'\n";
    script.close();
    fs::permissions(m_program, fs::perms::owner_all);
  }
  ~recording_mailer() {
    std::error_code ignored;
    fs::remove_all(m_dir, ignored);
  }

  std::string program() const { return m_program.string(); }
  const fs::path& dir() const { return m_dir; }

  /// The arguments the program got (without its own name); empty when it never ran.
  std::vector<std::string> wait_for_args() const {
    for (int i = 0; i < 500 && !fs::exists(m_record); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::ifstream in(m_record, std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> args;
    std::string::size_type start = 0;
    for (auto end = all.find('\0'); end != std::string::npos; end = all.find('\0', start)) {
      args.push_back(all.substr(start, end - start));
      start = end + 1;
    }
    return args;
  }

private:
  static inline int s_next = 0;
  fs::path m_dir, m_program, m_record;
};

}  // namespace

TEST(mail_sink, hostile_texts_arrive_byte_for_byte_and_run_nothing) {
  recording_mailer mailer;
  const fs::path witness = mailer.dir() / "pwned";
  const std::string subject = "Bug report on $(touch " + witness.string() + ") `touch " + witness.string() +
                              "`; touch " + witness.string() + " 'quoted' \"double\"";
  const std::string body = "Internal error: \ncode=2e2e\r\n| touch " + witness.string() + " && \xc3\xa4\xe2\x82\xac";

  mail_sink sink(mailer.program());
  ASSERT_TRUE(sink.send({"support@example.org", subject, body}));

  const auto args = mailer.wait_for_args();
  const std::vector<std::string> expected{"--utf8", "--subject", subject, "--body", body, "support@example.org"};
  EXPECT_EQ(args, expected);
  EXPECT_FALSE(fs::exists(witness));
}

TEST(mail_sink, empty_values_are_left_out_because_the_mailer_refuses_them) {
  recording_mailer mailer;
  mail_sink sink(mailer.program());
  ASSERT_TRUE(sink.send({"support@example.org", "Bug report on ", ""}));
  const std::vector<std::string> expected{"--utf8", "--subject", "Bug report on ", "support@example.org"};
  EXPECT_EQ(mailer.wait_for_args(), expected);
}

TEST(mail_sink, a_missing_program_is_reported_as_false_and_nothing_is_thrown) {
  mail_sink by_name("tamarind-no-such-mailer-here");
  EXPECT_FALSE(by_name.send({"a@b", "s", "b"}));
  mail_sink by_path("/nonexistent/dir/xdg-email");
  EXPECT_FALSE(by_path.send({"a@b", "s", "b"}));
}

TEST(mail_sink, defaults_to_the_desktop_mailer) { EXPECT_EQ(mail_sink().program(), "xdg-email"); }

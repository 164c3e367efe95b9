#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/agent_main.h"
#include "agent/agent_options.h"
#include "agent/ansi_cmd_line.h"
#include "tk/tk_exception.h"

namespace {

const cmd_option table[] = {{0, "--help"}, {1, "--dest="}, {2, "--silent"}, {3, "--d"}, {-1, ""}};

struct matched {
  int id;
  std::string value;
};

/// Every argument's id and value, and the positionals, as the reader sees them.
std::vector<matched> walk(std::vector<std::string> args, std::vector<std::string>* positionals = nullptr) {
  args.insert(args.begin(), "prog");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  ansi_cmd_line line(static_cast<int>(argv.size()), argv.data(), table);
  std::vector<matched> result;
  for (; line.has_more(); line.next()) result.push_back({line.get_id(), line.get_value()});
  if (positionals) *positionals = line.get_positionals();
  return result;
}

TEST(AgentCmdLine, FirstPrefixInTableOrderWinsAndTheRestIsTheValue) {
  const auto result = walk({"--dest=My DB", "--dest=", "--helpme", "--silently", "--dx"});
  ASSERT_EQ(result.size(), 5u);
  EXPECT_EQ(result[0].id, 1);
  EXPECT_EQ(result[0].value, "My DB");
  EXPECT_EQ(result[1].id, 1);
  EXPECT_EQ(result[1].value, "");
  EXPECT_EQ(result[2].id, 0);  // a misspelt option that starts with a known one is that option
  EXPECT_EQ(result[2].value, "me");
  EXPECT_EQ(result[3].id, 2);
  EXPECT_EQ(result[4].id, 3);  // "--dest=" does not start "--dx"; "--d" does
  EXPECT_EQ(result[4].value, "x");
}

TEST(AgentCmdLine, UnmatchedArgumentsArePositionalWithoutLimit) {
  std::vector<std::string> args = {"foo", "-dest=x"};
  for (int i = 0; i < 30; ++i) args.push_back("p" + std::to_string(i));
  std::vector<std::string> positionals;
  const auto result = walk(args, &positionals);
  ASSERT_EQ(result.size(), 32u);
  for (const matched& m : result) EXPECT_EQ(m.id, ansi_cmd_line::positional_id);
  ASSERT_EQ(positionals.size(), 32u);
  EXPECT_EQ(positionals[0], "foo");
  EXPECT_EQ(positionals[31], "p29");
}

TEST(AgentCmdLine, NoArgumentsAndAccessPastTheEnd) {
  char name[] = "prog";
  char* argv[] = {name, nullptr};
  ansi_cmd_line line(1, argv, table);
  EXPECT_FALSE(line.has_more());
  EXPECT_THROW(line.get_id(), tk_mail_assertion);
  EXPECT_THROW(line.get_value(), tk_mail_assertion);
  EXPECT_THROW(line.next(), tk_mail_assertion);
  // Each check names its own site, and the report shows only its code.
  const auto site_of = [](auto&& call) {
    try {
      call();
    } catch (const tk_mail_assertion& e) {
      return std::string(e.what());
    }
    return std::string();
  };
  EXPECT_EQ(site_of([&] { line.get_id(); }), tk_mail_assertion("../..\\TK/tk_cmdli", 140).what());
  EXPECT_EQ(site_of([&] { line.get_value(); }), tk_mail_assertion("../..\\TK/tk_cmdli", 147).what());
  EXPECT_EQ(site_of([&] { line.next(); }), tk_mail_assertion("tk_cmdli", 60).what());
}

TEST(AgentOptionValues, OptionsAndFatalExitNeedTheProgramsObjects) {
  // Without the converter the first option that sets it, and a fatal exit, are internal errors
  // named by the agent's own sites; nothing is written.
  const auto report_of = [](auto&& call) {
    try {
      call();
    } catch (const tk_mail_assertion& e) {
      return std::string(e.what());
    }
    return std::string();
  };
  char name[] = "corvel";
  char dest[] = "--dest=x";
  char* argv[] = {name, dest, nullptr};
  EXPECT_EQ(report_of([&] { parse_cmd_line(2, argv); }), tk_mail_assertion("../..\\TK/tk_singl", 59).what());
  EXPECT_EQ(report_of([] { fatal_console_exit("gone"); }), tk_mail_assertion("../..\\TK/tk_singl", 66).what());
}

TEST(AgentOptionValues, ModeIsExactlyOneDigitFromZeroToThree) {
  for (const char* good : {"0", "1", "2", "3"}) EXPECT_TRUE(is_valid_mode_text(good)) << good;
  for (const char* bad : {"4", "02", "x", "-1", "+1", " 1", "1 ", "", "3x", "9999999999999999999"})
    EXPECT_FALSE(is_valid_mode_text(bad)) << '"' << bad << '"';
}

TEST(AgentOptionValues, PortMustReadAsOneTo65535) {
  EXPECT_EQ(port_from_text("5432"), 5432);
  EXPECT_EQ(port_from_text("1"), 1);
  EXPECT_EQ(port_from_text("65535"), 65535);
  EXPECT_EQ(port_from_text(" 5433"), 5433);  // read as the profile reads a port
  for (const char* bad : {"", "abc", "0", "-5432", "65536", "70000", "99999999999999999999"})
    EXPECT_EQ(port_from_text(bad), 0) << '"' << bad << '"';
}

}  // namespace

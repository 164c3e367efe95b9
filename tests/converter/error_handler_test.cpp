#include "converter/error_handler.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "converter/error_presenter.h"
#include "converter/error_tables.h"
#include "converter/exit_signal.h"
#include "converter/frame_services.h"
#include "tk/tk_send_bug.h"

namespace {

/// Records what it was asked to show and answers Continue/Abort from a script.
class scripted_presenter : public error_presenter {
public:
  explicit scripted_presenter(dispatch mode = dispatch::interactive) : m_mode(mode) {}

  dispatch mode() const override { return m_mode; }
  void internal_error(const std::string& message) override { internal_errors.push_back(message); }
  void error(const std::string& text) override { errors.push_back(text); }
  continue_answer ask_continue(const std::string& text) override {
    questions.push_back(text);
    return next_answer;
  }

  std::vector<std::string> internal_errors, errors, questions;
  continue_answer next_answer{};

private:
  dispatch m_mode;
};

/// A frame that is either set up or not; every other service is inert.
class scripted_frame : public frame_services {
public:
  bool initialized = true;
  bool is_initialized() const override { return initialized; }
  void start_timer(unsigned) override {}
  void stop_timer() override {}
  void write_log(const std::wstring&) override {}
  void message(const std::wstring&) override {}
  void error(const std::wstring&) override {}
  bool question(const std::wstring&, bool) override { return false; }
  void display_help(int) override {}
  void spreadsheet_started(const std::wstring&, int) override {}
  void worksheet_started(const std::wstring&) override {}
  void worksheets_not_found(const std::vector<std::wstring>&) override {}
  void run_finished() override {}
};

/// An exception with a chosen level and code, as the database sides throw them.
class coded_exception : public tk_exception {
public:
  coded_exception(const std::string& text, int code, int level) : tk_exception(text, code, level, nullptr) {}
};

class error_handler_test : public ::testing::Test {
protected:
  error_handler_test() {
    handler = std::make_unique<error_handler>(engine_error_table_size, engine_error_table);
    load_further_error_tables(*handler);
    handler->set_presenter(&presenter);
    handler->set_frame(&frame);
  }

  scripted_presenter presenter;
  scripted_frame frame;
  std::unique_ptr<error_handler> handler;
};

const coded_exception refused_login{"FATAL: password authentication failed", -30082, 0};
const coded_exception unknown_recoverable{"first line\nsecond line", 4711, 0};
const coded_exception run_ending{"The engine cannot be created", 0, 1};

}  // namespace

TEST_F(error_handler_test, context_and_table_text_make_the_message) {
  handler->set_context(L"Sheet1", 5);
  handler->handle(refused_login, false);
  const std::string expected = "Sheet1, record #5: Incorrect username or password";
  ASSERT_EQ(presenter.questions, std::vector<std::string>{expected});
  EXPECT_EQ(handler->listed_errors(), std::vector<std::string>{expected});

  // The context stays until it is replaced; a worksheet alone is the plain name.
  handler->handle(refused_login, true);
  EXPECT_EQ(presenter.questions.back(), expected);
  handler->set_context(L"Bilanz \u00c4nderungen");
  handler->handle(unknown_recoverable, true);
  EXPECT_EQ(presenter.questions.back(), "Bilanz \xc3\x84nderungen: first line second line");
}

TEST_F(error_handler_test, unknown_codes_show_the_exception_text_with_line_feeds_as_blanks) {
  handler->handle(unknown_recoverable, false);
  EXPECT_EQ(handler->listed_errors(), std::vector<std::string>{"first line second line"});
  // An assertion carries code 0, which no table holds.
  const tk_mail_assertion assertion_without_level("tk_file", 20);
  coded_exception assertion_code_at_level0(assertion_without_level.what(), assertion_without_level.code(), 0);
  handler->handle(assertion_code_at_level0, false);
  EXPECT_EQ(handler->listed_errors().back(), "Internal error:  code=746b5f66696c655c3230");
}

TEST_F(error_handler_test, every_table_entry_is_found_and_the_first_loaded_text_wins) {
  const int codes[] = {68585, 68591, 68558, 68565, 68648, 68709, 68894, 68957, 68879, -1032, -30082, 68697, 68726, 68810};
  for (int code : codes) {
    handler->handle(coded_exception("own text", code, 0), true);
    EXPECT_NE(presenter.questions.back(), "own text") << code;
  }
  EXPECT_EQ(presenter.questions[6], presenter.questions[5]);   // 68894 repeats 68709
  EXPECT_EQ(presenter.questions[8], presenter.questions[0]);   // 68879 repeats 68585
  EXPECT_EQ(presenter.questions[13], presenter.questions[12]);  // 68810 repeats 68726
  EXPECT_NE(presenter.questions[7].find(tk_support_mailbox), std::string::npos);
  EXPECT_EQ(presenter.questions[11],
            "The workbook and/or one of its workseets is password protected. You should unprotect it first. "
            "Open it with MS Excel, remove the password and run Tamarind again. ");

  const tk_error_entry later[] = {{-30082, "replaced"}};
  handler->load_err_map(1, later);
  handler->handle(refused_login, true);
  EXPECT_EQ(presenter.questions.back(), "Incorrect username or password");
}

TEST_F(error_handler_test, recoverable_errors_continue_or_abort_by_the_top_level_flag) {
  presenter.next_answer = {false, false};
  EXPECT_NO_THROW(handler->handle(refused_login, false));

  presenter.next_answer = {true, true};  // Abort with the box ticked
  EXPECT_THROW(handler->handle(refused_login, false), tk_final_exception);
  EXPECT_FALSE(handler->is_quiet());

  // At the top the run is over anyway: Abort returns, and the tick is kept.
  EXPECT_NO_THROW(handler->handle(refused_login, true));
  EXPECT_TRUE(handler->is_quiet());
  EXPECT_EQ(presenter.questions.size(), 3u);
}

TEST_F(error_handler_test, do_not_show_again_silences_questions_and_boxes_but_level1_still_ends_the_run) {
  presenter.next_answer = {false, true};  // Continue with the box ticked
  handler->handle(refused_login, false);
  ASSERT_TRUE(handler->is_quiet());

  presenter.next_answer = {true, false};
  EXPECT_NO_THROW(handler->handle(refused_login, false));
  EXPECT_THROW(handler->handle(run_ending, false), tk_final_exception);
  EXPECT_NO_THROW(handler->handle(run_ending, true));
  EXPECT_EQ(presenter.questions.size(), 1u);
  EXPECT_TRUE(presenter.errors.empty());
  EXPECT_EQ(handler->listed_errors().size(), 4u);  // silenced, yet collected for the final report
}

TEST_F(error_handler_test, level1_shows_a_box_and_ends_the_run_only_below_the_top) {
  EXPECT_THROW(handler->handle(run_ending, false), tk_final_exception);
  EXPECT_NO_THROW(handler->handle(run_ending, true));
  EXPECT_EQ(presenter.errors, (std::vector<std::string>{run_ending.what(), run_ending.what()}));
  EXPECT_TRUE(presenter.questions.empty());
}

TEST_F(error_handler_test, internal_errors_end_the_program_whatever_the_flags) {
  const tk_mail_assertion assertion("..\\TK/tk_singl", 59);
  handler->set_context(L"Sheet1", 5);
  handler->set_quiet(true);
  for (bool top : {false, true}) {
    try {
      handler->handle(assertion, top);
      ADD_FAILURE() << "returned";
    } catch (const tmd_exit_signal& signal) {
      EXPECT_EQ(signal.status(), 255);
    }
  }
  // Shown as carried: no context, no table, line feed kept, nothing collected.
  EXPECT_EQ(presenter.internal_errors,
            std::vector<std::string>(2, "Internal error: \ncode=2e2e5c544b2f746b5f73696e676c5c3539"));
  EXPECT_TRUE(handler->listed_errors().empty());
  EXPECT_TRUE(presenter.errors.empty() && presenter.questions.empty());
}

TEST_F(error_handler_test, by_level_reports_level0_and_ends_the_program_on_level1) {
  scripted_presenter console(error_presenter::dispatch::by_level);
  handler->set_presenter(&console);
  handler->set_context(L"Sheet1", 3);
  console.next_answer = {true, true};  // never asked
  EXPECT_NO_THROW(handler->handle(refused_login, false));
  EXPECT_NO_THROW(handler->handle(refused_login, true));
  for (bool top : {false, true}) {
    try {
      handler->handle(run_ending, top);
      ADD_FAILURE() << "returned";
    } catch (const tmd_exit_signal& signal) {
      EXPECT_EQ(signal.status(), 255);
    }
  }
  EXPECT_TRUE(console.questions.empty());
  ASSERT_EQ(console.errors.size(), 4u);
  EXPECT_EQ(console.errors[0], "Sheet1, record #3: Incorrect username or password");
  EXPECT_EQ(console.errors[3], "Sheet1, record #3: The engine cannot be created");

  // Silenced: nothing shown, yet level 1 still ends the program and level 2 is still shown.
  handler->set_quiet(true);
  EXPECT_NO_THROW(handler->handle(refused_login, false));
  EXPECT_THROW(handler->handle(run_ending, true), tmd_exit_signal);
  EXPECT_THROW(handler->handle(tk_mail_assertion("tk_file", 20), true), tmd_exit_signal);
  EXPECT_EQ(console.errors.size(), 4u);
  EXPECT_EQ(console.internal_errors.size(), 1u);
}

TEST_F(error_handler_test, at_most_twenty_texts_are_collected_and_only_with_a_frame_set_up) {
  frame.initialized = false;
  handler->handle(refused_login, true);
  EXPECT_TRUE(handler->listed_errors().empty());
  handler->set_frame(nullptr);
  handler->handle(refused_login, true);
  EXPECT_TRUE(handler->listed_errors().empty());

  handler->set_frame(&frame);
  frame.initialized = true;
  for (int i = 0; i < 25; ++i) handler->handle(coded_exception("error " + std::to_string(i), 0, 0), true);
  const auto listed = handler->listed_errors();
  ASSERT_EQ(listed.size(), error_handler::max_listed_errors);
  EXPECT_EQ(listed.front(), "error 0");
  EXPECT_EQ(listed.back(), "error 19");
  EXPECT_EQ(presenter.questions.size(), 27u);  // all were reported
  handler->clear_listed_errors();
  EXPECT_TRUE(handler->listed_errors().empty());
}

TEST_F(error_handler_test, reported_errors_are_counted_by_level) {
  handler->handle(refused_login, true);
  handler->handle(coded_exception("odd level", 0, 7), true);  // handled and counted as level 0
  handler->handle(run_ending, true);
  EXPECT_THROW(handler->handle(tk_mail_assertion("tk_file", 20), true), tmd_exit_signal);
  handler->count_reported_error();  // e.g. a selected worksheet the workbook lacks
  const error_counts counts = handler->reported();
  EXPECT_EQ(counts.level0, 3u);
  EXPECT_EQ(counts.level1, 1u);
  EXPECT_EQ(counts.level2, 1u);
  EXPECT_EQ(counts.total(), 5u);
  EXPECT_EQ(presenter.questions.size(), 2u);
}

TEST_F(error_handler_test, without_a_presenter_reports_go_to_stderr) {
  handler->set_presenter(nullptr);
  ::testing::internal::CaptureStderr();
  EXPECT_NO_THROW(handler->handle(refused_login, false));
  EXPECT_THROW(handler->handle(tk_mail_assertion("tk_file", 20), true), tmd_exit_signal);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Error:\nIncorrect username or password\n"), std::string::npos);
  EXPECT_NE(err.find("Internal error: Internal error: \ncode=746b5f66696c655c3230\n"), std::string::npos);
}

TEST(exit_signal, passes_every_standard_catch_and_crosses_threads) {
  auto through_standard_catches = [] {
    try {
      throw tmd_exit_signal();
    } catch (const std::exception&) {
      return false;
    }
  };
  try {
    through_standard_catches();
    FAIL() << "caught as a std::exception";
  } catch (const tmd_exit_signal& signal) {
    EXPECT_EQ(signal.status(), 255);
  }

  tmd_exit_relay relay;
  EXPECT_NO_THROW(relay.rethrow_if_pending());
  std::thread worker([&relay] {
    try {
      throw tmd_exit_signal(7);
    } catch (const tmd_exit_signal& signal) {
      relay.store(signal);
    }
    relay.store(tmd_exit_signal(9));  // a later one does not replace the first
  });
  worker.join();
  ASSERT_TRUE(relay.pending());
  try {
    relay.rethrow_if_pending();
    FAIL() << "nothing rethrown";
  } catch (const tmd_exit_signal& signal) {
    EXPECT_EQ(signal.status(), 7);
  }
}

TEST(run_messages, engine_failure_text_keeps_its_line_breaks) {
  EXPECT_EQ(std::wstring(ui_msg_engine_load_failed),
            L"Failed to load Data Access Objects (DAO) support library.\r\n"
            L"Please reinstall the application to repair it.\r\n");
}

TEST_F(error_handler_test, a_reason_follows_a_fixed_text_on_a_line_of_its_own_and_is_never_told_twice) {
  // 0x10000 | 3274, which the workbook table turns into a fixed text of three lines.
  coded_exception damaged{"File 'b.xlsx' is not a readable workbook: part 'x' is damaged.", 68810, 0};
  damaged.set_reason(damaged.message());
  coded_exception unmapped{damaged.message(), 4711, 0};
  unmapped.set_reason(damaged.message());
  handler->set_context(L"Sheet1");
  handler->handle(damaged, false);
  handler->handle(unmapped, false);
  ASSERT_EQ(presenter.questions.size(), 2u);
  EXPECT_EQ(presenter.questions[0],
            "Sheet1: Failed to recognize table structure in the worksheet. You can migrate the data manually via CSV "
            "format. See 'CSV Files' article in the documentation for details.\n"
            "File 'b.xlsx' is not a readable workbook: part 'x' is damaged.");
  EXPECT_EQ(presenter.questions[1], "Sheet1: File 'b.xlsx' is not a readable workbook: part 'x' is damaged.");
  EXPECT_EQ(handler->listed_errors(), presenter.questions);
}

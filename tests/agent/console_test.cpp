#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "agent/console_frame.h"
#include "agent/console_presenter.h"
#include "converter/error_handler.h"
#include "converter/error_tables.h"
#include "converter/exit_signal.h"

namespace {

/// A temporary stream whose whole text can be read back.
class captured_stream {
 public:
  captured_stream() : m_file(std::tmpfile()) {}
  ~captured_stream() { std::fclose(m_file); }
  std::FILE* get() const { return m_file; }
  std::string text() const {
    std::fflush(m_file);
    std::string result;
    std::rewind(m_file);
    for (int c; (c = std::getc(m_file)) != EOF;) result += static_cast<char>(c);
    return result;
  }

 private:
  std::FILE* m_file;
};

void run_events(console_frame& frame) {
  frame.spreadsheet_started(L"/data/b\u00fccher.xlsx", 2);
  frame.write_log(L"Creating schema if necessary: 'Sales'\n");
  frame.worksheet_started(L"Sales.Q1");
  frame.worksheets_not_found({L"Nope", L"M\u00fcller "});
  frame.error(std::string("bad_alloc"));
  frame.run_finished();
}

TEST(AgentConsoleFrame, EventLinesAndTheirStreams) {
  captured_stream out, err;
  console_frame frame(out.get(), err.get());
  run_events(frame);
  EXPECT_EQ(out.text(),
            "Converting spreadsheet /data/b\xC3\xBC"
            "cher.xlsx(2 worksheets)\n"
            "Creating schema if necessary: 'Sales'\n"
            "Converting worksheet Sales.Q1\n");
  EXPECT_EQ(err.text(), "Worksheet Nope not found\nWorksheet M\xC3\xBCller  not found\nbad_alloc\n");
}

TEST(AgentConsoleFrame, SilentWritesNothingAndNoOneIsAsked) {
  captured_stream out, err;
  bool silent = true;
  console_frame frame(out.get(), err.get(), [&] { return silent; });
  run_events(frame);
  frame.message(L"hello");
  EXPECT_EQ(out.text(), "");
  EXPECT_EQ(err.text(), "");
  // The default button decides; nothing is printed or read.
  EXPECT_TRUE(frame.question(L"Create?", false));
  EXPECT_FALSE(frame.question(L"Overwrite?", true));
  EXPECT_FALSE(frame.is_initialized());
  silent = false;
  frame.worksheet_started(L"Sheet1");
  EXPECT_EQ(out.text(), "Converting worksheet Sheet1\n");
}

TEST(AgentConsolePresenter, ReportsOnTheOutputStreamByLevel) {
  captured_stream out;
  console_presenter presenter(out.get());
  EXPECT_EQ(presenter.mode(), error_presenter::dispatch::by_level);
  presenter.error("Sheet1, record #3: invalid input syntax for type integer: \"abc\"");
  presenter.internal_error("Internal error: \ncode=2e2e");
  // A text with conversion characters is printed as it is.
  presenter.error("100%s%n done");
  EXPECT_EQ(out.text(),
            "Error:\nSheet1, record #3: invalid input syntax for type integer: \"abc\"\n"
            "Internal error: Internal error: \ncode=2e2e\n"
            "Error:\n100%s%n done\n");
}

/// An error as the database sides raise them: a library code and a level.
class coded_error : public tk_exception {
 public:
  coded_error(const std::string& text, int code, int level) : tk_exception(text, code, level, nullptr) {}
};

TEST(AgentConsolePresenter, HandlerReportsThroughTheConsoleByLevel) {
  captured_stream out;
  console_presenter presenter(out.get());
  error_handler handler(engine_error_table_size, engine_error_table);
  load_further_error_tables(handler);
  handler.set_presenter(&presenter);

  // Level 0: the context, the mapped text, one line; the caller goes on.
  handler.set_context(L"Sheet1", 3);
  EXPECT_NO_THROW(handler.handle(coded_error("raw server text", -30082, tk_level_recoverable), false));
  // Without a mapped text the exception's own, with its line feeds turned into blanks.
  handler.set_context(L"Sheet2");
  EXPECT_NO_THROW(handler.handle(coded_error("first\nsecond", 0, tk_level_recoverable), false));
  EXPECT_EQ(out.text(), "Error:\nSheet1, record #3: Incorrect username or password\nError:\nSheet2: first second\n");

  // Level 1 ends the program after its report, silenced or not; level 2 is shown even when silenced.
  handler.set_quiet(true);
  try {
    handler.handle(tk_exception("level one", tk_level_error), false);
    ADD_FAILURE() << "a level-1 error returned";
  } catch (const tmd_exit_signal& signal) {
    EXPECT_EQ(signal.status(), 255);
  }
  EXPECT_THROW(handler.handle(tk_mail_assertion("tmd_conv", 329), true), tmd_exit_signal);
  const std::string text = out.text();
  EXPECT_EQ(text.find("level one"), std::string::npos);
  EXPECT_NE(text.find("Internal error: Internal error: \ncode="), std::string::npos) << text;
  handler.set_presenter(nullptr);
}

}  // namespace

#pragma once
// Shared pieces of the converter tests: a scratch folder, workbooks written at test time, a frame
// and a presenter that record what the run shows, and a fixture that builds the error handler and
// the converter the way a front end does.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

#include "converter/error_handler.h"
#include "converter/error_presenter.h"
#include "converter/frame_services.h"
#include "converter/tamarind_convertor.h"

namespace conv_test {

/// A fresh folder, removed with its files when the object goes.
class temp_dir {
 public:
  temp_dir();
  ~temp_dir();
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::wstring wide(const std::string& utf8);
std::string narrow(const std::wstring& text);
void write_bytes(const std::string& path, const std::string& bytes);

/// One cell: a number, a text, or nothing.
using cell = std::variant<std::monostate, double, std::string>;
struct sheet_data {
  std::string name;
  std::vector<std::vector<cell>> rows;  // the first row is the header when the test says so
};
/// Writes an .xlsx workbook with these worksheets.
void write_workbook(const std::string& path, const std::vector<sheet_data>& sheets);
/// A header row and `count` rows of (text "r<i>", number i), i from 1.
sheet_data numbered_sheet(const std::string& name, int count, int first = 1);

/// Records the run's events and boxes.
class recording_frame : public frame_services {
 public:
  bool is_initialized() const override { return true; }
  void start_timer(unsigned period) override;
  void stop_timer() override;
  void write_log(const std::wstring& text) override;
  void message(const std::wstring& text) override;
  using frame_services::error;
  void error(const std::wstring& text) override;
  bool question(const std::wstring&, bool) override { return false; }
  void display_help(int) override {}
  void spreadsheet_started(const std::wstring& source, int sheet_count) override;
  void worksheet_started(const std::wstring& name) override;
  void worksheets_not_found(const std::vector<std::wstring>& names) override;
  void run_finished() override;
  void show_finish_page() override;

  std::vector<std::string> events() const;
  std::vector<std::string> errors() const;
  int timer_starts = 0, timer_stops = 0, finish_pages = 0, finished_runs = 0;

 private:
  void add(std::string text);
  mutable std::mutex mutex_;
  std::vector<std::string> events_, errors_;
};

/// Reports by level, as the agent does: level 0 is recorded and the run goes on.
class recording_presenter : public error_presenter {
 public:
  dispatch mode() const override { return dispatch::by_level; }
  void internal_error(const std::string& message) override { add("internal: " + message); }
  void error(const std::string& text) override { add(text); }
  continue_answer ask_continue(const std::string& text) override {
    add(text);
    return {};
  }
  std::vector<std::string> reports() const;

 private:
  void add(std::string text);
  mutable std::mutex mutex_;
  std::vector<std::string> reports_;
};

/// The error handler with its tables, the presenter and the frame attached; HOME and
/// XDG_CONFIG_HOME point into the scratch folder ("home", "config") while the test runs.
class converter_fixture : public ::testing::Test {
 protected:
  converter_fixture();
  ~converter_fixture() override;
  /// The converter, built on first use (so a test may set the environment first).
  tamarind_convertor& conv(tmd_front_end kind = tmd_front_end::agent);
  void drop_converter() { converter_.reset(); }

  temp_dir dir;  // first: the environment points into it while the converter lives
  std::string old_xdg, old_home;
  bool had_xdg = false, had_home = false;
  recording_presenter presenter;
  recording_frame frame;
  std::unique_ptr<error_handler> handler;
  std::unique_ptr<tamarind_convertor> converter_;
};

bool contains(const std::vector<std::string>& lines, const std::string& piece);

}  // namespace conv_test

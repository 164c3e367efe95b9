#pragma once

#include <string>
#include <vector>

/// What a front end's frame offers the conversion run and the error handler.
/** The wizard implements it with its window (boxes, a progress timer, the finish page's log),
    the agent with the console. Every operation may be called from the conversion thread; an
    implementation that owns windows hands the call to its GUI thread and waits for the answer. */
class frame_services {
public:
  virtual ~frame_services() = default;

  /// True once the frame's window is set up; errors are collected for the final report only then.
  virtual bool is_initialized() const = 0;

  /// Starts the progress timer; starting it twice without a stop is an internal error.
  virtual void start_timer(unsigned period_ms) = 0;
  /// Stops the progress timer when it runs; otherwise does nothing.
  virtual void stop_timer() = 0;

  /// Appends a line to the frame's log window, where one is shown; otherwise the line is dropped.
  virtual void write_log(const std::wstring& text) = 0;

  /// An information box (the wizard) or line (the console).
  virtual void message(const std::wstring& text) = 0;
  /// An error box that the user closes with OK.
  virtual void error(const std::wstring& text) = 0;
  /// Narrow (UTF-8) form of `error`; an implementation adds `using frame_services::error;`.
  void error(const std::string& text);
  /// A Yes/No question; true for Yes. With `default_no` the No button is the default.
  virtual bool question(const std::wstring& text, bool default_no) = 0;
  /// Opens help on the topic of a context id; a missing help file is reported as an error.
  virtual void display_help(int context_id) = 0;

  // Events of a conversion run.

  /// The run is about to convert `sheet_count` worksheets of the workbook `source`.
  virtual void spreadsheet_started(const std::wstring& source, int sheet_count) = 0;
  /// The run starts copying the records of one worksheet.
  virtual void worksheet_started(const std::wstring& name) = 0;
  /// Names of the selection that the workbook lacks, in selection order; called once per selection.
  virtual void worksheets_not_found(const std::vector<std::wstring>& names) = 0;
  /// The run has ended, whatever its outcome.
  virtual void run_finished() = 0;
  /// Called once by the converter's progress query when it first sees the run finished, on the
  /// thread that polls (after the timer was stopped): the wizard moves to its finish page here.
  virtual void show_finish_page() {}
};

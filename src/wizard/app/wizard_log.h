#pragma once
// The trace log in the wizard: corvel's log (run_logger), written when the settings name a log
// file. It is held from the program's start, so nothing reaches a file before a run begins: the
// profile that named it may be changed or replaced on the pages, and a wizard left before its run
// never touches the file. The run's errors are then kept by the log, or else all of them by the
// finish page's list.
#include <string>
#include <vector>

#include "converter/run_log.h"

class tamarind_convertor;

class wizard_log {
 public:
  /// One per program, made by its start before anything logs.
  wizard_log();
  /// Without a run the lines held are dropped: the file is never touched.
  ~wizard_log();
  wizard_log(const wizard_log&) = delete;
  wizard_log& operator=(const wizard_log&) = delete;

  /// A profile the wizard read: the log file may not be it.
  static void note_input(const std::wstring& path);

  /// A run begins (or, at quick launch, its connection): the log file the converter's settings
  /// name is emptied and written from here on, beginning with the lines held since it was named;
  /// with no name there is no log. The finish page's list then holds the first errors when the
  /// log is written, else every error. Throws tk_exception level 1 when the log file is a file
  /// the run reads (a profile, the workbook): the log is dropped and the file left as it was.
  /** The log part acts once; without a wizard_log (tests of the pages) nothing changes. */
  static void begin_run(const tamarind_convertor& converter);

 private:
  run_logger m_logger;
  std::vector<std::string> m_inputs;
};

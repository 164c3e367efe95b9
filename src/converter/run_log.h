#pragma once
// The trace log of a conversion as both programs keep it: off until a log file is named (corvel's
// "--logfile=", a profile's "logfile"), then holding only the level-3 lines: the start and end of
// the run, the workbook and the connection, each worksheet and every error.
#include <string>
#include <vector>

#include "tk/tk_exception.h"
#include "tk/tk_logger.h"

/// The process's logger as a program's main makes it, before anything logs.
class run_logger : public tk_logger {
 public:
  static constexpr int threshold = 3;
  run_logger() : tk_logger(nullptr, false, threshold, false) {}
};

/// The input among `inputs` that the log file is (also through a link), or null when the log is
/// off or is none of them.
const std::string* log_file_input(const tk_logger& logger, const std::vector<std::string>& inputs);
/// The refusal of a log file that is a file the run reads (level 1).
tk_exception log_file_input_error(const std::string& input);

/// The file the process's log was written to in full: named, emptied, no line lost. Empty when
/// there is no logger, it is off or held, or a line could not be written.
std::string written_log_file();
/// "Cannot write the log file <name>: <reason>" once a line could not be written, else empty.
std::string log_failure_text();

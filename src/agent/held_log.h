#pragma once
// The log while the options are read: a log path may name a file the run reads (the workbook, the
// table-list file, a profile), and emptying it would destroy that input. Lines are held in memory
// until every input is known; the log file is touched only when it is none of them.
#include <string>
#include <vector>

class tk_logger;

class held_log {
 public:
  /// Holds the process's logger, when there is one. `inputs` are the paths of the files the run
  /// reads; the caller may add to them until settle().
  explicit held_log(const std::vector<std::string>& inputs);
  /// An end before settle() (a refused option): the held lines reach the log unless it is an input.
  ~held_log();
  held_log(const held_log&) = delete;
  held_log& operator=(const held_log&) = delete;

  /// Releases the held lines to the log. Throws tk_exception level 1 when the log is the same
  /// file as an input: the log is then dropped and the file left as it was.
  void settle();

 private:
  /// The input the log file is (through any link), or null.
  const std::string* log_input() const;

  tk_logger* m_logger;
  const std::vector<std::string>& m_inputs;
};

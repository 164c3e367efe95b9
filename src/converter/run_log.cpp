#include "converter/run_log.h"

#include <cstring>

#include "tk/tk_format.h"
#include "tk/tk_path.h"

const std::string* log_file_input(const tk_logger& logger, const std::vector<std::string>& inputs) {
  if (!logger.is_enabled()) return nullptr;
  const std::string log = logger.file_name();
  for (const std::string& input : inputs)
    if (tk_is_same_file(log, input)) return &input;
  return nullptr;
}

tk_exception log_file_input_error(const std::string& input) {
  return tk_exception(tk_format("Logfile name specifies a file the conversion reads: %s", input), tk_level_error);
}

std::string written_log_file() {
  const tk_logger* logger = tk_logger::instance_ptr();
  if (!logger || !logger->is_enabled() || logger->is_held() || !logger->is_truncated() || logger->write_error() != 0)
    return std::string();
  return logger->file_name();
}

std::string log_failure_text() {
  const tk_logger* logger = tk_logger::instance_ptr();
  if (!logger || logger->write_error() == 0) return std::string();
  return tk_format("Cannot write the log file %s: %s", logger->file_name(), std::strerror(logger->write_error()));
}

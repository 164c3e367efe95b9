#include "tk/tk_converter.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tk/tk_exception.h"
#include "tk/tk_file_name.h"
#include "tk/tk_logger.h"
#include "tk/tk_path.h"

namespace {

// errno for a log file that the logger could not open for appending, 0 when
// it could; nothing is created.
int log_file_write_error(const std::string& file_name, const std::string& dir) {
  struct stat st {};
  if (::stat(file_name.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return EISDIR;
    return ::faccessat(AT_FDCWD, file_name.c_str(), W_OK, AT_EACCESS) == 0 ? 0 : errno;
  }
  return ::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) == 0 ? 0 : errno;
}

}  // namespace

tk_converter::tk_converter() { tk_log(2, "tk_converter::ctor"); }

tk_converter::~tk_converter() = default;

void tk_converter::set_silent(bool value) { silent.store(value); }

void tk_converter::set_logfile(const std::string& file_name) {
  tk_log(1, "tk_convertor::set_logfile(%s)", file_name);
  if (!file_name.empty()) {
    // Checked before anything opens the name: a FIFO would block the run, a device would take
    // the trace (or never end it).
    if (tk_is_special_file(file_name))
      throw tk_exception("Logfile name specifies a FIFO, a socket or a device, not a regular file.", tk_level_error);
    if (tk_is_file_exist(file_name, tk_file_readable) && !tk_is_file_exist(file_name, tk_file_writable))
      throw tk_exception("Logfile name specifies an existing read-only file.", tk_level_error);
    const std::string dir = tk_file_name(file_name).get_path();
    if (!tk_is_path_exist(dir))
      throw tk_exception("Logfile path does not exist.\nPlease verify the correct path was given.", tk_level_error);
    // A folder, an unreadable file or a folder we may not write in would pass
    // the tests above and lose every line silently.
    if (const int error = log_file_write_error(file_name, dir); error != 0)
      throw tk_exception_ex("Logfile cannot be written: ", tk_level_error, error);
  }
  logfile = file_name;
  if (file_name.empty()) return;
  if (tk_logger* logger = tk_logger::instance_ptr()) {
    logger->set_file_name(file_name);
    logger->set_enabled(true);
  }
}

#include "tk/tk_path.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tk/tk_file_name.h"
#include "tk/tk_logger.h"
#include "tk/tk_string.h"

bool tk_is_file_exist(const char* path, int mode) {
  if (path == nullptr) return false;
  tk_log(1, "tk_is_file_exist(%s)", path);
  // O_NONBLOCK: opening a FIFO must not wait for a writer.
  const int flags = (mode == tk_file_writable ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
  bool exists = false;
  const int fd = ::open(path, flags);
  if (fd >= 0) {
    struct stat st {};
    exists = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    ::close(fd);
  }
  if (!exists) tk_log(1, "File not exists!");
  return exists;
}

bool tk_is_file_exist(const std::string& path, int mode) { return tk_is_file_exist(path.c_str(), mode); }

bool tk_is_file_exist(const wchar_t* path, int mode) {
  if (path == nullptr) return false;
  return tk_is_file_exist(tk_to_utf8(path), mode);
}

bool tk_is_file_exist(const std::wstring& path, int mode) { return tk_is_file_exist(tk_to_utf8(path), mode); }

bool tk_is_special_file(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

bool tk_is_same_file(const std::string& first, const std::string& second) {
  struct stat a {};
  struct stat b {};
  return ::stat(first.c_str(), &a) == 0 && ::stat(second.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

bool tk_is_path_exist(const std::string& dir) {
  tk_log(1, "tk_is_path_exist(%s)", dir);
  // The answer chdir would give (a folder we may search), without moving the
  // current folder of the whole process.
  const std::string target = dir.empty() ? tk_get_module_dir() : dir;
  struct stat st {};
  return ::stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
         ::faccessat(AT_FDCWD, target.c_str(), X_OK, AT_EACCESS) == 0;
}

tk_temp_chdir::tk_temp_chdir(const std::string& dir) { initialize(dir.empty() ? tk_get_module_dir() : dir); }

void tk_temp_chdir::initialize(const std::string& dir) {
  tk_log(2, "tk_temp_chdir::initialize(%s)", dir);
  std::string buffer(256, '\0');
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) {
      tk_log(1, "_getcwd failed");
      m_success = false;
      return;
    }
    buffer.resize(buffer.size() * 2);
  }
  m_saved_dir = buffer.c_str();
  m_success = ::chdir(dir.c_str()) == 0;
  if (!m_success) tk_log(1, "_chdir failed");
}

tk_temp_chdir::~tk_temp_chdir() {
  if (m_success && ::chdir(m_saved_dir.c_str()) != 0) tk_log(1, "_chdir failed");
}

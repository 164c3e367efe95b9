#include "tk/tk_logger.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/// Opens the log for writing; -1 with errno set when it cannot be opened or is no regular file.
/// O_NONBLOCK: a FIFO put in the log's place must fail here, not wait for a reader.
int open_log_file(const std::string& name, int flags) {
  const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | flags, 0666);
  if (fd < 0) return -1;
  struct stat st {};
  const bool stated = ::fstat(fd, &st) == 0;
  if (!stated || !S_ISREG(st.st_mode)) {
    const int error = stated ? EINVAL : errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

/// Writes every byte or sets errno (a full disk, a file size limit).
bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

std::tm local_now() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  localtime_r(&now, &parts);
  return parts;
}

}  // namespace

tk_logger::tk_logger(const char* file_name, bool enabled, int threshold, bool time_prefix)
    : m_file_name(file_name ? std::string(file_name) : make_log_name()),
      m_threshold(threshold),
      m_enabled(enabled),
      m_time_prefix(time_prefix) {
  if (enabled) truncate_once();
}

tk_logger::~tk_logger() = default;

std::string tk_logger::make_log_name() {
  std::error_code ec;
  std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec || program.empty()) TK_ASSERT_SITE("tk_utils", 116);
  program.replace_extension(".log");
  return program.string();
}

void tk_logger::set_file_name(const char* name) {
  if (!name) TK_ASSERT_SITE("..\\TK/tk_log", 82);
  set_file_name(std::string(name));
}

void tk_logger::set_file_name(const std::string& name) {
  std::lock_guard lock(m_mutex);
  m_file_name = name;
}

std::string tk_logger::file_name() const {
  std::lock_guard lock(m_mutex);
  return m_file_name;
}

void tk_logger::set_clock(clock_function clock) {
  std::lock_guard lock(m_mutex);
  m_clock = std::move(clock);
}

void tk_logger::truncate_once() noexcept {
  if (!m_enabled.load() || m_truncated.load() || m_held.load()) return;
  std::lock_guard lock(m_mutex);
  truncate_locked();
}

void tk_logger::truncate_locked() noexcept {
  if (!m_enabled.load() || m_truncated.load() || m_held.load()) return;
  // An open failure still counts: the file is emptied at most once per process. Only a regular
  // file is emptied (no O_TRUNC, which would act on whatever the name reaches).
  const int fd = open_log_file(m_file_name, 0);
  if (fd < 0 || ::ftruncate(fd, 0) != 0) {
    int expected = 0;
    m_write_error.compare_exchange_strong(expected, errno);
  }
  if (fd >= 0) ::close(fd);
  m_truncated.store(true);
}

void tk_logger::append_locked(std::string_view bytes) noexcept {
  if (m_write_error.load() != 0) return;  // the log is cut at its first failure
  const int fd = open_log_file(m_file_name, O_APPEND);
  bool written = fd >= 0 && write_all(fd, bytes);
  int error = written ? 0 : errno;
  if (fd >= 0 && ::close(fd) != 0 && written) {
    written = false;
    error = errno;
  }
  if (!written) m_write_error.store(error != 0 ? error : EIO);
}

void tk_logger::hold() noexcept { m_held.store(true); }

void tk_logger::release() noexcept {
  std::lock_guard lock(m_mutex);
  if (!m_held.load()) return;
  m_held.store(false);
  truncate_locked();
  if (m_enabled.load() && !m_held_lines.empty()) append_locked(m_held_lines);
  m_held_lines.clear();
}

void tk_logger::discard() noexcept {
  std::lock_guard lock(m_mutex);
  m_enabled.store(false);
  m_held.store(false);
  m_held_lines.clear();
}

bool tk_logger::accepts(int level) noexcept {
  if (!m_enabled.load()) return false;
  truncate_once();
  return level >= m_threshold.load();
}

void tk_logger::write_line(std::string_view text) noexcept {
  try {
    std::string line;
    line.reserve(text.size() + 11);
    std::lock_guard lock(m_mutex);
    if (m_time_prefix.load()) {
      const std::tm now = m_clock ? m_clock() : local_now();
      char prefix[16];
      std::snprintf(prefix, sizeof prefix, "%02d:%02d:%02d ", now.tm_hour % 100, now.tm_min % 100,
                    now.tm_sec % 100);
      line += prefix;
    }
    line += text;
    if (m_append_crlf.load()) line += "\r\n";
    if (m_held.load())
      m_held_lines += line;
    else
      append_locked(line);  // a failure is kept, never reported here
  } catch (...) {
    // out of memory or a failing clock: the line is lost
  }
}

namespace tk_log_detail {

tk_logger* accepting_logger(int level) noexcept {
  tk_logger* logger = tk_logger::instance_ptr();
  if (!logger || !logger->accepts(level)) return nullptr;
  return logger;
}

void write_failed_format(tk_logger& logger, std::string_view format) noexcept {
  logger.write_line(format);
}

void write_failed_format(tk_logger& logger, std::wstring_view format) noexcept {
  try {
    logger.write_line(tk_format_detail::narrow(format));
  } catch (...) {
  }
}

}  // namespace tk_log_detail

#include "tk/tk_logger.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace {

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
  if (!m_enabled.load() || m_truncated.load()) return;
  std::lock_guard lock(m_mutex);
  if (m_truncated.load()) return;
  // An open failure still counts: the file is emptied at most once per process.
  if (std::FILE* file = std::fopen(m_file_name.c_str(), "wb")) std::fclose(file);
  m_truncated.store(true);
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
    std::FILE* file = std::fopen(m_file_name.c_str(), "ab");
    if (!file) return;  // logging never reports a failure
    std::fwrite(line.data(), 1, line.size(), file);
    std::fclose(file);
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

#include "udb/udb_profile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_path.h"
#include "tk/tk_string.h"
#include "udb/udb_profile_line.h"

namespace {

bool is_scalar_value(wchar_t c) {
  const auto v = static_cast<std::uint32_t>(c);
  return v <= 0x10FFFF && (v < 0xD800 || v > 0xDFFF);
}

// Text that survives the trip to UTF-8 and back as one line.
bool fits_one_line(const std::wstring& text) {
  for (wchar_t c : text)
    if (c == L'\n' || c == L'\r' || c == L'\0' || !is_scalar_value(c)) return false;
  return true;
}

bool valid_path(const std::wstring& path) {
  if (path.empty()) return false;
  for (wchar_t c : path)
    if (c == L'\0' || !is_scalar_value(c)) return false;
  return true;
}

// The line store writes for a pair.
std::wstring pair_line(const std::wstring& section, const std::wstring& key, const std::wstring& value) {
  if (section == udb_profile::selected_tables_section && value.empty()) return key;
  return key + L"=" + value;
}

bool reads_back_as_pair(const std::wstring& section, const std::wstring& key, const std::wstring& value) {
  if (!fits_one_line(key) || !fits_one_line(value)) return false;
  const udb_profile_line line = udb_parse_profile_line(pair_line(section, key, value), section);
  if (line.type == udb_profile_line::kind::pair) return line.name == key && line.value == value;
  return line.type == udb_profile_line::kind::element && value.empty() && line.name == key;
}

bool reads_back_as_section(const std::wstring& section) {
  if (!fits_one_line(section)) return false;
  const udb_profile_line line = udb_parse_profile_line(L"[" + section + L"]", L"");
  return line.type == udb_profile_line::kind::section && line.name == section;
}

bool reads_back_as_element(const std::wstring& section, const std::wstring& element) {
  if (!fits_one_line(element)) return false;
  const udb_profile_line line = udb_parse_profile_line(element, section);
  return line.type == udb_profile_line::kind::element && line.name == element;
}

void append_line(std::string& out, const std::wstring& line) {
  out += tk_to_utf8(line);
  out += "\r\n";
}

struct file_closer {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};

bool write_all(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Reads one line without its LF; false at the end of the file. A CR before the
// LF (or at the very end) is dropped.
bool read_line(std::FILE* file, std::string& line) {
  line.clear();
  int c;
  bool any = false;
  while ((c = std::getc(file)) != EOF) {
    any = true;
    if (c == '\n') break;
    line += static_cast<char>(c);
    if (line.size() > udb_profile::max_line_bytes) throw tk_exception("Profile line is too long.", tk_level_error);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return any;
}

}  // namespace

udb_profile::udb_profile() {
  add_section(available_queries_section);
  add_section(selected_tables_section);
  add_section(generic_section);
}

void udb_profile::add_section(const std::wstring& section) { m_sections.try_emplace(section); }

void udb_profile::set_value(const std::wstring& section, const std::wstring& key, const std::wstring& value) {
  if (!reads_back_as_section(section))
    throw tk_exception(tk_wformat(L"A profile cannot hold the section name '%s'.", section), tk_level_error);
  if (!reads_back_as_pair(section, key, value))
    throw tk_exception(
        tk_wformat(L"A profile cannot hold the entry '%s' of section '%s' as given (line breaks, blanks at its ends or "
                   L"'=' in the name).",
                   key, section),
        tk_level_error);
  m_sections[section].try_emplace(key, value);
}

std::wstring udb_profile::get_value(const std::wstring& section, const std::wstring& key) const {
  const auto s = m_sections.find(section);
  if (s == m_sections.end()) return {};
  const auto k = s->second.find(key);
  return k == s->second.end() ? std::wstring() : k->second;
}

std::vector<std::wstring>& udb_profile::get_list(const std::wstring& section) { return m_lists[section]; }

const udb_profile::key_values& udb_profile::get_queries() const {
  const auto s = m_sections.find(available_queries_section);
  if (s == m_sections.end()) throw tk_exception_ex();
  return s->second;
}

const udb_profile::key_values& udb_profile::get_sel_tables() const {
  const auto s = m_sections.find(selected_tables_section);
  if (s == m_sections.end()) throw tk_exception_ex();
  return s->second;
}

bool udb_profile::store(const std::wstring& path) const {
  tk_log(2, "udb_profile::store)");
  if (!valid_path(path)) return false;
  const std::string target = tk_to_utf8(path);

  std::string data;
  for (const auto& [section, pairs] : m_sections) {
    append_line(data, L"[" + section + L"]");
    for (const auto& [key, value] : pairs) append_line(data, pair_line(section, key, value));
    data += "\r\n";
  }
  for (const auto& [section, elements] : m_lists) {
    if (!reads_back_as_section(section)) {
      tk_wlog(3, L"A profile cannot hold the section name '%s'.", section);
      return false;
    }
    append_line(data, L"[" + section + L"]");
    for (const auto& element : elements) {
      if (!reads_back_as_element(section, element)) {
        tk_wlog(3, L"A profile cannot hold the line '%s' of section '%s'.", element, section);
        return false;
      }
      append_line(data, element);
    }
  }

  // A temporary beside the target, renamed over it: a failed write leaves the
  // old profile whole. mkstemp creates it with mode 0600.
  std::string temp = target + ".XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    tk_log(3, "Cannot write the profile %s: %s", target, std::strerror(errno));
    return false;
  }
  bool ok = write_all(fd, data) && ::fsync(fd) == 0;
  int error = ok ? 0 : errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    tk_log(3, "Cannot write the profile %s: %s", target, std::strerror(error));
  }
  return ok;
}

bool udb_profile::load(const std::wstring& path) {
  tk_wlog(2, L"udb_profile::load(%s)", path);
  const std::string file_name = tk_to_utf8(path);
  struct stat st {};
  // A regular file first: opening a device to test it can act on it.
  if (!valid_path(path) || ::stat(file_name.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
      !tk_is_file_exist(file_name, tk_file_readable))
    throw tk_exception("Profile does not exist. Please verify the correct path/name was given.", tk_level_error);

  std::unique_ptr<std::FILE, file_closer> file(std::fopen(file_name.c_str(), "rb"));
  if (!file) return false;

  std::optional<std::wstring> current;
  std::string raw;
  bool first = true;
  while (read_line(file.get(), raw)) {
    if (first && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) raw.erase(0, 3);
    first = false;
    const udb_profile_line line = udb_parse_profile_line(tk_utf8_to_unicode(raw), current.value_or(L""));
    switch (line.type) {
      case udb_profile_line::kind::empty:
        break;
      case udb_profile_line::kind::section:
        current = line.name;
        add_section(line.name);
        break;
      case udb_profile_line::kind::pair:
        if (!current) return false;
        m_sections[*current].try_emplace(line.name, line.value);
        break;
      case udb_profile_line::kind::element:
        if (!current) return false;
        m_lists[*current].push_back(line.name);
        m_sections[*current].try_emplace(line.name, L"");
        break;
    }
  }
  return std::ferror(file.get()) == 0;
}

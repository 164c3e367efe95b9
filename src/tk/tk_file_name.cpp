#include "tk/tk_file_name.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_string.h"

namespace fs = std::filesystem;

namespace {

struct split_parts {
  std::string dir, name, ext;
};

// The directory keeps its trailing '/'; the extension starts at the last '.'
// of the last component, so "/opt/app.d/corvel" has none.
split_parts split_path(const std::string& full) {
  split_parts parts;
  const std::size_t slash = full.rfind('/');
  std::string last = full;
  if (slash != std::string::npos) {
    parts.dir = full.substr(0, slash + 1);
    last = full.substr(slash + 1);
  }
  const std::size_t dot = last.rfind('.');
  if (dot == std::string::npos) {
    parts.name = last;
  } else {
    parts.name = last.substr(0, dot);
    parts.ext = last.substr(dot);
  }
  return parts;
}

std::string make_path(const std::string& drive, const std::string& dir, const std::string& name,
                      const std::string& ext) {
  std::string full = drive + dir;
  if (!dir.empty() && dir.back() != '/') full += '/';
  full += name;
  if (!ext.empty() && ext.front() != '.') full += '.';
  full += ext;
  return full;
}

bool is_regular_file(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string read_module_path(int failure_line) {
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) TK_ASSERT_SITE("tk_utils", failure_line);
    if (static_cast<std::size_t>(n) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(n));
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

tk_file_name::tk_file_name(const char* path) {
  tk_log(1, "tk_file_name::ctor(%s)", path ? path : "(null)");
  initialize(path, 31, 39);
}

void tk_file_name::initialize(const char* path, int null_line, int fullpath_line) {
  if (path == nullptr) TK_ASSERT_SITE("tk_fname", null_line);
  std::string full;
  const bool own_program = path[0] == '\0';
  if (own_program) {
    full = tk_get_module_file_name();
  } else {
    std::error_code ec;
    const fs::path absolute = fs::absolute(fs::path(path), ec);
    if (ec) TK_ASSERT_SITE("tk_fname", fullpath_line);
    full = absolute.lexically_normal().string();
  }
  split_parts parts = split_path(full);
  m_drive.clear();
  m_dir = std::move(parts.dir);
  m_name = own_program ? std::string() : std::move(parts.name);
  m_ext = std::move(parts.ext);
}

std::string tk_file_name::get_full_name() const { return make_path(m_drive, m_dir, m_name, m_ext); }

std::string tk_file_name::get_path() const { return m_drive + m_dir; }

namespace {
// Gives the narrow splitter the wide form's assertion lines.
class wide_split : public tk_file_name {
 public:
  explicit wide_split(const char* path) { initialize(path, 81, 89); }
};
}  // namespace

tk_file_wname::tk_file_wname(const wchar_t* path) {
  tk_wlog(1, L"tk_file_name::ctor(%s)", path ? path : L"(null)");
  initialize(path);
}

void tk_file_wname::initialize(const wchar_t* path) {
  if (path == nullptr) TK_ASSERT_SITE("tk_fname", 81);
  tk_wlog(1, L"tk_file_wname::initialize(%s)", path);
  const std::string narrow = tk_to_utf8(path);
  const wide_split parts(narrow.c_str());
  m_ext = tk_utf8_to_unicode(parts.ext());
  m_drive = tk_utf8_to_unicode(parts.drive());
  m_name = tk_utf8_to_unicode(parts.name());
  m_dir = tk_utf8_to_unicode(parts.dir());
}

std::wstring tk_file_wname::get_full_name() const {
  return tk_utf8_to_unicode(make_path(tk_to_utf8(m_drive), tk_to_utf8(m_dir), tk_to_utf8(m_name), tk_to_utf8(m_ext)));
}

std::wstring tk_file_wname::get_path() const { return m_drive + m_dir; }

std::string tk_get_module_file_name() { return read_module_path(116); }

std::wstring tk_get_module_file_wname() { return tk_utf8_to_unicode(read_module_path(129)); }

std::string tk_get_module_dir() {
  const std::string full = tk_get_module_file_name();
  return full.substr(0, full.rfind('/') + 1);
}

std::string tk_get_program_file(const std::string& file_name) {
  const std::string dir = tk_get_module_dir();
  const std::string beside = dir + file_name;
  if (is_regular_file(beside)) return beside;
  const std::string shared = (fs::path(dir) / ".." / "share" / "tamarind" / file_name).lexically_normal().string();
  if (is_regular_file(shared)) return shared;
  return beside;
}

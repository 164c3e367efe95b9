#pragma once
// File names taken apart and put together again, and the program's own path.
// Paths use '/' and have no length limit; there is no drive (that part stays
// empty and is kept only so the four parts line up with stored names).

#include <string>

/// A path split into extension (with its "."), drive, name and directory (with
/// its trailing '/'). The path is made absolute and normalised lexically first
/// (links are not resolved, so a file that does not exist yet splits as well).
class tk_file_name {
 public:
  /// A null path is an internal error. An empty path splits the program's own
  /// path and leaves the name empty.
  explicit tk_file_name(const char* path);
  explicit tk_file_name(const std::string& path) : tk_file_name(path.c_str()) {}

  /// drive + directory + name + extension; a directory without its '/' and an
  /// extension without its '.' get one.
  std::string get_full_name() const;
  /// drive + directory: the folder of the file, ending with '/'.
  std::string get_path() const;

  const std::string& ext() const noexcept { return m_ext; }
  const std::string& drive() const noexcept { return m_drive; }
  const std::string& name() const noexcept { return m_name; }
  const std::string& dir() const noexcept { return m_dir; }
  void set_ext(std::string ext) { m_ext = std::move(ext); }
  void set_name(std::string name) { m_name = std::move(name); }
  void set_dir(std::string dir) { m_dir = std::move(dir); }

 protected:
  tk_file_name() = default;
  /// Splits `path`; the assertion lines are the caller's (narrow or wide form).
  void initialize(const char* path, int null_line, int fullpath_line);

 private:
  std::string m_ext;
  std::string m_drive;
  std::string m_name;
  std::string m_dir;
};

/// The same four parts as wide text.
class tk_file_wname {
 public:
  explicit tk_file_wname(const wchar_t* path);
  explicit tk_file_wname(const std::wstring& path) : tk_file_wname(path.c_str()) {}

  std::wstring get_full_name() const;
  std::wstring get_path() const;

  const std::wstring& ext() const noexcept { return m_ext; }
  const std::wstring& drive() const noexcept { return m_drive; }
  const std::wstring& name() const noexcept { return m_name; }
  const std::wstring& dir() const noexcept { return m_dir; }
  void set_ext(std::wstring ext) { m_ext = std::move(ext); }
  void set_name(std::wstring name) { m_name = std::move(name); }
  void set_dir(std::wstring dir) { m_dir = std::move(dir); }

 private:
  void initialize(const wchar_t* path);

  std::wstring m_ext;
  std::wstring m_drive;
  std::wstring m_name;
  std::wstring m_dir;
};

/// The running program's full path (from /proc/self/exe); failure is an internal error.
std::string tk_get_module_file_name();
std::wstring tk_get_module_file_wname();
/// The program's folder, ending with '/'.
std::string tk_get_module_dir();

/// A file shipped with the program: beside the executable when it is there,
/// else in <program folder>/../share/tamarind when it is there; when neither
/// exists, the path beside the executable (so messages name that place).
std::string tk_get_program_file(const std::string& file_name);

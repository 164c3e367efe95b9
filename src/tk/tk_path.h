#pragma once
// Existence tests for files and folders, and a scoped change of the current
// folder. They report by result and log only; nothing here throws.

#include <string>

/// Mode for tk_is_file_exist: the file exists and opens for reading.
constexpr int tk_file_readable = 0x4000;
/// Mode for tk_is_file_exist: the file exists and opens for reading and writing.
constexpr int tk_file_writable = 1;

/// True when `path` names an existing file (not a folder) that opens for
/// reading, or for reading and writing when mode is 1. Never blocks on a FIFO.
bool tk_is_file_exist(const char* path, int mode);
bool tk_is_file_exist(const std::string& path, int mode);
bool tk_is_file_exist(const wchar_t* path, int mode);
bool tk_is_file_exist(const std::wstring& path, int mode);

/// True when `path` names something that is neither a regular file nor a folder: a FIFO, a
/// socket or a device, which may block or never end when read or written. Nothing is opened.
bool tk_is_special_file(const std::string& path);

/// True when both paths reach the same existing file (same device and inode), also through
/// symbolic and hard links. A path that names nothing is the same as no other.
bool tk_is_same_file(const std::string& first, const std::string& second);

/// True when `dir` is a folder the program could change into. The current
/// folder of the process is not touched, so a worker thread may call it.
bool tk_is_path_exist(const std::string& dir);

/// Changes the current folder for its lifetime and changes back afterwards.
/// An empty folder means the program's own folder. The current folder belongs
/// to the whole process: use it only where no other thread depends on it.
class tk_temp_chdir {
 public:
  explicit tk_temp_chdir(const std::string& dir);
  ~tk_temp_chdir();
  tk_temp_chdir(const tk_temp_chdir&) = delete;
  tk_temp_chdir& operator=(const tk_temp_chdir&) = delete;

  bool succeeded() const noexcept { return m_success; }

 private:
  void initialize(const std::string& dir);

  bool m_success = true;
  std::string m_saved_dir;
};

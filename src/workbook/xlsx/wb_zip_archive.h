#pragma once
// Read-only access to the parts of a ZIP package, each streamed with the inflation caps checked.
#include <zip.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "workbook/xlsx/wb_raw_inflate.h"

class wb_zip_archive {
 public:
  /// Opens `path` (throws 3274 when it is no readable ZIP).
  explicit wb_zip_archive(const std::string& path);
  /// Opens a package held in memory (a copy of `bytes` is kept); `name` stands for the path in
  /// errors.
  wb_zip_archive(const std::string& name, std::string_view bytes);
  ~wb_zip_archive();
  wb_zip_archive(const wb_zip_archive&) = delete;
  wb_zip_archive& operator=(const wb_zip_archive&) = delete;

  /// The entry named exactly `name`, else one named so case-insensitively, else one whose name
  /// says so with backslashes for slashes (some writers use them as folder separators).
  std::optional<zip_uint64_t> find(std::string_view name) const;
  const std::string& path() const { return path_; }
  zip_t* handle() const { return zip_; }
  /// Held around every use of the handle: parts of one archive may be read from several threads
  /// (a sheet decoded ahead on a worker while another part is opened), and the handle is not
  /// safe for that.
  std::mutex& lock() const { return mutex_; }

 private:
  void index_backslash_names();

  std::string path_;
  std::string bytes_;  // the package when opened from memory
  zip_t* zip_ = nullptr;
  mutable std::mutex mutex_;
  // Entries named with backslashes: the name with slashes and ASCII letters lowered, and the entry.
  std::unordered_map<std::string, zip_uint64_t> backslash_names_;
};

/// Streams one part's inflated bytes; every read checks the declared size, the part cap and the
/// inflation ratio, and a CRC or inflation failure is 3274. Deflated parts are inflated by
/// wb_raw_inflate from their raw bytes, others (stored ones) by libzip.
class wb_zip_part_stream {
 public:
  wb_zip_part_stream(const wb_zip_archive& archive, zip_uint64_t index, std::uint64_t max_bytes);
  ~wb_zip_part_stream();
  wb_zip_part_stream(const wb_zip_part_stream&) = delete;
  wb_zip_part_stream& operator=(const wb_zip_part_stream&) = delete;

  /// Up to `size` bytes into `buffer`; 0 at the part's end.
  std::size_t read(char* buffer, std::size_t size);
  const std::string& name() const { return name_; }

  /// From now on a worker thread inflates a few chunks ahead of read(), which hands out the same
  /// bytes, and a failure once the bytes inflated before it are read. For long parts read whole.
  void inflate_ahead();

 private:
  struct ahead_state;
  std::size_t inflate(char* buffer, std::size_t size);
  /// The entry's bytes as libzip hands them: raw when opened so, else inflated and checked.
  std::size_t read_entry(char* buffer, std::size_t size);
  void inflate_ahead_work();

  const wb_zip_archive& archive_;
  std::string name_;
  zip_file_t* file_ = nullptr;
  std::uint64_t declared_ = 0;
  std::uint64_t read_ = 0;
  std::unique_ptr<wb_raw_inflate> raw_;
  std::unique_ptr<ahead_state> ahead_;
};

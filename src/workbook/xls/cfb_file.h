#pragma once
// The compound-document container: header, FAT, DIFAT, directory, mini stream. Every sector number,
// chain and size read from the file is checked before use; damage throws wb_xls_unreadable.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/xls/byte_source.h"

/// One stream of the container, read at any offset. Large streams stay on disk (only their sector
/// list is held); streams under the mini-stream cutoff are held in memory.
class wb_cfb_stream {
 public:
  std::uint64_t size() const { return size_; }
  /// Reads `len` bytes at `offset` of the stream; throws wb_xls_unreadable past its end or the file's.
  void read(std::uint64_t offset, void* dst, std::size_t len) const;

 private:
  friend class wb_cfb_file;
  wb_byte_source* source_ = nullptr;
  std::uint64_t size_ = 0;
  std::uint32_t sector_size_ = 0;
  std::vector<std::uint32_t> sectors_;  // large stream: its sectors in order
  std::string bytes_;                   // small stream: its content
};

class wb_cfb_file {
 public:
  /// True when the source starts with the compound-document signature.
  static bool has_signature(wb_byte_source& source);

  /// Reads header, FAT and directory. The source must outlive this object and its streams.
  explicit wb_cfb_file(wb_byte_source& source);

  /// True when the root storage holds a stream of that name (compared case-insensitively).
  bool has_stream(std::string_view name) const;
  /// Opens a stream of the root storage; nullopt when there is none of that name.
  std::optional<wb_cfb_stream> open_stream(std::string_view name) const;

 private:
  struct entry {
    std::string name;  // UTF-8
    std::uint8_t type = 0;
    std::uint32_t left = 0, right = 0, child = 0;
    std::uint32_t start = 0;
    std::uint64_t size = 0;
  };

  void read_header();
  void read_fat();
  void read_directory();
  std::vector<std::uint32_t> chain(std::uint32_t start, std::uint64_t max_sectors, const char* what) const;
  std::vector<std::uint32_t> full_chain(std::uint32_t start, const char* what) const;
  const entry* find_root_child(std::string_view name) const;
  void read_sector(std::uint32_t sector, std::uint32_t offset, void* dst, std::size_t len) const;
  std::string read_small_stream(const entry& e) const;

  wb_byte_source& source_;
  std::uint32_t sector_size_ = 512;
  std::uint64_t sector_count_ = 0;  // sectors the file holds, a partial last one included
  std::uint32_t fat_sector_count_ = 0;
  std::uint32_t first_directory_ = 0;
  std::uint32_t mini_cutoff_ = 4096;
  std::uint32_t first_mini_fat_ = 0;
  std::uint32_t mini_fat_sector_count_ = 0;
  std::uint32_t first_difat_ = 0;
  std::uint32_t difat_sector_count_ = 0;
  bool version4_ = false;
  std::vector<std::uint32_t> header_difat_;
  std::vector<std::uint32_t> fat_;
  std::vector<entry> entries_;
};

#pragma once
// Random access to the bytes of a compound document: a file read with pread, or a buffer (tests, fuzzing).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class wb_byte_source {
 public:
  virtual ~wb_byte_source() = default;
  virtual std::uint64_t size() const = 0;
  /// Reads exactly `len` bytes at `offset`; false when they are not all there.
  virtual bool read_at(std::uint64_t offset, void* dst, std::size_t len) = 0;
};

/// Opens `path` read-only; throws wb_error 3024 when it does not exist, 3051 when it cannot be opened.
std::unique_ptr<wb_byte_source> wb_open_file_source(const std::string& path);
std::unique_ptr<wb_byte_source> wb_memory_source(std::string bytes);

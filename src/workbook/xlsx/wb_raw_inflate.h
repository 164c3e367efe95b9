#pragma once
// Inflates a ZIP entry's raw deflate data (read through libzip without its own inflation) with
// ISA-L's igzip, several times as fast as zlib on worksheet XML, and checks what libzip checks
// when it inflates: the CRC-32 and the sizes the ZIP directory declares.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class wb_raw_inflate {
 public:
  /// Reads up to `size` compressed bytes into `buffer`; 0 only when they are all read.
  using compressed_reader = std::function<std::size_t(char* buffer, std::size_t size)>;

  /// `compressed` and `declared` are the sizes of part `name` of package `path`, `crc` its CRC-32.
  /// Damaged data is 3274 ("part '<name>' is damaged (<reason>)").
  wb_raw_inflate(std::uint64_t compressed, std::uint64_t declared, std::uint32_t crc, compressed_reader read,
                 const std::string& path, const std::string& name);
  ~wb_raw_inflate();
  wb_raw_inflate(const wb_raw_inflate&) = delete;
  wb_raw_inflate& operator=(const wb_raw_inflate&) = delete;

  /// Up to `size` inflated bytes into `buffer`; 0 at the end, once the CRC and the size matched.
  /// At most one byte past the declared size is ever produced, which the caller takes as too long.
  std::size_t inflate(char* buffer, std::size_t size);

 private:
  struct state;
  std::unique_ptr<state> s_;
};

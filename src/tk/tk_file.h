#pragma once
// A small random-access file: reads and writes of byte blocks at offsets, used
// to read a workbook's header. Offsets and lengths are 64-bit.

#include <cstdint>
#include <cstdio>
#include <string>

/// Mode bits of tk_file.
constexpr int tk_file_mode_write = 1;   // open for reading and writing
constexpr int tk_file_mode_create = 3;  // both bits: create or empty the file

class tk_file {
 public:
  /// An empty name is an internal error. Without the write bit, a file that
  /// does not exist readably is "Bad path or busy with another process".
  tk_file(const std::string& name, int mode);
  virtual ~tk_file();
  tk_file(const tk_file&) = delete;
  tk_file& operator=(const tk_file&) = delete;

  /// Reads exactly `length` bytes at `offset`; a range beyond the end throws.
  virtual void get_at(std::uint64_t offset, void* buffer, std::uint64_t length) = 0;
  /// Little-endian 16- and 32-bit values at an offset, read through get_at.
  virtual std::uint16_t get_word_at(std::uint64_t offset) = 0;
  virtual std::uint32_t get_dword_at(std::uint64_t offset) = 0;
  /// Writes the bytes at `offset`; a gap after the end is filled with zero bytes.
  virtual void put_at(std::uint64_t offset, const void* buffer, std::uint64_t length) = 0;
  virtual std::uint64_t get_length() = 0;

  const std::string& file_name() const noexcept { return m_file_name; }
  int mode() const noexcept { return m_mode; }

 protected:
  std::FILE* m_file = nullptr;
  int m_mode;
  std::string m_file_name;  // absolute and normalised
};

/// tk_file over the C library's buffered files.
class tk_stdio_file : public tk_file {
 public:
  /// Opens "w+b" with both mode bits, "r+b" with the write bit, else "rb";
  /// failure throws "Error opening file".
  tk_stdio_file(const std::string& name, int mode);
  ~tk_stdio_file() override;

  void get_at(std::uint64_t offset, void* buffer, std::uint64_t length) override;
  std::uint16_t get_word_at(std::uint64_t offset) override;
  std::uint32_t get_dword_at(std::uint64_t offset) override;
  void put_at(std::uint64_t offset, const void* buffer, std::uint64_t length) override;
  std::uint64_t get_length() override;

 private:
  void seek(std::uint64_t offset, const char* failure_text);
};

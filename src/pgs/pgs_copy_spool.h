#pragma once
// The COPY lines of the open stream, kept in an anonymous temporary file so that the part the server
// refused can be sent again. Memory holds only an offset and a record number per line.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class pgs_copy_spool {
 public:
  /// The file (already unlinked) is created when lines first go to it, by append() or read();
  /// a failure to create it is a level-0 tk_exception there.
  pgs_copy_spool();
  ~pgs_copy_spool();
  pgs_copy_spool(const pgs_copy_spool&) = delete;
  pgs_copy_spool& operator=(const pgs_copy_spool&) = delete;

  /// Stores one line (without its line end) of the given record. A write failure throws.
  void append(std::string_view line, int record_number);
  /// Forgets every line; the file is reused from its start.
  void clear();

  std::size_t size() const { return records.size(); }
  std::uint64_t bytes() const { return end; }
  int record_number(std::size_t line) const { return records[line]; }

  /// Calls `sink` with lines [first, last) in order (each without its line end).
  void read(std::size_t first, std::size_t last, const std::function<void(const std::string&)>& sink);

 private:
  void flush();

  std::FILE* file = nullptr;
  std::string buffer;         // lines not yet in the file
  std::uint64_t written = 0;  // bytes in the file
  std::uint64_t end = 0;      // bytes in the file and the buffer
  std::vector<std::uint64_t> offsets;  // start of each line
  std::vector<int> records;
};

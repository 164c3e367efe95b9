#pragma once
// The BIFF8 record stream of a workbook stream: records read one at a time through a small buffer,
// each checked against the stream's end and the format's record length limit.
#include <cstdint>
#include <string>
#include <vector>

#include "workbook/xls/cfb_file.h"

namespace wb_biff {
constexpr std::uint16_t formula = 0x0006;
constexpr std::uint16_t eof = 0x000A;
constexpr std::uint16_t datemode = 0x0022;
constexpr std::uint16_t codepage = 0x0042;
constexpr std::uint16_t filepass = 0x002F;
constexpr std::uint16_t continue_record = 0x003C;
constexpr std::uint16_t boundsheet = 0x0085;
constexpr std::uint16_t mulrk = 0x00BD;
constexpr std::uint16_t rstring = 0x00D6;
constexpr std::uint16_t xf = 0x00E0;
constexpr std::uint16_t sst = 0x00FC;
constexpr std::uint16_t labelsst = 0x00FD;
constexpr std::uint16_t number = 0x0203;
constexpr std::uint16_t label = 0x0204;
constexpr std::uint16_t boolerr = 0x0205;
constexpr std::uint16_t string_result = 0x0207;
constexpr std::uint16_t array_formula = 0x0221;
constexpr std::uint16_t table_formula = 0x0236;
constexpr std::uint16_t rk = 0x027E;
constexpr std::uint16_t format = 0x041E;
constexpr std::uint16_t shared_formula = 0x04BC;
constexpr std::uint16_t bof = 0x0809;
// BOF records of the versions before BIFF5.
constexpr std::uint16_t bof_biff2 = 0x0009;
constexpr std::uint16_t bof_biff3 = 0x0209;
constexpr std::uint16_t bof_biff4 = 0x0409;

/// The longest record the format allows.
constexpr std::uint16_t max_record_length = 8224;
}  // namespace wb_biff

class wb_biff_records {
 public:
  wb_biff_records(const wb_cfb_stream& stream, std::uint64_t start);

  /// Moves to the next record; false at the end of the stream (fewer than 4 bytes left).
  /// Throws wb_xls_unreadable for a record longer than the limit or running past the stream.
  bool next();
  /// Makes the record at stream offset `pos` the next one read.
  void seek(std::uint64_t pos) { pos_ = pos; }

  std::uint16_t type() const { return type_; }
  std::uint16_t length() const { return length_; }
  const unsigned char* data() const { return payload_.data(); }
  /// Stream offset of the current record's header.
  std::uint64_t offset() const { return offset_; }

 private:
  void fill(std::uint64_t at, void* dst, std::size_t len);

  const wb_cfb_stream& stream_;
  std::uint64_t pos_;
  std::uint64_t offset_ = 0;
  std::uint16_t type_ = 0;
  std::uint16_t length_ = 0;
  std::vector<unsigned char> payload_;
  std::vector<unsigned char> buffer_;
  std::uint64_t buffer_start_ = 0;
  std::size_t buffer_len_ = 0;
};

/// Reads fields of one record's payload, checking each against its length.
class wb_biff_cursor {
 public:
  wb_biff_cursor(const unsigned char* data, std::size_t length) : p_(data), n_(length) {}
  explicit wb_biff_cursor(const wb_biff_records& r) : p_(r.data()), n_(r.length()) {}
  std::uint8_t u8();
  std::uint16_t u16();
  std::uint32_t u32();
  double f64();
  void skip(std::size_t count);
  const unsigned char* take(std::size_t count);
  std::size_t left() const { return n_ - pos_; }

 private:
  void need(std::size_t count) const;
  const unsigned char* p_;
  std::size_t n_;
  std::size_t pos_ = 0;
};

/// Reads a string whose characters follow in the cursor: `chars` characters, one byte each
/// (Latin-1) unless `flags` bit 0 says UTF-16LE. Appends UTF-8 to `out`.
void wb_biff_read_chars(wb_biff_cursor& c, std::uint32_t chars, std::uint8_t flags, std::string& out);

/// Reads an unformatted string with a 16-bit (or 8-bit) character count and an option byte,
/// wholly inside the record.
void wb_biff_read_string(wb_biff_cursor& c, bool short_count, std::string& out);

/// A run of records that continues into CONTINUE records (shared strings, a formula's STRING
/// result): bytes are read across the record boundaries, and characters resume after a fresh option
/// byte at each one.
class wb_biff_continued {
 public:
  /// Starts inside the current record of `records`, at byte `pos`.
  wb_biff_continued(wb_biff_records& records, std::size_t pos) : r_(records), pos_(pos) {}
  std::uint8_t u8();
  std::uint16_t u16();
  std::uint32_t u32();
  void skip(std::uint64_t count);
  /// True when no byte is left in the record nor in CONTINUE records after it. A record after them
  /// is left to be read next.
  bool exhausted();
  /// Reads the characters of an XLUnicodeRichExtendedString-like string whose header is read.
  void chars(std::uint32_t count, std::uint8_t flags, std::string& out);

 private:
  void next_record();
  wb_biff_records& r_;
  std::size_t pos_;
};

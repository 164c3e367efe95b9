#include "workbook/xls/biff_records.h"

#include <algorithm>
#include <cstring>

#include "workbook/wb_limits.h"
#include "workbook/xls/utf8_text.h"
#include "workbook/xls/xls_failure.h"

namespace {
constexpr std::size_t buffer_size = 64 * 1024;
constexpr std::size_t jump_window = 512;

std::uint16_t le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

void check_text_length(std::uint32_t chars) {
  if (chars > wb_max_text_chars)
    throw wb_xls_unreadable("a text is longer than the limit of " + std::to_string(wb_max_text_chars) +
                            " characters");
}
}  // namespace

wb_biff_records::wb_biff_records(const wb_cfb_stream& stream, std::uint64_t start)
    : stream_(stream), pos_(start), payload_(wb_biff::max_record_length), buffer_(buffer_size) {}

void wb_biff_records::fill(std::uint64_t at, void* dst, std::size_t len) {
  if (at >= buffer_start_ && at + len <= buffer_start_ + buffer_len_) {
    std::memcpy(dst, buffer_.data() + (at - buffer_start_), len);
    return;
  }
  // Reading on from the buffer streams a whole buffer ahead; a jump elsewhere (a sheet read in row
  // order from a file that stores its rows otherwise) reads a small window around the record.
  const bool onward = at >= buffer_start_ && at <= buffer_start_ + buffer_len_;
  const std::size_t window = onward ? buffer_size : std::max(len, jump_window);
  std::uint64_t rest = stream_.size() - at;  // callers checked at + len <= size
  buffer_len_ = static_cast<std::size_t>(std::min<std::uint64_t>(window, rest));
  buffer_start_ = at;
  stream_.read(at, buffer_.data(), buffer_len_);
  std::memcpy(dst, buffer_.data(), len);
}

bool wb_biff_records::next() {
  std::uint64_t size = stream_.size();
  if (pos_ > size || size - pos_ < 4) return false;
  unsigned char head[4];
  fill(pos_, head, 4);
  offset_ = pos_;
  type_ = le16(head);
  length_ = le16(head + 2);
  if (length_ > wb_biff::max_record_length)
    throw wb_xls_unreadable("record of " + std::to_string(length_) + " bytes is longer than the limit of " +
                            std::to_string(wb_biff::max_record_length));
  if (size - pos_ - 4 < length_) throw wb_xls_unreadable("a record runs past the end of its stream");
  if (length_ > 0) fill(pos_ + 4, payload_.data(), length_);
  pos_ += 4 + length_;
  return true;
}

void wb_biff_cursor::need(std::size_t count) const {
  if (count > n_ - pos_) throw wb_xls_unreadable("a record is shorter than its content");
}
std::uint8_t wb_biff_cursor::u8() {
  need(1);
  return p_[pos_++];
}
std::uint16_t wb_biff_cursor::u16() {
  need(2);
  std::uint16_t v = le16(p_ + pos_);
  pos_ += 2;
  return v;
}
std::uint32_t wb_biff_cursor::u32() {
  std::uint32_t lo = u16();
  std::uint32_t hi = u16();
  return lo | (hi << 16);
}
double wb_biff_cursor::f64() {
  need(8);
  double d;
  std::memcpy(&d, p_ + pos_, 8);  // little-endian hosts only, as everything we build for
  pos_ += 8;
  return d;
}
void wb_biff_cursor::skip(std::size_t count) {
  need(count);
  pos_ += count;
}
const unsigned char* wb_biff_cursor::take(std::size_t count) {
  need(count);
  const unsigned char* at = p_ + pos_;
  pos_ += count;
  return at;
}

void wb_biff_read_chars(wb_biff_cursor& c, std::uint32_t chars, std::uint8_t flags, std::string& out) {
  check_text_length(chars);
  wb_utf8_builder b(out);
  if (flags & 0x01) {
    const unsigned char* p = c.take(static_cast<std::size_t>(chars) * 2);
    for (std::uint32_t i = 0; i < chars; ++i) b.put_utf16(static_cast<char16_t>(le16(p + 2 * i)));
  } else {
    const unsigned char* p = c.take(chars);
    for (std::uint32_t i = 0; i < chars; ++i) b.put_latin1(p[i]);
  }
  b.finish();
}

void wb_biff_read_string(wb_biff_cursor& c, bool short_count, std::string& out) {
  std::uint32_t chars = short_count ? c.u8() : c.u16();
  // Writers end the record after the count of an empty string: its option byte is then absent.
  if (chars == 0 && c.left() == 0) return;
  std::uint8_t flags = c.u8();
  wb_biff_read_chars(c, chars, flags, out);
}

void wb_biff_continued::next_record() {
  if (!r_.next() || r_.type() != wb_biff::continue_record)
    throw wb_xls_unreadable("a string runs past its record");
  pos_ = 0;
}
std::uint8_t wb_biff_continued::u8() {
  while (pos_ >= r_.length()) next_record();
  return r_.data()[pos_++];
}
std::uint16_t wb_biff_continued::u16() {
  std::uint16_t lo = u8();
  return static_cast<std::uint16_t>(lo | (u8() << 8));
}
std::uint32_t wb_biff_continued::u32() {
  std::uint32_t lo = u16();
  return lo | (static_cast<std::uint32_t>(u16()) << 16);
}
void wb_biff_continued::skip(std::uint64_t count) {
  while (count > 0) {
    while (pos_ >= r_.length()) next_record();
    std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(count, r_.length() - pos_));
    pos_ += take;
    count -= take;
  }
}
bool wb_biff_continued::exhausted() {
  while (pos_ >= r_.length()) {
    if (!r_.next()) return true;
    if (r_.type() != wb_biff::continue_record) {
      r_.seek(r_.offset());
      return true;
    }
    pos_ = 0;
  }
  return false;
}
void wb_biff_continued::chars(std::uint32_t count, std::uint8_t flags, std::string& out) {
  check_text_length(count);
  wb_utf8_builder b(out);
  bool wide = flags & 0x01;
  for (std::uint32_t done = 0; done < count;) {
    if (pos_ >= r_.length()) {
      // The characters go on in a CONTINUE record that starts with its own option byte.
      do next_record(); while (r_.length() == 0);
      wide = r_.data()[0] & 0x01;
      pos_ = 1;
      continue;
    }
    const unsigned char* p = r_.data();
    std::size_t avail = r_.length() - pos_;
    std::uint32_t fit = static_cast<std::uint32_t>(wide ? avail / 2 : avail);
    if (fit == 0) throw wb_xls_unreadable("a character is split between two records");
    std::uint32_t n = std::min(fit, count - done);
    if (wide) {
      for (std::uint32_t i = 0; i < n; ++i) b.put_utf16(static_cast<char16_t>(le16(p + pos_ + 2 * i)));
      pos_ += 2 * static_cast<std::size_t>(n);
    } else {
      for (std::uint32_t i = 0; i < n; ++i) b.put_latin1(p[pos_ + i]);
      pos_ += n;
    }
    done += n;
  }
  b.finish();
}

#include "workbook/xlsx/wb_raw_inflate.h"

#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "workbook/wb_errors.h"

namespace {

// Compressed bytes read at once: the archive's lock is held only for these reads.
constexpr std::size_t compressed_chunk = 64 * 1024;

}  // namespace

struct wb_raw_inflate::state {
  inflate_state isal;
  std::vector<unsigned char> input = std::vector<unsigned char>(compressed_chunk);
  std::uint64_t compressed_left, declared, produced = 0;
  std::uint32_t crc;
  compressed_reader read;
  std::string path, name;
  bool ended = false;
  bool input_spent = false;  // every compressed byte is read and inflated, the stream unfinished

  [[noreturn]] void fail(const char* reason) const {
    throw wb_unreadable(path, "part '" + name + "' is damaged (" + reason + ")");
  }
};

wb_raw_inflate::wb_raw_inflate(std::uint64_t compressed, std::uint64_t declared, std::uint32_t crc,
                               compressed_reader read, const std::string& path, const std::string& name)
    : s_(std::make_unique<state>()) {
  s_->compressed_left = compressed;
  s_->declared = declared;
  s_->crc = crc;
  s_->read = std::move(read);
  s_->path = path;
  s_->name = name;
  isal_inflate_init(&s_->isal);
  s_->isal.crc_flag = ISAL_GZIP_NO_HDR;  // raw deflate, the gzip (= ZIP) CRC-32 kept of the output
}

wb_raw_inflate::~wb_raw_inflate() = default;

std::size_t wb_raw_inflate::inflate(char* buffer, std::size_t size) {
  state& s = *s_;
  if (s.ended || size == 0) return 0;
  // One byte past the declared size at most, so a part that inflates to more is caught.
  size = static_cast<std::size_t>(std::min<std::uint64_t>(size, s.declared - s.produced + 1));
  size = std::min<std::size_t>(size, std::numeric_limits<std::uint32_t>::max());
  inflate_state& z = s.isal;
  z.next_out = reinterpret_cast<std::uint8_t*>(buffer);
  z.avail_out = static_cast<std::uint32_t>(size);
  while (z.avail_out > 0 && z.block_state != ISAL_BLOCK_FINISH) {
    if (z.avail_in == 0 && s.compressed_left > 0) {
      const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(s.input.size(), s.compressed_left));
      const std::size_t got = s.read(reinterpret_cast<char*>(s.input.data()), want);
      if (got == 0 || got > want) s.fail("the compressed data ends early");
      s.compressed_left -= got;
      z.next_in = s.input.data();
      z.avail_in = static_cast<std::uint32_t>(got);
    }
    const std::uint32_t in_before = z.avail_in, out_before = z.avail_out;
    const int status = isal_inflate(&z);
    if (status != ISAL_DECOMP_OK) s.fail("invalid deflate data");
    if (z.block_state == ISAL_BLOCK_FINISH) break;
    if (z.avail_in == in_before && z.avail_out == out_before) {
      if (z.avail_in > 0) s.fail("invalid deflate data");
      // The stream wants input there is no more of. libzip ends a part there too and lets the
      // CRC and the size decide, so a stream that lacks only its last block still reads.
      if (s.compressed_left == 0) {
        s.input_spent = true;
        break;
      }
    }
  }
  const std::size_t n = size - z.avail_out;
  s.produced += n;
  if ((z.block_state == ISAL_BLOCK_FINISH || s.input_spent) && n == 0) {
    // Everything the stream gave was handed out: what libzip checks at the end.
    s.ended = true;
    const bool whole = z.crc == s.crc && s.produced == s.declared;
    if (s.input_spent && !whole) s.fail("the compressed data ends early");
    if (z.crc != s.crc) s.fail("CRC error");
    if (s.produced != s.declared) s.fail("it inflates to fewer bytes than its declared size");
  }
  return n;
}

#include "tk/tk_file.h"

#include <limits>
#include <vector>

#include <sys/types.h>

#include "tk/tk_exception.h"
#include "tk/tk_file_name.h"
#include "tk/tk_logger.h"
#include "tk/tk_path.h"

namespace {
constexpr const char* read_error = "Error reading from file";
constexpr const char* write_error = "Cannot write into file";

[[noreturn]] void fail(const char* text) { throw tk_exception(text, tk_level_error); }
}  // namespace

tk_file::tk_file(const std::string& name, int mode) : m_mode(mode) {
  tk_log(2, "tk_file::tk_file(%s)", name);
  if (name.empty()) TK_ASSERT_SITE("tk_file", 20);
  m_file_name = tk_file_name(name).get_full_name();
  tk_log(1, "Canonized file name: %s", m_file_name);
  if ((mode & tk_file_mode_write) == 0 && !tk_is_file_exist(m_file_name, tk_file_readable))
    fail("Bad path or busy with another process");
}

tk_file::~tk_file() {
  tk_log(2, "tk_file::~tk_file");
  if (m_file != nullptr) std::fclose(m_file);
  m_file = nullptr;
}

tk_stdio_file::tk_stdio_file(const std::string& name, int mode) : tk_file(name, mode) {
  tk_log(2, "tk_stdio_file::ctor(%s)", name);
  const char* how = (mode & tk_file_mode_create) == tk_file_mode_create ? "w+b"
                    : (mode & tk_file_mode_write) != 0                ? "r+b"
                                                                      : "rb";
  m_file = std::fopen(m_file_name.c_str(), how);
  if (m_file == nullptr) fail("Error opening file");
}

tk_stdio_file::~tk_stdio_file() = default;

void tk_stdio_file::seek(std::uint64_t offset, const char* failure_text) {
  if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()) ||
      ::fseeko(m_file, static_cast<off_t>(offset), SEEK_SET) != 0)
    fail(failure_text);
}

std::uint64_t tk_stdio_file::get_length() {
  tk_log(2, "tk_stdio_file::get_length");
  const off_t here = ::ftello(m_file);
  if (here < 0 || ::fseeko(m_file, 0, SEEK_END) != 0) fail(read_error);
  const off_t end = ::ftello(m_file);
  if (end < 0 || ::fseeko(m_file, here, SEEK_SET) != 0) fail(read_error);
  tk_log(1, "Got file size: %lld", static_cast<long long>(end));
  return static_cast<std::uint64_t>(end);
}

void tk_stdio_file::get_at(std::uint64_t offset, void* buffer, std::uint64_t length) {
  tk_log(1, "tk_stdio_file::get_at(%llu,%llu)", static_cast<unsigned long long>(offset),
         static_cast<unsigned long long>(length));
  const std::uint64_t size = get_length();
  // Written so that offset + length cannot overflow.
  if (offset > size || length > size - offset) {
    tk_log(2, "Reading out of range: offset=%llu, length=%llu, file size=%llu", static_cast<unsigned long long>(offset),
           static_cast<unsigned long long>(length), static_cast<unsigned long long>(size));
    fail(read_error);
  }
  seek(offset, read_error);
  if (length > 0 && std::fread(buffer, 1, length, m_file) != length) fail(read_error);
}

std::uint16_t tk_stdio_file::get_word_at(std::uint64_t offset) {
  unsigned char bytes[2] = {};
  get_at(offset, bytes, sizeof bytes);
  return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

std::uint32_t tk_stdio_file::get_dword_at(std::uint64_t offset) {
  unsigned char bytes[4] = {};
  get_at(offset, bytes, sizeof bytes);
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
         (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

void tk_stdio_file::put_at(std::uint64_t offset, const void* buffer, std::uint64_t length) {
  tk_log(1, "tk_stdio_file::put_at(%llu,%llu)", static_cast<unsigned long long>(offset),
         static_cast<unsigned long long>(length));
  const std::uint64_t size = get_length();
  if (offset > size) {
    tk_log(1, "offset > file_size, padding with nulls");
    seek(size, read_error);
    const std::vector<char> zeros(64 * 1024, '\0');
    for (std::uint64_t left = offset - size; left > 0;) {
      const std::size_t chunk = left < zeros.size() ? static_cast<std::size_t>(left) : zeros.size();
      if (std::fwrite(zeros.data(), 1, chunk, m_file) != chunk) fail(write_error);
      left -= chunk;
    }
  }
  seek(offset, read_error);
  if (length > 0 && std::fwrite(buffer, 1, length, m_file) != length) fail(write_error);
  // Flush now: a full disk must be reported here, not lost when the file closes.
  if (std::fflush(m_file) != 0) fail(write_error);
}

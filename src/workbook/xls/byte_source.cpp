#include "workbook/xls/byte_source.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "workbook/wb_reader.h"

namespace {

class file_source final : public wb_byte_source {
 public:
  file_source(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
  ~file_source() override { ::close(fd_); }
  file_source(const file_source&) = delete;
  file_source& operator=(const file_source&) = delete;

  std::uint64_t size() const override { return size_; }

  bool read_at(std::uint64_t offset, void* dst, std::size_t len) override {
    if (offset > size_ || len > size_ - offset) return false;
    auto* out = static_cast<char*>(dst);
    while (len > 0) {
      ssize_t n = ::pread(fd_, out, len, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      out += n;
      offset += static_cast<std::uint64_t>(n);
      len -= static_cast<std::size_t>(n);
    }
    return true;
  }

 private:
  int fd_;
  std::uint64_t size_;
};

class memory_source final : public wb_byte_source {
 public:
  explicit memory_source(std::string bytes) : bytes_(std::move(bytes)) {}
  std::uint64_t size() const override { return bytes_.size(); }
  bool read_at(std::uint64_t offset, void* dst, std::size_t len) override {
    if (offset > bytes_.size() || len > bytes_.size() - offset) return false;
    if (len > 0) std::memcpy(dst, bytes_.data() + offset, len);
    return true;
  }

 private:
  std::string bytes_;
};

}  // namespace

std::unique_ptr<wb_byte_source> wb_open_file_source(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    if (err == ENOENT || err == ENOTDIR)
      throw wb_error(wb_err_file_not_found, "File '" + path + "' not found.");
    throw wb_error(wb_err_cannot_open, "File '" + path + "' cannot be opened: " + std::strerror(err) + ".");
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
    ::close(fd);
    throw wb_error(wb_err_cannot_open, "File '" + path + "' cannot be opened: " + std::strerror(err) + ".");
  }
  return std::make_unique<file_source>(fd, static_cast<std::uint64_t>(st.st_size));
}

std::unique_ptr<wb_byte_source> wb_memory_source(std::string bytes) {
  return std::make_unique<memory_source>(std::move(bytes));
}

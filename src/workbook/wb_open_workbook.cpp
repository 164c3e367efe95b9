#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "workbook/wb_errors.h"
#include "workbook/wb_reader.h"

namespace {

struct file_closer {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

std::unique_ptr<wb_reader> wb_open_workbook(const std::string& path) {
  std::unique_ptr<std::FILE, file_closer> f(std::fopen(path.c_str(), "rb"));
  if (!f) {
    const int e = errno;
    if (e == ENOENT || e == ENOTDIR) throw wb_error(wb_err_file_not_found, "File '" + path + "' not found.");
    throw wb_error(wb_err_cannot_open, "File '" + path + "' cannot be opened: " + std::strerror(e) + ".");
  }
  unsigned char sig[8] = {};
  const std::size_t n = std::fread(sig, 1, sizeof sig, f.get());
  f.reset();
  static const unsigned char cfb[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  if (n == 8 && std::memcmp(sig, cfb, 8) == 0) return wb_open_xls(path);
  if (n >= 4 && sig[0] == 'P' && sig[1] == 'K' && ((sig[2] == 3 && sig[3] == 4) || (sig[2] == 7 && sig[3] == 8)))
    return wb_open_xlsx(path);
  throw wb_unreadable(path, n < 8 ? "the file is too short" : "unknown file signature");
}

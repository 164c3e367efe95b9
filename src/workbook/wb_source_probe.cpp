#include "workbook/wb_source_probe.h"

#include <sys/stat.h>

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

wb_source_probe refused(wb_source_kind kind, long number, std::string reason) {
  return {kind, number, std::move(reason)};
}

wb_source_probe unreadable(wb_source_kind kind, const std::string& path, const std::string& why) {
  return refused(kind, wb_err_unreadable, wb_unreadable(path, why).what());
}

wb_source_probe cannot_open(const std::string& path, int error) {
  if (error == ENOENT || error == ENOTDIR)
    return refused(wb_source_kind::missing, wb_err_file_not_found, "File '" + path + "' not found.");
  return refused(wb_source_kind::unopenable, wb_err_cannot_open,
                 "File '" + path + "' cannot be opened: " + std::strerror(error) + ".");
}

// The BOF record that starts a BIFF2, BIFF3 or BIFF4 file, which is no compound document.
bool starts_old_worksheet(const unsigned char* b) {
  const unsigned id = b[0] | (b[1] << 8);
  const unsigned length = b[2] | (b[3] << 8);
  return (id == 0x0009 || id == 0x0209 || id == 0x0409) && length >= 4 && length <= 16;
}

}  // namespace

wb_source_probe wb_probe_source(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return cannot_open(path, errno);
  if (S_ISDIR(st.st_mode))
    return refused(wb_source_kind::folder, wb_err_cannot_open, "'" + path + "' is a folder, not a workbook file.");
  if (!S_ISREG(st.st_mode))
    return refused(wb_source_kind::not_a_file, wb_err_cannot_open, "'" + path + "' is no regular file.");

  std::unique_ptr<std::FILE, file_closer> f(std::fopen(path.c_str(), "rb"));
  if (!f) return cannot_open(path, errno);
  unsigned char sig[8] = {};
  const std::size_t n = std::fread(sig, 1, sizeof sig, f.get());
  if (n < sizeof sig && std::ferror(f.get())) return cannot_open(path, errno ? errno : EIO);
  if (n == 0) return unreadable(wb_source_kind::empty, path, "the file is empty");
  if (n < sizeof sig)
    return unreadable(wb_source_kind::too_short, path,
                      "the file holds only " + std::to_string(n) + (n == 1 ? " byte" : " bytes"));
  static const unsigned char cfb[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  if (std::memcmp(sig, cfb, sizeof cfb) == 0) return {wb_source_kind::xls, 0, {}};
  if (sig[0] == 'P' && sig[1] == 'K' && ((sig[2] == 3 && sig[3] == 4) || (sig[2] == 7 && sig[3] == 8)))
    return {wb_source_kind::xlsx, 0, {}};
  if (starts_old_worksheet(sig))
    return unreadable(wb_source_kind::old_worksheet, path,
                      "it is a worksheet of the BIFF2-4 format (before version 5.0), which is not read");
  return unreadable(wb_source_kind::other, path,
                    "it is neither a ZIP package (.xlsx) nor a compound document (.xls)");
}

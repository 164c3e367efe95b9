#include "workbook/xlsx/wb_zip_archive.h"

#include "workbook/wb_errors.h"
#include "workbook/wb_limits.h"

wb_zip_archive::wb_zip_archive(const std::string& path) : path_(path) {
  int error = 0;
  zip_ = zip_open(path.c_str(), ZIP_RDONLY, &error);
  if (!zip_) {
    zip_error_t ze;
    zip_error_init_with_code(&ze, error);
    std::string reason = std::string("damaged ZIP package (") + zip_error_strerror(&ze) + ")";
    zip_error_fini(&ze);
    throw wb_unreadable(path, reason);
  }
}

wb_zip_archive::~wb_zip_archive() {
  if (zip_) zip_discard(zip_);
}

std::optional<zip_uint64_t> wb_zip_archive::find(std::string_view name) const {
  const std::string n(name);
  zip_int64_t i = zip_name_locate(zip_, n.c_str(), ZIP_FL_ENC_GUESS);
  if (i < 0) i = zip_name_locate(zip_, n.c_str(), ZIP_FL_NOCASE | ZIP_FL_ENC_GUESS);
  if (i < 0) return std::nullopt;
  return static_cast<zip_uint64_t>(i);
}

wb_zip_part_stream::wb_zip_part_stream(const wb_zip_archive& archive, zip_uint64_t index,
                                       std::uint64_t max_bytes)
    : archive_(archive) {
  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_stat_index(archive.handle(), index, 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE) ||
      !(st.valid & ZIP_STAT_COMP_SIZE))
    throw wb_unreadable(archive.path(), "a ZIP entry cannot be read");
  name_ = (st.valid & ZIP_STAT_NAME) && st.name ? st.name : "?";
  if (st.encryption_method != ZIP_EM_NONE)
    throw wb_unreadable(archive.path(), "part '" + name_ + "' is encrypted in the ZIP package");
  declared_ = st.size;
  if (declared_ > max_bytes)
    throw wb_unreadable(archive.path(), "part '" + name_ + "' exceeds the size limit of " +
                                            std::to_string(max_bytes) + " bytes");
  if (declared_ > wb_inflate_ratio_floor && declared_ / (st.comp_size + 1) > wb_max_inflate_ratio)
    throw wb_unreadable(archive.path(), "part '" + name_ + "' inflates beyond the ratio limit of " +
                                            std::to_string(wb_max_inflate_ratio) + ":1 (a ZIP bomb)");
  file_ = zip_fopen_index(archive.handle(), index, 0);
  if (!file_)
    throw wb_unreadable(archive.path(), "part '" + name_ + "' cannot be opened (" +
                                            zip_strerror(archive.handle()) + ")");
}

wb_zip_part_stream::~wb_zip_part_stream() {
  if (file_) zip_fclose(file_);
}

std::size_t wb_zip_part_stream::read(char* buffer, std::size_t size) {
  // Ask for one byte past the declared size so a part that inflates to more is caught.
  const std::uint64_t left = declared_ - read_ + 1;
  if (size > left) size = static_cast<std::size_t>(left);
  const zip_int64_t n = zip_fread(file_, buffer, size);
  if (n < 0)
    throw wb_unreadable(archive_.path(), "part '" + name_ + "' is damaged (" + zip_file_strerror(file_) + ")");
  read_ += static_cast<std::uint64_t>(n);
  if (read_ > declared_)
    throw wb_unreadable(archive_.path(), "part '" + name_ + "' inflates past its declared size");
  return static_cast<std::size_t>(n);
}

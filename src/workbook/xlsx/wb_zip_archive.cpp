#include "workbook/xlsx/wb_zip_archive.h"

#include <algorithm>
#include <cstring>
#include <condition_variable>
#include <deque>
#include <exception>
#include <thread>

#include "workbook/wb_errors.h"
#include "workbook/wb_limits.h"

namespace {

std::string folded_slash_name(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    if (c == '\\') c = '/';
    else if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

[[noreturn]] void throw_damaged(const std::string& path, zip_error_t* ze) {
  std::string reason = std::string("damaged ZIP package (") + zip_error_strerror(ze) + ")";
  zip_error_fini(ze);
  throw wb_unreadable(path, reason);
}

}  // namespace

wb_zip_archive::wb_zip_archive(const std::string& path) : path_(path) {
  int error = 0;
  zip_ = zip_open(path.c_str(), ZIP_RDONLY, &error);
  if (!zip_) {
    zip_error_t ze;
    zip_error_init_with_code(&ze, error);
    throw_damaged(path, &ze);
  }
  index_backslash_names();
}

wb_zip_archive::wb_zip_archive(const std::string& name, std::string_view bytes) : path_(name), bytes_(bytes) {
  zip_error_t ze;
  zip_error_init(&ze);
  zip_source_t* source = zip_source_buffer_create(bytes_.data(), bytes_.size(), 0, &ze);
  if (!source) throw_damaged(name, &ze);
  zip_ = zip_open_from_source(source, ZIP_RDONLY, &ze);
  if (!zip_) {
    zip_source_free(source);
    throw_damaged(name, &ze);
  }
  zip_error_fini(&ze);
  index_backslash_names();
}

void wb_zip_archive::index_backslash_names() {
  const zip_int64_t n = zip_get_num_entries(zip_, 0);
  for (zip_int64_t i = 0; i < n; ++i) {
    const char* name = zip_get_name(zip_, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_GUESS);
    if (!name || !std::strchr(name, '\\')) continue;
    if (backslash_names_.size() >= wb_max_table_entries) break;
    backslash_names_.emplace(folded_slash_name(name), static_cast<zip_uint64_t>(i));
  }
}

wb_zip_archive::~wb_zip_archive() {
  if (zip_) zip_discard(zip_);
}

std::optional<zip_uint64_t> wb_zip_archive::find(std::string_view name) const {
  const std::string n(name);
  std::lock_guard hold(mutex_);
  zip_int64_t i = zip_name_locate(zip_, n.c_str(), ZIP_FL_ENC_GUESS);
  if (i < 0) i = zip_name_locate(zip_, n.c_str(), ZIP_FL_NOCASE | ZIP_FL_ENC_GUESS);
  if (i >= 0) return static_cast<zip_uint64_t>(i);
  if (backslash_names_.empty()) return std::nullopt;
  const auto found = backslash_names_.find(folded_slash_name(name));
  if (found == backslash_names_.end()) return std::nullopt;
  return found->second;
}

wb_zip_part_stream::wb_zip_part_stream(const wb_zip_archive& archive, zip_uint64_t index,
                                       std::uint64_t max_bytes)
    : archive_(archive) {
  std::lock_guard hold(archive.lock());
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
  // Deflated parts come raw and are inflated by ISA-L; libzip inflates anything else (stored parts,
  // and a deflated one of no bytes at all, which libzip takes as empty).
  const bool raw = (st.valid & ZIP_STAT_COMP_METHOD) && st.comp_method == ZIP_CM_DEFLATE && (st.valid & ZIP_STAT_CRC) &&
                   st.comp_size > 0;
  file_ = zip_fopen_index(archive.handle(), index, raw ? ZIP_FL_COMPRESSED : 0);
  if (!file_)
    throw wb_unreadable(archive.path(), "part '" + name_ + "' cannot be opened (" +
                                            zip_strerror(archive.handle()) + ")");
  if (raw)
    raw_ = std::make_unique<wb_raw_inflate>(
        st.comp_size, declared_, st.crc, [this](char* buffer, std::size_t size) { return read_entry(buffer, size); },
        archive.path(), name_);
}

std::size_t wb_zip_part_stream::read_entry(char* buffer, std::size_t size) {
  zip_int64_t n;
  {
    std::lock_guard hold(archive_.lock());
    n = zip_fread(file_, buffer, size);
  }
  if (n < 0)
    throw wb_unreadable(archive_.path(), "part '" + name_ + "' is damaged (" + zip_file_strerror(file_) + ")");
  return static_cast<std::size_t>(n);
}

namespace {

// What the worker inflates per call, as much as the sheet scanner asks for at once; at most
// `ahead_chunks` wait to be read.
constexpr std::size_t ahead_chunk_bytes = 256 * 1024;
constexpr std::size_t ahead_chunks = 4;

}  // namespace

struct wb_zip_part_stream::ahead_state {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::string> ready;
  std::exception_ptr error;
  bool done = false, stop = false;
  std::string current;  // the reading side's chunk
  std::size_t pos = 0;
  std::thread worker;
};

wb_zip_part_stream::~wb_zip_part_stream() {
  if (ahead_) {
    {
      std::lock_guard hold(ahead_->mutex);
      ahead_->stop = true;
    }
    ahead_->changed.notify_all();
    ahead_->worker.join();
  }
  if (!file_) return;
  std::lock_guard hold(archive_.lock());
  zip_fclose(file_);
}

std::size_t wb_zip_part_stream::read(char* buffer, std::size_t size) {
  if (!ahead_) return inflate(buffer, size);
  ahead_state& a = *ahead_;
  if (a.pos >= a.current.size()) {
    std::unique_lock lock(a.mutex);
    a.changed.wait(lock, [&] { return !a.ready.empty() || a.done; });
    if (a.ready.empty()) {
      if (a.error) std::rethrow_exception(a.error);
      return 0;
    }
    a.current = std::move(a.ready.front());
    a.ready.pop_front();
    a.pos = 0;
    lock.unlock();
    a.changed.notify_all();
  }
  const std::size_t n = std::min(size, a.current.size() - a.pos);
  a.current.copy(buffer, n, a.pos);
  a.pos += n;
  return n;
}

void wb_zip_part_stream::inflate_ahead() {
  if (ahead_) return;
  ahead_ = std::make_unique<ahead_state>();
  ahead_->worker = std::thread([this] { inflate_ahead_work(); });
}

void wb_zip_part_stream::inflate_ahead_work() {
  ahead_state& a = *ahead_;
  std::exception_ptr failure;
  try {
    for (;;) {
      // No more room than the part has left (and the byte past it that catches an overlong part).
      const std::uint64_t left = declared_ - read_ + 1;
      std::string chunk(static_cast<std::size_t>(std::min<std::uint64_t>(ahead_chunk_bytes, left)), '\0');
      chunk.resize(inflate(chunk.data(), chunk.size()));
      if (chunk.empty()) break;
      std::unique_lock lock(a.mutex);
      a.changed.wait(lock, [&] { return a.ready.size() < ahead_chunks || a.stop; });
      if (a.stop) return;
      a.ready.push_back(std::move(chunk));
      lock.unlock();
      a.changed.notify_all();
    }
  } catch (...) {
    failure = std::current_exception();
  }
  {
    std::lock_guard lock(a.mutex);
    a.error = failure;
    a.done = true;
  }
  a.changed.notify_all();
}

std::size_t wb_zip_part_stream::inflate(char* buffer, std::size_t size) {
  // Ask for one byte past the declared size so a part that inflates to more is caught.
  const std::uint64_t left = declared_ - read_ + 1;
  if (size > left) size = static_cast<std::size_t>(left);
  const std::size_t n = raw_ ? raw_->inflate(buffer, size) : read_entry(buffer, size);
  read_ += n;
  if (read_ > declared_)
    throw wb_unreadable(archive_.path(), "part '" + name_ + "' inflates past its declared size");
  return n;
}

#include "workbook/xls/cfb_file.h"

#include <algorithm>
#include <cstring>

#include "workbook/xls/xls_failure.h"
#include "workbook/xls/utf8_text.h"

namespace {

constexpr std::uint32_t max_regular_sector = 0xFFFFFFFA;
constexpr std::uint32_t end_of_chain = 0xFFFFFFFE;
constexpr std::uint32_t no_entry = 0xFFFFFFFF;
constexpr std::uint32_t header_difat_count = 109;
constexpr std::uint32_t entry_size = 128;
constexpr std::uint32_t mini_sector_size = 64;
constexpr unsigned char signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

std::uint16_t u16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t u32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint64_t u64(const unsigned char* p) {
  return static_cast<std::uint64_t>(u32(p)) | (static_cast<std::uint64_t>(u32(p + 4)) << 32);
}

// Whole units needed for `bytes`, without the overflow of (bytes + unit - 1) on 64-bit sizes.
std::uint64_t units_for(std::uint64_t bytes, std::uint32_t unit) { return bytes / unit + (bytes % unit != 0); }

[[noreturn]] void corrupt(const std::string& what) { throw wb_xls_unreadable("corrupt compound document (" + what + ")"); }

bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto fold = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

}  // namespace

void wb_cfb_stream::read(std::uint64_t offset, void* dst, std::size_t len) const {
  if (offset > size_ || len > size_ - offset) throw wb_xls_unreadable("a record runs past the end of its stream");
  auto* out = static_cast<unsigned char*>(dst);
  if (sectors_.empty()) {
    if (len > 0) std::memcpy(out, bytes_.data() + offset, len);
    return;
  }
  while (len > 0) {
    std::size_t index = static_cast<std::size_t>(offset / sector_size_);
    std::uint32_t within = static_cast<std::uint32_t>(offset % sector_size_);
    // Coalesce sectors that follow each other in the file into one read.
    std::size_t run_end = index + 1;
    std::uint64_t run_bytes = sector_size_ - within;
    while (run_bytes < len && run_end < sectors_.size() && sectors_[run_end] == sectors_[run_end - 1] + 1) {
      ++run_end;
      run_bytes += sector_size_;
    }
    std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(run_bytes, len));
    std::uint64_t file_offset = (static_cast<std::uint64_t>(sectors_[index]) + 1) * sector_size_ + within;
    if (!source_->read_at(file_offset, out, take)) corrupt("a stream sector lies past the end of the file");
    out += take;
    offset += take;
    len -= take;
  }
}

bool wb_cfb_file::has_signature(wb_byte_source& source) {
  unsigned char head[8];
  return source.read_at(0, head, sizeof head) && std::memcmp(head, signature, sizeof head) == 0;
}

wb_cfb_file::wb_cfb_file(wb_byte_source& source) : source_(source) {
  read_header();
  read_fat();
  read_directory();
}

void wb_cfb_file::read_header() {
  unsigned char h[512];
  if (!source_.read_at(0, h, sizeof h)) corrupt("the header is truncated");
  if (std::memcmp(h, signature, sizeof signature) != 0) throw wb_xls_unreadable("not a compound document");
  if (u16(h + 28) != 0xFFFE) corrupt("bad byte order mark");
  std::uint16_t shift = u16(h + 30);
  if (shift != 9 && shift != 12) {
    std::string size = shift < 32 ? std::to_string(1ULL << shift) : "2^" + std::to_string(shift);
    corrupt("sector size " + size + " is neither 512 nor 4096");
  }
  sector_size_ = 1U << shift;
  version4_ = shift == 12;
  if (u16(h + 32) != 6) corrupt("mini sector size is not 64");
  fat_sector_count_ = u32(h + 44);
  first_directory_ = u32(h + 48);
  mini_cutoff_ = u32(h + 56);
  if (mini_cutoff_ != 4096) corrupt("mini stream cutoff is not 4096");
  first_mini_fat_ = u32(h + 60);
  mini_fat_sector_count_ = u32(h + 64);
  first_difat_ = u32(h + 68);
  difat_sector_count_ = u32(h + 72);
  header_difat_.resize(header_difat_count);
  for (std::uint32_t i = 0; i < header_difat_count; ++i) header_difat_[i] = u32(h + 76 + 4 * i);

  std::uint64_t file_size = source_.size();
  sector_count_ = file_size <= sector_size_ ? 0 : units_for(file_size - sector_size_, sector_size_);
  if (sector_count_ > max_regular_sector) corrupt("the file is too large");
}

void wb_cfb_file::read_sector(std::uint32_t sector, std::uint32_t offset, void* dst, std::size_t len) const {
  if (sector >= sector_count_) corrupt("sector " + std::to_string(sector) + " lies past the end of the file");
  std::uint64_t at = (static_cast<std::uint64_t>(sector) + 1) * sector_size_ + offset;
  if (!source_.read_at(at, dst, len)) corrupt("sector " + std::to_string(sector) + " is truncated");
}

void wb_cfb_file::read_fat() {
  if (fat_sector_count_ == 0) corrupt("no FAT");
  if (fat_sector_count_ > sector_count_) corrupt("more FAT sectors than the file holds");
  if (difat_sector_count_ > sector_count_) corrupt("more DIFAT sectors than the file holds");

  std::vector<std::uint32_t> fat_sectors;
  for (std::uint32_t i = 0; i < header_difat_count && fat_sectors.size() < fat_sector_count_; ++i)
    fat_sectors.push_back(header_difat_[i]);

  const std::uint32_t per_sector = sector_size_ / 4;
  std::vector<unsigned char> buf(sector_size_);
  std::vector<bool> seen(static_cast<std::size_t>(sector_count_));
  std::uint32_t difat = first_difat_;
  std::uint32_t difat_read = 0;
  while (fat_sectors.size() < fat_sector_count_) {
    if (difat_read >= difat_sector_count_ || difat >= sector_count_) corrupt("the DIFAT ends before the FAT is complete");
    if (seen[difat]) corrupt("DIFAT chain loops");
    seen[difat] = true;
    read_sector(difat, 0, buf.data(), sector_size_);
    ++difat_read;
    for (std::uint32_t i = 0; i + 1 < per_sector && fat_sectors.size() < fat_sector_count_; ++i)
      fat_sectors.push_back(u32(buf.data() + 4 * i));
    difat = u32(buf.data() + 4 * (per_sector - 1));
  }

  fat_.resize(static_cast<std::size_t>(fat_sector_count_) * per_sector);
  for (std::size_t s = 0; s < fat_sectors.size(); ++s) {
    std::uint32_t sector = fat_sectors[s];
    if (sector >= sector_count_) corrupt("FAT sector " + std::to_string(sector) + " lies past the end of the file");
    read_sector(sector, 0, buf.data(), sector_size_);
    for (std::uint32_t i = 0; i < per_sector; ++i) fat_[s * per_sector + i] = u32(buf.data() + 4 * i);
  }
}

std::vector<std::uint32_t> wb_cfb_file::chain(std::uint32_t start, std::uint64_t wanted, const char* what) const {
  // Exactly `wanted` sectors: a chain ending early is damage, one running on is cut.
  if (wanted > sector_count_) corrupt(std::string(what) + " is larger than the file");
  std::vector<std::uint32_t> out;
  out.reserve(static_cast<std::size_t>(wanted));
  std::vector<bool> seen(static_cast<std::size_t>(sector_count_));
  std::uint32_t sector = start;
  while (out.size() < wanted) {
    if (sector == end_of_chain) corrupt(std::string(what) + " chain ends before its size");
    if (sector >= sector_count_ || sector >= fat_.size())
      corrupt(std::string(what) + " chain leaves the file");
    if (seen[sector]) corrupt(std::string(what) + " chain loops");
    seen[sector] = true;
    out.push_back(sector);
    sector = fat_[sector];
  }
  return out;
}

std::vector<std::uint32_t> wb_cfb_file::full_chain(std::uint32_t start, const char* what) const {
  std::vector<std::uint32_t> out;
  std::vector<bool> seen(static_cast<std::size_t>(sector_count_));
  for (std::uint32_t sector = start; sector != end_of_chain; sector = fat_[sector]) {
    if (sector >= sector_count_ || sector >= fat_.size())
      corrupt(std::string(what) + " chain leaves the file");
    if (seen[sector]) corrupt(std::string(what) + " chain loops");
    seen[sector] = true;
    out.push_back(sector);
  }
  return out;
}

void wb_cfb_file::read_directory() {
  std::vector<std::uint32_t> sectors = full_chain(first_directory_, "directory");
  if (sectors.empty()) corrupt("no directory");
  const std::uint32_t per_sector = sector_size_ / entry_size;
  std::vector<unsigned char> buf(sector_size_);
  entries_.reserve(sectors.size() * per_sector);
  for (std::uint32_t sector : sectors) {
    read_sector(sector, 0, buf.data(), sector_size_);
    for (std::uint32_t i = 0; i < per_sector; ++i) {
      const unsigned char* p = buf.data() + i * entry_size;
      entry e;
      std::uint16_t name_bytes = u16(p + 64);
      if (name_bytes > 64) name_bytes = 64;
      std::u16string name;
      for (std::uint16_t k = 0; k + 1 < name_bytes; k += 2) {
        char16_t c = static_cast<char16_t>(u16(p + k));
        if (c == 0) break;
        name.push_back(c);
      }
      e.name = wb_utf16_to_utf8(name);
      e.type = p[66];
      e.left = u32(p + 68);
      e.right = u32(p + 72);
      e.child = u32(p + 76);
      e.start = u32(p + 116);
      e.size = version4_ ? u64(p + 120) : u32(p + 120);  // version 3 ignores the high half
      entries_.push_back(std::move(e));
    }
  }
  if (entries_[0].type != 5) corrupt("the first directory entry is not the root");
}

const wb_cfb_file::entry* wb_cfb_file::find_root_child(std::string_view name) const {
  std::vector<bool> seen(entries_.size());
  std::vector<std::uint32_t> pending;
  if (entries_[0].child != no_entry) pending.push_back(entries_[0].child);
  const entry* found = nullptr;
  // The whole tree is walked even after a match, so a damaged tree is reported the same way every time.
  while (!pending.empty()) {
    std::uint32_t id = pending.back();
    pending.pop_back();
    if (id >= entries_.size()) corrupt("a directory entry points nowhere");
    if (id == 0 || seen[id]) corrupt("the directory tree loops");
    seen[id] = true;
    const entry& e = entries_[id];
    if (!found && (e.type == 2) && same_name(e.name, name)) found = &e;
    if (e.left != no_entry) pending.push_back(e.left);
    if (e.right != no_entry) pending.push_back(e.right);
  }
  return found;
}

bool wb_cfb_file::has_stream(std::string_view name) const { return find_root_child(name) != nullptr; }

std::string wb_cfb_file::read_small_stream(const entry& e) const {
  const entry& root = entries_[0];
  std::uint64_t root_size = version4_ ? root.size : (root.size & 0xFFFFFFFFu);
  std::vector<std::uint32_t> mini_stream =
      chain(root.start, units_for(root_size, sector_size_), "mini stream");
  if (mini_fat_sector_count_ > sector_count_) corrupt("more mini FAT sectors than the file holds");
  std::vector<std::uint32_t> mini_fat_sectors = full_chain(first_mini_fat_, "mini FAT");
  const std::uint32_t per_sector = sector_size_ / 4;
  std::vector<std::uint32_t> mini_fat(mini_fat_sectors.size() * per_sector);
  std::vector<unsigned char> buf(sector_size_);
  for (std::size_t s = 0; s < mini_fat_sectors.size(); ++s) {
    read_sector(mini_fat_sectors[s], 0, buf.data(), sector_size_);
    for (std::uint32_t i = 0; i < per_sector; ++i) mini_fat[s * per_sector + i] = u32(buf.data() + 4 * i);
  }

  std::string out;
  out.resize(static_cast<std::size_t>(e.size));
  std::uint64_t mini_count = units_for(root_size, mini_sector_size);
  std::uint64_t wanted = units_for(e.size, mini_sector_size);
  std::vector<bool> seen(static_cast<std::size_t>(std::min<std::uint64_t>(mini_count, mini_fat.size())));
  std::uint32_t mini = e.start;
  for (std::uint64_t i = 0; i < wanted; ++i) {
    if (mini == end_of_chain) corrupt("mini chain ends before its size");
    if (mini >= seen.size()) corrupt("mini chain leaves the mini stream");
    if (seen[mini]) corrupt("mini chain loops");
    seen[mini] = true;
    std::uint64_t at = static_cast<std::uint64_t>(mini) * mini_sector_size;
    std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(mini_sector_size, e.size - i * mini_sector_size));
    read_sector(mini_stream[static_cast<std::size_t>(at / sector_size_)], static_cast<std::uint32_t>(at % sector_size_),
                out.data() + i * mini_sector_size, take);
    mini = mini_fat[mini];
  }
  return out;
}

std::optional<wb_cfb_stream> wb_cfb_file::open_stream(std::string_view name) const {
  const entry* e = find_root_child(name);
  if (!e) return std::nullopt;
  wb_cfb_stream s;
  s.source_ = &source_;
  s.sector_size_ = sector_size_;
  s.size_ = e->size;
  if (e->size < mini_cutoff_) {
    s.bytes_ = read_small_stream(*e);
  } else {
    s.sectors_ = chain(e->start, units_for(e->size, sector_size_), "stream");
  }
  return s;
}

#include "workbook/xlsx/wb_xlsx_package.h"

#include <charconv>
#include <map>

#include "workbook/wb_errors.h"
#include "workbook/wb_limits.h"
#include "workbook/wb_values.h"
#include "workbook/xlsx/wb_xml_parser.h"

namespace {

std::string_view attr(const std::vector<wb_xml_attribute>& attrs, std::string_view name) {
  for (const auto& a : attrs)
    if (a.name == name) return a.value;
  return {};
}

bool ends_with(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

bool parse_u32(std::string_view s, std::uint32_t& v) {
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && !s.empty();
}

void parse_part(const wb_zip_archive& zip, zip_uint64_t index, std::uint64_t cap, wb_xml_handler& h) {
  wb_zip_part_stream in(zip, index, cap);
  wb_xml_parser parser(in, h, zip.path());
  while (parser.run()) {
  }
}

struct relationship {
  std::string type;
  std::string target;
};

class rels_handler : public wb_xml_handler {
 public:
  explicit rels_handler(const std::string& path) : path_(path) {}
  std::map<std::string, relationship> by_id;
  void start(std::string_view name, const std::vector<wb_xml_attribute>& a) override {
    if (name != "Relationship") return;
    if (by_id.size() >= wb_max_table_entries) throw wb_unreadable(path_, "too many relationships");
    if (attr(a, "TargetMode") == "External") return;
    by_id.emplace(std::string(attr(a, "Id")), relationship{std::string(attr(a, "Type")), std::string(attr(a, "Target"))});
  }
  void end(std::string_view) override {}

 private:
  const std::string& path_;
};

// The relationships of `part` ("_rels/.rels" for the package); empty when it has none.
std::map<std::string, relationship> read_rels(const wb_zip_archive& zip, const std::string& part) {
  const auto slash = part.rfind('/');
  const std::string rels = slash == std::string::npos
                               ? "_rels/" + part + ".rels"
                               : part.substr(0, slash + 1) + "_rels/" + part.substr(slash + 1) + ".rels";
  rels_handler h(zip.path());
  if (auto i = zip.find(rels)) parse_part(zip, *i, wb_max_small_part_bytes, h);
  return std::move(h.by_id);
}

class workbook_handler : public wb_xml_handler {
 public:
  explicit workbook_handler(const std::string& path) : path_(path) {}
  struct entry {
    std::string name, rid;
    bool hidden;
  };
  std::vector<entry> sheets;
  wb_date_system dates = wb_date_system::from_1900;
  void start(std::string_view name, const std::vector<wb_xml_attribute>& a) override {
    if (name == "sheet") {
      if (sheets.size() >= wb_max_sheets) throw wb_unreadable(path_, "too many sheets");
      const auto state = attr(a, "state");
      sheets.push_back({std::string(attr(a, "name")), std::string(attr(a, "id")), state == "hidden" || state == "veryHidden"});
    } else if (name == "workbookPr") {
      const auto v = attr(a, "date1904");
      const auto compatible = attr(a, "dateCompatibility");
      // Without date compatibility the 1900 system has no 1900-02-29 and counts from 1899-12-30.
      if (v == "1" || v == "true")
        dates = wb_date_system::from_1904;
      else if (compatible == "0" || compatible == "false")
        dates = wb_date_system::from_1900_without_leap_day;
      else
        dates = wb_date_system::from_1900;
    }
  }
  void end(std::string_view) override {}

 private:
  const std::string& path_;
};

class styles_handler : public wb_xml_handler {
 public:
  explicit styles_handler(const std::string& path) : path_(path) {}
  std::map<std::uint32_t, std::string> formats;
  std::vector<std::uint32_t> xf_formats;
  void start(std::string_view name, const std::vector<wb_xml_attribute>& a) override {
    if (name == "cellXfs") {
      in_cell_xfs_ = true;
    } else if (name == "numFmt") {
      std::uint32_t id;
      if (!parse_u32(attr(a, "numFmtId"), id)) return;
      if (formats.size() >= wb_max_table_entries) throw wb_unreadable(path_, "too many number formats");
      formats[id] = std::string(attr(a, "formatCode"));
    } else if (name == "xf" && in_cell_xfs_) {
      if (xf_formats.size() >= wb_max_table_entries) throw wb_unreadable(path_, "too many cell formats");
      std::uint32_t id = 0;
      parse_u32(attr(a, "numFmtId"), id);
      xf_formats.push_back(id);
    }
  }
  void end(std::string_view name) override {
    if (name == "cellXfs") in_cell_xfs_ = false;
  }

 private:
  const std::string& path_;
  bool in_cell_xfs_ = false;
};

// <si>: a plain <t> or the <t> of its <r> runs; phonetic runs (<rPh>) are skipped.
class shared_strings_handler : public wb_xml_handler {
 public:
  shared_strings_handler(const std::string& path, wb_shared_strings& out) : path_(path), out_(out) {}
  void start(std::string_view name, const std::vector<wb_xml_attribute>&) override {
    if (name == "si") {
      raw_.clear();
      in_si_ = true;
    } else if (name == "rPh") {
      ++skip_;
    } else if (name == "t" && in_si_ && skip_ == 0) {
      in_t_ = true;
    }
  }
  void end(std::string_view name) override {
    if (name == "t") {
      in_t_ = false;
    } else if (name == "rPh") {
      --skip_;
    } else if (name == "si") {
      in_si_ = false;
      text_.clear();
      wb_decode_escapes(raw_, text_);
      if (wb_count_code_points(text_) > wb_max_text_chars)
        throw wb_unreadable(path_, "a shared string exceeds " + std::to_string(wb_max_text_chars) + " characters");
      if (out_.size() >= wb_max_shared_strings)
        throw wb_unreadable(path_, "more than " + std::to_string(wb_max_shared_strings) + " shared strings");
      if (out_.bytes() + text_.size() > wb_max_shared_string_bytes)
        throw wb_unreadable(path_, "shared strings exceed " + std::to_string(wb_max_shared_string_bytes) + " bytes");
      out_.add(text_);
    }
  }
  void text(std::string_view s) override {
    if (!in_t_) return;
    if (raw_.size() + s.size() > 8ull * wb_max_text_chars)
      throw wb_unreadable(path_, "a shared string exceeds " + std::to_string(wb_max_text_chars) + " characters");
    raw_.append(s);
  }

 private:
  const std::string& path_;
  wb_shared_strings& out_;
  std::string raw_, text_;
  int skip_ = 0;
  bool in_si_ = false, in_t_ = false;
};

}  // namespace

void wb_shared_strings::add(std::string_view text) {
  bytes_.append(text);
  offsets_.push_back(bytes_.size());
}

std::string wb_resolve_part(const std::string& base_part, const std::string& target) {
  std::string joined;
  if (!target.empty() && target[0] == '/') {
    joined = target.substr(1);
  } else {
    const auto slash = base_part.rfind('/');
    joined = (slash == std::string::npos ? std::string() : base_part.substr(0, slash + 1)) + target;
  }
  std::vector<std::string> parts;
  std::size_t i = 0;
  while (i <= joined.size()) {
    auto j = joined.find('/', i);
    if (j == std::string::npos) j = joined.size();
    const std::string seg = joined.substr(i, j - i);
    if (seg == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!seg.empty() && seg != ".") {
      parts.push_back(seg);
    }
    i = j + 1;
  }
  std::string out;
  for (const auto& p : parts) out += (out.empty() ? "" : "/") + p;
  return out;
}

wb_xlsx_package::wb_xlsx_package(const std::string& path) : archive_(path) { read_package(); }

wb_xlsx_package::wb_xlsx_package(const std::string& name, std::string_view bytes) : archive_(name, bytes) {
  read_package();
}

void wb_xlsx_package::read_package() {
  const std::string& path = archive_.path();
  std::string workbook_part;
  for (const auto& [id, rel] : read_rels(archive_, "")) {
    if (ends_with(rel.type, "/officeDocument")) workbook_part = wb_resolve_part("", rel.target);
  }
  if (workbook_part.empty()) {
    if (archive_.find("xl/workbook.bin"))
      throw wb_unreadable(path, "binary workbooks (.xlsb) are not supported");
    throw wb_unreadable(path, "the ZIP package holds no workbook");
  }
  if (ends_with(workbook_part, ".bin")) throw wb_unreadable(path, "binary workbooks (.xlsb) are not supported");
  read_workbook(workbook_part);
}

void wb_xlsx_package::read_workbook(const std::string& part) {
  const auto index = archive_.find(part);
  if (!index) throw wb_unreadable(path(), "the workbook part '" + part + "' is missing");
  workbook_handler wh(path());
  parse_part(archive_, *index, wb_max_small_part_bytes, wh);
  date_system_ = wh.dates;
  const auto rels = read_rels(archive_, part);
  std::string styles_part;
  for (const auto& [id, rel] : rels) {
    if (ends_with(rel.type, "/sharedStrings")) shared_strings_part_ = wb_resolve_part(part, rel.target);
    if (ends_with(rel.type, "/styles")) styles_part = wb_resolve_part(part, rel.target);
  }
  for (const auto& s : wh.sheets) {
    const auto rel = rels.find(s.rid);
    if (rel == rels.end() || !ends_with(rel->second.type, "/worksheet")) continue;  // chart, macro, dialog
    sheets_.push_back({{s.name, s.hidden}, wb_resolve_part(part, rel->second.target)});
  }
  if (!styles_part.empty()) read_styles(styles_part);
}

void wb_xlsx_package::read_styles(const std::string& part) {
  const auto index = archive_.find(part);
  if (!index) return;
  styles_handler sh(path());
  parse_part(archive_, *index, wb_max_small_part_bytes, sh);
  styles_.reserve(sh.xf_formats.size());
  for (std::uint32_t id : sh.xf_formats) {
    const auto f = sh.formats.find(id);
    styles_.push_back(wb_classify_number_format(id, f == sh.formats.end() ? std::string_view() : f->second));
  }
}

const wb_shared_strings& wb_xlsx_package::shared_strings() {
  // Worksheets may be opened on several threads at once (one profiled while another is read).
  std::lock_guard hold(shared_strings_mutex_);
  if (!shared_strings_) {
    auto table = std::make_unique<wb_shared_strings>();
    if (!shared_strings_part_.empty()) {
      if (const auto index = archive_.find(shared_strings_part_)) {
        shared_strings_handler h(path(), *table);
        parse_part(archive_, *index, wb_max_part_bytes, h);
      }
    }
    shared_strings_ = std::move(table);
  }
  return *shared_strings_;
}

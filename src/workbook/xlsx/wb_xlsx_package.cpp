#include "workbook/xlsx/wb_xlsx_package.h"

#include <charconv>
#include <map>

#include "workbook/wb_errors.h"
#include "workbook/wb_limits.h"
#include "workbook/wb_values.h"
#include "workbook/xlsx/wb_xml_parser.h"

namespace {

constexpr auto main_ns = wb_xml_ns::spreadsheet;

bool ends_with(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

bool parse_u32(std::string_view s, std::uint32_t& v) {
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && !s.empty();
}

// Hands a part's events on once its document element is found in the part's vocabulary: a part
// in another namespace is not what its relationship says, and reading nothing from it would pass
// for an empty part.
class vocabulary_check final : public wb_xml_handler {
 public:
  vocabulary_check(wb_xml_handler& inner, wb_xml_ns vocabulary, const wb_zip_part_stream& part, const std::string& path)
      : inner_(inner), vocabulary_(vocabulary), part_(part), path_(path) {}
  void start(wb_xml_name name, const std::vector<wb_xml_attribute>& a) override {
    if (!root_seen_) {
      root_seen_ = true;
      if (name.ns != vocabulary_ && name.ns != wb_xml_ns::none)
        throw wb_unreadable(path_, "the document element of part '" + part_.name() +
                                       "' is in a namespace foreign to it");
    }
    inner_.start(name, a);
  }
  void end(wb_xml_name name) override { inner_.end(name); }
  void text(std::string_view s) override { inner_.text(s); }

 private:
  wb_xml_handler& inner_;
  wb_xml_ns vocabulary_;
  const wb_zip_part_stream& part_;
  const std::string& path_;
  bool root_seen_ = false;
};

void parse_part(const wb_zip_archive& zip, zip_uint64_t index, std::uint64_t cap, wb_xml_handler& h,
                wb_xml_ns vocabulary) {
  wb_zip_part_stream in(zip, index, cap);
  vocabulary_check checked(h, vocabulary, in, zip.path());
  wb_xml_parser parser(in, checked, zip.path());
  while (parser.run()) {
  }
}

struct relationship {
  std::string type;
  std::string target;
};

struct relationships {
  std::string part;  // the relationships part's name
  bool found = false;
  std::map<std::string, relationship> by_id;
};

class rels_handler : public wb_xml_handler {
 public:
  explicit rels_handler(const std::string& path) : path_(path) {}
  std::map<std::string, relationship> by_id;
  void start(wb_xml_name name, const std::vector<wb_xml_attribute>& a) override {
    if (!name.is(wb_xml_ns::package_relationships, "Relationship")) return;
    if (by_id.size() >= wb_max_table_entries) throw wb_unreadable(path_, "too many relationships");
    if (wb_xml_attr(a, "TargetMode") == "External") return;
    by_id.emplace(std::string(wb_xml_attr(a, "Id")),
                  relationship{std::string(wb_xml_attr(a, "Type")), std::string(wb_xml_attr(a, "Target"))});
  }
  void end(wb_xml_name) override {}

 private:
  const std::string& path_;
};

// The relationships of `part` ("" for the package's own, "_rels/.rels").
relationships read_rels(const wb_zip_archive& zip, const std::string& part) {
  const auto slash = part.rfind('/');
  relationships out;
  out.part = slash == std::string::npos ? "_rels/" + part + ".rels"
                                        : part.substr(0, slash + 1) + "_rels/" + part.substr(slash + 1) + ".rels";
  rels_handler h(zip.path());
  if (auto i = zip.find(out.part)) {
    parse_part(zip, *i, wb_max_small_part_bytes, h, wb_xml_ns::package_relationships);
    out.found = true;
  }
  out.by_id = std::move(h.by_id);
  return out;
}

// [Content_Types].xml: the part declared as a workbook's main part, for a package that lacks its
// own relationships.
class content_types_handler : public wb_xml_handler {
 public:
  std::string workbook_part;
  void start(wb_xml_name name, const std::vector<wb_xml_attribute>& a) override {
    if (!workbook_part.empty() || !name.is(wb_xml_ns::content_types, "Override")) return;
    const auto type = wb_xml_attr(a, "ContentType");
    for (std::string_view main : {"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml",
                                  "application/vnd.openxmlformats-officedocument.spreadsheetml.template.main+xml",
                                  "application/vnd.ms-excel.sheet.macroEnabled.main+xml",
                                  "application/vnd.ms-excel.template.macroEnabled.main+xml"})
      if (type == main) workbook_part = wb_resolve_part("", std::string(wb_xml_attr(a, "PartName")));
  }
  void end(wb_xml_name) override {}
};

class workbook_handler : public wb_xml_handler {
 public:
  explicit workbook_handler(const std::string& path) : path_(path) {}
  struct entry {
    std::string name, rid;
    bool hidden;
  };
  std::vector<entry> sheets;
  wb_date_system dates = wb_date_system::from_1900;
  void start(wb_xml_name name, const std::vector<wb_xml_attribute>& a) override {
    if (name.is(main_ns, "sheet")) {
      if (sheets.size() >= wb_max_sheets) throw wb_unreadable(path_, "too many sheets");
      const auto state = wb_xml_attr(a, "state");
      sheets.push_back({std::string(wb_xml_attr(a, "name")), std::string(wb_xml_attr(a, "id", wb_xml_ns::relationships)),
                        state == "hidden" || state == "veryHidden"});
    } else if (name.is(main_ns, "workbookPr")) {
      const auto v = wb_xml_attr(a, "date1904");
      const auto compatible = wb_xml_attr(a, "dateCompatibility");
      // Without date compatibility the 1900 system has no 1900-02-29 and counts from 1899-12-30.
      if (v == "1" || v == "true")
        dates = wb_date_system::from_1904;
      else if (compatible == "0" || compatible == "false")
        dates = wb_date_system::from_1900_without_leap_day;
      else
        dates = wb_date_system::from_1900;
    }
  }
  void end(wb_xml_name) override {}

 private:
  const std::string& path_;
};

// Number formats of <numFmts> and the cell formats of <cellXfs>, each a child of the style sheet.
// The formats of conditional formats (<dxfs>) and of extensions never type a cell.
class styles_handler : public wb_xml_handler {
 public:
  explicit styles_handler(const std::string& path) : path_(path) {}
  std::map<std::uint32_t, std::string> formats;
  std::vector<std::uint32_t> xf_formats;
  void start(wb_xml_name name, const std::vector<wb_xml_attribute>& a) override {
    const int parent = depth_++;
    if (parent == 1 && name.is(main_ns, "numFmts")) {
      list_ = list::formats;
    } else if (parent == 1 && name.is(main_ns, "cellXfs")) {
      list_ = list::cell_formats;
    } else if (parent == 2 && list_ == list::formats && name.is(main_ns, "numFmt")) {
      std::uint32_t id;
      if (!parse_u32(wb_xml_attr(a, "numFmtId"), id)) return;
      if (formats.size() >= wb_max_table_entries) throw wb_unreadable(path_, "too many number formats");
      formats[id] = std::string(wb_xml_attr(a, "formatCode"));
    } else if (parent == 2 && list_ == list::cell_formats && name.is(main_ns, "xf")) {
      if (xf_formats.size() >= wb_max_table_entries) throw wb_unreadable(path_, "too many cell formats");
      std::uint32_t id = 0;
      parse_u32(wb_xml_attr(a, "numFmtId"), id);
      xf_formats.push_back(id);
    }
  }
  void end(wb_xml_name) override {
    if (--depth_ == 1) list_ = list::none;
  }

 private:
  enum class list { none, formats, cell_formats };
  const std::string& path_;
  int depth_ = 0;  // elements open; the style sheet is depth 1
  list list_ = list::none;
};

// <si>: a plain <t> or the <t> of its <r> runs; phonetic runs (<rPh>) are skipped.
class shared_strings_handler : public wb_xml_handler {
 public:
  shared_strings_handler(const std::string& path, wb_shared_strings& out) : path_(path), out_(out) {}
  void start(wb_xml_name name, const std::vector<wb_xml_attribute>&) override {
    if (name.is(main_ns, "si")) {
      raw_.clear();
      in_si_ = true;
    } else if (name.is(main_ns, "rPh")) {
      ++skip_;
    } else if (name.is(main_ns, "t") && in_si_ && skip_ == 0) {
      in_t_ = true;
    }
  }
  void end(wb_xml_name name) override {
    if (name.is(main_ns, "t")) {
      in_t_ = false;
    } else if (name.is(main_ns, "rPh")) {
      --skip_;
    } else if (name.is(main_ns, "si")) {
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
  const auto package_rels = read_rels(archive_, "");
  for (const auto& [id, rel] : package_rels.by_id) {
    if (ends_with(rel.type, "/officeDocument")) workbook_part = wb_resolve_part("", rel.target);
  }
  if (!package_rels.found) {
    // Without the package's relationships the content types name the workbook part, and failing
    // them the place every writer puts it.
    content_types_handler ch;
    if (const auto types = archive_.find("[Content_Types].xml"))
      parse_part(archive_, *types, wb_max_small_part_bytes, ch, wb_xml_ns::content_types);
    workbook_part = ch.workbook_part;
    if (workbook_part.empty() && archive_.find("xl/workbook.xml")) workbook_part = "xl/workbook.xml";
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
  parse_part(archive_, *index, wb_max_small_part_bytes, wh, main_ns);
  date_system_ = wh.dates;
  const auto rels = read_rels(archive_, part);
  // The workbook's relationships are where its sheets are: without them no sheet can be read, and
  // listing none would pass for an empty workbook.
  if (!rels.found && !wh.sheets.empty())
    throw wb_unreadable(path(), "the relationships part '" + rels.part + "' of the workbook is missing");
  std::string styles_part;
  for (const auto& [id, rel] : rels.by_id) {
    if (ends_with(rel.type, "/sharedStrings")) shared_strings_part_ = wb_resolve_part(part, rel.target);
    if (ends_with(rel.type, "/styles")) styles_part = wb_resolve_part(part, rel.target);
  }
  // A sheet whose part cannot be found fails alone, as a damaged one does: it is listed, its reading
  // fails with the reason, and the workbook's other sheets stay readable.
  for (const auto& s : wh.sheets) {
    const auto rel = rels.by_id.find(s.rid);
    if (rel == rels.by_id.end()) {
      sheets_.push_back({{s.name, s.hidden}, {},
                         "sheet '" + s.name + "' names relationship '" + s.rid + "', which '" + rels.part +
                             "' does not hold"});
      continue;
    }
    if (!ends_with(rel->second.type, "/worksheet")) continue;  // chart, macro, dialog
    std::string sheet_part = wb_resolve_part(part, rel->second.target);
    std::string unreadable;
    if (!archive_.find(sheet_part)) unreadable = "the part '" + sheet_part + "' of sheet '" + s.name + "' is missing";
    sheets_.push_back({{s.name, s.hidden}, std::move(sheet_part), std::move(unreadable)});
  }
  if (!styles_part.empty()) read_styles(styles_part);
}

void wb_xlsx_package::read_styles(const std::string& part) {
  const auto index = archive_.find(part);
  if (!index) return;
  styles_handler sh(path());
  parse_part(archive_, *index, wb_max_small_part_bytes, sh, main_ns);
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
        parse_part(archive_, *index, wb_max_part_bytes, h, main_ns);
      }
    }
    shared_strings_ = std::move(table);
  }
  return *shared_strings_;
}

#pragma once
// A scanner specialised for worksheet XML, the hot path of reading: elements, attributes, text,
// the five predefined entities and character references, CDATA, comments and processing
// instructions, namespace prefixes bound and resolved, with tags checked to nest. It refuses a
// DOCTYPE like the expat path, and hands the handler the same events (names by namespace and local
// name, decoded values, line ends normalised). Documents declared
// in another encoding than UTF-8 are left to expat (see wb_sheet_scanner_suits).
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "workbook/xlsx/wb_xml_parser.h"

/// What the scanner asks its input for at a time.
inline constexpr std::size_t wb_sheet_scan_read_bytes = 256 * 1024;

/// Where the scanner takes its bytes from: the part itself, or a piece of it (see wb_split_sheet).
class wb_sheet_bytes {
 public:
  virtual ~wb_sheet_bytes() = default;
  /// Up to `size` bytes into `buffer`; 0 at the part's end.
  virtual std::size_t read(char* buffer, std::size_t size) = 0;
};

class wb_sheet_scanner;

/// Where a scan stands between two tokens: the elements open and the namespace prefixes in scope.
struct wb_xml_scope {
  struct binding {
    std::string prefix;  // "" binds the default namespace
    wb_xml_ns ns = wb_xml_ns::none;
    std::size_t depth = 0;  // the elements open around the element that declares it
    bool operator==(const binding&) const = default;
  };
  std::vector<std::string> open;  // qualified names, outermost first
  std::vector<wb_xml_ns> open_ns;  // their namespaces
  std::vector<binding> bindings;  // in the order declared
  bool operator==(const wb_xml_scope&) const = default;
};

/// Told when the scan reaches an offset it was asked to stop at (set_stop), between two tokens.
class wb_sheet_scan_stops {
 public:
  virtual ~wb_sheet_scan_stops() = default;
  /// True to end run() there (stopped() then tells it from the document's end); else the hook
  /// moves the next stop with set_stop and the scan goes on.
  virtual bool reached(wb_sheet_scanner& scanner, std::uint64_t offset) = 0;
};

class wb_sheet_scanner final : public wb_xml_source {
 public:
  wb_sheet_scanner(wb_zip_part_stream& input, wb_xml_handler& handler, const std::string& path);
  /// Scans `bytes`, the part's text from offset `first` on, naming `part` in errors.
  wb_sheet_scanner(wb_sheet_bytes& bytes, std::uint64_t first, const std::string& part, wb_xml_handler& handler,
                   const std::string& path);
  bool run() override;
  void suspend() override { suspended_ = true; }
  [[noreturn]] void fail(const std::string& reason) override;

  /// Starts as if standing in `scope` (elements open, prefixes bound), past the prolog.
  void resume_inside(const wb_xml_scope& scope);
  /// From now on run() calls `stops` once the scan is at or past `offset` between two tokens.
  void set_stop(wb_sheet_scan_stops* stops, std::uint64_t offset) {
    stops_ = stops;
    next_stop_ = offset;
  }
  /// run() returned false at a stop rather than at the document's end.
  bool stopped() const { return stopped_; }
  /// Qualified names of the elements open, outermost first.
  const std::vector<std::string>& open_elements() const { return scope_.open; }
  /// The elements open and the prefixes bound.
  const wb_xml_scope& scope() const { return scope_; }
  /// Lends the scanner `memory` for its buffer, and takes it back after the scan: a thread that
  /// scans many pieces keeps one buffer.
  void lend_buffer(std::string&& memory) {
    buf_ = std::move(memory);
    buf_.clear();
  }
  std::string return_buffer() { return std::move(buf_); }
  /// The part's offset of the next byte to scan.
  std::uint64_t offset() const { return base_ + pos_; }

 private:
  // At least `need` bytes after pos_; false at the part's end.
  bool fill(std::size_t need) { return buf_.size() - pos_ >= need || read_more(need); }
  bool read_more(std::size_t need);
  std::size_t find(std::string_view what, std::size_t from);
  std::size_t tag_end();
  void skip_past(std::string_view end, const char* what);
  void element();
  void end_tag();
  void text();
  void cdata();
  // The text of `raw` with references decoded: `raw` itself when it needs no change, else `out`.
  std::string_view decode(std::string_view raw, std::string& out, bool attribute);
  // Appends the character `ref` (a reference without '&' and ';') stands for.
  void decode_reference(std::string_view ref, std::string& out);
  void check_utf8(std::string_view s);
  // The namespace `prefix` is bound to ("" the default one); fails when it is bound to none.
  wb_xml_ns resolve(std::string_view prefix);
  wb_xml_ns resolve_default() const;
  void bind(std::string_view prefix, std::string_view uri);
  // Forgets the prefixes bound by the element just closed (at depth open_.size()).
  void unbind();

  std::unique_ptr<wb_sheet_bytes> own_input_;
  wb_sheet_bytes& input_;
  std::string part_;
  wb_xml_handler& handler_;
  std::string path_;
  std::string buf_;
  std::size_t pos_ = 0;
  std::uint64_t base_ = 0;  // the part's offset of buf_[0]
  wb_sheet_scan_stops* stops_ = nullptr;
  std::uint64_t next_stop_ = std::numeric_limits<std::uint64_t>::max();
  bool eof_ = false, started_ = false, root_done_ = false, suspended_ = false, stopped_ = false;
  wb_xml_scope scope_;
  wb_xml_ns default_ns_ = wb_xml_ns::none;  // what the scope binds to "", looked up once per change
  std::vector<wb_xml_attribute> attrs_;
  std::deque<std::string> values_;  // decoded attribute values; a deque keeps views into them valid
  std::vector<std::string_view> names_, views_;
  std::string text_;
};

/// False when the part's first bytes declare an encoding other than UTF-8 (or are UTF-16).
bool wb_sheet_scanner_suits(std::string_view head);

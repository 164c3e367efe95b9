#pragma once
// A scanner specialised for worksheet XML, the hot path of reading: elements, attributes, text,
// the five predefined entities and character references, CDATA, comments and processing
// instructions, with tags checked to nest. It refuses a DOCTYPE like the expat path, and hands the
// handler the same events (local names, decoded values, line ends normalised). Documents declared
// in another encoding than UTF-8 are left to expat (see wb_sheet_scanner_suits).
#include <deque>
#include <string>
#include <vector>

#include "workbook/xlsx/wb_xml_parser.h"

class wb_sheet_scanner final : public wb_xml_source {
 public:
  wb_sheet_scanner(wb_zip_part_stream& input, wb_xml_handler& handler, const std::string& path);
  bool run() override;
  void suspend() override { suspended_ = true; }
  [[noreturn]] void fail(const std::string& reason) override;

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
  void check_utf8(std::string_view s);

  wb_zip_part_stream& input_;
  wb_xml_handler& handler_;
  std::string path_;
  std::string buf_;
  std::size_t pos_ = 0;
  bool eof_ = false, started_ = false, root_done_ = false, suspended_ = false;
  std::vector<std::string> open_;  // qualified names of the open elements
  std::vector<wb_xml_attribute> attrs_;
  std::deque<std::string> values_;  // decoded attribute values; a deque keeps views into them valid
  std::vector<std::string_view> names_, views_;
  std::string text_;
};

/// False when the part's first bytes declare an encoding other than UTF-8 (or are UTF-16).
bool wb_sheet_scanner_suits(std::string_view head);

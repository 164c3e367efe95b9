#pragma once
// Expat over a ZIP part, with every name resolved to its namespace and local name, DTDs and entity
// declarations refused, and the nesting depth and the bytes fed without an event capped. A handler
// may suspend the parse after an element to hand out data.
#include <expat.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/xlsx/wb_xml_source.h"
#include "workbook/xlsx/wb_zip_archive.h"

/// The namespaces a package's parts are written in. Transitional and Strict name the same
/// vocabulary; every other namespace (the extensions later versions add: x14, x15, mc, ...) is
/// `other`, so an element of an extension never stands in for the one the reader looks for.
enum class wb_xml_ns : std::uint8_t {
  none,           // no namespace: unprefixed attributes, and documents written without declarations
  spreadsheet,    // SpreadsheetML main
  relationships,  // officeDocument relationships (r:id)
  package_relationships,
  content_types,
  other,
};

/// The vocabulary a namespace URI names.
wb_xml_ns wb_classify_namespace(std::string_view uri);

/// An element's name: its namespace and local name.
struct wb_xml_name {
  wb_xml_ns ns = wb_xml_ns::none;
  std::string_view local;
  /// The element `local` of `vocabulary`; a document without namespace declarations counts as
  /// written in the vocabulary of its part.
  bool is(wb_xml_ns vocabulary, std::string_view name) const {
    return local == name && (ns == vocabulary || ns == wb_xml_ns::none);
  }
};

/// One attribute: its namespace (none when unprefixed), local name and value.
struct wb_xml_attribute {
  wb_xml_ns ns = wb_xml_ns::none;
  std::string_view name;
  std::string_view value;
};

/// The value of the attribute `name` in namespace `ns` (unprefixed: none); empty when absent.
std::string_view wb_xml_attr(const std::vector<wb_xml_attribute>& attrs, std::string_view name,
                             wb_xml_ns ns = wb_xml_ns::none);

class wb_xml_handler {
 public:
  virtual ~wb_xml_handler() = default;
  virtual void start(wb_xml_name name, const std::vector<wb_xml_attribute>& attrs) = 0;
  virtual void end(wb_xml_name name) = 0;
  virtual void text(std::string_view) {}
};

class wb_xml_parser final : public wb_xml_source {
 public:
  wb_xml_parser(wb_zip_part_stream& input, wb_xml_handler& handler, const std::string& path);
  ~wb_xml_parser();
  wb_xml_parser(const wb_xml_parser&) = delete;
  wb_xml_parser& operator=(const wb_xml_parser&) = delete;

  /// Parses until the handler calls suspend() (true) or the document ends (false). Throws 3274.
  bool run() override;
  /// From a handler's end(): stop after the current element; run() resumes there.
  void suspend() override;
  /// From a handler: abandon the parse with 3274 naming `reason`.
  [[noreturn]] void fail(const std::string& reason) override;
  int depth() const { return depth_; }

 private:
  static void on_start(void* self, const XML_Char* name, const XML_Char** attrs);
  static void on_end(void* self, const XML_Char* name);
  static void on_text(void* self, const XML_Char* s, int len);
  static void on_other(void* self, const XML_Char*);
  static void on_doctype(void* self, const XML_Char*, const XML_Char*, const XML_Char*, int);
  static void on_entity(void* self, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                        const XML_Char*, const XML_Char*, const XML_Char*);
  void abort_with(const std::string& reason);
  [[noreturn]] void throw_parse_error();
  bool after_status(XML_Status status);

  wb_zip_part_stream& input_;
  wb_xml_handler& handler_;
  std::string path_;
  XML_Parser parser_;
  std::vector<wb_xml_attribute> attrs_;
  std::vector<char> buffer_;
  std::string pending_error_;
  std::exception_ptr pending_exception_;
  std::uint64_t fed_since_event_ = 0;
  int depth_ = 0;
  bool suspended_ = false;
  bool finished_ = false;
};

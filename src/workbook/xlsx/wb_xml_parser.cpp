#include "workbook/xlsx/wb_xml_parser.h"

#include <cstring>

#include "workbook/wb_errors.h"
#include "workbook/wb_limits.h"

namespace {

constexpr char ns_separator = '\x01';
constexpr std::size_t chunk_size = 64 * 1024;

// Expat hands names as "uri<sep>local", or "local" for names in no namespace.
wb_xml_name split_name(const char* name) {
  const char* sep = std::strrchr(name, ns_separator);
  if (!sep) return {wb_xml_ns::none, name};
  return {wb_classify_namespace(std::string_view(name, static_cast<std::size_t>(sep - name))), sep + 1};
}

}  // namespace

wb_xml_ns wb_classify_namespace(std::string_view uri) {
  if (uri == "http://schemas.openxmlformats.org/spreadsheetml/2006/main" ||
      uri == "http://purl.oclc.org/ooxml/spreadsheetml/main")
    return wb_xml_ns::spreadsheet;
  if (uri == "http://schemas.openxmlformats.org/officeDocument/2006/relationships" ||
      uri == "http://purl.oclc.org/ooxml/officeDocument/relationships")
    return wb_xml_ns::relationships;
  if (uri == "http://schemas.openxmlformats.org/package/2006/relationships") return wb_xml_ns::package_relationships;
  if (uri == "http://schemas.openxmlformats.org/package/2006/content-types") return wb_xml_ns::content_types;
  if (uri.empty()) return wb_xml_ns::none;
  return wb_xml_ns::other;
}

std::string_view wb_xml_attr(const std::vector<wb_xml_attribute>& attrs, std::string_view name, wb_xml_ns ns) {
  for (const auto& a : attrs)
    if (a.ns == ns && a.name == name) return a.value;
  return {};
}

wb_xml_parser::wb_xml_parser(wb_zip_part_stream& input, wb_xml_handler& handler, const std::string& path)
    : input_(input), handler_(handler), path_(path), parser_(XML_ParserCreateNS(nullptr, ns_separator)) {
  if (!parser_) throw std::bad_alloc();
  XML_SetUserData(parser_, this);
  XML_SetElementHandler(parser_, on_start, on_end);
  XML_SetCharacterDataHandler(parser_, on_text);
  XML_SetCommentHandler(parser_, on_other);
  XML_SetStartDoctypeDeclHandler(parser_, on_doctype);
  XML_SetEntityDeclHandler(parser_, on_entity);
  XML_SetParamEntityParsing(parser_, XML_PARAM_ENTITY_PARSING_NEVER);
  buffer_.resize(chunk_size);
}

wb_xml_parser::~wb_xml_parser() { XML_ParserFree(parser_); }

void wb_xml_parser::abort_with(const std::string& reason) {
  if (pending_error_.empty()) pending_error_ = reason;
  XML_StopParser(parser_, XML_FALSE);
}

void wb_xml_parser::fail(const std::string& reason) { throw wb_unreadable(path_, reason); }

void wb_xml_parser::suspend() { suspended_ = true; }

void wb_xml_parser::on_start(void* p, const XML_Char* name, const XML_Char** attrs) {
  auto* self = static_cast<wb_xml_parser*>(p);
  if (self->pending_exception_ || !self->pending_error_.empty()) return;
  self->fed_since_event_ = 0;
  if (++self->depth_ > static_cast<int>(wb_max_xml_depth)) {
    self->abort_with("XML nesting deeper than " + std::to_string(wb_max_xml_depth) + " levels in '" +
                     self->input_.name() + "'");
    return;
  }
  self->attrs_.clear();
  for (const XML_Char** a = attrs; *a; a += 2) {
    const wb_xml_name n = split_name(a[0]);
    self->attrs_.push_back({n.ns, n.local, a[1]});
  }
  try {
    self->handler_.start(split_name(name), self->attrs_);
  } catch (...) {
    self->pending_exception_ = std::current_exception();
    XML_StopParser(self->parser_, XML_FALSE);
  }
}

void wb_xml_parser::on_end(void* p, const XML_Char* name) {
  auto* self = static_cast<wb_xml_parser*>(p);
  if (self->pending_exception_ || !self->pending_error_.empty()) return;
  self->fed_since_event_ = 0;
  --self->depth_;
  try {
    self->handler_.end(split_name(name));
  } catch (...) {
    self->pending_exception_ = std::current_exception();
    XML_StopParser(self->parser_, XML_FALSE);
    return;
  }
  if (self->suspended_) XML_StopParser(self->parser_, XML_TRUE);
}

void wb_xml_parser::on_text(void* p, const XML_Char* s, int len) {
  auto* self = static_cast<wb_xml_parser*>(p);
  if (self->pending_exception_ || !self->pending_error_.empty()) return;
  self->fed_since_event_ = 0;
  try {
    self->handler_.text(std::string_view(s, static_cast<std::size_t>(len)));
  } catch (...) {
    self->pending_exception_ = std::current_exception();
    XML_StopParser(self->parser_, XML_FALSE);
  }
}

void wb_xml_parser::on_other(void* p, const XML_Char*) { static_cast<wb_xml_parser*>(p)->fed_since_event_ = 0; }

void wb_xml_parser::on_doctype(void* p, const XML_Char*, const XML_Char*, const XML_Char*, int) {
  auto* self = static_cast<wb_xml_parser*>(p);
  self->abort_with("part '" + self->input_.name() + "' holds a document type declaration");
}

void wb_xml_parser::on_entity(void* p, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                              const XML_Char*, const XML_Char*, const XML_Char*) {
  auto* self = static_cast<wb_xml_parser*>(p);
  self->abort_with("part '" + self->input_.name() + "' declares entities");
}

void wb_xml_parser::throw_parse_error() {
  if (pending_exception_) std::rethrow_exception(pending_exception_);
  if (!pending_error_.empty()) fail(pending_error_);
  fail("malformed XML in part '" + input_.name() + "' at line " +
       std::to_string(XML_GetCurrentLineNumber(parser_)) + " (" + XML_ErrorString(XML_GetErrorCode(parser_)) + ")");
}

// True when the parse stopped on a suspension.
bool wb_xml_parser::after_status(XML_Status status) {
  if (status == XML_STATUS_ERROR || pending_exception_ || !pending_error_.empty()) throw_parse_error();
  if (status == XML_STATUS_SUSPENDED) {
    suspended_ = false;
    return true;
  }
  return false;
}

bool wb_xml_parser::run() {
  if (finished_) return false;
  XML_ParsingStatus ps;
  XML_GetParsingStatus(parser_, &ps);
  if (ps.parsing == XML_SUSPENDED) {
    if (after_status(XML_ResumeParser(parser_))) return true;
    XML_GetParsingStatus(parser_, &ps);
    if (ps.parsing == XML_FINISHED) {
      finished_ = true;
      return false;
    }
  }
  for (;;) {
    const std::size_t n = input_.read(buffer_.data(), buffer_.size());
    fed_since_event_ += n;
    if (fed_since_event_ > wb_max_xml_token_bytes)
      fail("an XML token in part '" + input_.name() + "' exceeds " + std::to_string(wb_max_xml_token_bytes) +
           " bytes");
    const bool last = n == 0;
    if (after_status(XML_Parse(parser_, buffer_.data(), static_cast<int>(n), last))) return true;
    if (last) {
      finished_ = true;
      return false;
    }
  }
}

#pragma once
// What drives a handler through an XML part: expat (every part) or the sheet scanner (the hot path
// of worksheets). Both hand the handler the same events.
#include <string>

class wb_xml_source {
 public:
  virtual ~wb_xml_source() = default;
  /// Parses until the handler calls suspend() (true) or the document ends (false). Throws 3274.
  virtual bool run() = 0;
  /// From a handler's end(): stop after the current element; run() resumes there.
  virtual void suspend() = 0;
  /// From a handler: abandon the parse with 3274 naming `reason`.
  [[noreturn]] virtual void fail(const std::string& reason) = 0;
};

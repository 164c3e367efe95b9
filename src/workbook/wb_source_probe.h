#pragma once
// What a path holds, told from the file system and the file's first bytes before a reader opens
// it, so that a path that is no workbook is refused saying what it is.
#include <string>

enum class wb_source_kind : unsigned char {
  xlsx,           // a ZIP package
  xls,            // a compound document
  missing,        // nothing at the path
  folder,         // a folder
  not_a_file,     // a pipe, socket or device: never opened, a pipe would wait for a writer
  unopenable,     // exists but cannot be opened (permissions)
  empty,          // 0 bytes
  too_short,      // fewer bytes than a workbook's signature
  old_worksheet,  // a bare BIFF2-4 worksheet stream
  other,          // any other content
};

struct wb_source_probe {
  wb_source_kind kind = wb_source_kind::other;
  /// The engine's error number for a refusal (3024 missing, 3051 cannot be opened, 3274 no
  /// readable workbook); 0 for a workbook kind.
  long number = 0;
  /// Why the path is no workbook, a sentence naming the path; empty for a workbook kind.
  std::string reason;
  bool is_workbook() const noexcept { return kind == wb_source_kind::xlsx || kind == wb_source_kind::xls; }
};

/// Never throws for a path that cannot be read: that is the probe's answer.
wb_source_probe wb_probe_source(const std::string& path);

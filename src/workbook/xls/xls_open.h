#pragma once
// Entry points of the .xls reader besides wb_open_xls (declared in workbook/wb_reader.h).
#include <memory>
#include <string>

#include "workbook/wb_reader.h"

/// What a file holds, judged by the compound-document container, for the engine's signature check.
enum class wb_cfb_content {
  not_compound,       // no compound-document signature
  workbook,           // a "Workbook" or "Book" stream: hand it to wb_open_xls
  encrypted_package,  // an encrypted .xlsx: wb_open_xls reports it as password-protected (3161)
  other,              // a compound document without a workbook
};

/// Reads the container's directory of `path`. Throws wb_error: 3024 missing, 3051 not openable,
/// 3274 a damaged container.
wb_cfb_content wb_cfb_kind(const std::string& path);

/// Opens an .xls held in memory; `name` stands for the path in error texts (tests, fuzzing).
std::unique_ptr<wb_reader> wb_open_xls_bytes(std::string bytes, const std::string& name);

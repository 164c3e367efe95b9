#pragma once
// Streams one worksheet part: the parser pauses after each row and hands its cells out.
#include <memory>

#include "workbook/wb_reader.h"
#include "workbook/xlsx/wb_xlsx_package.h"

/// The scanner is the hot path; expat reads what the scanner leaves to it, and serves as the
/// reference the scanner is tested against.
enum class wb_sheet_parser { scanner, expat };

std::unique_ptr<wb_sheet_stream> wb_open_xlsx_sheet(wb_xlsx_package& package, std::size_t index,
                                                    wb_sheet_parser parser = wb_sheet_parser::scanner);

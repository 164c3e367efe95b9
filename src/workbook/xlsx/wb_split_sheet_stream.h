#pragma once
// Reads a long worksheet part on several threads. The inflated text is cut into pieces just before
// a row's start tag; each piece is scanned on a worker as if the scan stood inside sheetData between
// two rows, while the pieces before it are still being scanned. That start is only a guess: a scan
// that ends its piece in exactly that state, with the next piece's first row numbered after its
// own last row, confirms the next piece; otherwise it goes on over the next piece's text as one
// scan over the whole part would, and the next piece's results are dropped. Rows, their cells and
// the first error therefore come out as the one-thread scan gives them, in file order; memory holds
// a fixed number of pieces.
#include <memory>

#include <zip.h>

#include "workbook/xlsx/wb_read_ahead_stream.h"
#include "workbook/xlsx/wb_xlsx_package.h"
#include "workbook/xlsx/wb_xlsx_sheet.h"

/// Streams the sheet part at archive entry `part` (the scanner must suit it), cut as `split` says.
std::unique_ptr<wb_sheet_stream> wb_open_split_sheet(wb_xlsx_package& package, zip_uint64_t part,
                                                     const wb_sheet_split& split);

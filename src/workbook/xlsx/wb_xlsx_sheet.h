#pragma once
// Streams one worksheet part: the parser pauses after each row and hands its cells out.
#include <cstdint>
#include <memory>

#include "workbook/wb_reader.h"
#include "workbook/xlsx/wb_xlsx_package.h"

/// The scanner is the hot path; expat reads what the scanner leaves to it, and serves as the
/// reference the scanner is tested against.
enum class wb_sheet_parser { scanner, expat };

/// How a long sheet part is cut into pieces scanned on several threads (wb_split_sheet_stream.h).
/// workers below 2 reads every part on one thread.
/// Pieces are small: the rows of every piece held are held decoded as well, and memory is to stay
/// within a few megabytes of what one thread needs.
struct wb_sheet_split {
  std::uint64_t min_part_bytes = 4ull << 20;  // shorter parts are read on one thread
  std::size_t piece_bytes = 128u << 10;       // a piece is cut at the first row start after this many
  unsigned workers = 3;
  unsigned pieces_in_flight = 4;  // pieces held at once, being scanned or waiting to be handed out
};

std::unique_ptr<wb_sheet_stream> wb_open_xlsx_sheet(wb_xlsx_package& package, std::size_t index,
                                                    wb_sheet_parser parser = wb_sheet_parser::scanner,
                                                    const wb_sheet_split& split = {});

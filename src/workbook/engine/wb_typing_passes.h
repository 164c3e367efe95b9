#pragma once
// The typing passes of several worksheets, run before any of them is converted: each sheet is read
// whole once and only its layout (range and column types) is kept, so memory does not grow with the
// rows, and a sheet that cannot be read is known before anything is written anywhere. The passes of
// different sheets are independent and run side by side on a few threads.
#include <cstddef>
#include <exception>
#include <optional>
#include <vector>

#include "workbook/wb_sheet_model.h"

/// One sheet's typing pass: its layout, or what the pass threw.
struct wb_typing_result {
  std::optional<wb_sheet_layout> layout;
  std::exception_ptr failure;
};

/// Runs the typing pass of every sheet in `sheets` (indexes into `reader`), at most `threads` at
/// once, the calling thread among them. The results follow the order of `sheets`; each is what a
/// pass of its own on the calling thread gives.
std::vector<wb_typing_result> wb_type_sheets(wb_reader& reader, const std::vector<std::size_t>& sheets, bool header,
                                             unsigned threads);

/// How many sheets are typed at once: nothing else runs while they are, so the cores but two, at
/// most six (each pass holds a few megabytes, and a large sheet's pass reads on several threads).
unsigned wb_typing_threads(std::size_t sheet_count);

/// How many threads each of `passes_at_once` typing passes may decode its sheet on: nothing else
/// runs while they do, so the cores but two (one inflates, one takes the rows), shared among the
/// passes; at most six, past which inflating one part is the limit.
unsigned wb_typing_decode_threads(unsigned passes_at_once);

#pragma once
// Decodes a sheet's rows on a worker thread while the caller works on the rows already decoded:
// inflating and scanning the XML then overlap with what the caller does with each row.
#include <memory>

#include "workbook/wb_reader.h"

/// A stream that already decodes ahead on threads of its own: wb_read_ahead hands it through.
class wb_decoding_ahead_stream : public wb_sheet_stream {};

/// Wraps `source`, which the worker then pulls: rows come out in the same order, and a failure of
/// the source comes out of next_row once the rows decoded before it are handed out, as it would
/// from the source itself. Memory holds at most a few batches of rows.
std::unique_ptr<wb_sheet_stream> wb_read_ahead(std::unique_ptr<wb_sheet_stream> source);

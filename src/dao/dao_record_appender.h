#pragma once
// Appends one row to an engine table opened for writing: the record's fields, converted to the
// table's column types, as a new row.
#include "udb/udb_record.h"
#include "udb/udb_recordset.h"
#include "workbook/wb_engine.h"

/// Text of the level-0 error for a record whose field count differs from the table's.
inline constexpr const char* dao_append_mismatch_text =
    "The structures of data source does not conform to the destination table.";

/// Adds `record` as a new row of `recordset`, the engine cursor of `target`, and counts it in
/// target.rec_count. A field count other than the schema's raises a level-0 tk_exception before
/// anything is added; an engine value that is too large leaves that field empty.
void dao_append_record(wb_recordset& recordset, udb_recordset& target, udb_record& record);

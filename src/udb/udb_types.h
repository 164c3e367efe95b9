#pragma once

// Column types are automation VARTYPE codes in their standard numbering (platform/auto_types.h).
#include "platform/auto_types.h"

/// Meanings of t_ftd::reserved, the word a column's creator passes through to the other side.
/** Date columns: the workbook source sets udb_reserved_date_time (also for GUID columns),
    udb_reserved_date_now (a date whose default is the current time; it then has no default
    value) or 0. The PostgreSQL side reads udb_reserved_date_only as DATE, udb_reserved_time_only
    as TIME and any other value of a VT_DATE column as TIMESTAMP. VT_DECIMAL columns carry their
    precision in bits 8 to 15 and their scale in bits 0 to 7. */
inline constexpr int udb_reserved_date_time = 1;
inline constexpr int udb_reserved_date_only = 2;
inline constexpr int udb_reserved_time_only = 3;
inline constexpr int udb_reserved_date_now = 9;

constexpr int udb_decimal_reserved(int precision, int scale)
{
    return ((precision & 0xFF) << 8) | (scale & 0xFF);
}
constexpr int udb_decimal_precision(int reserved) { return (reserved >> 8) & 0xFF; }
constexpr int udb_decimal_scale(int reserved) { return reserved & 0xFF; }

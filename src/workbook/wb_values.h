#pragma once
// Value rules shared by every reader: workbook serials to dates, exact currency, locale-free text
// rendering, and the text decoding of .xlsx strings.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "workbook/wb_reader.h"

/// A workbook serial as an OLE date, snapped to the millisecond; empty when it is no date. The
/// platform's serial rules, one for every reader of the engine.
std::optional<double> wb_serial_date(double serial, bool date1904);
std::optional<double> wb_serial_date(double serial, wb_date_system system);

/// Days since 1899-12-30 of a proleptic Gregorian date (no range check).
std::int64_t wb_days_from_civil(int year, unsigned month, unsigned day);

/// The value in ten-thousandths when it fits a currency exactly: at most 4 decimals in its shortest
/// form and a magnitude below 922,337,203,685,477.
std::optional<std::int64_t> wb_exact_currency(double value);

/// 15 significant digits, shortest form: 3, 2.5, 0.1, 1e+20.
std::string wb_render_number(double value);
/// YYYY-MM-DD, YYYY-MM-DD HH:MM:SS or HH:MM:SS (a time of day below 1), ".mmm" when not 0.
std::string wb_render_date(double ole_date);
inline std::string wb_render_boolean(bool b) { return b ? "TRUE" : "FALSE"; }

/// Code points of valid UTF-8 text.
std::size_t wb_count_code_points(std::string_view utf8);

/// Appends `raw` to `out` decoding the format's _xHHHH_ escapes (surrogate pairs joined; lone
/// surrogates become U+FFFD).
void wb_decode_escapes(std::string_view raw, std::string& out);

/// Appends the UTF-8 form of code point `cp` (invalid ones as U+FFFD).
void wb_append_utf8(std::string& out, char32_t cp);

/// Parses an ISO 8601 date, date-time or time ("2020-01-31", "2020-01-31T10:15:00.5", "10:15:00")
/// to an OLE date; empty when it is not one.
std::optional<double> wb_parse_iso_date(std::string_view text);

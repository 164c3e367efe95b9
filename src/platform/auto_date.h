#pragma once
// Date serials of automation values: days since 1899-12-30, the time of day as the fraction. Before that
// day the fraction counts the other way (-1.25 is 1899-12-29 06:00). Precision is one millisecond.
#include <optional>

#include "platform/auto_types.h"

namespace platform {

inline constexpr double date_serial_min = -657434.0;   // 0100-01-01
inline constexpr double date_serial_end = 2958466.0;   // 10000-01-01, excluded

bool is_leap_year(int year);
/// Days of the month, 0 for a month outside 1..12.
int days_in_month(int year, int month);

/// A real date 100-01-01..9999-12-31 with hour <= 23, minute and second <= 59, milliseconds <= 999,
/// or year, month and day all 0 for a time of day alone (the fraction alone). False otherwise.
bool systemtime_to_date(const SYSTEMTIME& st, double& serial);

/// Rounded to the nearest millisecond, a carry going up to the day. False outside
/// [date_serial_min, date_serial_end) and for a value that is not finite.
bool date_to_systemtime(double serial, SYSTEMTIME& st);

/// How a workbook counts its days.
enum class workbook_date_system {
    from_1900,                   // 1900-01-01 is 1, with a day 60 for the 1900-02-29 that never was
    from_1900_without_leap_day,  // 1899-12-30 is 0, 1900-01-01 is 2: the date serials themselves
    from_1904,                   // 1904-01-02 is 1
};

/// Workbook day numbers to date serials, snapped to the millisecond. In every system values below 1 are
/// a time of day alone. The 1900 system counts 1900-01-01 as 1 and has a day 60 for the 1900-02-29 that
/// never was: that day has no date (nullopt). The 1900 system without that day counts as date serials
/// do. The 1904 system counts 1904-01-02 as 1. Negative values and values after 9999-12-31 have no
/// date either.
std::optional<double> workbook_serial_to_date(double serial, workbook_date_system system);
/// The 1904 system when `date1904`, else the 1900 system with its day 60.
std::optional<double> workbook_serial_to_date(double serial, bool date1904);

}  // namespace platform

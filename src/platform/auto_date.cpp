#include "platform/auto_date.h"

#include <cmath>

namespace platform {
namespace {

constexpr long long ms_per_day = 86400000LL;

// Days from 1970-01-01 of a proleptic Gregorian date.
long long days_from_civil(long long y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void civil_from_days(long long z, int& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long yy = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int>(yy + (m <= 2));
}

const long long epoch_days = days_from_civil(1899, 12, 30);

}  // namespace

bool is_leap_year(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int days_in_month(int year, int month)
{
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && is_leap_year(year) ? 29 : days[month - 1];
}

bool systemtime_to_date(const SYSTEMTIME& st, double& serial)
{
    if (st.hour > 23 || st.minute > 59 || st.second > 59 || st.milliseconds > 999) return false;
    const double fraction =
        static_cast<double>(((st.hour * 60 + st.minute) * 60 + st.second) * 1000LL + st.milliseconds) / ms_per_day;
    if (st.year == 0 && st.month == 0 && st.day == 0) {
        serial = fraction;
        return true;
    }
    if (st.year < 100 || st.year > 9999 || st.day < 1 || st.day > days_in_month(st.year, st.month)) return false;
    const long long days = days_from_civil(st.year, st.month, st.day) - epoch_days;
    serial = days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
    return true;
}

bool date_to_systemtime(double serial, SYSTEMTIME& st)
{
    if (!std::isfinite(serial) || serial < date_serial_min || serial >= date_serial_end) return false;
    double whole = std::trunc(serial);
    long long ms = std::llround(std::fabs(serial - whole) * ms_per_day);
    long long days = static_cast<long long>(whole);
    if (ms >= ms_per_day) {
        ms -= ms_per_day;
        ++days;
    }
    int y = 0;
    unsigned m = 0, d = 0;
    const long long civil = days + epoch_days;
    civil_from_days(civil, y, m, d);
    if (y > 9999) return false;
    st = SYSTEMTIME{};
    st.year = static_cast<std::uint16_t>(y);
    st.month = static_cast<std::uint16_t>(m);
    st.day = static_cast<std::uint16_t>(d);
    // 1970-01-01 was a Thursday (4).
    st.day_of_week = static_cast<std::uint16_t>(((civil % 7) + 7 + 4) % 7);
    st.milliseconds = static_cast<std::uint16_t>(ms % 1000);
    ms /= 1000;
    st.second = static_cast<std::uint16_t>(ms % 60);
    ms /= 60;
    st.minute = static_cast<std::uint16_t>(ms % 60);
    st.hour = static_cast<std::uint16_t>(ms / 60);
    return true;
}

std::optional<double> workbook_serial_to_date(double serial, workbook_date_system system)
{
    if (!std::isfinite(serial) || serial < 0) return std::nullopt;
    double result = serial;
    if (serial < 1.0) {
        // A time of day alone, in every system: the fraction of the zero date.
    } else if (system == workbook_date_system::from_1900_without_leap_day) {
        // Already a date serial.
    } else if (system == workbook_date_system::from_1904) {
        result = serial + 1462.0;  // 1904-01-01
    } else if (serial < 60.0) {
        result = serial + 1.0;  // before the day that never was, the counts differ by one
    } else if (serial < 61.0) {
        return std::nullopt;
    }
    // Snapped to the millisecond first, so a value a hair before the end of 9999-12-31 is no date.
    const double ms = std::round(result * static_cast<double>(ms_per_day));
    if (ms >= date_serial_end * static_cast<double>(ms_per_day)) return std::nullopt;
    return ms / static_cast<double>(ms_per_day);
}

std::optional<double> workbook_serial_to_date(double serial, bool date1904)
{
    return workbook_serial_to_date(serial, date1904 ? workbook_date_system::from_1904 : workbook_date_system::from_1900);
}

}  // namespace platform

#include "platform/auto_date.h"

#include <cmath>

#include "locale_param.h"

using namespace platform;

namespace {
class auto_date : public locale_param_test {};
TAMARIND_LOCALE_SUITE(auto_date);

SYSTEMTIME make(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    SYSTEMTIME st;
    st.year = static_cast<std::uint16_t>(y);
    st.month = static_cast<std::uint16_t>(mo);
    st.day = static_cast<std::uint16_t>(d);
    st.hour = static_cast<std::uint16_t>(h);
    st.minute = static_cast<std::uint16_t>(mi);
    st.second = static_cast<std::uint16_t>(s);
    st.milliseconds = static_cast<std::uint16_t>(ms);
    return st;
}

double serial_of(const SYSTEMTIME& st)
{
    double serial = 0;
    EXPECT_TRUE(systemtime_to_date(st, serial));
    return serial;
}

void expect_fields(double serial, int y, int mo, int d, int h, int mi, int s, int ms)
{
    SYSTEMTIME st;
    ASSERT_TRUE(date_to_systemtime(serial, st)) << serial;
    EXPECT_EQ(st.year, y);
    EXPECT_EQ(st.month, mo);
    EXPECT_EQ(st.day, d);
    EXPECT_EQ(st.hour, h);
    EXPECT_EQ(st.minute, mi);
    EXPECT_EQ(st.second, s);
    EXPECT_EQ(st.milliseconds, ms);
}
}  // namespace

TEST_P(auto_date, serials_of_known_days)
{
    EXPECT_EQ(serial_of(make(1899, 12, 30)), 0.0);
    EXPECT_EQ(serial_of(make(1900, 1, 1)), 2.0);
    EXPECT_EQ(serial_of(make(1900, 3, 1)), 61.0);
    EXPECT_EQ(serial_of(make(100, 1, 1)), date_serial_min);
    EXPECT_EQ(serial_of(make(9999, 12, 31)), date_serial_end - 1);
    EXPECT_EQ(serial_of(make(2024, 1, 15, 12)), 45306.5);
    EXPECT_EQ(serial_of(make(1899, 12, 29, 6)), -1.25);  // before the epoch the fraction counts back
    EXPECT_EQ(serial_of(make(0, 0, 0, 18)), 0.75);        // a time of day alone
}

TEST_P(auto_date, impossible_fields_fail)
{
    double serial = 0;
    for (const SYSTEMTIME& st : {make(2024, 2, 30), make(2023, 2, 29), make(1900, 2, 29), make(99, 12, 31),
                                 make(10000, 1, 1), make(2024, 13, 1), make(2024, 1, 0), make(2024, 1, 1, 24),
                                 make(2024, 1, 1, 0, 60), make(2024, 1, 1, 0, 0, 60), make(2024, 1, 1, 0, 0, 0, 1000),
                                 make(0, 1, 0)})
        EXPECT_FALSE(systemtime_to_date(st, serial)) << st.year << '-' << st.month << '-' << st.day;
    EXPECT_TRUE(systemtime_to_date(make(2024, 2, 29), serial));
    EXPECT_TRUE(systemtime_to_date(make(2000, 2, 29), serial));
}

TEST_P(auto_date, serials_back_to_fields)
{
    expect_fields(0.0, 1899, 12, 30, 0, 0, 0, 0);
    expect_fields(-1.25, 1899, 12, 29, 6, 0, 0, 0);
    expect_fields(-0.5, 1899, 12, 30, 12, 0, 0, 0);
    expect_fields(date_serial_min, 100, 1, 1, 0, 0, 0, 0);
    expect_fields(serial_of(make(9999, 12, 31, 23, 59, 59, 999)), 9999, 12, 31, 23, 59, 59, 999);
    expect_fields(serial_of(make(2024, 1, 15, 10, 30, 15, 250)), 2024, 1, 15, 10, 30, 15, 250);
    // 23:59:59.9996 rounds to the next millisecond, which is the next day.
    expect_fields(45306.0 + 86399.9996 / 86400.0, 2024, 1, 16, 0, 0, 0, 0);
    SYSTEMTIME st;
    ASSERT_TRUE(date_to_systemtime(45306.0, st));
    EXPECT_EQ(st.day_of_week, 1);  // 2024-01-15 was a Monday
    EXPECT_FALSE(date_to_systemtime(date_serial_end, st));
    EXPECT_FALSE(date_to_systemtime(date_serial_min - 0.5, st));
    EXPECT_FALSE(date_to_systemtime(std::nan(""), st));
}

TEST_P(auto_date, every_millisecond_of_a_day_round_trips)
{
    for (int ms = 0; ms < 86400000; ms += 997) {
        const SYSTEMTIME st = make(2024, 6, 1, ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
        SYSTEMTIME back;
        ASSERT_TRUE(date_to_systemtime(serial_of(st), back));
        ASSERT_EQ((back.hour * 3600 + back.minute * 60 + back.second) * 1000 + back.milliseconds, ms);
        ASSERT_EQ(back.day, 1);
    }
}

TEST_P(auto_date, workbook_serials_1900_and_1904)
{
    auto date_of = [](double serial, bool date1904) {
        const auto ole = workbook_serial_to_date(serial, date1904);
        SYSTEMTIME st;
        if (!ole || !date_to_systemtime(*ole, st)) return std::string("none");
        char buf[32];
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d", st.year, st.month, st.day, st.hour, st.minute);
        return std::string(buf);
    };
    EXPECT_EQ(date_of(1, false), "1900-01-01 00:00");
    EXPECT_EQ(date_of(59, false), "1900-02-28 00:00");
    EXPECT_EQ(date_of(59.5, false), "1900-02-28 12:00");
    EXPECT_EQ(date_of(60, false), "none");  // the 1900-02-29 that never was
    EXPECT_EQ(date_of(60.5, false), "none");
    EXPECT_EQ(date_of(61, false), "1900-03-01 00:00");
    EXPECT_EQ(date_of(45306.75, false), "2024-01-15 18:00");
    EXPECT_EQ(workbook_serial_to_date(0.25, false), 0.25);  // a time of day alone
    EXPECT_EQ(date_of(1, true), "1904-01-02 00:00");
    EXPECT_EQ(date_of(43844.75, true), "2024-01-15 18:00");
    EXPECT_EQ(date_of(-1, false), "none");
    EXPECT_EQ(date_of(2958466, false), "none");
    EXPECT_EQ(date_of(2958465, false), "9999-12-31 00:00");
}

TEST_P(auto_date, workbook_serials_below_one_are_times_of_day_in_both_systems)
{
    for (const bool date1904 : {false, true}) {
        EXPECT_EQ(workbook_serial_to_date(0, date1904), 0.0) << date1904;
        EXPECT_EQ(workbook_serial_to_date(0.25, date1904), 0.25) << date1904;
        EXPECT_EQ(workbook_serial_to_date(0.5, date1904), 0.5) << date1904;
        // 10:15 as a workbook stores it: snapped to the millisecond, the day stays the zero date.
        const auto ten_fifteen = workbook_serial_to_date(0.4270833333, date1904);
        ASSERT_TRUE(ten_fifteen) << date1904;
        SYSTEMTIME st;
        ASSERT_TRUE(date_to_systemtime(*ten_fifteen, st));
        EXPECT_EQ(st.year, 1899);
        EXPECT_EQ(st.day, 30);
        EXPECT_EQ(st.hour * 60 + st.minute, 10 * 60 + 15);
        EXPECT_EQ(st.second, 0);
        EXPECT_EQ(st.milliseconds, 0);
    }
    // From 1 on the 1904 system counts from 1904-01-01.
    EXPECT_EQ(workbook_serial_to_date(1, true), 1463.0);
    EXPECT_EQ(workbook_serial_to_date(1.5, true), 1463.5);
}

TEST_P(auto_date, workbook_serials_1900_without_the_leap_day)
{
    constexpr auto no_leap_day = workbook_date_system::from_1900_without_leap_day;
    auto date_of = [](double serial) {
        const auto ole = workbook_serial_to_date(serial, no_leap_day);
        SYSTEMTIME st;
        if (!ole || !date_to_systemtime(*ole, st)) return std::string("none");
        char buf[32];
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d", st.year, st.month, st.day, st.hour, st.minute);
        return std::string(buf);
    };
    EXPECT_EQ(date_of(1), "1899-12-31 00:00");
    EXPECT_EQ(date_of(1.5), "1899-12-31 12:00");
    EXPECT_EQ(date_of(2), "1900-01-01 00:00");
    EXPECT_EQ(date_of(60), "1900-02-28 00:00");
    EXPECT_EQ(date_of(60.5), "1900-02-28 12:00");
    EXPECT_EQ(date_of(61), "1900-03-01 00:00");
    EXPECT_EQ(date_of(45306.75), "2024-01-15 18:00");  // from day 61 on as in the usual 1900 system
    EXPECT_EQ(workbook_serial_to_date(45306.75, no_leap_day), workbook_serial_to_date(45306.75, false));
    EXPECT_EQ(date_of(2958465), "9999-12-31 00:00");
    EXPECT_EQ(date_of(2958466), "none");
    EXPECT_EQ(date_of(-1), "none");
    EXPECT_EQ(date_of(-0.25), "none");
    EXPECT_EQ(date_of(std::nan("")), "none");
    // Below 1 a time of day alone, snapped to the millisecond, as in the other systems.
    EXPECT_EQ(workbook_serial_to_date(0, no_leap_day), 0.0);
    EXPECT_EQ(workbook_serial_to_date(0.25, no_leap_day), 0.25);
    EXPECT_EQ(workbook_serial_to_date(0.4270833333, no_leap_day), workbook_serial_to_date(0.4270833333, false));
    // The bool form keeps meaning the two usual systems.
    EXPECT_EQ(workbook_serial_to_date(1, workbook_date_system::from_1900), workbook_serial_to_date(1, false));
    EXPECT_EQ(workbook_serial_to_date(1, workbook_date_system::from_1904), workbook_serial_to_date(1, true));
}

TEST_P(auto_date, workbook_serials_snap_to_the_millisecond_before_the_range_check)
{
    EXPECT_FALSE(workbook_serial_to_date(2958465.999999995, false));  // snaps into the year 10000
    EXPECT_FALSE(workbook_serial_to_date(2958465.999999995 - 1462.0, true));
    const auto last = workbook_serial_to_date(2958465.9999, false);
    ASSERT_TRUE(last);
    SYSTEMTIME st;
    ASSERT_TRUE(date_to_systemtime(*last, st));
    EXPECT_EQ(st.year, 9999);
    // 23:59:59.9996 carries into the next day.
    const auto carried = workbook_serial_to_date(45306.0 + 86399.9996 / 86400.0, false);
    ASSERT_TRUE(carried);
    EXPECT_EQ(*carried, 45307.0);
    EXPECT_FALSE(workbook_serial_to_date(std::nan(""), false));
    EXPECT_FALSE(workbook_serial_to_date(-0.25, true));
}

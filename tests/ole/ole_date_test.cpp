// Date and time texts: the shapes read, the checks, and the printed forms.
#include <string>

#include "../platform/locale_param.h"
#include "ole/ole_date.h"
#include "ole/ole_variant.h"

namespace {
class date_text : public locale_param_test {};
TAMARIND_LOCALE_SUITE(date_text);

// The printed form with milliseconds, or "invalid".
std::string read(const std::string& text)
{
    const ole_date date(text);
    return date.is_valid() ? date.to_string(true) : "invalid";
}
}  // namespace

TEST_P(date_text, fixed_shapes)
{
    const ole_date stamp("20240115103015");
    EXPECT_EQ(stamp.get_kind(), ole_date::date_time);
    EXPECT_EQ(stamp.to_string(false), "2024-01-15 10:30:15");
    const ole_date day("20240115");
    EXPECT_EQ(day.get_kind(), ole_date::date_only);
    EXPECT_EQ(day.to_string(false), "2024-01-15");
    EXPECT_EQ(read("2024-01-15 10:30:00"), "2024-01-15 10:30:00");
    EXPECT_EQ(read("2024-01-15 00:00:00"), "2024-01-15");
    EXPECT_EQ(ole_date("2024-01-15 00:00:00").get_kind(), ole_date::date_only);
    EXPECT_EQ(read("2024/01/15"), "2024-01-15");
    EXPECT_EQ(read("15.01.2024 08:05:03"), "2024-01-15 08:05:03");
    EXPECT_EQ(read("15/01/2024"), "2024-01-15");  // day first: swapped
    EXPECT_EQ(read("  2024-01-15  "), "2024-01-15");
}

TEST_P(date_text, times_and_milliseconds)
{
    const ole_date time("10:30");
    EXPECT_EQ(time.get_kind(), ole_date::time_only);
    EXPECT_EQ(time.to_string(false), "0000-00-00 10:30:00");
    const ole_date precise("10:30:15.250");
    EXPECT_EQ(precise.get_systemtime().second, 15);
    EXPECT_EQ(precise.get_systemtime().milliseconds, 250);
    EXPECT_EQ(precise.to_string(false), "0000-00-00 10:30:15.250");  // a time alone always shows them
    EXPECT_EQ(read("10:30:15.005"), "0000-00-00 10:30:15.005");
    EXPECT_EQ(ole_date("10:30:15.5").get_systemtime().milliseconds, 500);
    EXPECT_EQ(ole_date("10:30:15.05").get_systemtime().milliseconds, 50);
    EXPECT_EQ(ole_date("10:30:15.29").get_systemtime().milliseconds, 290);
    EXPECT_EQ(ole_date("10:30:15.0009").get_systemtime().milliseconds, 0);
    const ole_date with_ms("2024-01-15 10:30:15.250");
    EXPECT_EQ(with_ms.to_string(true), "2024-01-15 10:30:15.250");
    EXPECT_EQ(with_ms.to_string(false), "2024-01-15 10:30:15");
    EXPECT_EQ(read("2024-01-15 00:00:00.500"), "2024-01-15 00:00:00.500");
}

TEST_P(date_text, am_and_pm)
{
    EXPECT_EQ(read("03:15 PM"), "0000-00-00 15:15:00");
    EXPECT_EQ(read("12:05 PM"), "0000-00-00 12:05:00");
    EXPECT_EQ(read("12:05 AM"), "0000-00-00 00:05:00");
    EXPECT_EQ(read("11:59 pm"), "0000-00-00 23:59:00");
    EXPECT_EQ(read("2024-01-15 12:00:00 AM"), "2024-01-15");
    EXPECT_EQ(read("3:15 PM"), "invalid");  // four characters once the marker is cut
}

TEST_P(date_text, two_digit_years_are_completed_when_read)
{
    EXPECT_EQ(read("99-12-31"), "1999-12-31");
    EXPECT_EQ(read("05-06-07"), "2005-06-07");
    const ole_date completed("49-01-02");
    EXPECT_EQ(completed.get_systemtime().year, 2049);
    const ole_variant value = ole_variant::from_string("50-01-02", VT_DATE);
    EXPECT_EQ(value.get_systemtime().year, 1950);
    EXPECT_EQ(value.get_date(), 18265.0);  // the serial is built from the full year
}

TEST_P(date_text, invalid_texts)
{
    for (const char* bad : {"1234", "", "2024-13-01", "2024-00-10", "10:60", "24:00", "60:00", "10:30:99",
                            "31/02/2024", "29/02/2023", "2024-04-31", "0000-01-01", "10000-01-01 00:00:00",
                            "hello world", "2024-01-15 10:30:00 +02", "-5:30", "2024--01-15"})
        EXPECT_EQ(read(bad), "invalid") << bad;
    EXPECT_EQ(read("29/02/2024"), "2024-02-29");
    std::string garbage(10240, '7');
    garbage[5000] = ':';
    EXPECT_EQ(read(garbage), "invalid");
    EXPECT_EQ(read(std::string(10240, '\xff')), "invalid");
}

TEST_P(date_text, other_shapes)
{
    EXPECT_EQ(read("2024-01-15 10:30"), "2024-01-15 10:30:00");
    EXPECT_EQ(read("2024-01-15T10:30:00"), "2024-01-15 10:30:00");
    EXPECT_EQ(read("2024-01-15T10:30:01.125"), "2024-01-15 10:30:01.125");
    EXPECT_EQ(read("01/15/2024"), "2024-01-15");
    EXPECT_EQ(read("15 Jan 2024"), "2024-01-15");
    EXPECT_EQ(read("15-JAN-2024 08:00"), "2024-01-15 08:00:00");
    EXPECT_EQ(read("January 15, 2024"), "2024-01-15");
    EXPECT_EQ(read("Jan 15, 2024 10:30 PM"), "2024-01-15 22:30:00");
    EXPECT_EQ(read("2024-01-15 whatever"), "2024-01-15");  // the date alone stands when nothing else reads
}

TEST_P(date_text, limits_and_the_zero_date)
{
    EXPECT_EQ(read("0100-01-01"), "0100-01-01");
    EXPECT_EQ(read("9999-12-31 23:59:59.999"), "9999-12-31 23:59:59.999");
    const ole_variant first = ole_variant::from_string("0100-01-01", VT_DATE);
    EXPECT_EQ(first.get_date(), -657434.0);
    const ole_variant last = ole_variant::from_string("9999-12-31", VT_DATE);
    EXPECT_EQ(last.get_date(), 2958465.0);
    const ole_date zero("0000-00-00");
    ASSERT_TRUE(zero.is_valid());
    EXPECT_EQ(zero.get_kind(), ole_date::time_only);
    const ole_variant zero_value = zero.to_variant();
    EXPECT_EQ(zero_value.get_date(), 0.0);
    EXPECT_EQ(zero_value.to_string(), "0000-00-00 00:00:00");
    EXPECT_EQ(ole_variant::from_string("0000-00-00 10:30:00", VT_DATE).get_date(), 0.4375);
}

TEST_P(date_text, printed_text_reads_back_the_same)
{
    for (const char* text : {"2024-01-15 10:30:15", "2024-01-15 10:30:15.005", "2024-01-15", "0000-00-00 10:30:00",
                             "0000-00-00 23:59:59.999", "1899-12-30 00:00:00.001", "0100-01-01 00:00:01"}) {
        const ole_variant value = ole_variant::from_string(text, VT_DATE);
        ASSERT_EQ(value.get_type(), VT_DATE) << text;
        EXPECT_EQ(value.to_string(), text);
        EXPECT_EQ(ole_variant::from_string(value.to_string(), VT_DATE).get_date(), value.get_date()) << text;
    }
    SYSTEMTIME st;
    st.year = 2024;
    st.month = 1;
    st.day = 15;
    EXPECT_EQ(ole_date(st).get_kind(), ole_date::date_only);
    EXPECT_EQ(ole_date(st).to_wstring(true), L"2024-01-15");
}

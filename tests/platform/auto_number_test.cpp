#include "platform/auto_number.h"

#include <cmath>
#include <limits>

#include "locale_param.h"

using namespace platform;

namespace {
class auto_number : public locale_param_test {};
TAMARIND_LOCALE_SUITE(auto_number);

CY cy_of(const char* text)
{
    CY cy;
    EXPECT_EQ(cy_from_text(text, cy), S_OK) << text;
    return cy;
}

std::string decimal_round_trip(const char* text)
{
    DECIMAL dec;
    if (decimal_from_text(text, dec) != S_OK) return "failed";
    return decimal_to_text(dec);
}
}  // namespace

TEST_P(auto_number, doubles_print_shortest_and_read_back)
{
    EXPECT_EQ(double_to_text(1.5), "1.5");
    EXPECT_EQ(double_to_text(0.1), "0.1");
    EXPECT_EQ(double_to_text(-0.0), "-0");
    EXPECT_EQ(double_to_text(std::numeric_limits<double>::quiet_NaN()), "NaN");
    EXPECT_EQ(double_to_text(-std::numeric_limits<double>::infinity()), "-Infinity");
    EXPECT_EQ(float_to_text(0.1f), "0.1");
    // Whole numbers print without an exponent, which integer columns would refuse.
    EXPECT_EQ(double_to_text(100000.0), "100000");
    EXPECT_EQ(double_to_text(-159000000.0), "-159000000");
    EXPECT_EQ(double_to_text(1e17), "100000000000000000");
    EXPECT_EQ(float_to_text(1e6f), "1000000");
    EXPECT_EQ(double_to_text(1e20), "1e+20");
    for (double d : {0.1, 1.0 / 3.0, 1e300, 5e-324, -123456.789, 9007199254740993.0}) {
        double back = 0;
        ASSERT_EQ(double_from_text(double_to_text(d), back), S_OK);
        EXPECT_EQ(back, d) << double_to_text(d);
    }
}

TEST_P(auto_number, number_text_grammar)
{
    double d = 0;
    EXPECT_EQ(double_from_text(" +1.5e2 ", d), S_OK);
    EXPECT_EQ(d, 150.0);
    EXPECT_EQ(double_from_text(".5", d), S_OK);
    EXPECT_EQ(d, 0.5);
    EXPECT_EQ(double_from_text("1e-400", d), S_OK);
    EXPECT_EQ(d, 0.0);
    EXPECT_EQ(double_from_text("1e400", d), DISP_E_OVERFLOW);
    for (const char* bad : {"", ".", "e5", "1.5.2", "1,5", "1e", "12abc", "- 1", "0x10"})
        EXPECT_EQ(double_from_text(bad, d), DISP_E_TYPEMISMATCH) << bad;
}

TEST_P(auto_number, currency_rounds_half_even_at_four_places)
{
    EXPECT_EQ(cy_of("12.34565").int64, 123456);
    EXPECT_EQ(cy_of("12.34575").int64, 123458);
    EXPECT_EQ(cy_of("-12.345650001").int64, -123457);
    EXPECT_EQ(cy_of("1.5e3").int64, 15000000);
    EXPECT_EQ(cy_to_text(cy_of("12.50")), "12.5");
    EXPECT_EQ(cy_to_text(cy_of("-0.0001")), "-0.0001");
    EXPECT_EQ(cy_to_text(cy_of("3")), "3");
    EXPECT_EQ(cy_to_text(cy_of("0.00001")), "0");
}

TEST_P(auto_number, currency_limits)
{
    EXPECT_EQ(cy_to_text(cy_of("922337203685477.5807")), "922337203685477.5807");
    EXPECT_EQ(cy_to_text(cy_of("-922337203685477.5807")), "-922337203685477.5807");
    EXPECT_EQ(cy_of("922337203685477.58074").int64, std::numeric_limits<std::int64_t>::max());
    CY cy;
    EXPECT_EQ(cy_from_text("922337203685477.5808", cy), DISP_E_OVERFLOW);
    EXPECT_EQ(cy_from_text("922337203685477.58075", cy), DISP_E_OVERFLOW);
    EXPECT_EQ(cy_from_text("1e100", cy), DISP_E_OVERFLOW);
    EXPECT_EQ(cy_from_i64(922337203685478, cy), DISP_E_OVERFLOW);
    EXPECT_EQ(cy_from_i64(-922337203685477, cy), S_OK);
    EXPECT_EQ(cy_to_text(cy), "-922337203685477");
    std::int64_t whole = 0;
    EXPECT_EQ(cy_to_i64(cy_of("2.5"), whole), S_OK);
    EXPECT_EQ(whole, 2);
    EXPECT_EQ(cy_to_i64(cy_of("-3.5"), whole), S_OK);
    EXPECT_EQ(whole, -4);
    std::uint64_t unsigned_whole = 0;
    EXPECT_EQ(cy_to_u64(cy_of("-1"), unsigned_whole), DISP_E_OVERFLOW);
}

TEST_P(auto_number, decimal_limits_and_scale)
{
    EXPECT_EQ(decimal_round_trip("79228162514264337593543950335"), "79228162514264337593543950335");
    EXPECT_EQ(decimal_round_trip("-79228162514264337593543950335"), "-79228162514264337593543950335");
    EXPECT_EQ(decimal_round_trip("79228162514264337593543950336"), "failed");
    EXPECT_EQ(decimal_round_trip("1e29"), "failed");
    EXPECT_EQ(decimal_round_trip("0.0000000000000000000000000001"), "0.0000000000000000000000000001");
    EXPECT_EQ(decimal_round_trip("0.12345678901234567890123456785"), "0.1234567890123456789012345678");
    EXPECT_EQ(decimal_round_trip("0.12345678901234567890123456775"), "0.1234567890123456789012345678");
    // Too many digits for 96 bits at the wanted scale: the largest scale that fits.
    EXPECT_EQ(decimal_round_trip("7922816251426433759354395033.46"), "7922816251426433759354395033.5");
    EXPECT_EQ(decimal_round_trip("-0.000"), "0.000");
    EXPECT_EQ(decimal_round_trip("12.50"), "12.50");
    EXPECT_EQ(decimal_round_trip("-0.0001"), "-0.0001");
    EXPECT_EQ(decimal_round_trip("abc"), "failed");
}

TEST_P(auto_number, decimal_to_whole_numbers)
{
    DECIMAL dec;
    std::int32_t i32 = 0;
    ASSERT_EQ(decimal_from_text("2147483647.4", dec), S_OK);
    EXPECT_EQ(decimal_to_i32(dec, i32), S_OK);
    EXPECT_EQ(i32, 2147483647);
    ASSERT_EQ(decimal_from_text("2147483647.5", dec), S_OK);
    EXPECT_EQ(decimal_to_i32(dec, i32), DISP_E_OVERFLOW);
    std::int64_t i64 = 0;
    ASSERT_EQ(decimal_from_text("-9223372036854775808", dec), S_OK);
    EXPECT_EQ(decimal_to_i64(dec, i64), S_OK);
    EXPECT_EQ(i64, std::numeric_limits<std::int64_t>::min());
    ASSERT_EQ(decimal_from_i64(std::numeric_limits<std::int64_t>::min(), dec), S_OK);
    EXPECT_EQ(decimal_to_text(dec), "-9223372036854775808");
    ASSERT_EQ(decimal_from_u64(std::numeric_limits<std::uint64_t>::max(), dec), S_OK);
    EXPECT_EQ(decimal_to_text(dec), "18446744073709551615");
    EXPECT_EQ(decimal_to_i64(dec, i64), DISP_E_OVERFLOW);
    double d = 0;
    ASSERT_EQ(decimal_from_double(0.1, dec), S_OK);
    EXPECT_EQ(decimal_to_text(dec), "0.1");
    ASSERT_EQ(decimal_to_double(dec, d), S_OK);
    EXPECT_EQ(d, 0.1);
    EXPECT_EQ(decimal_from_double(std::nan(""), dec), DISP_E_OVERFLOW);
}

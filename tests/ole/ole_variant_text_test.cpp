// Text forms of every value type and reading them back, in the C and a comma-decimal locale.
#include <cmath>
#include <limits>

#include "../platform/locale_param.h"
#include "ole/ole_exceptions.h"
#include "ole/ole_variant.h"
#include "platform/auto_number.h"

namespace {
class variant_text : public locale_param_test {};
TAMARIND_LOCALE_SUITE(variant_text);

// to_string, then from_string to the same type, then to_string again.
std::string round_trip(const ole_variant& v)
{
    const std::string text = v.to_string();
    const ole_variant back = ole_variant::from_string(text, v.get_type());
    EXPECT_EQ(back.get_type(), v.get_type()) << text;
    EXPECT_EQ(back.to_string(), text);
    return text;
}
}  // namespace

TEST_P(variant_text, whole_numbers)
{
    EXPECT_EQ(round_trip(ole_variant(static_cast<signed char>(-128))), "-128");
    EXPECT_EQ(round_trip(ole_variant(static_cast<unsigned char>(255))), "255");
    EXPECT_EQ(round_trip(ole_variant(static_cast<short>(-32768))), "-32768");
    EXPECT_EQ(round_trip(ole_variant(static_cast<unsigned short>(65535))), "65535");
    EXPECT_EQ(round_trip(ole_variant(std::numeric_limits<int>::min())), "-2147483648");
    EXPECT_EQ(round_trip(ole_variant(4294967295u)), "4294967295");
    EXPECT_EQ(round_trip(ole_variant(std::numeric_limits<long long>::min())), "-9223372036854775808");
    EXPECT_EQ(round_trip(ole_variant(std::numeric_limits<unsigned long long>::max())), "18446744073709551615");
    EXPECT_EQ(ole_variant(-5LL).to_string(), "-5");
    ole_variant as_int = ole_variant::from_string("7", VT_INT);
    EXPECT_EQ(as_int.get_type(), VT_INT);
    EXPECT_EQ(as_int.to_string(), "7");  // VT_INT prints its number
}

TEST_P(variant_text, narrowing_overflow_is_reported_not_wrapped)
{
    EXPECT_EQ(ole_variant::from_string("70000", VT_I2).get_type(), VT_EMPTY);
    EXPECT_EQ(ole_variant::from_string("-129", VT_I1).get_type(), VT_EMPTY);
    EXPECT_EQ(ole_variant::from_string("256", VT_UI1).get_type(), VT_EMPTY);
    EXPECT_EQ(ole_variant::from_string("-1", VT_UI4).get_type(), VT_EMPTY);
    EXPECT_EQ(ole_variant::from_string("2147483648", VT_I4).get_type(), VT_EMPTY);
    EXPECT_EQ(ole_variant::from_string("9223372036854775808", VT_I8).get_type(), VT_EMPTY);
    EXPECT_EQ(ole_variant::from_string("99999999999999999999999999999999999999999", VT_UI8).get_type(), VT_EMPTY);
    EXPECT_EQ(ole_variant::from_string("1e39", VT_R4).get_type(), VT_EMPTY);
    EXPECT_EQ(ole_variant::from_string("1e999", VT_R8).get_type(), VT_EMPTY);
    // atoi-like reading: blanks, sign, digits; no digits is 0.
    EXPECT_EQ(ole_variant::from_string("  -12abc", VT_I4).to_string(), "-12");
    EXPECT_EQ(ole_variant::from_string("abc", VT_I2).to_string(), "0");
}

TEST_P(variant_text, doubles_are_shortest_round_trip_with_a_point)
{
    EXPECT_EQ(ole_variant(1.5).to_string(), "1.5");
    EXPECT_EQ(round_trip(ole_variant(0.1)), "0.1");
    EXPECT_EQ(round_trip(ole_variant(1.0 / 3.0)), "0.3333333333333333");
    EXPECT_EQ(round_trip(ole_variant(-1e-300)), "-1e-300");
    EXPECT_EQ(round_trip(ole_variant(0.1f)), "0.1");
    EXPECT_EQ(round_trip(ole_variant(std::numeric_limits<double>::infinity())), "Infinity");
    EXPECT_EQ(ole_variant(std::nan("")).to_string(), "NaN");
    EXPECT_TRUE(std::isnan(ole_variant::from_string("NaN", VT_R8).get_double()));
    EXPECT_EQ(ole_variant::from_string("1,5", VT_R8).get_double(), 1.5);
    EXPECT_EQ(ole_variant::from_string(" +2.5e1xyz", VT_R8).get_double(), 25.0);
    EXPECT_EQ(ole_variant::from_string("abc", VT_R8).get_double(), 0.0);
}

TEST_P(variant_text, currency_and_decimal)
{
    const ole_variant cy = ole_variant::from_string("12,50", VT_CY);
    ASSERT_EQ(cy.get_type(), VT_CY);
    EXPECT_EQ(cy.get_cy().int64, 125000);
    EXPECT_EQ(round_trip(cy), "12.5");
    EXPECT_EQ(round_trip(ole_variant::from_string("-922337203685477.5807", VT_CY)), "-922337203685477.5807");
    EXPECT_EQ(ole_variant::from_string("922337203685477.5808", VT_CY).get_type(), VT_EMPTY);
    EXPECT_EQ(ole_variant::from_string("12 Euro", VT_CY).get_type(), VT_EMPTY);
    EXPECT_EQ(round_trip(ole_variant::from_string("-0.0001", VT_DECIMAL)), "-0.0001");
    EXPECT_EQ(round_trip(ole_variant::from_string("79228162514264337593543950335", VT_DECIMAL)),
              "79228162514264337593543950335");
    EXPECT_EQ(ole_variant::from_string("79228162514264337593543950336", VT_DECIMAL).get_type(), VT_EMPTY);
    EXPECT_EQ(ole_variant::from_string("3,14159", VT_DECIMAL).to_string(), "3.14159");
}

TEST_P(variant_text, booleans)
{
    EXPECT_EQ(ole_variant(true).to_string(), "1");
    EXPECT_EQ(ole_variant(false).to_string(), "0");
    EXPECT_TRUE(ole_variant::from_string("TRUE", VT_BOOL).get_bool());
    EXPECT_TRUE(ole_variant::from_string("Yes", VT_BOOL).get_bool());
    EXPECT_FALSE(ole_variant::from_string("No", VT_BOOL).get_bool());
    EXPECT_FALSE(ole_variant::from_string("false", VT_BOOL).get_bool());
    EXPECT_TRUE(ole_variant::from_string("2", VT_BOOL).get_bool());
    EXPECT_FALSE(ole_variant::from_string("abc", VT_BOOL).get_bool());
    EXPECT_FALSE(ole_variant::from_string("yes please", VT_BOOL).get_bool());
    EXPECT_EQ(round_trip(ole_variant(true)), "1");
}

TEST_P(variant_text, text_values)
{
    EXPECT_EQ(ole_variant::from_string("", VT_I4).get_type(), VT_EMPTY);
    const ole_variant empty_text = ole_variant::from_string("", VT_BSTR);
    EXPECT_EQ(empty_text.get_type(), VT_BSTR);
    EXPECT_EQ(empty_text.to_string(), "");
    const ole_variant umlaut("Grüße €");
    EXPECT_EQ(umlaut.get_bstr(), L"Grüße €");
    EXPECT_EQ(round_trip(umlaut), "Grüße €");
    // A cell's text may hold U+0000: no character after it is lost on the way.
    EXPECT_EQ(ole_variant(std::wstring(L"a\0b", 3)).to_wstring(), std::wstring(L"a\0b", 3));
    EXPECT_EQ(ole_variant(std::string("a\0b\xC3\xA9", 5)).get_bstr(), std::wstring(L"a\0b\u00E9", 4));
    EXPECT_EQ(ole_variant(static_cast<const wchar_t*>(nullptr)).to_string(), "");
    EXPECT_EQ(ole_variant().to_string(), "");
    EXPECT_EQ(ole_variant::from_wstring(L"42", VT_I4).to_long(), 42);
}

TEST_P(variant_text, binary_values)
{
    const ole_variant two = ole_variant::from_string("0x0A0B", VT_ARRAY | VT_UI1);
    ASSERT_EQ(two.get_type(), VT_ARRAY | VT_UI1);
    EXPECT_EQ(two.get_bytes(), (std::vector<std::uint8_t>{0x0A, 0x0B}));
    EXPECT_EQ(two.to_string(), "0x0A0B");
    EXPECT_EQ(ole_variant::from_string("0a0b", VT_BLOB).get_bytes(), two.get_bytes());
    EXPECT_EQ(ole_variant::from_string("0A0B", VT_BLOB_OBJECT).get_type(), VT_ARRAY | VT_UI1);
    EXPECT_EQ(ole_variant::from_string("0A0", VT_BLOB).get_type(), VT_EMPTY);
    EXPECT_EQ(ole_variant::from_string("0x0A0", VT_BLOB).get_type(), VT_EMPTY);
    for (const char* bad : {"zz", " A", "+A", "0x0G"})
        EXPECT_EQ(ole_variant::from_string(bad, VT_BLOB).get_type(), VT_EMPTY) << bad;
    ole_variant none;
    none.attach_binary({});
    EXPECT_EQ(none.to_string(), "");
    // Large binary data prints whole.
    std::vector<std::uint8_t> big(10'000'001, 0xAB);
    ole_variant large;
    large.attach_binary(big);
    const std::string text = large.to_string();
    EXPECT_EQ(text.size(), 2 + 2 * big.size());
    EXPECT_EQ(ole_variant::from_string(text, VT_BLOB).get_bytes().size(), big.size());
}

TEST_P(variant_text, text_to_other_types_goes_through_the_conversion_table)
{
    EXPECT_EQ(ole_variant::from_string("42", VT_UINT).to_string(), "42");
    EXPECT_THROW(ole_variant::from_string("x", VT_INT), ole_type_exception);
    EXPECT_THROW(ole_variant::from_string("1", VT_ERROR), ole_type_exception);
}

TEST(variant_construction, character_pointers_are_text)
{
    char narrow[] = "abc";
    wchar_t wide[] = L"xyz";
    EXPECT_EQ(ole_variant(narrow).to_string(), "abc");
    EXPECT_EQ(ole_variant(wide).to_string(), "xyz");
    static_assert(!std::is_constructible_v<ole_variant, int*>);
}

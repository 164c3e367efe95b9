// change_type, copies, assignment and to_long.
#include <limits>

#include "../platform/locale_param.h"
#include "ole/ole_date.h"
#include "ole/ole_exceptions.h"
#include "ole/ole_variant.h"
#include "tk/tk_exception.h"

namespace {
class variant_change : public locale_param_test {};
TAMARIND_LOCALE_SUITE(variant_change);

ole_variant changed(ole_variant v, VARTYPE target)
{
    v.change_type(target);
    return v;
}
}  // namespace

TEST_P(variant_change, unchanged_cases)
{
    ole_variant same(5);
    same.change_type(VT_I4);
    EXPECT_EQ(same.to_string(), "5");
    ole_variant empty;
    empty.change_type(VT_I4);
    EXPECT_EQ(empty.get_type(), VT_EMPTY);
    ole_variant null;
    null.set_null();
    null.change_type(VT_BSTR);
    EXPECT_EQ(null.get_type(), VT_NULL);
    ole_variant bytes = ole_variant::from_string("0A", VT_BLOB);
    bytes.change_type(VT_BLOB);  // both binary: stays VT_ARRAY|VT_UI1
    EXPECT_EQ(bytes.get_type(), VT_ARRAY | VT_UI1);
}

TEST_P(variant_change, from_64_bit_integers)
{
    const ole_variant big = changed(ole_variant(4000000000LL), VT_UI4);
    EXPECT_EQ(big.get_type(), VT_UINT);
    EXPECT_EQ(big.to_string(), "4000000000");
    EXPECT_EQ(changed(ole_variant(1LL), VT_BOOL).to_string(), "1");
    EXPECT_EQ(changed(ole_variant(65536LL), VT_BOOL).to_string(), "1");
    EXPECT_EQ(changed(ole_variant(0LL), VT_BOOL).to_string(), "0");
    EXPECT_EQ(changed(ole_variant(-7LL), VT_BSTR).to_string(), "-7");
    EXPECT_EQ(changed(ole_variant(18446744073709551615ULL), VT_BSTR).to_string(), "18446744073709551615");
    EXPECT_EQ(changed(ole_variant(-12LL), VT_DECIMAL).to_string(), "-12");
    EXPECT_EQ(changed(ole_variant(18446744073709551615ULL), VT_DECIMAL).to_string(), "18446744073709551615");
    EXPECT_EQ(changed(ole_variant(123LL), VT_CY).to_string(), "123");
    EXPECT_EQ(changed(ole_variant(-2147483648LL), VT_INT).to_string(), "-2147483648");
    EXPECT_EQ(changed(ole_variant(5ULL), VT_I8).get_i8(), 5);
    EXPECT_EQ(changed(ole_variant(3LL), VT_R8).get_double(), 3.0);
    for (VARTYPE narrow : {VT_I1, VT_I2, VT_I4, VT_UI1, VT_UI2, VT_UI4, VT_INT}) {
        ole_variant v(5000000000LL);
        EXPECT_THROW(v.change_type(narrow), ole_cast_exception) << narrow;
        EXPECT_EQ(v.get_type(), VT_I8);
        EXPECT_EQ(v.get_i8(), 5000000000LL);
    }
    EXPECT_THROW(changed(ole_variant(-1LL), VT_UI8), ole_cast_exception);
    EXPECT_THROW(changed(ole_variant(18446744073709551615ULL), VT_I8), ole_cast_exception);
    EXPECT_THROW(changed(ole_variant(1000000000000000LL), VT_CY), ole_cast_exception);
    EXPECT_THROW(changed(ole_variant(1LL), VT_DATE), ole_cast_exception);
}

TEST_P(variant_change, to_64_bit_integers)
{
    EXPECT_EQ(changed(ole_variant(static_cast<short>(-3)), VT_I8).get_i8(), -3);
    EXPECT_EQ(changed(ole_variant(true), VT_I8).get_i8(), -1);
    EXPECT_EQ(changed(ole_variant(4294967295u), VT_I8).get_i8(), 4294967295LL);
    EXPECT_EQ(changed(ole_variant(-2.7), VT_I8).get_i8(), -2);
    EXPECT_EQ(changed(ole_variant(1e19), VT_UI8).get_ui8(), 10000000000000000000ULL);
    EXPECT_EQ(changed(ole_variant::from_string("2.5", VT_CY), VT_I8).get_i8(), 2);
    EXPECT_EQ(changed(ole_variant::from_string("-3.5", VT_DECIMAL), VT_I8).get_i8(), -4);
    EXPECT_EQ(changed(ole_variant::from_string("18446744073709551615", VT_DECIMAL), VT_UI8).get_ui8(),
              18446744073709551615ULL);
    EXPECT_THROW(changed(ole_variant(-1), VT_UI8), ole_cast_exception);
    EXPECT_THROW(changed(ole_variant(1e20), VT_I8), ole_cast_exception);
    EXPECT_THROW(changed(ole_variant(std::numeric_limits<double>::quiet_NaN()), VT_I8), ole_cast_exception);
    EXPECT_THROW(changed(ole_variant("12"), VT_I8), ole_cast_exception);
}

TEST_P(variant_change, to_bytes)
{
    EXPECT_EQ(changed(ole_variant(0x01020304), VT_BLOB).to_string(), "0x04030201");
    EXPECT_EQ(changed(ole_variant(true), VT_BLOB_OBJECT).to_string(), "0xFFFF");
    EXPECT_EQ(changed(ole_variant(static_cast<unsigned char>(7)), VT_ARRAY | VT_UI1).to_string(), "0x07");
    EXPECT_EQ(changed(ole_variant(1.0), VT_BLOB).get_bytes().size(), 8u);
    const ole_variant dec = changed(ole_variant::from_string("-1.5", VT_DECIMAL), VT_BLOB);
    EXPECT_EQ(dec.to_string(), "0x0E000180" "00000000" "0F00000000000000");
    // Text keeps every character: UTF-16LE, two bytes per code unit.
    EXPECT_EQ(changed(ole_variant("aä"), VT_BLOB).to_string(), "0x6100E400");
    EXPECT_THROW(changed(ole_variant::from_string("2024-01-15", VT_DATE), VT_BLOB), ole_cast_exception);
}

TEST_P(variant_change, dates_only_to_and_from_text)
{
    const ole_variant date = changed(ole_variant("2024-01-15 10:30:15.250"), VT_DATE);
    ASSERT_EQ(date.get_type(), VT_DATE);
    EXPECT_EQ(date.to_string(), "2024-01-15 10:30:15.250");
    const ole_variant text = changed(date, VT_BSTR);
    EXPECT_EQ(text.get_type(), VT_BSTR);
    EXPECT_EQ(text.to_wstring(), L"2024-01-15 10:30:15.250");
    ole_variant bad("31/02/2024");
    EXPECT_THROW(bad.change_type(VT_DATE), ole_cast_exception);
    EXPECT_EQ(bad.to_string(), "31/02/2024");
    EXPECT_THROW(changed(ole_variant(45306.0), VT_DATE), ole_cast_exception);
    EXPECT_THROW(changed(date, VT_R8), ole_cast_exception);
}

TEST_P(variant_change, other_pairs_use_the_table)
{
    ole_variant wide(1e10);
    EXPECT_THROW(wide.change_type(VT_I4), ole_cast_exception);
    EXPECT_EQ(wide.get_type(), VT_R8);
    EXPECT_EQ(wide.get_double(), 1e10);
    EXPECT_EQ(changed(ole_variant(2.5), VT_I4).to_string(), "2");
    EXPECT_EQ(changed(ole_variant("12,5"), VT_BSTR).to_string(), "12,5");
    EXPECT_THROW(changed(ole_variant("12,5"), VT_R8), ole_cast_exception);
    EXPECT_EQ(changed(ole_variant(" 12.5 "), VT_R8).get_double(), 12.5);
    EXPECT_EQ(changed(ole_variant(0.1), VT_BSTR).to_string(), "0.1");
    EXPECT_EQ(changed(ole_variant(70000), VT_CY).to_string(), "70000");
    EXPECT_THROW(changed(ole_variant(70000), VT_I2), ole_cast_exception);
    EXPECT_THROW(changed(ole_variant::from_string("0A", VT_BLOB), VT_BSTR), ole_cast_exception);
}

TEST_P(variant_change, copies_and_assignment_keep_the_whole_value)
{
    const ole_variant date = ole_variant::from_string("2024-01-15 10:30:15.250", VT_DATE);
    const ole_variant copy(date);
    EXPECT_EQ(copy.to_string(), date.to_string());
    EXPECT_EQ(copy.get_date(), date.get_date());
    ole_variant assigned("left over text");
    assigned = date;
    EXPECT_EQ(assigned.to_string(), "2024-01-15 10:30:15.250");
    EXPECT_TRUE(assigned.get_bstr().empty());
    ole_variant big("text");
    big = ole_variant(-9LL);
    EXPECT_EQ(big.to_string(), "-9");
    EXPECT_TRUE(big.get_bstr().empty());
    ole_variant& self = big;
    big = self;
    EXPECT_EQ(big.to_string(), "-9");
    big = L"wide";
    EXPECT_EQ(big.to_string(), "wide");
    ole_variant bytes = ole_variant::from_string("0102", VT_BLOB);
    ole_variant other;
    other = bytes;
    bytes.allocate_safe_array(1);
    EXPECT_EQ(other.to_string(), "0x0102");
    ole_variant moved(std::move(other));
    EXPECT_EQ(moved.to_string(), "0x0102");
}

TEST_P(variant_change, to_long)
{
    EXPECT_EQ(ole_variant().to_long(), 0);
    EXPECT_EQ(ole_variant(true).to_long(), -1);
    EXPECT_EQ(ole_variant(-2.9).to_long(), -2);
    EXPECT_EQ(ole_variant(7LL).to_long(), 7);
    EXPECT_EQ(ole_variant::from_string("2.5", VT_DECIMAL).to_long(), 2);
    EXPECT_THROW(ole_variant(4000000000u).to_long(), ole_cast_exception);
    EXPECT_THROW(ole_variant(5000000000LL).to_long(), ole_cast_exception);
    EXPECT_THROW(ole_variant(1e10).to_long(), ole_cast_exception);
    try {
        ole_variant("12").to_long();
        FAIL() << "text has no whole-number reading here";
    } catch (const tk_mail_assertion& e) {
        EXPECT_EQ(e.level(), 2);
        EXPECT_EQ(std::string(e.what()), tk_mail_assertion::make_message("ole_var", 484));
    }
}

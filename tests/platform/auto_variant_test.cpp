#include "platform/auto_variant.h"

#include <thread>

#include "locale_param.h"
#include "platform/auto_number.h"
#include "platform/com_object.h"

using namespace platform;

namespace {
class conversion_table : public locale_param_test {};
TAMARIND_LOCALE_SUITE(conversion_table);

auto_variant text(const wchar_t* t)
{
    auto_variant v;
    v.vt = VT_BSTR;
    v.bstr = t;
    return v;
}
auto_variant r8(double d)
{
    auto_variant v;
    v.vt = VT_R8;
    v.r8 = d;
    return v;
}
auto_variant i4(int i)
{
    auto_variant v;
    v.vt = VT_I4;
    v.i4 = i;
    return v;
}
}  // namespace

TEST_P(conversion_table, fractions_round_half_even_and_overflow_fails)
{
    auto_variant out;
    EXPECT_EQ(change_type(out, r8(2.5), VT_I4), S_OK);
    EXPECT_EQ(out.i4, 2);
    EXPECT_EQ(change_type(out, r8(3.5), VT_I4), S_OK);
    EXPECT_EQ(out.i4, 4);
    EXPECT_EQ(change_type(out, r8(-2.5), VT_I2), S_OK);
    EXPECT_EQ(out.i2, -2);
    out = i4(99);
    EXPECT_EQ(change_type(out, i4(70000), VT_I2), DISP_E_OVERFLOW);
    EXPECT_EQ(out.vt, VT_I4);  // untouched on failure
    EXPECT_EQ(out.i4, 99);
    EXPECT_EQ(change_type(out, i4(-1), VT_UI1), DISP_E_OVERFLOW);
    EXPECT_EQ(change_type(out, i4(256), VT_UI1), DISP_E_OVERFLOW);
    EXPECT_EQ(change_type(out, r8(1e10), VT_I4), DISP_E_OVERFLOW);
    EXPECT_EQ(change_type(out, r8(1e300), VT_CY), DISP_E_OVERFLOW);
    EXPECT_EQ(change_type(out, r8(1e300), VT_R4), DISP_E_OVERFLOW);
    EXPECT_EQ(change_type(out, text(L"128"), VT_I1), DISP_E_OVERFLOW);
    EXPECT_EQ(change_type(out, text(L"4294967295"), VT_UINT), S_OK);
    EXPECT_EQ(out.uint_value, 4294967295u);
}

TEST_P(conversion_table, text_reads_numbers_and_booleans)
{
    auto_variant out;
    EXPECT_EQ(change_type(out, text(L" 42 "), VT_INT), S_OK);
    EXPECT_EQ(out.vt, VT_INT);
    EXPECT_EQ(out.int_value, 42);
    EXPECT_EQ(change_type(out, text(L"2.5"), VT_I4), S_OK);
    EXPECT_EQ(out.i4, 2);
    EXPECT_EQ(change_type(out, text(L"12.3456789"), VT_CY), S_OK);
    EXPECT_EQ(out.cy.int64, 123457);
    EXPECT_EQ(change_type(out, text(L"0.1"), VT_R8), S_OK);
    EXPECT_EQ(out.r8, 0.1);
    EXPECT_EQ(change_type(out, text(L"TRUE"), VT_BOOL), S_OK);
    EXPECT_EQ(out.boolean, VARIANT_TRUE);
    EXPECT_EQ(change_type(out, text(L"0.0"), VT_BOOL), S_OK);
    EXPECT_EQ(out.boolean, VARIANT_FALSE);
    for (const wchar_t* bad : {L"abc", L"1,5", L"", L"12 34"})
        EXPECT_EQ(change_type(out, text(bad), VT_I4), DISP_E_TYPEMISMATCH);
}

TEST_P(conversion_table, numbers_to_text_and_booleans)
{
    auto_variant out;
    EXPECT_EQ(change_type(out, r8(0.1), VT_BSTR), S_OK);
    EXPECT_EQ(out.bstr, L"0.1");
    EXPECT_EQ(change_type(out, i4(-7), VT_BSTR), S_OK);
    EXPECT_EQ(out.bstr, L"-7");
    auto_variant b;
    b.vt = VT_BOOL;
    b.boolean = VARIANT_TRUE;
    EXPECT_EQ(change_type(out, b, VT_BSTR), S_OK);
    EXPECT_EQ(out.bstr, L"True");
    EXPECT_EQ(change_type(out, b, VT_I4), S_OK);
    EXPECT_EQ(out.i4, -1);
    EXPECT_EQ(change_type(out, r8(0.25), VT_BOOL), S_OK);
    EXPECT_EQ(out.boolean, VARIANT_TRUE);
    EXPECT_EQ(change_type(out, i4(5), VT_DECIMAL), S_OK);
    EXPECT_EQ(decimal_to_text(out.decimal), "5");
    auto_variant date;
    date.vt = VT_DATE;
    EXPECT_EQ(change_type(out, date, VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(change_type(out, i4(1), VT_DATE), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(change_type(out, i4(1), VT_I8), DISP_E_TYPEMISMATCH);
}

TEST(auto_variant_value, moves_leave_empty_and_copies_are_deep)
{
    auto_variant a = text(L"abc");
    auto_variant b = a;
    b.bstr[0] = L'x';
    EXPECT_EQ(a.bstr, L"abc");
    auto_variant c = std::move(a);
    EXPECT_EQ(c.bstr, L"abc");
    EXPECT_EQ(a.vt, VT_EMPTY);
    EXPECT_TRUE(a.bstr.empty());
}

namespace {
struct counted : ref_counted_object {
    explicit counted(bool& gone) : gone_(gone) {}
    ~counted() override { gone_ = true; }
    bool& gone_;
};
}  // namespace

TEST(com_stand_ins, last_release_deletes)
{
    bool gone = false;
    auto* object = new counted(gone);
    EXPECT_EQ(object->AddRef(), 2u);
    EXPECT_EQ(object->Release(), 1u);
    EXPECT_FALSE(gone);
    EXPECT_EQ(object->Release(), 0u);
    EXPECT_TRUE(gone);
}

TEST(com_stand_ins, start_counts_are_per_thread)
{
    EXPECT_EQ(com_initialize(), S_OK);
    EXPECT_EQ(com_initialize(), S_FALSE);
    EXPECT_EQ(com_init_count(), 2);
    int other = -1;
    std::thread([&] { other = com_init_count(); }).join();
    EXPECT_EQ(other, 0);
    com_uninitialize();
    com_uninitialize();
    com_uninitialize();  // unmatched: nothing happens
    EXPECT_EQ(com_init_count(), 0);
    EXPECT_EQ(com_initialize(), S_OK);
    com_uninitialize();
}

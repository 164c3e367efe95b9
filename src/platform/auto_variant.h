#pragma once
// The automation value: a type tag with its scalar, text (the BSTR) or byte string. Plain value semantics:
// copying copies text and bytes, moving leaves the source VT_EMPTY.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/auto_types.h"

struct auto_variant {
    VARTYPE vt = VT_EMPTY;
    union {
        std::int8_t i1;
        std::int16_t i2;
        std::int32_t i4;
        std::uint8_t ui1;
        std::uint16_t ui2;
        std::uint32_t ui4;
        std::int32_t int_value;
        std::uint32_t uint_value;
        std::int64_t i8;
        std::uint64_t ui8;
        float r4;
        double r8;
        double date;
        CY cy;
        DECIMAL decimal;
        VARIANT_BOOL boolean;
        HRESULT scode;
    };
    std::wstring bstr;                // VT_BSTR
    std::vector<std::uint8_t> bytes;  // binary types

    auto_variant() : decimal{} {}
    auto_variant(const auto_variant&) = default;
    auto_variant& operator=(const auto_variant&) = default;
    auto_variant(auto_variant&& other) noexcept;
    auto_variant& operator=(auto_variant&& other) noexcept;

    /// Back to VT_EMPTY, freeing text and bytes.
    void clear() noexcept;
};

namespace platform {

/// The conversion table between I1, I2, I4, INT, UI1, UI2, UI4, UINT, R4, R8, CY, DECIMAL, BOOL and BSTR.
/// Numbers convert range-checked, a fraction to a whole number rounds half to even; non-zero to BOOL is -1,
/// BOOL to a number -1 or 0. To BSTR: whole numbers in decimal, R4/R8 shortest round-trip, CY and DECIMAL as
/// their texts, BOOL "True"/"False". BSTR to a number reads the number text rule (auto_number.h), to BOOL
/// "true"/"false" in any case or a number. The same type is copied unchanged.
/// S_OK; DISP_E_OVERFLOW when the value does not fit; DISP_E_TYPEMISMATCH for every other pair or text.
/// `out` is written only on success; `out` and `in` may be the same object.
HRESULT change_type(auto_variant& out, const auto_variant& in, VARTYPE target);

/// Text of a whole number type, CY, DECIMAL, R4 or R8 as change_type would give; empty for others.
std::string number_text(const auto_variant& value);

}  // namespace platform

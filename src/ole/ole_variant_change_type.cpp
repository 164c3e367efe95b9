// ole_variant::change_type: conversions in place. The result is built aside and taken over only on success,
// so a value that cannot convert stays as it was.
#include <cmath>
#include <cstring>
#include <limits>

#include "ole/ole_date.h"
#include "ole/ole_exceptions.h"
#include "ole/ole_variant.h"
#include "platform/auto_number.h"
#include "tk/tk_logger.h"

namespace {

bool is_signed_whole(VARTYPE vt) { return vt == VT_I1 || vt == VT_I2 || vt == VT_I4 || vt == VT_INT; }

// A 64-bit value to a narrower or other type; overflow is reported, never wrapped.
ole_variant from_wide_integer(__int128 value, bool is_signed, VARTYPE target)
{
    auto need = [&](long double lo, long double hi) {
        if (value < lo || value > hi) throw ole_cast_exception();
    };
    switch (target) {
    case VT_I2: need(INT16_MIN, INT16_MAX); return ole_variant(static_cast<short>(value));
    case VT_I4: need(INT32_MIN, INT32_MAX); return ole_variant(static_cast<int>(value));
    case VT_I1: need(INT8_MIN, INT8_MAX); return ole_variant(static_cast<signed char>(value));
    case VT_UI1: need(0, UINT8_MAX); return ole_variant(static_cast<unsigned char>(value));
    case VT_UI2: need(0, UINT16_MAX); return ole_variant(static_cast<unsigned short>(value));
    case VT_BOOL: return ole_variant(value != 0);
    case VT_UI4:
    case VT_UINT: {
        need(0, UINT32_MAX);
        ole_variant result(static_cast<unsigned int>(value));
        result.change_type(VT_UINT);
        return result;
    }
    case VT_INT: {
        need(INT32_MIN, INT32_MAX);
        ole_variant result(static_cast<int>(value));
        result.change_type(VT_INT);
        return result;
    }
    case VT_R4: return ole_variant(static_cast<float>(value));
    case VT_R8: return ole_variant(static_cast<double>(value));
    case VT_I8: need(INT64_MIN, INT64_MAX); return ole_variant(static_cast<long long>(value));
    case VT_UI8: need(0, UINT64_MAX); return ole_variant(static_cast<unsigned long long>(value));
    case VT_BSTR: return ole_variant(is_signed ? std::to_string(static_cast<long long>(value))
                                               : std::to_string(static_cast<unsigned long long>(value)));
    case VT_DECIMAL: {
        tk_log(1, "Processing for VT_DECIMAL");
        DECIMAL dec;
        if (is_signed)
            platform::decimal_from_i64(static_cast<std::int64_t>(value), dec);
        else
            platform::decimal_from_u64(static_cast<std::uint64_t>(value), dec);
        return ole_variant(dec);
    }
    case VT_CY: {
        CY cy;
        const HRESULT hr = is_signed ? platform::cy_from_i64(static_cast<std::int64_t>(value), cy)
                                     : platform::cy_from_u64(static_cast<std::uint64_t>(value), cy);
        if (hr != S_OK) throw ole_cast_exception();
        return ole_variant(cy);
    }
    default: throw ole_cast_exception();
    }
}

// Any other value as a signed 128-bit whole number for VT_I8 / VT_UI8.
__int128 to_wide_integer(const auto_variant& v)
{
    switch (v.vt) {
    case VT_I1: return v.i1;
    case VT_I2: return v.i2;
    case VT_I4: return v.i4;
    case VT_INT: return v.int_value;
    case VT_BOOL: return v.boolean != 0 ? -1 : 0;
    case VT_UI1: return v.ui1;
    case VT_UI2: return v.ui2;
    case VT_UI4: return v.ui4;
    case VT_UINT: return v.uint_value;
    case VT_R4:
    case VT_R8: {
        const double d = v.vt == VT_R4 ? v.r4 : v.r8;
        // Outside +-2^64 no 64-bit type holds it; the range test of the caller reports it.
        if (!std::isfinite(d) || std::fabs(d) >= 18446744073709551616.0) throw ole_cast_exception();
        return static_cast<__int128>(std::trunc(d));
    }
    case VT_CY: {
        std::int64_t value = 0;
        if (platform::cy_to_i64(v.cy, value) != S_OK) throw ole_cast_exception();
        return value;
    }
    case VT_DECIMAL: {
        if (v.decimal.sign & DECIMAL_NEG) {
            std::int64_t value = 0;
            if (platform::decimal_to_i64(v.decimal, value) != S_OK) throw ole_cast_exception();
            return value;
        }
        std::uint64_t value = 0;
        if (platform::decimal_to_u64(v.decimal, value) != S_OK) throw ole_cast_exception();
        return value;
    }
    default: throw ole_cast_exception();
    }
}

template <class T>
std::vector<std::uint8_t> bytes_of(const T& value)
{
    std::vector<std::uint8_t> bytes(sizeof(T));
    std::memcpy(bytes.data(), &value, sizeof(T));
    return bytes;
}

std::vector<std::uint8_t> value_bytes(const auto_variant& v)
{
    switch (v.vt) {
    case VT_I2: return bytes_of(v.i2);
    case VT_BOOL: return bytes_of(v.boolean);
    case VT_UI2: return bytes_of(v.ui2);
    case VT_I4: return bytes_of(v.i4);
    case VT_R4: return bytes_of(v.r4);
    case VT_UI4: return bytes_of(v.ui4);
    case VT_INT: return bytes_of(v.int_value);
    case VT_UINT: return bytes_of(v.uint_value);
    case VT_R8: return bytes_of(v.r8);
    case VT_CY: return bytes_of(v.cy.int64);
    case VT_DECIMAL: {
        DECIMAL dec = v.decimal;
        dec.reserved = VT_DECIMAL;  // the word a variant's type tag overlays
        return bytes_of(dec);
    }
    case VT_I1: return bytes_of(v.i1);
    case VT_UI1: return bytes_of(v.ui1);
    case VT_BSTR: {
        // Every character of the text as UTF-16LE, two bytes per code unit.
        std::vector<std::uint8_t> bytes;
        bytes.reserve(v.bstr.size() * 2);
        auto unit = [&](std::uint32_t u) {
            bytes.push_back(static_cast<std::uint8_t>(u & 0xFF));
            bytes.push_back(static_cast<std::uint8_t>(u >> 8));
        };
        for (wchar_t wc : v.bstr) {
            std::uint32_t c = static_cast<std::uint32_t>(wc);
            if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
            if (c >= 0x10000) {
                c -= 0x10000;
                unit(0xD800 + (c >> 10));
                unit(0xDC00 + (c & 0x3FF));
            } else {
                unit(c);
            }
        }
        return bytes;
    }
    default: throw ole_cast_exception();
    }
}

}  // namespace

void ole_variant::change_type(VARTYPE target)
{
    widen_held_text();
    const VARTYPE current = var_.vt;
    tk_log(1, "ole_variant::change_type(old=%d,new=%d)", static_cast<int>(current), static_cast<int>(target));
    if (target == current || current == VT_EMPTY || current == VT_NULL ||
        (ole_is_binary(current) && ole_is_binary(target))) {
        tk_log(1, "Type cannot be changed");
        return;
    }
    ole_variant result;
    if (current == VT_I8) {
        result = from_wide_integer(i8_, true, target);
    } else if (current == VT_UI8) {
        result = from_wide_integer(ui8_, false, target);
    } else if (target == VT_I8 || target == VT_UI8) {
        const __int128 value = to_wide_integer(var_);
        const bool is_signed = is_signed_whole(current) || current == VT_BOOL || value < 0;
        result = from_wide_integer(value, is_signed, target);
    } else if (current != VT_DATE && ole_is_binary(target)) {
        tk_log(1, "a_type is binary");
        std::vector<std::uint8_t> bytes = value_bytes(var_);
        tk_log(1, "convert_to_byte_array(%d)", static_cast<long long>(bytes.size()));
        result.attach_binary(bytes);
    } else if (target == VT_DATE) {
        if (current != VT_BSTR) throw ole_cast_exception();
        const ole_date date(var_.bstr);
        if (!date.is_valid()) throw ole_cast_exception();
        result = ole_variant(date.get_systemtime());
    } else if (current == VT_DATE) {
        if (target != VT_BSTR) throw ole_cast_exception();
        result.attach_wstring(ole_date(systemtime_).to_wstring(true));
    } else {
        auto_variant converted;
        if (platform::change_type(converted, var_, target) != S_OK) {
            tk_log(1, "VariantChangeType failed");
            tk_log(1, "to_string()=%s", to_string());
            throw ole_cast_exception();
        }
        result.var_ = std::move(converted);
    }
    *this = std::move(result);
}

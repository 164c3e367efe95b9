#include "platform/auto_variant.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "platform/auto_number.h"
#include "platform/unicode_text.h"

auto_variant::auto_variant(auto_variant&& other) noexcept
    : vt(other.vt), decimal(other.decimal), bstr(std::move(other.bstr)), bytes(std::move(other.bytes))
{
    other.clear();
}

auto_variant& auto_variant::operator=(auto_variant&& other) noexcept
{
    if (this != &other) {
        vt = other.vt;
        decimal = other.decimal;  // the widest member carries every scalar
        bstr = std::move(other.bstr);
        bytes = std::move(other.bytes);
        other.clear();
    }
    return *this;
}

void auto_variant::clear() noexcept
{
    vt = VT_EMPTY;
    decimal = DECIMAL{};
    bstr.clear();
    bstr.shrink_to_fit();
    bytes.clear();
    bytes.shrink_to_fit();
}

namespace platform {
namespace {

// A value on its way between two types: an exact whole number, a double, or a decimal.
struct number {
    enum class kind { whole, real, exact } k = kind::whole;
    __int128 whole = 0;
    double real = 0;
    DECIMAL exact{};
};

bool is_whole_type(VARTYPE vt)
{
    switch (vt) {
    case VT_I1: case VT_I2: case VT_I4: case VT_INT: case VT_UI1: case VT_UI2: case VT_UI4: case VT_UINT:
        return true;
    default:
        return false;
    }
}

bool is_table_type(VARTYPE vt)
{
    return is_whole_type(vt) || vt == VT_R4 || vt == VT_R8 || vt == VT_CY || vt == VT_DECIMAL || vt == VT_BOOL ||
           vt == VT_BSTR;
}

void whole_range(VARTYPE vt, long long& lo, long long& hi)
{
    switch (vt) {
    case VT_I1: lo = INT8_MIN; hi = INT8_MAX; break;
    case VT_I2: lo = INT16_MIN; hi = INT16_MAX; break;
    case VT_UI1: lo = 0; hi = UINT8_MAX; break;
    case VT_UI2: lo = 0; hi = UINT16_MAX; break;
    case VT_UI4: case VT_UINT: lo = 0; hi = UINT32_MAX; break;
    default: lo = INT32_MIN; hi = INT32_MAX; break;
    }
}

long long whole_value(const auto_variant& v)
{
    switch (v.vt) {
    case VT_I1: return v.i1;
    case VT_I2: return v.i2;
    case VT_I4: return v.i4;
    case VT_INT: return v.int_value;
    case VT_UI1: return v.ui1;
    case VT_UI2: return v.ui2;
    case VT_UI4: return v.ui4;
    case VT_UINT: return v.uint_value;
    case VT_BOOL: return v.boolean != 0 ? -1 : 0;
    default: return 0;
    }
}

void store_whole(auto_variant& v, VARTYPE vt, long long value)
{
    v.clear();
    v.vt = vt;
    switch (vt) {
    case VT_I1: v.i1 = static_cast<std::int8_t>(value); break;
    case VT_I2: v.i2 = static_cast<std::int16_t>(value); break;
    case VT_I4: v.i4 = static_cast<std::int32_t>(value); break;
    case VT_INT: v.int_value = static_cast<std::int32_t>(value); break;
    case VT_UI1: v.ui1 = static_cast<std::uint8_t>(value); break;
    case VT_UI2: v.ui2 = static_cast<std::uint16_t>(value); break;
    case VT_UI4: v.ui4 = static_cast<std::uint32_t>(value); break;
    case VT_UINT: v.uint_value = static_cast<std::uint32_t>(value); break;
    default: break;
    }
}

bool equals_no_case(const std::wstring& text, const char* word)
{
    std::size_t n = std::strlen(word);
    if (text.size() != n) return false;
    for (std::size_t i = 0; i < n; ++i) {
        wchar_t c = text[i];
        if (c >= L'A' && c <= L'Z') c = c - L'A' + L'a';
        if (c != static_cast<wchar_t>(word[i])) return false;
    }
    return true;
}

std::string narrow(const std::wstring& text)
{
    return utf8_encode(std::u32string_view(reinterpret_cast<const char32_t*>(text.data()), text.size()));
}

std::wstring widen(const std::string& text)
{
    const std::u32string decoded = utf8_decode(text);
    return std::wstring(decoded.begin(), decoded.end());
}

HRESULT to_number(const auto_variant& in, VARTYPE target, number& n)
{
    if (is_whole_type(in.vt) || in.vt == VT_BOOL) {
        n.k = number::kind::whole;
        n.whole = whole_value(in);
        return S_OK;
    }
    switch (in.vt) {
    case VT_R4: n.k = number::kind::real; n.real = in.r4; return S_OK;
    case VT_R8: n.k = number::kind::real; n.real = in.r8; return S_OK;
    case VT_CY: n.k = number::kind::exact; return decimal_from_cy(in.cy, n.exact);
    case VT_DECIMAL: n.k = number::kind::exact; n.exact = in.decimal; return S_OK;
    case VT_BSTR: {
        const std::string text = narrow(in.bstr);
        if (target == VT_R4 || target == VT_R8) {
            n.k = number::kind::real;
            return double_from_text(text, n.real);
        }
        n.k = number::kind::exact;
        return decimal_from_text(text, n.exact);
    }
    default:
        return DISP_E_TYPEMISMATCH;
    }
}

HRESULT number_to_double(const number& n, double& out)
{
    switch (n.k) {
    case number::kind::whole: out = static_cast<double>(n.whole); return S_OK;
    case number::kind::real: out = n.real; return S_OK;
    default: return decimal_to_double(n.exact, out);
    }
}

HRESULT number_to_whole(const number& n, long long lo, long long hi, long long& out)
{
    if (n.k == number::kind::whole) {
        if (n.whole < lo || n.whole > hi) return DISP_E_OVERFLOW;
        out = static_cast<long long>(n.whole);
        return S_OK;
    }
    if (n.k == number::kind::real) {
        double rounded = 0;
        const HRESULT hr = double_to_integer(n.real, static_cast<double>(lo), static_cast<double>(hi), rounded);
        if (hr != S_OK) return hr;
        out = static_cast<long long>(rounded);
        return S_OK;
    }
    std::int64_t value = 0;
    const HRESULT hr = decimal_to_i64(n.exact, value);
    if (hr != S_OK) return hr;
    if (value < lo || value > hi) return DISP_E_OVERFLOW;
    out = value;
    return S_OK;
}

bool number_is_zero(const number& n)
{
    switch (n.k) {
    case number::kind::whole: return n.whole == 0;
    case number::kind::real: return n.real == 0;
    default: return n.exact.hi32 == 0 && n.exact.lo64 == 0;
    }
}

HRESULT convert(auto_variant& out, const auto_variant& in, VARTYPE target)
{
    if (target == VT_BSTR) {
        if (in.vt == VT_BOOL) {
            out.clear();
            out.vt = VT_BSTR;
            out.bstr = in.boolean != 0 ? L"True" : L"False";
            return S_OK;
        }
        const std::string text = number_text(in);
        if (text.empty()) return DISP_E_TYPEMISMATCH;
        out.clear();
        out.vt = VT_BSTR;
        out.bstr = widen(text);
        return S_OK;
    }
    if (target == VT_BOOL && in.vt == VT_BSTR) {
        bool truth = false;
        if (equals_no_case(in.bstr, "true")) {
            truth = true;
        } else if (!equals_no_case(in.bstr, "false")) {
            number n;
            const HRESULT hr = to_number(in, VT_R8, n);
            if (hr != S_OK) return hr;
            truth = !number_is_zero(n);
        }
        out.clear();
        out.vt = VT_BOOL;
        out.boolean = truth ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    number n;
    HRESULT hr = to_number(in, target, n);
    if (hr != S_OK) return hr;
    if (is_whole_type(target)) {
        long long lo = 0, hi = 0, value = 0;
        whole_range(target, lo, hi);
        hr = number_to_whole(n, lo, hi, value);
        if (hr != S_OK) return hr;
        store_whole(out, target, value);
        return S_OK;
    }
    switch (target) {
    case VT_BOOL: {
        const bool truth = !number_is_zero(n);
        out.clear();
        out.vt = VT_BOOL;
        out.boolean = truth ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    case VT_R8:
    case VT_R4: {
        double value = 0;
        hr = number_to_double(n, value);
        if (hr != S_OK) return hr;
        if (target == VT_R4 && std::isfinite(value) && std::fabs(value) > std::numeric_limits<float>::max())
            return DISP_E_OVERFLOW;
        out.clear();
        out.vt = target;
        if (target == VT_R8)
            out.r8 = value;
        else
            out.r4 = static_cast<float>(value);
        return S_OK;
    }
    case VT_CY: {
        CY cy;
        if (n.k == number::kind::whole)
            hr = cy_from_i64(static_cast<std::int64_t>(n.whole), cy);
        else if (n.k == number::kind::real)
            hr = cy_from_double(n.real, cy);
        else
            hr = decimal_to_cy(n.exact, cy);
        if (hr != S_OK) return hr;
        out.clear();
        out.vt = VT_CY;
        out.cy = cy;
        return S_OK;
    }
    case VT_DECIMAL: {
        DECIMAL dec;
        if (n.k == number::kind::whole)
            hr = decimal_from_i64(static_cast<std::int64_t>(n.whole), dec);
        else if (n.k == number::kind::real)
            hr = decimal_from_double(n.real, dec);
        else
            dec = n.exact;
        if (hr != S_OK) return hr;
        out.clear();
        out.vt = VT_DECIMAL;
        out.decimal = dec;
        return S_OK;
    }
    default:
        return DISP_E_TYPEMISMATCH;
    }
}

}  // namespace

std::string number_text(const auto_variant& value)
{
    if (is_whole_type(value.vt)) return std::to_string(whole_value(value));
    switch (value.vt) {
    case VT_I8: return std::to_string(value.i8);
    case VT_UI8: return std::to_string(value.ui8);
    case VT_R4: return float_to_text(value.r4);
    case VT_R8: return double_to_text(value.r8);
    case VT_CY: return cy_to_text(value.cy);
    case VT_DECIMAL: return decimal_to_text(value.decimal);
    default: return std::string();
    }
}

HRESULT change_type(auto_variant& out, const auto_variant& in, VARTYPE target)
{
    if (!is_table_type(in.vt) || !is_table_type(target)) return DISP_E_TYPEMISMATCH;
    if (in.vt == target) {
        if (&out != &in) out = in;
        return S_OK;
    }
    auto_variant result;
    const HRESULT hr = convert(result, in, target);
    if (hr == S_OK) out = std::move(result);
    return hr;
}

}  // namespace platform

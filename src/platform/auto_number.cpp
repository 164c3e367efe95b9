#include "platform/auto_number.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

namespace platform {
namespace {

using u128 = unsigned __int128;

constexpr u128 decimal_limit = (static_cast<u128>(1) << 96) - 1;
constexpr u128 cy_limit = static_cast<u128>(std::numeric_limits<std::int64_t>::max());

// A number text taken apart: value = digits * 10^exponent, digits without leading zeros.
struct number_parts {
    bool negative = false;
    std::string digits;
    long long exponent = 0;
};

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::optional<number_parts> split_number(std::string_view text)
{
    std::size_t i = 0, n = text.size();
    while (i < n && is_blank(text[i])) ++i;
    while (n > i && is_blank(text[n - 1])) --n;
    number_parts parts;
    if (i < n && (text[i] == '+' || text[i] == '-')) parts.negative = text[i++] == '-';
    std::size_t int_digits = 0, frac_digits = 0;
    while (i < n && is_digit(text[i])) {
        if (!(parts.digits.empty() && text[i] == '0')) parts.digits.push_back(text[i]);
        ++i;
        ++int_digits;
    }
    if (i < n && text[i] == '.') {
        ++i;
        while (i < n && is_digit(text[i])) {
            if (!(parts.digits.empty() && text[i] == '0')) parts.digits.push_back(text[i]);
            ++i;
            ++frac_digits;
        }
    }
    if (int_digits + frac_digits == 0) return std::nullopt;
    long long exponent = 0;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool negative_exp = false;
        if (i < n && (text[i] == '+' || text[i] == '-')) negative_exp = text[i++] == '-';
        if (i == n || !is_digit(text[i])) return std::nullopt;
        while (i < n && is_digit(text[i])) {
            // Saturate: an exponent this large over- or underflows every target anyway.
            if (exponent < 100000000) exponent = exponent * 10 + (text[i] - '0');
            ++i;
        }
        if (negative_exp) exponent = -exponent;
    }
    if (i != n) return std::nullopt;
    parts.exponent = exponent - static_cast<long long>(frac_digits);
    return parts;
}

bool append_digit(u128& value, int digit, u128 limit)
{
    if (value > (limit - digit) / 10) return false;
    value = value * 10 + digit;
    return true;
}

// round_half_even(|value| * 10^scale); false when it exceeds limit.
bool scaled_magnitude(const number_parts& parts, int scale, u128 limit, u128& out)
{
    out = 0;
    const std::string& d = parts.digits;
    if (d.empty()) return true;
    const long long shift = parts.exponent + scale;
    if (shift >= 0) {
        if (static_cast<long long>(d.size()) + shift > 40) return false;
        for (char c : d)
            if (!append_digit(out, c - '0', limit)) return false;
        for (long long k = 0; k < shift; ++k)
            if (!append_digit(out, 0, limit)) return false;
        return true;
    }
    const long long drop = -shift;
    const long long size = static_cast<long long>(d.size());
    if (drop > size) return true;  // below one tenth of a unit: rounds to 0
    const std::size_t keep = static_cast<std::size_t>(size - drop);
    if (keep > 40) return false;
    for (std::size_t k = 0; k < keep; ++k)
        if (!append_digit(out, d[k] - '0', limit)) return false;
    const int first = d[keep] - '0';
    bool rest_nonzero = false;
    for (std::size_t k = keep + 1; k < d.size() && !rest_nonzero; ++k) rest_nonzero = d[k] != '0';
    const bool up = first > 5 || (first == 5 && (rest_nonzero || (out & 1) != 0));
    if (up) {
        if (out == limit) return false;
        ++out;
    }
    return true;
}

std::string magnitude_text(u128 value)
{
    char buf[48];
    char* p = buf + sizeof buf;
    do {
        *--p = static_cast<char>('0' + static_cast<int>(value % 10));
        value /= 10;
    } while (value != 0);
    return std::string(p, buf + sizeof buf);
}

u128 decimal_magnitude(const DECIMAL& d) { return (static_cast<u128>(d.hi32) << 64) | d.lo64; }

void set_decimal(DECIMAL& out, u128 magnitude, int scale, bool negative)
{
    out = DECIMAL{};
    out.scale = static_cast<std::uint8_t>(scale);
    out.sign = negative && magnitude != 0 ? DECIMAL_NEG : 0;
    out.hi32 = static_cast<std::uint32_t>(magnitude >> 64);
    out.lo64 = static_cast<std::uint64_t>(magnitude);
}

HRESULT cy_from_parts(const number_parts& parts, CY& out)
{
    // The negative range is one unit longer: -922337203685477.5808 is a currency value.
    const u128 limit = parts.negative ? cy_limit + 1 : cy_limit;
    u128 magnitude = 0;
    if (!scaled_magnitude(parts, 4, limit, magnitude)) return DISP_E_OVERFLOW;
    out.int64 = parts.negative ? static_cast<std::int64_t>(-static_cast<__int128>(magnitude))
                               : static_cast<std::int64_t>(magnitude);
    return S_OK;
}

HRESULT decimal_from_parts(const number_parts& parts, DECIMAL& out)
{
    // The largest scale (at most 28) at which the rounded value still fits in 96 bits.
    long long want = parts.exponent < 0 ? -parts.exponent : 0;
    if (want > DECIMAL_MAX_SCALE) want = DECIMAL_MAX_SCALE;
    for (long long scale = want; scale >= 0; --scale) {
        u128 magnitude = 0;
        if (scaled_magnitude(parts, static_cast<int>(scale), decimal_limit, magnitude)) {
            set_decimal(out, magnitude, static_cast<int>(scale), parts.negative);
            return S_OK;
        }
    }
    return DISP_E_OVERFLOW;
}

number_parts parts_of_decimal(const DECIMAL& value)
{
    number_parts parts;
    parts.negative = (value.sign & DECIMAL_NEG) != 0;
    const u128 magnitude = decimal_magnitude(value);
    if (magnitude != 0) parts.digits = magnitude_text(magnitude);
    parts.exponent = -static_cast<long long>(value.scale);
    return parts;
}

number_parts parts_of_cy(CY value)
{
    number_parts parts;
    parts.negative = value.int64 < 0;
    const u128 magnitude = parts.negative ? static_cast<u128>(-(static_cast<__int128>(value.int64)))
                                          : static_cast<u128>(value.int64);
    if (magnitude != 0) parts.digits = magnitude_text(magnitude);
    parts.exponent = -4;
    return parts;
}

HRESULT parts_to_i64(const number_parts& parts, std::int64_t& out)
{
    u128 magnitude = 0;
    const u128 limit = parts.negative ? cy_limit + 1 : cy_limit;
    if (!scaled_magnitude(parts, 0, limit, magnitude)) return DISP_E_OVERFLOW;
    out = parts.negative ? static_cast<std::int64_t>(-static_cast<__int128>(magnitude))
                         : static_cast<std::int64_t>(magnitude);
    return S_OK;
}

HRESULT parts_to_u64(const number_parts& parts, std::uint64_t& out)
{
    u128 magnitude = 0;
    if (!scaled_magnitude(parts, 0, std::numeric_limits<std::uint64_t>::max(), magnitude))
        return DISP_E_OVERFLOW;
    if (parts.negative && magnitude != 0) return DISP_E_OVERFLOW;
    out = static_cast<std::uint64_t>(magnitude);
    return S_OK;
}

}  // namespace

namespace {

// Shortest text that reads back to the same value; a whole number within the range of a 64-bit
// integer never takes an exponent ("100000", not "1e+05"), so integer columns accept it too.
template <typename Real>
std::string real_to_text(Real value)
{
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
    char buf[64];
    const bool whole = std::trunc(value) == value && std::fabs(value) < Real(1e18);
    const auto result = whole ? std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed)
                              : std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, result.ptr);
}

}  // namespace

std::string double_to_text(double value) { return real_to_text(value); }

std::string float_to_text(float value) { return real_to_text(value); }

HRESULT double_from_text(std::string_view text, double& out)
{
    const auto parts = split_number(text);
    if (!parts) return DISP_E_TYPEMISMATCH;
    if (parts->digits.empty()) {
        out = parts->negative ? -0.0 : 0.0;
        return S_OK;
    }
    // Rebuild a plain text for from_chars, which takes no '+' and no blanks.
    std::string plain = parts->negative ? "-" : "";
    plain += parts->digits;
    plain += 'e';
    plain += std::to_string(parts->exponent);
    double value = 0;
    const auto result = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        const long long magnitude = parts->exponent + static_cast<long long>(parts->digits.size());
        if (magnitude < 0) {
            out = parts->negative ? -0.0 : 0.0;  // underflow
            return S_OK;
        }
        return DISP_E_OVERFLOW;
    }
    if (result.ec != std::errc()) return DISP_E_TYPEMISMATCH;
    out = value;
    return S_OK;
}

HRESULT cy_from_text(std::string_view text, CY& out)
{
    const auto parts = split_number(text);
    if (!parts) return DISP_E_TYPEMISMATCH;
    return cy_from_parts(*parts, out);
}

HRESULT decimal_from_text(std::string_view text, DECIMAL& out)
{
    const auto parts = split_number(text);
    if (!parts) return DISP_E_TYPEMISMATCH;
    return decimal_from_parts(*parts, out);
}

std::string cy_to_text(CY value)
{
    const bool negative = value.int64 < 0;
    const u128 magnitude = negative ? static_cast<u128>(-static_cast<__int128>(value.int64))
                                    : static_cast<u128>(value.int64);
    std::string text = negative ? "-" : "";
    text += magnitude_text(magnitude / CY_SCALE);
    std::string fraction = magnitude_text(magnitude % CY_SCALE + CY_SCALE).substr(1);
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
    if (!fraction.empty()) text += "." + fraction;
    return text;
}

std::string decimal_to_text(const DECIMAL& value)
{
    const u128 magnitude = decimal_magnitude(value);
    const int scale = value.scale > DECIMAL_MAX_SCALE ? DECIMAL_MAX_SCALE : value.scale;
    std::string digits = magnitude_text(magnitude);
    if (digits.size() <= static_cast<std::size_t>(scale))
        digits.insert(0, static_cast<std::size_t>(scale) + 1 - digits.size(), '0');
    std::string text = (value.sign & DECIMAL_NEG) && magnitude != 0 ? "-" : "";
    text += digits.substr(0, digits.size() - scale);
    if (scale > 0) text += "." + digits.substr(digits.size() - scale);
    return text;
}

HRESULT decimal_from_i64(std::int64_t value, DECIMAL& out)
{
    const bool negative = value < 0;
    set_decimal(out, negative ? static_cast<u128>(-static_cast<__int128>(value)) : static_cast<u128>(value), 0,
                negative);
    return S_OK;
}

HRESULT decimal_from_u64(std::uint64_t value, DECIMAL& out)
{
    set_decimal(out, value, 0, false);
    return S_OK;
}

HRESULT decimal_from_double(double value, DECIMAL& out)
{
    if (!std::isfinite(value)) return DISP_E_OVERFLOW;
    return decimal_from_text(double_to_text(value), out);
}

HRESULT decimal_from_cy(CY value, DECIMAL& out) { return decimal_from_parts(parts_of_cy(value), out); }

HRESULT decimal_to_i64(const DECIMAL& value, std::int64_t& out) { return parts_to_i64(parts_of_decimal(value), out); }

HRESULT decimal_to_u64(const DECIMAL& value, std::uint64_t& out) { return parts_to_u64(parts_of_decimal(value), out); }

HRESULT decimal_to_i32(const DECIMAL& value, std::int32_t& out)
{
    std::int64_t wide = 0;
    const HRESULT hr = decimal_to_i64(value, wide);
    if (hr != S_OK) return hr;
    if (wide < std::numeric_limits<std::int32_t>::min() || wide > std::numeric_limits<std::int32_t>::max())
        return DISP_E_OVERFLOW;
    out = static_cast<std::int32_t>(wide);
    return S_OK;
}

HRESULT decimal_to_cy(const DECIMAL& value, CY& out) { return cy_from_parts(parts_of_decimal(value), out); }

HRESULT decimal_to_double(const DECIMAL& value, double& out) { return double_from_text(decimal_to_text(value), out); }

HRESULT cy_from_i64(std::int64_t value, CY& out)
{
    number_parts parts;
    parts.negative = value < 0;
    const u128 magnitude = parts.negative ? static_cast<u128>(-static_cast<__int128>(value)) : static_cast<u128>(value);
    if (magnitude != 0) parts.digits = magnitude_text(magnitude);
    return cy_from_parts(parts, out);
}

HRESULT cy_from_u64(std::uint64_t value, CY& out)
{
    number_parts parts;
    if (value != 0) parts.digits = magnitude_text(value);
    return cy_from_parts(parts, out);
}

HRESULT cy_from_double(double value, CY& out)
{
    if (!std::isfinite(value)) return DISP_E_OVERFLOW;
    return cy_from_text(double_to_text(value), out);
}

HRESULT cy_to_i64(CY value, std::int64_t& out) { return parts_to_i64(parts_of_cy(value), out); }

HRESULT cy_to_u64(CY value, std::uint64_t& out) { return parts_to_u64(parts_of_cy(value), out); }

double cy_to_double(CY value)
{
    double out = 0;
    double_from_text(cy_to_text(value), out);
    return out;
}

HRESULT double_to_integer(double value, double lo, double hi, double& out)
{
    if (!std::isfinite(value)) return DISP_E_OVERFLOW;
    const double rounded = std::nearbyint(value);  // default rounding mode: half to even
    if (rounded < lo || rounded > hi) return DISP_E_OVERFLOW;
    out = rounded;
    return S_OK;
}

}  // namespace platform

#pragma once
// Locale-free number texts and the exact currency and decimal arithmetic of automation values.
// Texts use '.' as the decimal point whatever the process locale; extra fraction digits round half to even.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/auto_types.h"

namespace platform {

/// Shortest text that reads back as the same double ("1.5", "1e+20"); "NaN", "Infinity", "-Infinity".
std::string double_to_text(double value);
/// Shortest text that reads back as the same float.
std::string float_to_text(float value);

/// Reads a whole number text `[blanks][+|-](digits[.digits]|.digits)[(e|E)[+|-]digits][blanks]`.
/// S_OK, DISP_E_TYPEMISMATCH for other text, DISP_E_OVERFLOW when the value does not fit.
HRESULT double_from_text(std::string_view text, double& out);
HRESULT cy_from_text(std::string_view text, CY& out);
HRESULT decimal_from_text(std::string_view text, DECIMAL& out);

/// "[-]int[.frac]" without trailing fraction zeros: "12.5", "-0.0001", "3".
std::string cy_to_text(CY value);
/// Exactly `scale` fraction digits; zero is never signed.
std::string decimal_to_text(const DECIMAL& value);

HRESULT decimal_from_i64(std::int64_t value, DECIMAL& out);
HRESULT decimal_from_u64(std::uint64_t value, DECIMAL& out);
HRESULT decimal_from_double(double value, DECIMAL& out);
HRESULT decimal_from_cy(CY value, DECIMAL& out);
/// Rounded half to even; DISP_E_OVERFLOW outside the target's range.
HRESULT decimal_to_i64(const DECIMAL& value, std::int64_t& out);
HRESULT decimal_to_u64(const DECIMAL& value, std::uint64_t& out);
HRESULT decimal_to_i32(const DECIMAL& value, std::int32_t& out);
HRESULT decimal_to_cy(const DECIMAL& value, CY& out);
HRESULT decimal_to_double(const DECIMAL& value, double& out);

HRESULT cy_from_i64(std::int64_t value, CY& out);
HRESULT cy_from_u64(std::uint64_t value, CY& out);
HRESULT cy_from_double(double value, CY& out);
HRESULT cy_to_i64(CY value, std::int64_t& out);
HRESULT cy_to_u64(CY value, std::uint64_t& out);
double cy_to_double(CY value);

/// Rounds half to even to a whole number; DISP_E_OVERFLOW when not finite or outside [lo, hi].
HRESULT double_to_integer(double value, double lo, double hi, double& out);

}  // namespace platform

#pragma once
// Automation value types: the type codes, currency, the 96-bit decimal and the broken-down date that
// values carry between the workbook engine, the OLE wrappers and the PostgreSQL side.
#include <cstdint>

using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;
using HRESULT = std::int32_t;

inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_NULL = 1;
inline constexpr VARTYPE VT_I2 = 2;
inline constexpr VARTYPE VT_I4 = 3;
inline constexpr VARTYPE VT_R4 = 4;
inline constexpr VARTYPE VT_R8 = 5;
inline constexpr VARTYPE VT_CY = 6;
inline constexpr VARTYPE VT_DATE = 7;
inline constexpr VARTYPE VT_BSTR = 8;
inline constexpr VARTYPE VT_DISPATCH = 9;
inline constexpr VARTYPE VT_ERROR = 10;
inline constexpr VARTYPE VT_BOOL = 11;
inline constexpr VARTYPE VT_VARIANT = 12;
inline constexpr VARTYPE VT_UNKNOWN = 13;
inline constexpr VARTYPE VT_DECIMAL = 14;
inline constexpr VARTYPE VT_I1 = 16;
inline constexpr VARTYPE VT_UI1 = 17;
inline constexpr VARTYPE VT_UI2 = 18;
inline constexpr VARTYPE VT_UI4 = 19;
inline constexpr VARTYPE VT_I8 = 20;
inline constexpr VARTYPE VT_UI8 = 21;
inline constexpr VARTYPE VT_INT = 22;
inline constexpr VARTYPE VT_UINT = 23;
inline constexpr VARTYPE VT_LPSTR = 30;
inline constexpr VARTYPE VT_LPWSTR = 31;
inline constexpr VARTYPE VT_BLOB = 65;
inline constexpr VARTYPE VT_BLOB_OBJECT = 70;
inline constexpr VARTYPE VT_ARRAY = 0x2000;

inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005u);
inline constexpr HRESULT DISP_E_OVERFLOW = static_cast<HRESULT>(0x8002000Au);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);

/// True for the three byte-string types; every layer uses this one set.
constexpr bool auto_is_binary(VARTYPE vt)
{
    return vt == VT_BLOB || vt == VT_BLOB_OBJECT || vt == (VT_ARRAY | VT_UI1);
}

/// Currency: a signed 64-bit count of ten-thousandths.
struct CY {
    std::int64_t int64 = 0;
};
inline constexpr std::int64_t CY_SCALE = 10000;

/// 96-bit decimal: magnitude hi32:lo64, value = magnitude / 10^scale, negative when sign is DECIMAL_NEG.
/// The layout is the 16-byte wire form (reserved word first, then scale, sign, hi32, lo64).
struct DECIMAL {
    std::uint16_t reserved = 0;
    std::uint8_t scale = 0;
    std::uint8_t sign = 0;
    std::uint32_t hi32 = 0;
    std::uint64_t lo64 = 0;
};
static_assert(sizeof(DECIMAL) == 16);
inline constexpr std::uint8_t DECIMAL_NEG = 0x80;
inline constexpr int DECIMAL_MAX_SCALE = 28;

/// Broken-down date and time. Year, month and day all 0 mean a time of day alone.
struct SYSTEMTIME {
    std::uint16_t year = 0;
    std::uint16_t month = 0;
    std::uint16_t day_of_week = 0;
    std::uint16_t day = 0;
    std::uint16_t hour = 0;
    std::uint16_t minute = 0;
    std::uint16_t second = 0;
    std::uint16_t milliseconds = 0;
};

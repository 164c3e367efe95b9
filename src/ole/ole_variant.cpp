#include "ole/ole_variant.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "ole/ole_date.h"
#include "ole/ole_exceptions.h"
#include "platform/auto_date.h"
#include "platform/auto_number.h"
#include "platform/unicode_text.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_string.h"

bool ole_is_binary(VARTYPE vt) { return auto_is_binary(vt); }

namespace {

constexpr VARTYPE byte_array = VT_ARRAY | VT_UI1;

// Every value constructed passes here: the level test stays inline, the logging out of line.
[[gnu::noinline, gnu::cold]] void write_initialize(VARTYPE vt)
{
    tk_log(1, "ole_variant::initialize");
    tk_log(1, "src.vt=%d", static_cast<int>(vt));
}

inline void log_initialize(VARTYPE vt)
{
    if (tk_log_enabled(1)) write_initialize(vt);
}

// UTF-8 text to wide text, every character kept (a cell's text may hold U+0000); ASCII, the
// common case, is widened directly (the decoder gives the same).
std::wstring widen_utf8(std::string_view text)
{
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) {
            const std::u32string decoded = platform::utf8_decode(text);
            return std::wstring(decoded.begin(), decoded.end());
        }
    std::wstring wide(text.size(), L'\0');
    for (std::size_t i = 0; i < text.size(); ++i) wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
    return wide;
}

bool is_c_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The leading whole number of a text as atoi reads it: blanks, a sign, digits. Many digits saturate far
// beyond every target range, so they are reported as overflow by the range test.
__int128 leading_integer(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && is_c_space(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    __int128 value = 0;
    constexpr __int128 cap = static_cast<__int128>(1) << 100;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        if (value < cap) value = value * 10 + (text[i] - '0');
    return negative ? -value : value;
}

std::string commas_to_points(std::string text)
{
    for (char& c : text)
        if (c == ',') c = '.';
    return text;
}

// The leading number of a text as atof reads it, locale-free; 0 when nothing reads.
HRESULT leading_double(std::string_view text, double& out)
{
    std::size_t i = 0;
    while (i < text.size() && is_c_space(text[i])) ++i;
    if (i < text.size() && text[i] == '+') ++i;
    const char* first = text.data() + i;
    const char* last = text.data() + text.size();
    double value = 0;
    const auto result = std::from_chars(first, last, value);
    if (result.ec == std::errc::invalid_argument) {
        out = 0;
        return S_OK;
    }
    if (result.ec == std::errc::result_out_of_range)
        return platform::double_from_text(std::string_view(first, static_cast<std::size_t>(result.ptr - first)), out);
    out = value;
    return S_OK;
}

int hex_value(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool fits(__int128 value, long double lo, long double hi) { return value >= lo && value <= hi; }

}  // namespace

// ---- construction ----------------------------------------------------------------

ole_variant::ole_variant()
{
    tk_log(1, "ole_variant::empty ctor");
    log_initialize(VT_EMPTY);
}

ole_variant::ole_variant(const SYSTEMTIME& st)
{
    tk_log(1, "Construct ole_variant from SYSTEMTIME");
    log_initialize(VT_DATE);
    set_date(st);
}

ole_variant::ole_variant(const CY& cy)
{
    tk_log(1, "Construct ole_variant from CY");
    log_initialize(VT_CY);
    var_.vt = VT_CY;
    var_.cy = cy;
}

ole_variant::ole_variant(const DECIMAL& dec)
{
    tk_log(1, "Construct ole_variant from DECIMAL");
    log_initialize(VT_DECIMAL);
    var_.vt = VT_DECIMAL;
    var_.decimal = dec;
    var_.decimal.reserved = VT_DECIMAL;
}

ole_variant::ole_variant(const wchar_t* text)
{
    tk_log(1, "Construct ole_variant from BSTR");
    log_initialize(VT_BSTR);
    var_.vt = VT_BSTR;
    if (text) var_.bstr = text;
}

ole_variant::ole_variant(const char* text)
{
    tk_log(1, "ole_variant::ctor from string(%s)", text ? text : "");
    log_initialize(VT_BSTR);
    attach_string(text ? text : "");
}

ole_variant::ole_variant(const std::string& text)
{
    tk_log(1, "ole_variant::ctor from string(%s)", text);
    log_initialize(VT_BSTR);
    attach_string(text);
}

ole_variant::ole_variant(const std::wstring& text)
{
    tk_log(1, "ole_variant::ctor from wstring(%s)", text);
    log_initialize(VT_BSTR);
    attach_wstring(text);
}

ole_variant::ole_variant(bool value)
{
    tk_log(1, "ole_variant::ctor from bool (%d)", static_cast<int>(value));
    log_initialize(VT_BOOL);
    var_.vt = VT_BOOL;
    var_.boolean = value ? VARIANT_TRUE : VARIANT_FALSE;
}

ole_variant::ole_variant(signed char value)
{
    tk_log(1, "ole_variant::ctor from char(%d)", static_cast<int>(value));
    log_initialize(VT_I1);
    var_.vt = VT_I1;
    var_.i1 = value;
}

ole_variant::ole_variant(unsigned char value)
{
    tk_log(1, "ole_variant::ctor from byte(%d)", static_cast<int>(value));
    log_initialize(VT_UI1);
    var_.vt = VT_UI1;
    var_.ui1 = value;
}

ole_variant::ole_variant(short value)
{
    tk_log(1, "ole_variant::ctor from short(%d)", static_cast<int>(value));
    log_initialize(VT_I2);
    var_.vt = VT_I2;
    var_.i2 = value;
}

ole_variant::ole_variant(unsigned short value)
{
    tk_log(1, "ole_variant::ctor from ushort(%d)", static_cast<int>(value));
    log_initialize(VT_UI2);
    var_.vt = VT_UI2;
    var_.ui2 = value;
}

ole_variant::ole_variant(int value)
{
    tk_log(1, "ole_variant::ctor from int(%d)", value);
    log_initialize(VT_I4);
    var_.vt = VT_I4;
    var_.i4 = value;
}

ole_variant::ole_variant(unsigned int value)
{
    tk_log(1, "ole_variant::ctor from uint(%u)", value);
    log_initialize(VT_UI4);
    var_.vt = VT_UI4;
    var_.ui4 = value;
}

ole_variant::ole_variant(long value) : ole_variant(static_cast<long long>(value)) {}

ole_variant::ole_variant(long long value)
{
    tk_log(1, "ole_variant::ctor(hyper, %I64d)", value);
    log_initialize(VT_I8);
    var_.vt = VT_I8;
    i8_ = value;
}

ole_variant::ole_variant(unsigned long value) : ole_variant(static_cast<unsigned long long>(value)) {}

ole_variant::ole_variant(unsigned long long value)
{
    tk_log(1, "ole_variant::ctor(uhyper, %I64u)", value);
    log_initialize(VT_UI8);
    var_.vt = VT_UI8;
    ui8_ = value;
}

ole_variant::ole_variant(float value)
{
    tk_log(1, "ole_variant::ctor from float(%f)", static_cast<double>(value));
    log_initialize(VT_R4);
    var_.vt = VT_R4;
    var_.r4 = value;
}

ole_variant::ole_variant(double value)
{
    tk_log(1, "ole_variant::ctor from double(%e)", value);
    log_initialize(VT_R8);
    var_.vt = VT_R8;
    var_.r8 = value;
}

ole_variant::ole_variant(const ole_variant& other)
    : i8_(other.i8_),
      ui8_(other.ui8_),
      systemtime_(other.systemtime_),
      var_(other.var_),
      utf8_(other.utf8_held_ ? other.utf8_ : std::string()),
      utf8_held_(other.utf8_held_),
      wide_pending_(other.wide_pending_)
{
    tk_log(1, "ole_variant::copy ctor");
    log_initialize(other.var_.vt);
    if (var_.vt == VT_DATE) tk_log(1, "Special processing for VT_DATE");
    if (var_.vt == VT_I8 || var_.vt == VT_UI8) tk_log(1, "Special processing for VT_(U)I8 type");
}

ole_variant::ole_variant(ole_variant&& other) noexcept
    : i8_(other.i8_),
      ui8_(other.ui8_),
      systemtime_(other.systemtime_),
      var_(std::move(other.var_)),
      utf8_(std::move(other.utf8_)),
      utf8_held_(other.utf8_held_),
      wide_pending_(other.wide_pending_)
{
    other.forget_utf8();
}

ole_variant::~ole_variant() = default;

// ---- assignment ----------------------------------------------------------------

void ole_variant::copy_from(const ole_variant& other)
{
    // The whole value is replaced, so no text or bytes of the former value stay behind.
    i8_ = other.i8_;
    ui8_ = other.ui8_;
    systemtime_ = other.systemtime_;
    var_ = other.var_;
    if (other.utf8_held_) utf8_ = other.utf8_;
    utf8_held_ = other.utf8_held_;
    wide_pending_ = other.wide_pending_;
}

ole_variant& ole_variant::operator=(const ole_variant& other)
{
    if (this == &other) return *this;
    copy_from(other);
    if (var_.vt == VT_DATE)
        tk_log(1, "%04d-%02d-%02d %02d:%02d:%02d", systemtime_.year, systemtime_.month, systemtime_.day,
               systemtime_.hour, systemtime_.minute, systemtime_.second);
    return *this;
}

ole_variant& ole_variant::operator=(ole_variant&& other) noexcept
{
    if (this != &other) {
        i8_ = other.i8_;
        ui8_ = other.ui8_;
        systemtime_ = other.systemtime_;
        var_ = std::move(other.var_);
        utf8_ = std::move(other.utf8_);
        utf8_held_ = other.utf8_held_;
        wide_pending_ = other.wide_pending_;
        other.forget_utf8();
    }
    return *this;
}

ole_variant& ole_variant::operator=(const wchar_t* text)
{
    tk_log(1, "ole_variant::operator = (const BSTR)");
    forget_utf8();
    var_.clear();
    var_.vt = VT_BSTR;
    if (text) var_.bstr = text;
    return *this;
}

void ole_variant::set_date(const SYSTEMTIME& st)
{
    forget_utf8();
    var_.clear();
    var_.vt = VT_DATE;
    systemtime_ = st;
    double serial = 0;
    if (!platform::systemtime_to_date(st, serial)) {
        tk_log(2, "Failed to convert SYSTEMTIME->VARIANT");
        serial = 0;
    }
    var_.date = serial;
}

void ole_variant::set_null()
{
    forget_utf8();
    var_.clear();
    var_.vt = VT_NULL;
}

void ole_variant::attach_string(const std::string& text)
{
    tk_log(1, "ole_variant::attach_string('%s')", text);
    forget_utf8();
    var_.clear();
    var_.vt = VT_BSTR;
    var_.bstr = widen_utf8(text);
}

void ole_variant::attach_utf8(std::string_view text)
{
    var_.clear();
    var_.vt = VT_BSTR;
    // The memory is reused, unless it is far larger than the text: a value that once held a long
    // text does not keep its room.
    if (utf8_.capacity() > 2 * text.size() + 64) std::string().swap(utf8_);
    utf8_.assign(text);
    utf8_held_ = true;
    wide_pending_ = true;
}

void ole_variant::make_wide_text() const
{
    wide_pending_ = false;
    if (var_.vt == VT_BSTR && utf8_held_) var_.bstr = widen_utf8(utf8_);
}

void ole_variant::attach_wstring(const std::wstring& text)
{
    tk_log(1, "ole_variant::attach_wstring('%s')", text);
    forget_utf8();
    var_.clear();
    var_.vt = VT_BSTR;
    var_.bstr = text;
}

void ole_variant::allocate_safe_array(std::size_t n)
{
    tk_log(1, "ole_variant::allocate_safe_array (size=%d)", static_cast<long long>(n));
    forget_utf8();
    var_.clear();
    var_.vt = byte_array;
    var_.bytes.assign(n, 0);
}

void ole_variant::attach_binary(const std::vector<std::uint8_t>& bytes)
{
    tk_log(1, "ole_variant::attach_binary(1)");
    allocate_safe_array(bytes.size());
    var_.bytes = bytes;
}

// ---- reading ---------------------------------------------------------------------

int ole_variant::to_long() const
{
    tk_log(1, "ole_variant::to_long(vt=%08X)", static_cast<unsigned>(var_.vt));
    auto checked = [](long double value) {
        if (!(value >= std::numeric_limits<int>::min() && value <= std::numeric_limits<int>::max()))
            throw ole_cast_exception();
        return static_cast<int>(value);
    };
    switch (var_.vt) {
    case VT_EMPTY:
    case VT_NULL: return 0;
    case VT_I2: return var_.i2;
    case VT_BOOL: return var_.boolean;
    case VT_I1: return var_.i1;
    case VT_UI1: return var_.ui1;
    case VT_UI2: return var_.ui2;
    case VT_I4: return var_.i4;
    case VT_INT: return var_.int_value;
    case VT_UI4: return checked(var_.ui4);
    case VT_UINT: return checked(var_.uint_value);
    case VT_R4: return checked(std::isfinite(var_.r4) ? std::trunc(static_cast<long double>(var_.r4)) : NAN);
    case VT_R8: return checked(std::isfinite(var_.r8) ? std::trunc(static_cast<long double>(var_.r8)) : NAN);
    case VT_I8: return checked(static_cast<long double>(i8_));
    case VT_UI8: return checked(static_cast<long double>(ui8_));
    case VT_DECIMAL: {
        std::int32_t value = 0;
        const HRESULT hr = platform::decimal_to_i32(var_.decimal, value);
        tk_log(1, "from DECIMAL, hr=%08X", static_cast<unsigned>(hr));
        if (hr != S_OK) throw ole_cast_exception();
        return value;
    }
    default: TK_ASSERT_SITE("ole_var", 484);
    }
}

std::string ole_variant::to_string() const
{
    tk_log(1, "ole_variant::to_string (vt=%08X)", static_cast<unsigned>(var_.vt));
    switch (var_.vt) {
    case VT_I8: return std::to_string(i8_);
    case VT_UI8: return std::to_string(ui8_);
    case VT_I1: case VT_I2: case VT_I4: case VT_INT: case VT_UI1: case VT_UI2: case VT_UI4: case VT_UINT:
    case VT_R4: case VT_R8:
        return platform::number_text(var_);
    case VT_CY:
        tk_log(1, "Converting VT_CY");
        return platform::cy_to_text(var_.cy);
    case VT_DECIMAL:
        tk_log(1, "Converting VT_DECIMAL");
        return platform::decimal_to_text(var_.decimal);
    case VT_DATE:
        tk_log(1, "Converting VT_DATE");
        return ole_date(systemtime_).to_string(true);
    case VT_BSTR:
        // The text form ends at a U+0000, as that of the wide text does.
        if (utf8_held_) return utf8_.substr(0, utf8_.find('\0'));
        return tk_to_utf8(var_.bstr);
    case VT_BOOL:
        tk_log(1, "to_string - bool: %d", static_cast<int>(var_.boolean));
        tk_log(1, "Mapping BOOL like ANSI!");
        return var_.boolean == VARIANT_TRUE ? "1" : "0";
    default:
        if (ole_is_binary(var_.vt)) {
            tk_log(1, "Converting VT_ARRAY");
            // Every byte is printed: a cut here would lose data without a word.
            if (var_.bytes.empty()) return std::string();
            return "0x" + tk_to_hex(var_.bytes.data(), var_.bytes.size());
        }
        return std::string();
    }
}

std::wstring ole_variant::to_wstring() const
{
    if (var_.vt == VT_BSTR) return get_bstr();
    return widen_utf8(to_string());
}

// ---- from text -------------------------------------------------------------------

ole_variant ole_variant::from_string(const std::string& text, VARTYPE target)
{
    tk_log(1, "ole_variant::from_string('%s', 0x%08X)", text, static_cast<unsigned>(target));
    ole_variant result;
    if (text.empty() && target != VT_BSTR) return result;
    // A number that does not fit its type is reported and left out, never cut to the type's width.
    auto out_of_range = [&]() {
        tk_log(3, "Value out of range for type %d: '%s'", static_cast<int>(target), text);
        return ole_variant();
    };
    switch (target) {
    case VT_I1: case VT_I2: case VT_I4: case VT_UI1: case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8: {
        const __int128 value = leading_integer(text);
        switch (target) {
        case VT_I1:
            if (!fits(value, INT8_MIN, INT8_MAX)) return out_of_range();
            return ole_variant(static_cast<signed char>(value));
        case VT_I2:
            if (!fits(value, INT16_MIN, INT16_MAX)) return out_of_range();
            return ole_variant(static_cast<short>(value));
        case VT_I4:
            if (!fits(value, INT32_MIN, INT32_MAX)) return out_of_range();
            return ole_variant(static_cast<int>(value));
        case VT_UI1:
            if (!fits(value, 0, UINT8_MAX)) return out_of_range();
            return ole_variant(static_cast<unsigned char>(value));
        case VT_UI2:
            if (!fits(value, 0, UINT16_MAX)) return out_of_range();
            return ole_variant(static_cast<unsigned short>(value));
        case VT_UI4:
            if (!fits(value, 0, UINT32_MAX)) return out_of_range();
            return ole_variant(static_cast<unsigned int>(value));
        case VT_I8:
            if (!fits(value, INT64_MIN, INT64_MAX)) return out_of_range();
            return ole_variant(static_cast<long long>(value));
        default:
            if (!fits(value, 0, UINT64_MAX)) return out_of_range();
            return ole_variant(static_cast<unsigned long long>(value));
        }
    }
    case VT_R4:
    case VT_R8: {
        double value = 0;
        if (leading_double(commas_to_points(text), value) != S_OK) return out_of_range();
        if (target == VT_R8) return ole_variant(value);
        if (std::isfinite(value) && std::fabs(value) > std::numeric_limits<float>::max())
            return out_of_range();
        return ole_variant(static_cast<float>(value));
    }
    case VT_CY: {
        tk_log(1, "GOT VT_CY");
        CY cy;
        const HRESULT hr = platform::cy_from_text(commas_to_points(text), cy);
        if (hr != S_OK) {
            tk_log(3, "VarCyFromStr failed: %08X", static_cast<unsigned>(hr));
            return result;
        }
        return ole_variant(cy);
    }
    case VT_DECIMAL: {
        tk_log(1, "GOT VT_DECIMAL");
        DECIMAL dec;
        const HRESULT hr = platform::decimal_from_text(commas_to_points(text), dec);
        if (hr != S_OK) {
            tk_log(3, "VarDecFromStr failed: %08X", static_cast<unsigned>(hr));
            return result;
        }
        return ole_variant(dec);
    }
    case VT_DATE: {
        tk_log(1, "GOT VT_DATE");
        const ole_date date(text);
        if (date.is_valid()) return ole_variant(date.get_systemtime());
        return result;
    }
    case VT_BOOL: {
        if (tk_compare_no_case(text, "yes") == 0 || tk_compare_no_case(text, "true") == 0) return ole_variant(true);
        if (tk_compare_no_case(text, "no") == 0 || tk_compare_no_case(text, "false") == 0) return ole_variant(false);
        return ole_variant(leading_integer(text) != 0);
    }
    case VT_BLOB:
    case VT_BLOB_OBJECT:
    case byte_array: {
        if (text.size() % 2 != 0) {
            tk_log(2, "Incorrect BLOB (size is odd)");
            return result;
        }
        std::size_t start = 0;
        if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) start = 2;
        tk_log(1, "Got BLOB size: %d", static_cast<long long>(text.size()));
        std::vector<std::uint8_t> bytes;
        bytes.reserve((text.size() - start) / 2);
        for (std::size_t i = start; i + 1 < text.size(); i += 2) {
            const int high = hex_value(text[i]);
            const int low = hex_value(text[i + 1]);
            if (high < 0 || low < 0) {
                tk_log(2, "Incorrect BLOB (not hexadecimal)");
                return ole_variant();
            }
            bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
        }
        result.attach_binary(bytes);
        return result;
    }
    case VT_BSTR:
        result.attach_string(text);
        return result;
    default: {
        result.attach_string(text);
        auto_variant converted;
        if (platform::change_type(converted, result.var_, target) != S_OK) throw ole_type_exception();
        tk_log(1, "VariantChangeType succeeded");
        result.var_ = std::move(converted);
        return result;
    }
    }
}

ole_variant ole_variant::from_wstring(const std::wstring& text, VARTYPE target)
{
    tk_log(1, "ole_variant::from_wstring");
    if (target == VT_BSTR) {
        ole_variant result;
        result.attach_wstring(text);
        return result;
    }
    return from_string(tk_to_utf8(text), target);
}

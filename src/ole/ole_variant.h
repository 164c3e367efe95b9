#pragma once
// ole_variant: the value type of every field read, written or used as a default. Its text forms are what
// reaches the destination, so they are exact and locale-free: whole numbers in decimal, doubles in their
// shortest round-trip form, currency and decimals with '.', dates as "YYYY-MM-DD hh:mm:ss.mmm", bytes as
// "0x" and upper-case hex. from_string reads those forms back.
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "platform/auto_types.h"
#include "platform/auto_variant.h"

/// True for the binary types VT_BLOB, VT_BLOB_OBJECT and VT_ARRAY|VT_UI1.
bool ole_is_binary(VARTYPE vt);

class ole_variant {
public:
    ole_variant();
    ole_variant(const SYSTEMTIME& st);
    ole_variant(const CY& cy);
    ole_variant(const DECIMAL& dec);
    ole_variant(const wchar_t* text);
    ole_variant(const char* text);
    ole_variant(const std::string& text);
    ole_variant(const std::wstring& text);
    ole_variant(bool value);
    ole_variant(signed char value);
    ole_variant(unsigned char value);
    ole_variant(short value);
    ole_variant(unsigned short value);
    ole_variant(int value);
    ole_variant(unsigned int value);
    ole_variant(long value);                // VT_I8
    ole_variant(long long value);           // VT_I8
    ole_variant(unsigned long value);       // VT_UI8
    ole_variant(unsigned long long value);  // VT_UI8
    ole_variant(float value);
    ole_variant(double value);
    /// Other pointers would silently become VT_BOOL.
    template <class T>
        requires(!std::is_same_v<std::remove_cv_t<T>, char> && !std::is_same_v<std::remove_cv_t<T>, wchar_t>)
    ole_variant(T*) = delete;
    ole_variant(const ole_variant& other);
    ole_variant(ole_variant&& other) noexcept;
    virtual ~ole_variant();

    ole_variant& operator=(const ole_variant& other);
    ole_variant& operator=(ole_variant&& other) noexcept;
    ole_variant& operator=(const wchar_t* text);

    virtual std::string to_string() const;
    virtual std::wstring to_wstring() const;

    /// Text to a value of the target type. Empty text gives VT_EMPTY (VT_BSTR: an empty text). Numbers and
    /// dates that do not read, or do not fit the target, give VT_EMPTY; a pair only the conversion table
    /// handles throws ole_type_exception when it fails.
    static ole_variant from_string(const std::string& text, VARTYPE target);
    static ole_variant from_wstring(const std::wstring& text, VARTYPE target);

    /// Converts in place; ole_cast_exception for a pair that cannot convert or a value that does not fit,
    /// and then the value stays as it was.
    void change_type(VARTYPE target);

    VARTYPE get_type() const noexcept { return var_.vt; }
    bool is_empty() const noexcept { return var_.vt == VT_EMPTY; }
    bool is_null() const noexcept { return var_.vt == VT_NULL; }
    /// The value as a 32-bit integer (see the operation for the rules); other types are internal errors.
    int to_long() const;

    void attach_string(const std::string& text);
    /// A text kept in UTF-8 as it is given, the form the row path reads and writes: its wide form
    /// is made only when a reader asks for it (get_bstr, var, to_wstring, change_type). `text` must
    /// be well-formed UTF-8 (platform::utf8_valid_prefix), which reads back the same through the
    /// wide form. Memory the value holds is reused.
    void attach_utf8(std::string_view text);
    void attach_wstring(const std::wstring& text);
    /// A zeroed byte array of n bytes (VT_ARRAY|VT_UI1).
    void allocate_safe_array(std::size_t n);
    void attach_binary(const std::vector<std::uint8_t>& bytes);
    /// VT_NULL.
    void set_null();

    // Accessors read the member of the current type; a mismatched type gives the member's raw content.
    std::int64_t get_i8() const noexcept { return i8_; }
    std::uint64_t get_ui8() const noexcept { return ui8_; }
    const SYSTEMTIME& get_systemtime() const noexcept { return systemtime_; }
    double get_date() const noexcept { return var_.date; }
    CY get_cy() const noexcept { return var_.cy; }
    DECIMAL get_decimal() const noexcept { return var_.decimal; }
    bool get_bool() const noexcept { return var_.boolean != 0; }
    double get_double() const noexcept { return var_.r8; }
    float get_float() const noexcept { return var_.r4; }
    const std::wstring& get_bstr() const
    {
        widen_held_text();
        return var_.bstr;
    }
    /// The text in UTF-8 when the value is a text kept so (attach_utf8), else null.
    const std::string* utf8_text() const noexcept { return var_.vt == VT_BSTR && utf8_held_ ? &utf8_ : nullptr; }
    const std::vector<std::uint8_t>& get_bytes() const noexcept { return var_.bytes; }
    /// The underlying value (tag, scalar, text, bytes); VT_I8/VT_UI8 live in get_i8/get_ui8.
    const auto_variant& var() const
    {
        widen_held_text();
        return var_;
    }

private:
    void set_date(const SYSTEMTIME& st);
    void copy_from(const ole_variant& other);
    void widen_held_text() const
    {
        if (wide_pending_) make_wide_text();
    }
    void make_wide_text() const;
    // The value is about to be replaced: a UTF-8 text no longer stands for it.
    void forget_utf8() noexcept { utf8_held_ = wide_pending_ = false; }

    std::int64_t i8_ = 0;
    std::uint64_t ui8_ = 0;
    SYSTEMTIME systemtime_{};
    // Mutable for the wide form of a UTF-8 text, made at its first reading; a value is read by one
    // thread at a time.
    mutable auto_variant var_;
    std::string utf8_;               // the text, when utf8_held_
    bool utf8_held_ = false;
    mutable bool wide_pending_ = false;  // var_.bstr is still to be made from utf8_

    friend class ole_date;
};

#pragma once
// ole_date: date and time texts of many shapes read into a SYSTEMTIME, and the text printed for one.
// Printed shapes: "YYYY-MM-DD", "YYYY-MM-DD hh:mm:ss[.mmm]", "0000-00-00 hh:mm:ss[.mmm]" (time alone);
// print -> parse -> print gives the same text.
#include <string>

#include "platform/auto_types.h"

class ole_variant;

class ole_date {
public:
    enum kind_t : int { invalid = 0, date_time = 1, date_only = 2, time_only = 3 };

    /// Parses; an unrecognised text gives an invalid date, never an exception.
    explicit ole_date(const std::string& text);
    explicit ole_date(const std::wstring& text);
    explicit ole_date(const SYSTEMTIME& st);

    bool is_valid() const;
    /// Year, month and day 0: time alone; a set date at midnight: date alone.
    void refine_type();
    int get_kind() const noexcept { return kind_; }
    const SYSTEMTIME& get_systemtime() const noexcept { return systemtime_; }

    /// A VT_DATE value with this date and time.
    ole_variant to_variant() const;
    /// Empty text for an invalid date. A time alone prints its milliseconds whenever they are set, a date and
    /// time only when asked.
    std::string to_string(bool with_milliseconds) const;
    std::wstring to_wstring(bool with_milliseconds) const;

private:
    void parse(const std::string& text);

    int kind_ = invalid;
    SYSTEMTIME systemtime_{};
};

#include "ole/ole_date.h"

#include <optional>
#include <string_view>

#include "ole/ole_variant.h"
#include "platform/auto_date.h"
#include "tk/tk_format.h"
#include "tk/tk_logger.h"
#include "tk/tk_string.h"

namespace {

// Broken-down fields while a text is read; int, so that nothing wraps before it is checked.
struct fields {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, milliseconds = 0;
};

class scanner {
public:
    explicit scanner(std::string_view text) : s_(text) {}

    bool at_end() const { return i_ == s_.size(); }
    std::size_t length() const { return s_.size(); }

    bool digit(int& value)
    {
        if (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') {
            value = s_[i_++] - '0';
            return true;
        }
        return false;
    }
    /// 1 to 9 decimal digits, no sign; `count` receives how many.
    bool number(int& value, int* count = nullptr)
    {
        int n = 0, d = 0;
        value = 0;
        while (digit(d)) {
            if (++n > 9) return false;
            value = value * 10 + d;
        }
        if (count) *count = n;
        return n > 0;
    }
    bool literal(char c)
    {
        if (i_ < s_.size() && s_[i_] == c) {
            ++i_;
            return true;
        }
        return false;
    }
    /// At least one blank.
    bool blanks()
    {
        const std::size_t start = i_;
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t')) ++i_;
        return i_ > start;
    }
    /// A run of ASCII letters, lower-cased.
    std::string word()
    {
        std::string w;
        while (i_ < s_.size() && ((s_[i_] >= 'A' && s_[i_] <= 'Z') || (s_[i_] >= 'a' && s_[i_] <= 'z')))
            w.push_back(static_cast<char>(s_[i_++] | 0x20));
        return w;
    }

private:
    std::string_view s_;
    std::size_t i_ = 0;
};

// Seconds with an optional fraction: whole seconds, and the first three fraction digits as milliseconds
// (read from the digits, not through a double, so 15.29 is 290 ms exactly).
bool read_seconds(scanner& in, fields& f)
{
    tk_log(1, "ole_date::process_milliseconds");
    if (!in.number(f.second)) return false;
    f.milliseconds = 0;
    if (in.literal('.')) {
        int scale = 100, digits = 0, d = 0;
        while (in.digit(d)) {
            f.milliseconds += d * scale;
            scale /= 10;
            ++digits;
        }
        if (digits == 0) return false;
    }
    tk_log(1, "Got sec: %d", f.second);
    tk_log(1, "Got msec: %d", f.milliseconds);
    return true;
}

// "h:m" with optional ":s[.fff]".
bool read_time(scanner& in, fields& f, bool seconds_required)
{
    if (!in.number(f.hour) || !in.literal(':') || !in.number(f.minute)) return false;
    if (in.literal(':')) return read_seconds(in, f);
    return !seconds_required;
}

// An optional time after blanks (or after 'T' for the ISO shape), then the end of the text.
bool read_optional_time_to_end(scanner& in, fields& f)
{
    if (in.at_end()) return true;
    if (!in.blanks()) return false;
    return read_time(in, f, false) && in.at_end();
}

bool all_digits(std::string_view text)
{
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

int two(std::string_view s, std::size_t at) { return (s[at] - '0') * 10 + (s[at + 1] - '0'); }

bool time_in_range(const fields& f)
{
    // A day has hours 0-23; minutes and seconds stop at 59.
    return f.hour <= 23 && f.minute <= 59 && f.second <= 59 && f.milliseconds <= 999;
}

// The check while shapes are tried: loose on the day, so that a day-first text reaches the swap.
bool plausible(const fields& f)
{
    if (f.year == 0 && f.month == 0 && f.day == 0) return time_in_range(f);
    if (f.month < 1 || f.month > 12) return false;
    if (f.day == 0 || f.year == 0 || (f.year > 31 && f.day > 31)) return false;
    return time_in_range(f);
}

int month_number(const std::string& word)
{
    static const char* const names[] = {"january", "february", "march",     "april",   "may",      "june",
                                        "july",    "august",   "september", "october", "november", "december"};
    if (word.size() < 3) return 0;
    for (int m = 0; m < 12; ++m) {
        const std::string_view name = names[m];
        if (word == name || (word.size() == 3 && name.substr(0, 3) == word)) return m + 1;
    }
    return 0;
}

// Shapes beyond the fixed ones: ISO with 'T', M/D/Y with a four-digit year, English month names.
bool read_fallback(std::string_view text, fields& f)
{
    {  // YYYY-MM-DDThh:mm[:ss[.fff]]
        scanner in(text);
        fields g;
        int n = 0;
        if (in.number(g.year, &n) && n == 4 && in.literal('-') && in.number(g.month) && in.literal('-') &&
            in.number(g.day) && in.literal('T') && read_time(in, g, false) && in.at_end() && plausible(g)) {
            f = g;
            return true;
        }
    }
    {  // M/D/YYYY [h:m[:s[.fff]]]
        scanner in(text);
        fields g;
        int n = 0;
        if (in.number(g.month) && in.literal('/') && in.number(g.day) && in.literal('/') && in.number(g.year, &n) &&
            n == 4 && read_optional_time_to_end(in, g) && plausible(g)) {
            f = g;
            return true;
        }
    }
    {  // D Mon Y, D-Mon-Y
        scanner in(text);
        fields g;
        if (in.number(g.day)) {
            const bool dash = in.literal('-');
            if (dash || in.blanks()) {
                g.month = month_number(in.word());
                if (g.month != 0 && (dash ? in.literal('-') : in.blanks()) && in.number(g.year) &&
                    read_optional_time_to_end(in, g) && plausible(g)) {
                    f = g;
                    return true;
                }
            }
        }
    }
    {  // Mon D, Y
        scanner in(text);
        fields g;
        g.month = month_number(in.word());
        if (g.month != 0 && in.blanks() && in.number(g.day) && in.literal(',')) {
            in.blanks();
            if (in.number(g.year) && read_optional_time_to_end(in, g) && plausible(g)) {
                f = g;
                return true;
            }
        }
    }
    return false;
}

// Tries the shapes in order; the kind of the first one that reads, or 0.
int import_from_string(std::string_view text, fields& f)
{
    tk_log(1, "ole_date::import_from_string");
    if (text.size() == 14 && all_digits(text)) {
        tk_log(1, "Trying timestamp format (1)...");
        fields g;
        g.year = two(text, 0) * 100 + two(text, 2);
        g.month = two(text, 4);
        g.day = two(text, 6);
        g.hour = two(text, 8);
        g.minute = two(text, 10);
        g.second = two(text, 12);
        if (plausible(g)) {
            f = g;
            return ole_date::date_time;
        }
    }
    if (text.size() == 8 && all_digits(text)) {
        tk_log(1, "Trying timestamp format (2)...");
        fields g;
        g.year = two(text, 0) * 100 + two(text, 2);
        g.month = two(text, 4);
        g.day = two(text, 6);
        if (plausible(g)) {
            f = g;
            return ole_date::date_only;
        }
    }
    {
        tk_log(1, "Trying pure time format...");
        scanner in(text);
        fields g;
        if (read_time(in, g, false) && in.at_end() && plausible(g)) {
            f = g;
            return ole_date::time_only;
        }
    }
    std::optional<fields> date_alone;
    static const char separators[] = {'-', '/', '.'};
    for (int k = 0; k < 3; ++k) {
        tk_log(1, "Trying datetime format #%d", k);
        scanner in(text);
        fields g;
        const char sep = separators[k];
        if (!(in.number(g.year) && in.literal(sep) && in.number(g.month) && in.literal(sep) && in.number(g.day)))
            continue;
        if (in.at_end()) {
            if (!plausible(g)) continue;
            tk_log(1, "Format #%d succeeded (3 items)", k);
            f = g;
            return ole_date::date_only;
        }
        const fields date_part = g;
        if (in.blanks() && read_time(in, g, false)) {
            if (in.at_end() && plausible(g)) {
                tk_log(1, "Format #%d succeeded (6 items)", k);
                f = g;
                return ole_date::date_time;
            }
            continue;  // a time with more after it (a zone, say) is not dropped for the date alone
        }
        // A date followed by other text: the other shapes first, the date alone only when none reads.
        if (!date_alone && plausible(date_part)) date_alone = date_part;
    }
    fields g;
    if (read_fallback(text, g)) {
        f = g;
        return ole_date::date_time;
    }
    if (date_alone) {
        f = *date_alone;
        return ole_date::date_only;
    }
    return ole_date::invalid;
}

SYSTEMTIME to_systemtime(const fields& f)
{
    SYSTEMTIME st;
    st.year = static_cast<std::uint16_t>(f.year);
    st.month = static_cast<std::uint16_t>(f.month);
    st.day = static_cast<std::uint16_t>(f.day);
    st.hour = static_cast<std::uint16_t>(f.hour);
    st.minute = static_cast<std::uint16_t>(f.minute);
    st.second = static_cast<std::uint16_t>(f.second);
    st.milliseconds = static_cast<std::uint16_t>(f.milliseconds);
    return st;
}

int complete_year(int year) { return year < 50 ? 2000 + year : 1900 + year; }

}  // namespace

ole_date::ole_date(const std::string& text) { parse(text); }

ole_date::ole_date(const std::wstring& text) { parse(tk_to_utf8(text)); }

ole_date::ole_date(const SYSTEMTIME& st) : kind_(date_time), systemtime_(st)
{
    tk_log(1, "ole_date::ole_date(SYSTEMTIME)");
    refine_type();
}

void ole_date::parse(const std::string& given)
{
    tk_log(1, "ole_date::ole_date('%s')", given);
    systemtime_ = SYSTEMTIME{};
    kind_ = invalid;
    std::string text = tk_trim(given);
    tk_log(1, "After tk_trim: %s", text);

    bool am = false;
    for (const char* marker : {"AM", "PM", "am", "pm"}) {
        const std::size_t at = text.find(marker);
        if (at != std::string::npos) {
            am = marker[0] == 'A' || marker[0] == 'a';
            text = tk_trim(std::string_view(text).substr(0, at));
            break;
        }
    }
    tk_log(1, "Again buf1=%s", text);
    const bool pm = given.find("PM") != std::string::npos || given.find("pm") != std::string::npos;

    if (text.size() <= 4) {
        tk_log(2, "Invalid date/time format: '%s'", text);
        return;
    }
    fields f;
    const int kind = import_from_string(text, f);
    if (kind == invalid) {
        tk_log(2, "Invalid date/time format: '%s'", text);
        return;
    }
    const bool has_date = !(f.year == 0 && f.month == 0 && f.day == 0);
    if (has_date && f.day > 31 && f.year < 32) std::swap(f.day, f.year);  // day-first texts: 15/01/2024
    if (has_date && f.year < 100) f.year = complete_year(f.year);
    if (pm && f.hour <= 11)
        f.hour += 12;
    else if (am && !pm && f.hour == 12)
        f.hour = 0;  // 12:05 AM is five past midnight

    systemtime_ = to_systemtime(f);
    kind_ = kind;
    refine_type();
    const bool date_ok = !has_date || (f.year >= 100 && f.year <= 9999 && f.month >= 1 && f.month <= 12 &&
                                       f.day >= 1 && f.day <= platform::days_in_month(f.year, f.month));
    if (!date_ok || !time_in_range(f)) {
        tk_log(2, "Invalid date/time format: '%s'", text);
        systemtime_ = SYSTEMTIME{};
        kind_ = invalid;
    }
}

bool ole_date::is_valid() const
{
    tk_log(1, "ole_date::is_valid");
    if (kind_ == invalid) return false;
    const SYSTEMTIME& st = systemtime_;
    if (st.year == 0 && st.month == 0 && st.day == 0) {
        tk_log(1, "DATETIME is a pute time");
    } else {
        if (st.month == 0 || st.month > 12) {
            tk_log(1, "Invalid month");
            return false;
        }
        if (st.year < 100 || st.year > 9999 || st.day == 0 || st.day > platform::days_in_month(st.year, st.month)) {
            tk_log(1, "Invalid day and/or year");
            return false;
        }
    }
    if (st.hour > 23 || st.minute > 59 || st.second > 59 || st.milliseconds > 999) {
        tk_log(1, "Invalid time");
        return false;
    }
    return true;
}

void ole_date::refine_type()
{
    const SYSTEMTIME& st = systemtime_;
    tk_log(1, "ole_date::refine_type(%d,%d,%d,%d,%d,%d)", st.year, st.month, st.day, st.hour, st.minute, st.second);
    if (st.year == 0 && st.month == 0 && st.day == 0)
        kind_ = time_only;
    else if (st.hour == 0 && st.minute == 0 && st.second == 0 && st.milliseconds == 0 && st.year != 0 &&
             st.month != 0 && st.day != 0)
        kind_ = date_only;
}

ole_variant ole_date::to_variant() const
{
    tk_log(1, "ole_date::to_variant");
    return ole_variant(systemtime_);
}

namespace {

// printf's "%0<width>d" for a field of a SYSTEMTIME, without the cost of a format string: dates
// are printed once per value written.
void put_number(std::string& out, unsigned value, int width)
{
    char digits[8];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (int i = n; i < width; ++i) out += '0';
    while (n > 0) out += digits[--n];
}

void put_date(std::string& out, const SYSTEMTIME& st)
{
    put_number(out, st.year, 4);
    out += '-';
    put_number(out, st.month, 2);
    out += '-';
    put_number(out, st.day, 2);
}

void put_time(std::string& out, const SYSTEMTIME& st, bool with_milliseconds)
{
    put_number(out, st.hour, 2);
    out += ':';
    put_number(out, st.minute, 2);
    out += ':';
    put_number(out, st.second, 2);
    if (with_milliseconds) {
        out += '.';
        put_number(out, st.milliseconds, 3);
    }
}

}  // namespace

std::string ole_date::to_string(bool with_milliseconds) const
{
    tk_log(1, "ole_date::to_string");
    SYSTEMTIME st = systemtime_;
    if (st.year < 100 && st.month != 0 && st.day != 0) st.year = static_cast<std::uint16_t>(complete_year(st.year));
    std::string out;
    out.reserve(24);
    switch (kind_) {
    case date_time:
        tk_log(1, "printing datetime...");
        put_date(out, st);
        if (st.hour == 0 && st.minute == 0 && st.second == 0 && st.milliseconds == 0) return out;
        out += ' ';
        put_time(out, st, with_milliseconds && st.milliseconds != 0);
        return out;
    case date_only:
        tk_log(1, "printing date...");
        put_date(out, st);
        return out;
    case time_only:
        tk_log(1, "printing time...");
        out += "0000-00-00 ";
        put_time(out, st, st.milliseconds != 0);
        return out;
    default:
        return out;
    }
}

std::wstring ole_date::to_wstring(bool with_milliseconds) const
{
    tk_log(1, "ole_date::to_wstring");
    return tk_utf8_to_unicode(to_string(with_milliseconds));
}

#include "udb/udb_validator.h"

#include <algorithm>

#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_string.h"

namespace {

int utf8_length(const std::wstring& text)
{
    int bytes = 0;
    for (wchar_t c : text) {
        const auto code = static_cast<std::uint32_t>(c);
        // Values that are not scalar values are written as U+FFFD, three bytes.
        if (code < 0x80)
            bytes += 1;
        else if (code < 0x800)
            bytes += 2;
        else if (code < 0x10000 || code > 0x10FFFF)
            bytes += 3;
        else
            bytes += 4;
    }
    return bytes;
}

std::wstring five_digits(int number)
{
    std::wstring digits(5, L'0');
    for (int i = 4; i >= 0 && number > 0; --i, number /= 10)
        digits[static_cast<std::size_t>(i)] = static_cast<wchar_t>(L'0' + number % 10);
    return digits;
}

}  // namespace

udb_validator::udb_validator(int max_len, udb_name_measure measure) : max_len(max_len), measure(measure)
{
    tk_log(2, "udb_validator::ctor");
}

int udb_validator::name_length(const std::wstring& name) const
{
    if (measure == udb_name_measure::utf8_bytes)
        return utf8_length(name);
    return static_cast<int>(name.size());
}

std::wstring udb_validator::cut_to_length(const std::wstring& name, int limit) const
{
    limit = std::max(limit, 0);
    if (name_length(name) <= limit)
        return name;
    // Prefix lengths grow with the prefix: find the longest prefix that fits by bisection.
    std::size_t fits = 0;
    std::size_t too_long = name.size();
    while (too_long - fits > 1) {
        const std::size_t middle = fits + (too_long - fits) / 2;
        if (name_length(name.substr(0, middle)) <= limit)
            fits = middle;
        else
            too_long = middle;
    }
    return name.substr(0, fits);
}

bool udb_validator::is_acceptable(const std::wstring& name)
{
    tk_log(2, "udb_validator::is_acceptable(%s)", name);
    if (max_len != 0 && name_length(name) > max_len) {
        tk_log(1, "The name is too long");
        return false;
    }
    for (const auto& word : restricted) {
        if (tk_compare_no_case(word, name) == 0) {
            tk_log(2, "The name is restricted");
            return false;
        }
    }
    for (wchar_t c : illegal) {
        if (name.find(c) != std::wstring::npos) {
            // The character may lie beyond one byte of UTF-8, so it is printed as a string.
            tk_log(2, "The name contains illegal: %s", std::wstring(1, c));
            return false;
        }
    }
    return true;
}

bool udb_validator::is_duplicated(const std::wstring& name)
{
    tk_log(2, "udb_validator::is_duplicated(%s)", name);
    for (const auto& used : existing) {
        tk_log(1, "Processing %s", used);
        if (tk_compare_no_case(used, name) == 0) {
            tk_log(2, "Name is duplicated");
            return true;
        }
    }
    return false;
}

std::wstring udb_validator::get_safe_name(const std::wstring& name)
{
    tk_log(1, "udb_validator::get_safe_name(%s)", name);
    std::wstring s = name;
    if (max_len != 0 && name_length(s) > max_len)
        s = cut_to_length(s, max_len - 1);
    for (wchar_t c : illegal)
        std::replace(s.begin(), s.end(), c, L'_');
    if (is_acceptable(s) && !is_duplicated(s))
        return s;

    // The numbered candidates are five characters (and bytes) longer than their stem.
    if (max_len != 0 && name_length(s) > max_len - 5)
        s = cut_to_length(s, max_len - 6);
    for (int i = 0; i <= 99999; ++i) {
        std::wstring candidate = s + five_digits(i);
        if (is_acceptable(candidate) && !is_duplicated(candidate))
            return candidate;
    }
    TK_ASSERT_SITE("udb_vali", 54);
}

void udb_validator::add_mapped_pair(const std::wstring& source, const std::wstring& generated)
{
    tk_log(1, "udb_validator::add_mapped_pair(%s,%s)", source, generated);
    mapped[source] = generated;
}

void udb_validator::add_existing_name(const std::wstring& name)
{
    tk_log(1, "udb_validator::add_existing_name(%s)", name);
    existing.push_back(name);
}

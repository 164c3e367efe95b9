#include "workbook/wb_values.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/auto_date.h"
#include "platform/unicode_text.h"

namespace {

constexpr double ms_per_day = 86400000.0;
// 9999-12-31 as an OLE date; anything from the next day on is no date.
constexpr double last_ole_day = 2958465.0;

void civil_from_days(std::int64_t z, int& y, unsigned& m, unsigned& d) {
  // Days since 1899-12-30 to days since 0000-03-01, then the usual era arithmetic.
  z += 693899;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t yy = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int>(yy + (m <= 2 ? 1 : 0));
}

}  // namespace

std::int64_t wb_days_from_civil(int year, unsigned month, unsigned day) {
  const std::int64_t y = static_cast<std::int64_t>(year) - (month <= 2 ? 1 : 0);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 693899;
}

std::optional<double> wb_serial_date(double serial, bool date1904) {
  return platform::workbook_serial_to_date(serial, date1904);
}

std::optional<double> wb_serial_date(double serial, wb_date_system system) {
  switch (system) {
    case wb_date_system::from_1900_without_leap_day:
      return platform::workbook_serial_to_date(serial, platform::workbook_date_system::from_1900_without_leap_day);
    case wb_date_system::from_1904:
      return platform::workbook_serial_to_date(serial, platform::workbook_date_system::from_1904);
    case wb_date_system::from_1900:
      break;
  }
  return platform::workbook_serial_to_date(serial, platform::workbook_date_system::from_1900);
}

std::optional<std::int64_t> wb_exact_currency(double value) {
  if (!std::isfinite(value) || std::fabs(value) >= 922337203685477.0) return std::nullopt;
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
  if (r.ec != std::errc()) return std::nullopt;
  std::string_view s(buf, static_cast<std::size_t>(r.ptr - buf));
  bool negative = false;
  if (!s.empty() && s.front() == '-') {
    negative = true;
    s.remove_prefix(1);
  }
  std::int64_t whole = 0, frac = 0;
  const auto dot = s.find('.');
  const std::string_view int_part = s.substr(0, dot);
  std::from_chars(int_part.data(), int_part.data() + int_part.size(), whole);
  if (dot != std::string_view::npos) {
    std::string_view f = s.substr(dot + 1);
    if (f.size() > 4) return std::nullopt;
    for (std::size_t i = 0; i < 4; ++i) frac = frac * 10 + (i < f.size() ? f[i] - '0' : 0);
  }
  const std::int64_t scaled = whole * 10000 + frac;
  return negative ? -scaled : scaled;
}

std::string wb_render_number(double value) {
  if (value == 0) return "0";
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
  return std::string(buf, r.ptr);
}

std::string wb_render_date(double ole_date) {
  const auto ms_total = static_cast<std::int64_t>(std::llround(ole_date * ms_per_day));
  std::int64_t days = ms_total / 86400000;
  std::int64_t ms = ms_total % 86400000;
  if (ms < 0) {
    ms += 86400000;
    --days;
  }
  const int hh = static_cast<int>(ms / 3600000), mi = static_cast<int>(ms / 60000 % 60);
  const int ss = static_cast<int>(ms / 1000 % 60), mmm = static_cast<int>(ms % 1000);
  char buf[64];
  std::string out;
  if (days != 0) {
    int y;
    unsigned m, d;
    civil_from_days(days, y, m, d);
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u", y, m, d);
    out = buf;
    if (ms == 0) return out;
    out += ' ';
  }
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", hh, mi, ss);
  out += buf;
  if (mmm != 0) {
    std::snprintf(buf, sizeof buf, ".%03d", mmm);
    out += buf;
  }
  return out;
}

std::size_t wb_count_code_points(std::string_view utf8) { return platform::utf8_count_code_points(utf8); }

void wb_append_utf8(std::string& out, char32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

namespace {

// The UTF-16 unit of an escape "_xHHHH_" starting at raw[i], or -1.
int escape_at(std::string_view raw, std::size_t i) {
  if (i + 7 > raw.size() || raw[i] != '_' || raw[i + 1] != 'x' || raw[i + 6] != '_') return -1;
  unsigned v = 0;
  auto r = std::from_chars(raw.data() + i + 2, raw.data() + i + 6, v, 16);
  if (r.ec != std::errc() || r.ptr != raw.data() + i + 6) return -1;
  return static_cast<int>(v);
}

}  // namespace

void wb_decode_escapes(std::string_view raw, std::string& out) {
  std::size_t i = 0;
  while (i < raw.size()) {
    const std::size_t u = raw.find("_x", i);
    if (u == std::string_view::npos) break;
    out.append(raw.data() + i, u - i);
    const int unit = escape_at(raw, u);
    if (unit < 0) {
      out += '_';
      i = u + 1;
      continue;
    }
    i = u + 7;
    char32_t cp = static_cast<char32_t>(unit);
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      const int low = escape_at(raw, i);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        cp = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (static_cast<char32_t>(low) - 0xDC00);
        i += 7;
      }
    }
    wb_append_utf8(out, cp);
  }
  out.append(raw.data() + i, raw.size() - i);
}

namespace {

bool read_digits(std::string_view& s, std::size_t n, unsigned& v) {
  if (s.size() < n) return false;
  v = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + static_cast<unsigned>(s[i] - '0');
  }
  s.remove_prefix(n);
  return true;
}

bool parse_time(std::string_view& s, double& day_fraction) {
  unsigned h, m, sec = 0;
  if (!read_digits(s, 2, h) || s.empty() || s[0] != ':') return false;
  s.remove_prefix(1);
  if (!read_digits(s, 2, m)) return false;
  double frac = 0;
  if (!s.empty() && s[0] == ':') {
    s.remove_prefix(1);
    if (!read_digits(s, 2, sec)) return false;
    if (!s.empty() && s[0] == '.') {
      std::size_t n = 1;
      while (n < s.size() && s[n] >= '0' && s[n] <= '9') ++n;
      if (n == 1) return false;
      std::from_chars(s.data(), s.data() + n, frac);
      s.remove_prefix(n);
    }
  }
  if (h > 24 || m > 59 || sec > 59 || (h == 24 && (m || sec || frac > 0))) return false;
  day_fraction = (h * 3600.0 + m * 60.0 + sec + frac) / 86400.0;
  return true;
}

}  // namespace

std::optional<double> wb_parse_iso_date(std::string_view s) {
  while (!s.empty() && s.back() == 'Z') s.remove_suffix(1);
  double result = 0;
  if (s.size() >= 10 && s[4] == '-') {
    unsigned y, m, d;
    if (!read_digits(s, 4, y) || s.empty() || s[0] != '-') return std::nullopt;
    s.remove_prefix(1);
    if (!read_digits(s, 2, m) || s.empty() || s[0] != '-') return std::nullopt;
    s.remove_prefix(1);
    if (!read_digits(s, 2, d)) return std::nullopt;
    static const unsigned mdays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 100 || m < 1 || m > 12 || d < 1 || d > mdays[m - 1]) return std::nullopt;
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (m == 2 && d == 29 && !leap) return std::nullopt;
    result = static_cast<double>(wb_days_from_civil(static_cast<int>(y), m, d));
    if (s.empty()) return result;
    if (s[0] != 'T' && s[0] != ' ') return std::nullopt;
    s.remove_prefix(1);
  }
  double frac = 0;
  if (!parse_time(s, frac) || !s.empty()) return std::nullopt;
  const double ms = std::round((result + frac) * ms_per_day);
  if (ms < 0 || ms >= (last_ole_day + 1) * ms_per_day) return std::nullopt;
  return ms / ms_per_day;
}

#include "tk/tk_string.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

#include "platform/unicode_text.h"
#include "tk/tk_logger.h"

namespace {

template <class Char>
std::basic_string_view<Char> up_to_nul(std::basic_string_view<Char> text) {
  const auto nul = text.find(Char(0));
  return nul == text.npos ? text : text.substr(0, nul);
}

std::wstring decode(std::string_view text) {
  const std::u32string decoded = platform::utf8_decode(up_to_nul(text));
  return std::wstring(decoded.begin(), decoded.end());
}

std::string encode(std::wstring_view text) {
  text = up_to_nul(text);
  std::string out;
  out.reserve(text.size());
  for (wchar_t c : text) platform::utf8_append(out, static_cast<char32_t>(c));
  return out;
}

template <class Char>
std::basic_string<Char> trim_left_of(std::basic_string_view<Char> text) {
  const auto first = text.find_first_not_of(Char(' '));
  return first == text.npos ? std::basic_string<Char>() : std::basic_string<Char>(text.substr(first));
}

template <class Char>
std::basic_string<Char> trim_right_of(std::basic_string_view<Char> text) {
  const auto last = text.find_last_not_of(Char(' '));
  if (last == text.npos) {
    if (!text.empty()) tk_log(1, "Special processing for all-spaces-string");
    return std::basic_string<Char>();
  }
  return std::basic_string<Char>(text.substr(0, last + 1));
}

template <class Char>
void lower_ascii(std::basic_string<Char>& text) {
  for (Char& c : text)
    if (c >= Char('A') && c <= Char('Z')) c = static_cast<Char>(c + ('a' - 'A'));
}

std::mutex clipboard_mutex;
tk_clipboard_sink clipboard_sink;

}  // namespace

// ---- conversions ---------------------------------------------------------------

std::string tk_to_utf8(std::wstring_view text) { return encode(text); }
std::string tk_to_ansi(std::wstring_view text) { return encode(text); }
std::wstring tk_utf8_to_unicode(std::string_view text) { return decode(text); }
std::wstring tk_ansi_to_unicode(std::string_view text) { return decode(text); }

std::wstring tk_cp1252_to_unicode(std::string_view text) {
  text = up_to_nul(text);
  std::wstring out;
  if (text.empty()) return out;
  iconv_t cd = iconv_open("UTF-32LE", "WINDOWS-1252");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    // No converter in this C library: the ASCII part is still exact.
    for (unsigned char b : text) out.push_back(b < 0x80 ? wchar_t(b) : wchar_t(0xFFFD));
    return out;
  }
  out.reserve(text.size());
  // One byte at a time: every byte is one character, and a byte the code
  // page leaves undefined becomes U+FFFD without losing its neighbours.
  for (char byte : text) {
    char in_byte = byte;
    char* in = &in_byte;
    std::size_t in_left = 1;
    unsigned char buf[4];
    char* outp = reinterpret_cast<char*>(buf);
    std::size_t out_left = sizeof buf;
    if (iconv(cd, &in, &in_left, &outp, &out_left) == static_cast<std::size_t>(-1) || out_left != 0) {
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      out.push_back(wchar_t(0xFFFD));
      continue;
    }
    out.push_back(static_cast<wchar_t>(buf[0] | (buf[1] << 8) | (buf[2] << 16) | (char32_t(buf[3]) << 24)));
  }
  iconv_close(cd);
  return out;
}

bool tk_to_narrow(const wchar_t* text, tk_free_buffer<char>& out) {
  if (!text) return false;
  out.reset(encode(text));
  return true;
}

bool tk_to_wide(const char* text, tk_free_buffer<wchar_t>& out) {
  if (!text) return false;
  out.reset(decode(text));
  return true;
}

// ---- comparison ----------------------------------------------------------------

int tk_compare_no_case(std::wstring_view a, std::wstring_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const char32_t x = platform::fold_case(static_cast<char32_t>(a[i]));
    const char32_t y = platform::fold_case(static_cast<char32_t>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

int tk_compare_no_case(std::string_view a, std::string_view b) {
  return tk_compare_no_case(decode(a), decode(b));
}

bool tk_is_alnum(char32_t c) { return platform::is_alnum(c); }

// ---- trimming ------------------------------------------------------------------

std::string tk_trim_left(std::string_view text) { return trim_left_of(text); }
std::string tk_trim_right(std::string_view text) { return trim_right_of(text); }
std::string tk_trim(std::string_view text) { return tk_trim_right(tk_trim_left(text)); }
std::wstring tk_trim_left(std::wstring_view text) { return trim_left_of(text); }
std::wstring tk_trim_right(std::wstring_view text) { return trim_right_of(text); }
std::wstring tk_trim(std::wstring_view text) { return tk_trim_right(tk_trim_left(text)); }

void tk_trim_left_in_place(std::wstring& text) {
  const auto first = text.find_first_not_of(L' ');
  text.erase(0, first == text.npos ? text.size() : first);
}

void tk_trim_right_in_place(std::wstring& text) {
  const auto last = text.find_last_not_of(L' ');
  if (last == text.npos) {
    if (!text.empty()) tk_log(1, "Special processing for all-spaces-string");
    text.clear();
    return;
  }
  text.erase(last + 1);
}

// ---- in-place edits --------------------------------------------------------------

std::string tk_string::to_lower(std::string& text) {
  tk_log(1, "tk_string::to_lower(%s)", text);
  lower_ascii(text);
  return text;
}

std::wstring tk_wstring::to_lower(std::wstring& text) {
  tk_wlog(1, L"tk_wstring::to_lower(%s)", text);
  lower_ascii(text);
  return text;
}

std::wstring tk_wstring::replace_all(std::wstring& text, std::wstring_view from, std::wstring_view to) {
  tk_wlog(1, L"tk_wstring::replace_all(%s,%s)", from, to);
  if (from.empty()) return text;
  std::size_t pos = 0;
  while ((pos = text.find(from, pos)) != text.npos) {
    text.replace(pos, from.size(), to);
    pos += to.size();  // go on after the inserted text, so `to` may contain `from`
  }
  return text;
}

// ---- lists -----------------------------------------------------------------------

std::vector<std::wstring> tk_split(std::wstring_view text, wchar_t separator) {
  std::vector<std::wstring> parts;
  if (text.empty()) return parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    if (end == text.npos) {
      parts.emplace_back(text.substr(start));
      return parts;
    }
    parts.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
}

std::wstring tk_join(const std::vector<std::wstring>& parts, wchar_t separator) {
  std::wstring out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) out.push_back(separator);
    out += parts[i];
  }
  return out;
}

std::string tk_to_hex(const void* bytes, std::size_t count) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  if (!bytes) return out;
  out.reserve(count * 2);
  const auto* p = static_cast<const unsigned char*>(bytes);
  for (std::size_t i = 0; i < count; ++i) {
    out.push_back(digits[p[i] >> 4]);
    out.push_back(digits[p[i] & 0x0F]);
  }
  return out;
}

// ---- clipboard ------------------------------------------------------------------

void tk_set_clipboard_sink(tk_clipboard_sink sink) {
  std::lock_guard lock(clipboard_mutex);
  clipboard_sink = std::move(sink);
}

void tk_copy_to_clipboard2(const std::wstring& text) {
  tk_wlog(2, L"tk_copy_to_clipboard2(%s)", text);
  tk_clipboard_sink sink;
  {
    std::lock_guard lock(clipboard_mutex);
    sink = clipboard_sink;
  }
  if (!sink) {
    tk_log(2, "No clipboard available");
    return;
  }
  bool copied = false;
  try {
    copied = sink(text);
  } catch (...) {
  }
  tk_log(2, copied ? "OpenClipboard succeeded" : "Cannot open the clipboard");
}

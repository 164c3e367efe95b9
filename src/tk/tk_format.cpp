#include "tk/tk_format.h"

#include <cstring>

#include "platform/unicode_text.h"

namespace tk_format_detail {

std::string narrow(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t c : text) platform::utf8_append(out, static_cast<char32_t>(c));
  return out;
}

std::wstring widen(std::string_view text) {
  const std::u32string decoded = platform::utf8_decode(text);
  return std::wstring(decoded.begin(), decoded.end());
}

std::string_view normalize(std::string_view format, std::string& storage) {
  // Quick exit for the common case: nothing Windows-specific can occur.
  if (format.find_first_of("ISCw") == std::string_view::npos) return format;

  bool changed = false;
  std::string out;
  out.reserve(format.size());
  std::size_t i = 0;
  const std::size_t n = format.size();
  while (i < n) {
    const char c = format[i];
    out.push_back(c);
    ++i;
    if (c != '%') continue;
    if (i < n && format[i] == '%') {
      out.push_back('%');
      ++i;
      continue;
    }
    // flags, width and precision pass unchanged
    while (i < n && std::strchr("-+ #0", format[i])) out.push_back(format[i++]);
    while (i < n && (format[i] == '*' || (format[i] >= '0' && format[i] <= '9'))) out.push_back(format[i++]);
    if (i < n && format[i] == '.') {
      out.push_back(format[i++]);
      while (i < n && (format[i] == '*' || (format[i] >= '0' && format[i] <= '9'))) out.push_back(format[i++]);
    }
    // length modifiers: the Windows ones are rewritten
    while (i < n) {
      if (format.compare(i, 3, "I64") == 0) {
        out += "ll";
        i += 3;
        changed = true;
      } else if (format.compare(i, 3, "I32") == 0) {
        i += 3;
        changed = true;
      } else if (format[i] == 'I') {
        out.push_back('z');
        ++i;
        changed = true;
      } else if (format[i] == 'w') {
        ++i;
        changed = true;
      } else if (std::strchr("hlLjzt", format[i])) {
        out.push_back(format[i++]);
      } else {
        break;
      }
    }
    if (i < n && (format[i] == 'S' || format[i] == 'C')) {
      out.push_back(static_cast<char>(format[i] + ('a' - 'A')));
      ++i;
      changed = true;
    }
  }
  if (!changed) return format;
  storage = std::move(out);
  return storage;
}

std::string format_error_text(std::string_view format, const char* what) {
  std::string text(format);
  text += " [format error: ";
  text += what;
  text += ']';
  return text;
}

}  // namespace tk_format_detail

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

std::string_view normalize(std::string_view format, std::string& storage, const bool* text_args,
                           std::size_t arg_count) {
  // Quick exit for the common case: nothing to rewrite can occur.
  if (format.find_first_of(text_args ? "ISCwc" : "ISCw") == std::string_view::npos) return format;

  bool changed = false;
  std::string out;
  out.reserve(format.size());
  std::size_t i = 0;
  std::size_t arg = 0;  // the argument the next conversion takes
  const std::size_t n = format.size();
  const auto take_star = [&] {
    if (format[i] == '*') ++arg;
    out.push_back(format[i++]);
  };
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
    // flags, width and precision pass unchanged; a '*' takes an argument of its own
    while (i < n && std::strchr("-+ #0", format[i])) out.push_back(format[i++]);
    while (i < n && (format[i] == '*' || (format[i] >= '0' && format[i] <= '9'))) take_star();
    if (i < n && format[i] == '.') {
      out.push_back(format[i++]);
      while (i < n && (format[i] == '*' || (format[i] >= '0' && format[i] <= '9'))) take_star();
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
    if (i >= n) break;
    char conversion = format[i++];
    if (conversion == 'S' || conversion == 'C') {
      conversion = static_cast<char>(conversion + ('a' - 'A'));
      changed = true;
    }
    // A character given as text (a wide character is passed on as UTF-8) prints as that text.
    if (conversion == 'c' && text_args && arg < arg_count && text_args[arg]) {
      conversion = 's';
      changed = true;
    }
    out.push_back(conversion);
    ++arg;
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

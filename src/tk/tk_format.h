#pragma once
// The one printf-style formatter of the system, type-safe on libfmt's printf
// API. Formats keep the Windows wide-printf texts verbatim: %s takes narrow
// (UTF-8) and wide strings alike, %S/%C are read as %s/%c, %I64d/%I64u as
// %lld/%llu. Wide arguments are converted to UTF-8 before formatting.
//
//   std::string  s = tk_format("xls_reader::open_xls(%s)", path);   // UTF-8
//   std::wstring w = tk_wformat(L"%s: %d", name, 3);
//
// A format that does not match its arguments is a programming error; it never
// throws: the result is the format text followed by " [format error: ...]".

#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include <fmt/printf.h>

namespace tk_format_detail {

std::string narrow(std::wstring_view text);  // UTF-8 of wide text
std::wstring widen(std::string_view text);   // wide text of UTF-8 (invalid bytes: U+FFFD)

/// Rewrites Windows-only conversion forms (%S, %C, %I64, %I32) into their
/// libfmt equivalents, and %c into %s where its argument is text (a wide
/// character arrives as its UTF-8 text); returns the format unchanged (no
/// copy) when nothing changes. `text_args[i]` tells whether argument i is text;
/// null when none is.
std::string_view normalize(std::string_view format, std::string& storage, const bool* text_args = nullptr,
                           std::size_t arg_count = 0);

std::string format_error_text(std::string_view format, const char* what);

// Arguments pass through unchanged, except wide text, which becomes UTF-8.
template <class T>
decltype(auto) pass(const T& value) {
  using U = std::decay_t<T>;
  if constexpr (std::is_array_v<T>) {
    if constexpr (std::is_same_v<std::remove_cv_t<std::remove_extent_t<T>>, wchar_t>)
      return narrow(std::wstring_view(value));
    else
      return (value);
  } else if constexpr (std::is_same_v<U, std::wstring> || std::is_same_v<U, std::wstring_view>) {
    return narrow(value);
  } else if constexpr (std::is_same_v<U, const wchar_t*> || std::is_same_v<U, wchar_t*>) {
    return value ? narrow(value) : std::string("(null)");
  } else if constexpr (std::is_same_v<U, wchar_t>) {
    return narrow(std::wstring_view(&value, 1));
  } else {
    return (value);
  }
}

// Arguments that reach libfmt as text: a %c naming one of them is read as %s.
template <class T>
constexpr bool is_text_arg() {
  using U = std::remove_cv_t<std::decay_t<T>>;
  return std::is_same_v<U, wchar_t> || std::is_same_v<U, std::wstring> || std::is_same_v<U, std::wstring_view> ||
         std::is_same_v<U, std::string> || std::is_same_v<U, std::string_view> || std::is_same_v<U, const char*> ||
         std::is_same_v<U, char*> || std::is_same_v<U, const wchar_t*> || std::is_same_v<U, wchar_t*>;
}

template <class... Args>
std::string vformat(std::string_view format, const Args&... args) {
  std::string storage;
  constexpr bool any_text = (is_text_arg<Args>() || ...);
  static constexpr bool text_args[] = {is_text_arg<Args>()..., false};
  const std::string_view fmt_text = normalize(format, storage, any_text ? text_args : nullptr, sizeof...(Args));
  try {
    return fmt::sprintf(fmt_text, pass(args)...);
  } catch (const fmt::format_error& e) {
    return format_error_text(format, e.what());
  }
}

}  // namespace tk_format_detail

/// Formats to UTF-8 text.
template <class... Args>
std::string tk_format(std::string_view format, const Args&... args) {
  return tk_format_detail::vformat(format, args...);
}

/// Formats a wide format to UTF-8 text.
template <class... Args>
std::string tk_format(std::wstring_view format, const Args&... args) {
  return tk_format_detail::vformat(tk_format_detail::narrow(format), args...);
}

/// Formats to wide text.
template <class... Args>
std::wstring tk_wformat(std::string_view format, const Args&... args) {
  return tk_format_detail::widen(tk_format_detail::vformat(format, args...));
}

template <class... Args>
std::wstring tk_wformat(std::wstring_view format, const Args&... args) {
  return tk_format_detail::widen(tk_format_detail::vformat(tk_format_detail::narrow(format), args...));
}

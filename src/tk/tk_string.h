#pragma once
// Text conversions and small text functions. Wide text is std::wstring (UTF-32
// here); narrow text is UTF-8, also where Windows would use the ANSI code
// page. Conversions cut the input at its first NUL (database text cannot hold
// NUL) and turn invalid UTF-8 into U+FFFD; they do not fail.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// ---- conversions ---------------------------------------------------------
std::string tk_to_utf8(std::wstring_view text);
std::string tk_to_ansi(std::wstring_view text);  // the same as tk_to_utf8
std::wstring tk_utf8_to_unicode(std::string_view text);
std::wstring tk_ansi_to_unicode(std::string_view text);  // the same as tk_utf8_to_unicode
/// Legacy input edge: Windows-1252 bytes (undefined bytes become U+FFFD).
std::wstring tk_cp1252_to_unicode(std::string_view text);

/// A converted C string held until the holder goes.
template <class Char>
class tk_free_buffer {
 public:
  const Char* get() const noexcept { return m_set ? m_text.c_str() : nullptr; }
  const std::basic_string<Char>& str() const noexcept { return m_text; }
  void reset(std::basic_string<Char> text) {
    m_text = std::move(text);
    m_set = true;
  }

 private:
  std::basic_string<Char> m_text;
  bool m_set = false;
};

/// False for a null input.
bool tk_to_narrow(const wchar_t* text, tk_free_buffer<char>& out);
bool tk_to_wide(const char* text, tk_free_buffer<wchar_t>& out);

// ---- comparison and character classes -------------------------------------
/// Case-insensitive order (Unicode simple case folding, then code points),
/// independent of the locale: negative, 0 or positive as strcmp.
int tk_compare_no_case(std::wstring_view a, std::wstring_view b);
int tk_compare_no_case(std::string_view a, std::string_view b);  // UTF-8
/// A letter or a decimal digit, in any script.
bool tk_is_alnum(char32_t c);

// ---- trimming: blanks (U+0020) only; tabs and line breaks stay --------------
std::string tk_trim_left(std::string_view text);
std::string tk_trim_right(std::string_view text);
std::string tk_trim(std::string_view text);
std::wstring tk_trim_left(std::wstring_view text);
std::wstring tk_trim_right(std::wstring_view text);
std::wstring tk_trim(std::wstring_view text);
void tk_trim_left_in_place(std::wstring& text);
void tk_trim_right_in_place(std::wstring& text);

// ---- in-place edits that also return a copy ------------------------------
namespace tk_string {
/// Lower-cases A-Z only (locale-free) in the text itself.
std::string to_lower(std::string& text);
}  // namespace tk_string

namespace tk_wstring {
/// Lower-cases A-Z only (locale-free) in the text itself.
std::wstring to_lower(std::wstring& text);
/// Replaces every `from` in the text itself, scanning on after each inserted
/// `to`; an empty `from` changes nothing.
std::wstring replace_all(std::wstring& text, std::wstring_view from, std::wstring_view to);
}  // namespace tk_wstring

// ---- lists -------------------------------------------------------------------
/// Pieces between separators, empty pieces included; an empty text gives none.
std::vector<std::wstring> tk_split(std::wstring_view text, wchar_t separator);
std::wstring tk_join(const std::vector<std::wstring>& parts, wchar_t separator);

/// Two upper-case hex digits per byte.
std::string tk_to_hex(const void* bytes, std::size_t count);

// ---- clipboard ---------------------------------------------------------------
/// The GUI installs the function that puts text on the clipboard; without one,
/// copying only logs.
using tk_clipboard_sink = std::function<bool(const std::wstring&)>;
void tk_set_clipboard_sink(tk_clipboard_sink sink);
void tk_copy_to_clipboard2(const std::wstring& text);

#pragma once
// A profile: the settings of one conversion in a UTF-8 text file of bracketed
// section lines and key=value lines, exchanged between installations:
//
//   [Generic settings]
//   src=/data/book.xlsx
//   mode=2
//
// Lines end with CR LF when written; LF alone and a leading UTF-8 BOM are read
// too. Lines are trimmed of blanks (U+0020) when read, a value is everything
// after the first '=', a key appearing twice keeps its first value. In
// "Selected Tables" a worksheet (empty value) is written as the bare name.
//
// The format cannot hold every text. set_value refuses (tk_exception, level 1)
// what would read back different: line breaks or NUL, blanks around a key or
// at the end of a value, '=' in a key, a pair that reads as a section line.

#include <map>
#include <string>
#include <vector>

class udb_profile {
 public:
  using key_values = std::map<std::wstring, std::wstring>;

  static constexpr const wchar_t* available_queries_section = L"Available Queries";
  static constexpr const wchar_t* selected_tables_section = L"Selected Tables";
  static constexpr const wchar_t* generic_section = L"Generic settings";
  /// Longest line read; a longer one is no profile.
  static constexpr std::size_t max_line_bytes = 1u << 20;

  /// The three sections above, empty.
  udb_profile();

  /// Creates an empty key/value section when there is none of that name.
  void add_section(const std::wstring& section);
  /// Adds the key (and the section when missing); a key already present keeps
  /// its value. Throws tk_exception level 1 when the file could not hold the
  /// section name, key or value faithfully; nothing is added then.
  void set_value(const std::wstring& section, const std::wstring& key, const std::wstring& value);
  /// The value, or empty text when the section or key is missing.
  std::wstring get_value(const std::wstring& section, const std::wstring& key) const;
  /// The lines of a list section, created empty when missing.
  std::vector<std::wstring>& get_list(const std::wstring& section);
  /// "Available Queries" and "Selected Tables"; a missing section throws
  /// tk_exception_ex (never for a profile built by the constructor).
  const key_values& get_queries() const;
  const key_values& get_sel_tables() const;

  const std::map<std::wstring, key_values>& get_sections() const noexcept { return m_sections; }
  const std::map<std::wstring, std::vector<std::wstring>>& get_lists() const noexcept { return m_lists; }

  /// Writes the file whole, mode 0600 (it may hold a password): a temporary
  /// beside it, then renamed over it. False when anything fails; the old file
  /// then stays as it was.
  bool store(const std::wstring& path) const;
  /// Reads the file into this profile. A missing or unreadable file, or one
  /// that is no regular file, throws tk_exception level 1; a line longer than
  /// max_line_bytes throws too. False for a read error and for a key or list
  /// line before the first section (what was read so far stays).
  bool load(const std::wstring& path);

 private:
  std::map<std::wstring, key_values> m_sections;
  std::map<std::wstring, std::vector<std::wstring>> m_lists;
};

#pragma once

#include <cstddef>
#include <map>
#include <string>

/// One entry of a static message table: an error code and its friendlier text.
struct tk_error_entry {
  int code;
  const char* text;
};

/// Turns an exception's error code into a prepared message.
/** Tables are loaded in order; a code keeps the first text loaded for it. */
class tk_error_converter {
public:
  tk_error_converter(std::size_t count, const tk_error_entry* table);

  /// Adds the entries of one more table; a null table is an internal error.
  void load_map(std::size_t count, const tk_error_entry* table);

  /// The message for `code`, or an empty string when it has none (the caller then shows the
  /// exception's own text).
  std::string convert(int code) const;

  std::size_t size() const noexcept { return m_map.size(); }

private:
  std::map<int, std::string> m_map;
};

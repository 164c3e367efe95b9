#include "workbook/wb_reader.h"

namespace {

bool builtin_date(std::uint32_t id) {
  return (id >= 14 && id <= 22) || (id >= 27 && id <= 36) || (id >= 45 && id <= 47) || (id >= 50 && id <= 58);
}

bool builtin_currency(std::uint32_t id) { return (id >= 5 && id <= 8) || id == 42 || id == 44; }

// An elapsed-time block: [h], [hh], [m], [mm], [s], [ss] (any case).
bool elapsed_block(std::string_view block) {
  if (block.empty()) return false;
  const char first = static_cast<char>(block[0] | 0x20);
  if (first != 'h' && first != 'm' && first != 's') return false;
  for (char c : block)
    if (static_cast<char>(c | 0x20) != first) return false;
  return true;
}

bool code_is_date(std::string_view code) {
  for (std::size_t i = 0; i < code.size(); ++i) {
    const char c = code[i];
    switch (c) {
      case '"': {
        const auto end = code.find('"', i + 1);
        if (end == std::string_view::npos) return false;
        i = end;
        break;
      }
      case '\\':
      case '_':
      case '*':
        ++i;  // the next character is literal or padding
        break;
      case '[': {
        const auto end = code.find(']', i + 1);
        if (end == std::string_view::npos) return false;
        if (elapsed_block(code.substr(i + 1, end - i - 1))) return true;
        i = end;
        break;
      }
      default: {
        const char lower = static_cast<char>(c | 0x20);
        if (lower == 'd' || lower == 'm' || lower == 'y' || lower == 'h' || lower == 's') return true;
      }
    }
  }
  return false;
}

bool code_is_currency(std::string_view code) {
  if (code.find('$') != std::string_view::npos) {
    // "[$-409]" alone is a locale tag, not a currency; "$" anywhere else, or "[$X", is.
    for (std::size_t i = 0; i < code.size(); ++i) {
      if (code[i] != '$') continue;
      if (i > 0 && code[i - 1] == '[' && i + 1 < code.size() && code[i + 1] == '-') continue;
      return true;
    }
  }
  for (std::string_view sign : {"\xE2\x82\xAC", "\xC2\xA3", "\xC2\xA5"})  // euro, pound, yen
    if (code.find(sign) != std::string_view::npos) return true;
  return false;
}

}  // namespace

wb_number_style wb_classify_number_format(std::uint32_t format_id, std::string_view format_code) {
  if (format_code.empty()) {
    if (builtin_date(format_id)) return wb_number_style::date;
    if (builtin_currency(format_id)) return wb_number_style::currency;
    return wb_number_style::general;
  }
  if (code_is_date(format_code)) return wb_number_style::date;
  if (code_is_currency(format_code)) return wb_number_style::currency;
  return wb_number_style::general;
}

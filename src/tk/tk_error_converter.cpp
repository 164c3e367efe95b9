#include "tk/tk_error_converter.h"

#include "tk/tk_exception.h"
#include "tk/tk_logger.h"

tk_error_converter::tk_error_converter(std::size_t count, const tk_error_entry* table) {
  tk_log(2, "tk_error_converter::ctor (map size=%d)", count);
  load_map(count, table);
}

void tk_error_converter::load_map(std::size_t count, const tk_error_entry* table) {
  tk_log(2, "tk_error_converter::load_map (map size=%d)", count);
  if (!table) TK_ASSERT_SITE("tk_errco", 43);
  for (std::size_t i = 0; i < count; ++i) {
    // A null text would be a broken table; it maps to no message rather than crashing.
    m_map.emplace(table[i].code, table[i].text ? table[i].text : "");
  }
}

std::string tk_error_converter::convert(int code) const {
  tk_log(2, "tk_error_converter::convert(%d)", code);
  const auto found = m_map.find(code);
  if (found == m_map.end()) {
    tk_log(1, "Error message not found!");
    return {};
  }
  tk_log(1, "Error message has been found: %s", found->second);
  return found->second;
}

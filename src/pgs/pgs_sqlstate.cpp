#include "pgs/pgs_sqlstate.h"

#include <algorithm>
#include <iterator>

namespace {

const char* const row_error_classes[] = {"22", "23", "54", "P0"};
const char* const session_fault_classes[] = {"08", "53", "57", "58", "XX"};

template <std::size_t n>
bool in_classes(const std::string& sqlstate, const char* const (&classes)[n]) {
  return std::any_of(std::begin(classes), std::end(classes),
                     [&](const char* prefix) { return sqlstate.rfind(prefix, 0) == 0; });
}

}  // namespace

bool pgs_is_row_error(const std::string& sqlstate) { return in_classes(sqlstate, row_error_classes); }

bool pgs_is_session_fault(const std::string& sqlstate) {
  return sqlstate.empty() || in_classes(sqlstate, session_fault_classes);
}

std::string pgs_row_error_classes_sql() {
  std::string sql;
  for (const char* prefix : row_error_classes) sql += (sql.empty() ? "('" : ", '") + std::string(prefix) + "'";
  return sql + ")";
}

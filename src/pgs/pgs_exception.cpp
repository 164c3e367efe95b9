#include "pgs/pgs_exception.h"

#include <pqxx/except>

#include "tk/tk_logger.h"

pgs_exception::pgs_exception(const std::string& message, int)
    : tk_exception(message, tk_level_recoverable) {
  tk_log(2, "pgs_exception::ctor");
}

pgs_exception::pgs_exception(const std::wstring& message, int)
    : tk_exception(message, tk_level_recoverable) {
  tk_log(2, "pgs_exception::ctor");
}

pgs_exception::pgs_exception(const std::string& prefix, const pqxx::pqxx_exception& error, bool with_library_text)
    : pgs_exception(with_library_text ? prefix + pgs_error_text(error) : prefix) {
  if (const auto* sql = dynamic_cast<const pqxx::sql_error*>(&error.base())) {
    m_sqlstate = sql->sqlstate();
    m_statement = sql->query();
  }
}

std::string pgs_error_text(const pqxx::pqxx_exception& error) { return error.base().what(); }

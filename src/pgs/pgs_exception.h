#pragma once
// The error type of the PostgreSQL side. Every library error is caught where the side calls the
// library and rethrown as a pgs_exception (level 0: the run may go on) with the library's text.
#include <string>

#include "tk/tk_exception.h"

namespace pqxx {
class pqxx_exception;
}

class pgs_exception : public tk_exception {
 public:
  /// The message; the second argument is accepted and ignored.
  explicit pgs_exception(const std::string& message, int ignored = 0);
  pgs_exception(const std::wstring& message, int ignored = 0);

  /// A library error: prefix + the library's text, with the server's SQLSTATE and the statement
  /// when the library reports them. Connection strings are never statements, so no password.
  /// With with_library_text false the message is the prefix alone (the error's details are kept).
  pgs_exception(const std::string& prefix, const pqxx::pqxx_exception& error, bool with_library_text = true);

  const std::string& sqlstate() const noexcept { return m_sqlstate; }
  const std::string& statement() const noexcept { return m_statement; }

 private:
  std::string m_sqlstate;
  std::string m_statement;
};

/// The text of a library error, for logs and for exceptions built elsewhere.
std::string pgs_error_text(const pqxx::pqxx_exception& error);

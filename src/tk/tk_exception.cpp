#include "tk/tk_exception.h"

#include <system_error>

#include "tk/tk_logger.h"
#include "tk/tk_string.h"

namespace {
const char* const unknown_exception = "Unknown exception";
}

tk_exception::tk_exception(int level) : m_message(unknown_exception), m_level(level) {}

tk_exception::tk_exception(const std::string& text, int level)
    : m_message(text.empty() ? std::string(unknown_exception) : text), m_level(level) {}

tk_exception::tk_exception(const char* text, int level)
    : tk_exception(std::string(text ? text : ""), level) {}

tk_exception::tk_exception(const std::wstring& text, int level) : m_message(tk_to_utf8(text)), m_level(level) {}

tk_exception::tk_exception(const wchar_t* text, int level)
    : tk_exception(std::wstring(text ? text : L""), level) {}

tk_exception::tk_exception(std::string message, int code, int level, std::nullptr_t)
    : m_message(std::move(message)), m_code(code), m_level(level) {}

tk_exception::~tk_exception() = default;

const char* tk_exception::what() const noexcept { return m_message.c_str(); }

// ---- tk_exception_ex ----------------------------------------------------------

tk_exception_ex::tk_exception_ex() : tk_exception(tk_level_error) {
  const int error_code = errno;
  set_last_error(std::string(), error_code);
}

tk_exception_ex::tk_exception_ex(const std::string& prefix, int level, int error_code) : tk_exception(level) {
  set_last_error(prefix, error_code);
}

tk_exception_ex::tk_exception_ex(const char* prefix, int level, int error_code) : tk_exception(level) {
  set_last_error(prefix ? prefix : "", error_code);
}

tk_exception_ex::tk_exception_ex(const std::wstring& prefix, int level, int error_code) : tk_exception(level) {
  set_last_error(tk_to_utf8(prefix), error_code);
}

void tk_exception_ex::set_last_error(const std::string& prefix, int error_code) {
  set_code(error_code);
  // The system text never fails here (0 gives "Success").
  const std::string system_text = std::generic_category().message(error_code);
  set_message(prefix + system_text);
  tk_log(2, "GetLastError: %s", system_text);
}

// ---- tk_mail_assertion ---------------------------------------------------------

std::string tk_mail_assertion::make_message(const char* file, int line) {
  tk_log(2, "make_err_meggase(%s, %d)", file, line);
  const std::string site = tk_format("%s\\%d", file ? file : "", line);
  tk_log(2, "result=%s", site);
  static const char digits[] = "0123456789abcdef";
  std::string message = "Internal error: \ncode=";
  for (unsigned char byte : site) {
    message.push_back(digits[byte >> 4]);
    message.push_back(digits[byte & 0x0F]);
  }
  return message;
}

tk_mail_assertion::tk_mail_assertion(const char* file, int line)
    : tk_exception(make_message(file, line), 0, tk_level_internal, nullptr) {
  tk_log(2, "tk_mail_assertion::ctor(%s)", file ? file : "");
}

void tk_throw_assertion(const char* file, int line) { throw tk_mail_assertion(file, line); }

// ---- tk_final_exception --------------------------------------------------------

tk_final_exception::tk_final_exception() { tk_log(2, "tk_final_exception::ctor"); }

const char* tk_final_exception::what() const noexcept { return "tk_final_exception"; }

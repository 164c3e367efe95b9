#pragma once
// The exception family of the system. Every failure travels as a tk_exception
// carrying a message, a code and a level; the error routine acts on the level.
// tk_final_exception is the quiet stop signal and is deliberately outside the
// family, so `catch (tk_exception&)` lets it pass.

#include <cerrno>
#include <exception>
#include <string>
#include <string_view>

#include "tk/tk_format.h"

/// Levels read by the error routine.
enum tk_level : int {
  tk_level_recoverable = 0,  // the user may continue or abort
  tk_level_error = 1,        // reported; the current run ends
  tk_level_internal = 2,     // internal error: reported, then the program ends
};

class tk_exception : public std::exception {
 public:
  /// "Unknown exception", code 0.
  explicit tk_exception(int level = tk_level_error);
  /// The text, or "Unknown exception" when it is empty; code 0.
  tk_exception(const std::string& text, int level);
  tk_exception(const char* text, int level);
  /// The wide text in UTF-8; code 0.
  tk_exception(const std::wstring& text, int level);
  tk_exception(const wchar_t* text, int level);
  /// The printf format applied to one argument; no length limit; code 0.
  template <class Arg>
  tk_exception(std::string_view format, const Arg& arg, int level)
      : tk_exception(tk_format(format, arg), level) {}
  template <class Arg>
  tk_exception(std::wstring_view format, const Arg& arg, int level)
      : tk_exception(tk_format(format, arg), level) {}

  tk_exception(const tk_exception&) = default;
  tk_exception& operator=(const tk_exception&) = default;
  ~tk_exception() override;

  const char* what() const noexcept override;
  const std::string& message() const noexcept { return m_message; }
  int code() const noexcept { return m_code; }
  int level() const noexcept { return m_level; }

  /// Why it failed, in the words of the part that knows (an engine's description of a damaged
  /// file): shown on a line of its own after the message a table gives for the code. Empty when
  /// the message itself says why.
  const std::string& reason() const noexcept { return m_reason; }
  void set_reason(std::string reason) { m_reason = std::move(reason); }

 protected:
  /// For derived classes that carry a library's error number.
  tk_exception(std::string message, int code, int level, std::nullptr_t);
  void set_message(std::string message) { m_message = std::move(message); }
  void set_code(int code) noexcept { m_code = code; }
  void set_level(int level) noexcept { m_level = level; }

 private:
  std::string m_message;
  std::string m_reason;
  int m_code = 0;
  int m_level = tk_level_error;
};

/// A system error: the message is a prefix followed by the system text of the
/// error number, the code is that number. The number defaults to errno at the
/// call site, so throw before anything else can change errno.
class tk_exception_ex : public tk_exception {
 public:
  /// Level 1, no prefix, errno.
  tk_exception_ex();
  tk_exception_ex(const std::string& prefix, int level, int error_code = errno);
  tk_exception_ex(const char* prefix, int level, int error_code = errno);
  tk_exception_ex(const std::wstring& prefix, int level, int error_code = errno);
  tk_exception_ex(const tk_exception_ex&) = default;
  tk_exception_ex& operator=(const tk_exception_ex&) = default;

 private:
  void set_last_error(const std::string& prefix, int error_code);
};

/// A broken internal invariant: level 2, code 0, and a message that hides the
/// source site ("<file>\<line>") behind lower-case hex digits.
class tk_mail_assertion : public tk_exception {
 public:
  tk_mail_assertion(const char* file, int line);
  tk_mail_assertion(const tk_mail_assertion&) = default;
  tk_mail_assertion& operator=(const tk_mail_assertion&) = default;

  /// "Internal error: \ncode=" followed by the hex of "<file>\<line>".
  static std::string make_message(const char* file, int line);
};

/// Ends a conversion quietly after the user chose to abort.
class tk_final_exception : public std::exception {
 public:
  tk_final_exception();
  const char* what() const noexcept override;
};

[[noreturn]] void tk_throw_assertion(const char* file, int line);

// Assertion sites name a fixed source string and line (never __FILE__): the
// user sees only the code built from them, which support turns back into the
// site. The "" concatenation makes sure the file is a string literal.
#define TK_ASSERT_SITE(file, line) ::tk_throw_assertion("" file "", (line))
#define TK_ASSERT(condition, file, line)       \
  do {                                         \
    if (!(condition)) TK_ASSERT_SITE(file, line); \
  } while (false)

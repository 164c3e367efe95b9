#pragma once
// Shows the error handler's reports as console lines: no one is asked, the level decides.
#include <cstdio>
#include <string>

#include "converter/error_presenter.h"

class console_presenter : public error_presenter {
 public:
  explicit console_presenter(std::FILE* out) : m_out(out) {}

  dispatch mode() const override { return dispatch::by_level; }
  /// "Internal error: " and the text; the handler shows it even when errors are silenced.
  void internal_error(const std::string& message) override;
  /// A line "Error:", then the message on one line.
  void error(const std::string& text) override;
  /// Not asked in by_level mode; answers Continue should it ever be.
  continue_answer ask_continue(const std::string& text) override;

 private:
  std::FILE* m_out;
};

#pragma once
// No exception crosses Qt's event loop: every slot, page operation, dialog command and tick runs
// its body through wizard_guard. A tk_exception goes to the error handler (top level), any other
// std::exception to an error box; either then closes the wizard with error_status (a nested
// dialog first). The program's exit signal (an internal error) closes it with its status.
#include <functional>

class tk_exception;

/// The status of a program ended by an error it reported (not an internal one).
inline constexpr int error_status = 1;

/// Reports a tk_exception the caller caught itself: through the error handler at top level
/// (which may throw the program's exit signal), or in an error box when there is none.
void report_tk_exception(const tk_exception& e);

/// Runs `body`; true when it returned normally.
bool wizard_guard(const std::function<void()>& body) noexcept;

/// Runs `body` and returns its result, or `failed` when it threw (reported as above).
template <class R, class F>
R wizard_guarded(F&& body, R failed) noexcept {
  R result = failed;
  if (!wizard_guard([&] { result = body(); })) return failed;
  return result;
}

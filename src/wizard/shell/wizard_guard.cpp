#include "wizard/shell/wizard_guard.h"

#include <exception>

#include "converter/error_handler.h"
#include "converter/exit_signal.h"
#include "pgs/pgs_exception.h"
#include "wizard/errors/wizard_error_presenter.h"
#include "wizard/shell/wizard_shell.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"

namespace {

/// Where the connection is entered.
constexpr int connection_page_id = 134;

void end_wizard(int status) noexcept {
  if (wizard_shell* shell = wizard_shell::instance_ptr()) shell->end_wizard(status);
}

}  // namespace

void report_tk_exception(const tk_exception& e) {
  tk_log(2, "Got exception: '%s'", e.what());
  if (error_handler* handler = error_handler::instance_ptr())
    handler->handle(e, true);
  else
    wizard_shell::error(std::string(e.what()));
}

bool wizard_guard(const std::function<void()>& body) noexcept {
  try {
    try {
      body();
      return true;
    } catch (const tk_exception& e) {
      // Nothing goes on after an error that reaches here: it is shown with OK, never Continue.
      const wizard_error_presenter::no_continue_scope no_continue;
      report_tk_exception(e);
      // The server went away before the run: the user can mend that on the connection page.
      wizard_shell* shell = wizard_shell::instance_ptr();
      if (dynamic_cast<const pgs_exception*>(&e) && shell && shell->return_to_page(connection_page_id))
        return false;
    } catch (const std::exception& e) {
      wizard_shell::error(std::string(e.what()));
    }
    end_wizard(error_status);
  } catch (const tmd_exit_signal& signal) {
    end_wizard(signal.status());
  } catch (...) {
    // A report that failed itself: still close, nothing may leave a slot.
    tk_log(3, "wizard_guard: reporting an error failed");
    end_wizard(error_status);
  }
  return false;
}

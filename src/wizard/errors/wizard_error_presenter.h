#pragma once
// Shows the error handler's reports as the wizard's dialogs, on the GUI thread whichever thread
// reports: the internal-error dialog, an error box, the Continue/Abort dialog. Without a
// QApplication (the GUI could not start) reports go to the error stream.
#include <functional>

#include "converter/error_presenter.h"

class wizard_error_presenter : public error_presenter {
 public:
  dispatch mode() const override { return dispatch::interactive; }
  void internal_error(const std::string& message) override;
  void error(const std::string& text) override;
  continue_answer ask_continue(const std::string& text) override;

  /// While one lives on this thread, a recoverable error is shown in an error box and answered
  /// Abort: where nothing can go on after it (outside the run), Continue would be a false offer.
  class no_continue_scope {
   public:
    no_continue_scope();
    ~no_continue_scope();
    no_continue_scope(const no_continue_scope&) = delete;
    no_continue_scope& operator=(const no_continue_scope&) = delete;

   private:
    bool m_previous;
  };

  /// Tests: replace the two dialogs (the error box is replaced through wizard_shell's box hook).
  using continue_hook = std::function<continue_answer(const std::string& text)>;
  using internal_hook = std::function<void(const std::string& message)>;
  static void set_continue_hook(continue_hook hook);
  static void set_internal_hook(internal_hook hook);
};

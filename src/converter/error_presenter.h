#pragma once

#include <string>

/// Shows what the error handler reports: dialogs in the wizard, lines on the console in the agent.
/** The handler decides what is reported and when the run or the program ends; the presenter only
    shows it. Texts are UTF-8: one line, or two when the reason follows the message on a line of
    its own (other line feeds are already turned into blanks); the internal error's is shown as the
    exception carries it. */
class error_presenter {
public:
  /// How the handler acts on an error's level.
  enum class dispatch {
    /// The user is asked: level 0 offers Continue or Abort, level 1 shows a box and ends a run
    /// from inside it; the top-level flag decides whether the run can still be ended.
    interactive,
    /// No one is asked: level 0 is reported and the caller goes on, level 1 is reported and ends
    /// the program; the top-level flag plays no part.
    by_level,
  };

  /// The user's answer to a recoverable error.
  struct continue_answer {
    bool abort = false;              ///< Abort rather than Continue
    bool do_not_show_again = false;  ///< the "do not show again" box was ticked
  };

  virtual ~error_presenter() = default;

  virtual dispatch mode() const = 0;

  /// An internal error; the program ends after this returns. Shown even when errors are silenced.
  virtual void internal_error(const std::string& message) = 0;
  /// A level-1 error (and in `by_level` mode every reported error).
  virtual void error(const std::string& text) = 0;
  /// A recoverable error in `interactive` mode: Continue or Abort.
  virtual continue_answer ask_continue(const std::string& text) = 0;
};

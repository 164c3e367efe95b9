#pragma once
// The program start of `tamarind`: error handler, GUI, converter, the quick-launch profile (any
// command-line argument), the shell and its pages, then the wizard. Returns the process status:
// 1 after Finish and after an error that ended the program (a profile that does not load, a
// quick launch whose connection failed, an error that closed the wizard); 0 after Cancel and
// after a quick launch the user cancelled while it connected; 255 after an internal error or when
// the GUI cannot start.
#include <functional>
#include <string>
#include <vector>

class error_handler;
class wizard_shell;

/// main() of the program.
int tamarind_main(int argc, char** argv);

/// The command line as one text: the arguments after the program name (the first entry) joined
/// by one blank.
std::string wizard_command_line(const std::vector<std::string>& arguments);

/// What tests change in the start.
struct wizard_start_options {
  /// Runs in place of the modal wizard (tests drive the shell, then return its status).
  std::function<int(wizard_shell&)> exec;
};

/// The start once the error handler and the QApplication exist: converter, profile, shell,
/// pages, run. Reports what fails through the handler or a box and returns the status.
int run_wizard_program(error_handler& handler, const std::string& command_line,
                       const wizard_start_options& options = {});

/// The wizard's title, "Tamarind 1.0".
std::wstring wizard_title();

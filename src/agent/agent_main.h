#pragma once
// The console agent's entry: one conversion from command-line options or a profile file.
#include <string>

/// Runs the agent and returns the process status: 0 when everything converted, 1 when errors
/// were reported (a failed connection, a worksheet or record that failed, a missing selected
/// worksheet, a log file that could not be written), 255 for usage, refused options and inputs,
/// level-1 and internal errors.
int agent_main(int argc, char** argv);

/// Logs the text, writes it to the error stream unless the run is silent, and ends the program
/// with status 255 (by throwing tmd_exit_signal, which agent_main turns into its status).
[[noreturn]] void fatal_console_exit(const std::string& text);

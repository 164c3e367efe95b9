#pragma once
// The agent's command-line options: read into the converter, the error handler and the
// connection settings, checked, and turned into the worksheet selection.
#include <string>

/// Option ids: the position of each option in the agent's option table.
enum agent_option_id {
  opt_csv_delim = 0,
  opt_dest,
  opt_extr_fn,
  opt_from_csv,
  opt_help,
  opt_logfile,
  opt_host,
  opt_mode,
  opt_no_refine,
  opt_pgport,
  opt_profile,
  opt_pswd,
  opt_silent,
  opt_src,
  opt_tab_file,
  opt_tab_name,
  opt_user,
};

/// Reads the options in command-line order (a later one overrides an earlier one), checks them,
/// lists the source workbook and applies the selection; sets the connection settings unless a
/// profile gave them. False when an argument matched no option (the caller prints the usage).
/// A refused option or input ends the program (fatal_console_exit); errors of the profile, the
/// log file and the workbook are thrown as tk_exception for the caller to report.
/** Needs the converter and the error handler to exist. */
bool parse_cmd_line(int argc, char** argv);

/// True when the text is one of "0" to "3" exactly (so "01", " 1", "+1" and "-1" are refused).
bool is_valid_mode_text(const std::string& text);

/// The port an option text names, or 0 when it names none from 1 to 65535.
int port_from_text(const std::string& text);

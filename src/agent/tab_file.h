#pragma once
// The table-list file of the agent: one worksheet name per line.
//
// Lines end with LF or CR LF; blank lines are skipped; every other line is one name, taken whole
// (no trimming, no comments, duplicates kept). A file whose first non-empty line starts with a
// UTF-8 byte-order mark is UTF-8; otherwise it is UTF-8 when all of it is valid UTF-8, else
// Windows-1252. A line holds at most tab_file_max_line_bytes bytes.
#include <stdexcept>
#include <string>
#include <vector>

inline constexpr std::size_t tab_file_max_line_bytes = 254;

/// Why a table-list file was refused; what() is the text the user sees.
class tab_file_error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Reads the names, in file order. Throws tab_file_error for a missing or unreadable file, a
/// folder, a FIFO, a socket or a device, a read error and a line that is too long.
std::vector<std::wstring> read_tab_file(const std::string& path);

/// read_tab_file for the option "--tab_file=": a refusal ends the program (fatal_console_exit).
std::vector<std::wstring> process_tab_file(const std::string& path);

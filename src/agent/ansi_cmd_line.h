#pragma once
// Walks a program's arguments and matches each against a table of option texts by prefix: the
// first entry whose text starts the argument wins, and the rest of the argument is its value.
#include <string>
#include <vector>

/// One option: its id and the text an argument starts with ("--dest="). A table ends with an
/// entry whose text is empty.
struct cmd_option {
  int id;
  const char* text;
};

class ansi_cmd_line {
 public:
  /// Id of an argument that matches no option; such an argument is kept as positional.
  static constexpr int positional_id = -1;

  /// `argv[0]` is skipped; the first argument is matched at once.
  ansi_cmd_line(int argc, char** argv, const cmd_option* table);
  virtual ~ansi_cmd_line();
  ansi_cmd_line(const ansi_cmd_line&) = delete;
  ansi_cmd_line& operator=(const ansi_cmd_line&) = delete;

  /// Moves to the next argument and matches it. Requires has_more().
  virtual void next();
  /// Arguments remain (the current one included).
  virtual bool has_more() const noexcept;

  /// The current argument's option id. Requires has_more().
  int get_id() const;
  /// The text behind the matched option text. Requires has_more().
  const std::string& get_value() const;
  /// Overwrites the current argument's value in the program's argument memory, so that the
  /// process list no longer shows it; get_value() keeps it.
  void wipe_value();
  /// Arguments that matched no option, in command-line order.
  const std::vector<std::string>& get_positionals() const noexcept { return m_positionals; }

 private:
  void find_option();

  const cmd_option* m_table;
  std::string m_value;
  int m_id = positional_id;
  std::vector<std::string> m_positionals;
  char** m_argv;
  int m_position = 1;
  int m_left;
};

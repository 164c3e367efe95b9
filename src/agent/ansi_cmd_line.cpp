#include "agent/ansi_cmd_line.h"

#include <cstring>

#include "tk/tk_exception.h"

ansi_cmd_line::ansi_cmd_line(int argc, char** argv, const cmd_option* table)
    : m_table(table), m_argv(argv), m_left(argc > 1 && argv ? argc - 1 : 0) {
  if (has_more()) find_option();
}

ansi_cmd_line::~ansi_cmd_line() = default;

bool ansi_cmd_line::has_more() const noexcept { return m_left > 0; }

void ansi_cmd_line::next() {
  TK_ASSERT(has_more(), "tk_cmdli", 60);
  ++m_position;
  --m_left;
  if (has_more()) find_option();
}

// Each check names its own site (the accessors are built with the program, the walk with the
// reader), so an internal error's code tells which one failed.
int ansi_cmd_line::get_id() const {
  TK_ASSERT(has_more(), "../..\\TK/tk_cmdli", 140);
  return m_id;
}

const std::string& ansi_cmd_line::get_value() const {
  TK_ASSERT(has_more(), "../..\\TK/tk_cmdli", 147);
  return m_value;
}

void ansi_cmd_line::wipe_value() {
  char* raw = has_more() ? m_argv[m_position] : nullptr;
  if (!raw) return;
  // The value is the argument's tail; its bytes are replaced in place (the length stays, so
  // the arguments after it do not move).
  const std::size_t length = std::strlen(raw);
  std::memset(raw + (length - m_value.size()), 'x', m_value.size());
}

void ansi_cmd_line::find_option() {
  TK_ASSERT(has_more(), "tk_cmdli", 19);
  const char* raw = m_argv[m_position];
  const std::string argument = raw ? raw : "";
  for (const cmd_option* entry = m_table;; ++entry) {
    const std::size_t length = std::strlen(entry->text);
    if (argument.compare(0, length, entry->text) != 0) continue;
    m_value = argument.substr(length);
    if (length != 0) {
      m_id = entry->id;
    } else {
      // The table's end entry matches everything: a positional argument. There is no limit on
      // their number; the caller refuses them all alike.
      m_id = positional_id;
      m_positionals.push_back(argument);
    }
    return;
  }
}

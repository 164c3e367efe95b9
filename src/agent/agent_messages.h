#pragma once
// The agent's own texts, in their fixed order.
#include <string>

/// Indexes into agent_messages.
enum agent_message_id {
  agent_msg_usage = 0,
  agent_msg_invalid_mode = 1,
  agent_msg_dest_read_only = 2,  // not used by the agent
  agent_msg_dest_path = 3,       // not used by the agent
  agent_msg_no_csv_delim = 4,
  agent_msg_no_dest = 5,
  agent_msg_no_src = 6,
  agent_msg_no_tab_name = 7,
  agent_msg_tab_file_missing = 8,
};

extern const char* const agent_messages[9];

inline constexpr int agent_version_major = 1;
inline constexpr int agent_version_minor = 0;

/// The usage text with the program's version; every line ends with a line feed.
std::string agent_usage_text();

/// Refusals the agent adds to its table.
inline constexpr char agent_msg_invalid_port[] = "Invalid port number";
inline constexpr char agent_msg_profile_not_loaded[] = "Cannot load profile %s";
inline constexpr char agent_msg_not_a_workbook[] = "Source file doesn't comply with MS Excel format";
inline constexpr char agent_msg_src_not_a_file[] = "Source file is a FIFO, a socket or a device, not a regular file.";

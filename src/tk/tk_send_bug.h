#pragma once

#include <ctime>
#include <optional>
#include <string>

class mail_sink;

/// The mailbox of the maker's support service; bug reports go there.
inline constexpr char tk_support_mailbox[] = "support@hollowmere.example";

/// The texts of one bug report.
struct tk_bug_report {
  std::string subject;    ///< "Bug report on " + the subject text
  std::string body;
  std::string date_text;  ///< "%d/%d/%d %d:%d" (year, month, day, hour, minute), empty without a clock
};

/// Builds the report's texts; `local_time` is the sending time, none when the clock cannot be read.
tk_bug_report tk_make_bug_report(const std::string& subject_text, const std::string& body,
                                 const std::optional<std::tm>& local_time);

/// Mails the text of an internal error to the support service through the desktop's mail client.
/** Returns whether the mail client could be started; a missing one is only logged. Never throws. */
bool tk_send_bug(const std::string& subject_text, const std::string& body);
/// The same through a given mail sink.
bool tk_send_bug(const std::string& subject_text, const std::string& body, const mail_sink& sink);

#pragma once

#include <string>

/// One mail handed to the desktop's mail client.
struct mail_message {
  std::string to;       ///< the recipient's address
  std::string subject;  ///< UTF-8
  std::string body;     ///< UTF-8
};

/// Hands a mail to the desktop's mail client by starting `xdg-email`, which opens a compose window.
/** The program is started with an argument vector, never through a shell, so nothing in a subject or
    body is ever interpreted. It is not waited for: the mail client may keep it running until its
    window closes; a background thread reaps it. */
class mail_sink {
public:
  /// `program` is a path, or a name looked up on PATH.
  explicit mail_sink(std::string program = "xdg-email");

  /// True when the mail program could be started; that says nothing about whether the mail is sent.
  bool send(const mail_message& mail) const noexcept;

  const std::string& program() const noexcept { return m_program; }

private:
  std::string m_program;
};

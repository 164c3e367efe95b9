#include "tk/tk_send_bug.h"

#include "platform/mail_sink.h"
#include "tk/tk_format.h"
#include "tk/tk_logger.h"

namespace {

std::optional<std::tm> local_time_now() noexcept {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (now == static_cast<std::time_t>(-1) || !localtime_r(&now, &local)) return std::nullopt;
  return local;
}

}  // namespace

tk_bug_report tk_make_bug_report(const std::string& subject_text, const std::string& body,
                                 const std::optional<std::tm>& local_time) {
  tk_bug_report report;
  report.subject = "Bug report on " + subject_text;
  report.body = body;
  if (local_time) {
    report.date_text = tk_format("%d/%d/%d %d:%d", local_time->tm_year + 1900, local_time->tm_mon + 1,
                                 local_time->tm_mday, local_time->tm_hour, local_time->tm_min);
  }
  return report;
}

bool tk_send_bug(const std::string& subject_text, const std::string& body, const mail_sink& sink) {
  try {
    tk_log(2, "tk_send_bug(%s|%s)", subject_text, body);
    const tk_bug_report report = tk_make_bug_report(subject_text, body, local_time_now());
    // The mail client dates what it sends; the date is kept in the log beside the report.
    tk_log(2, "Bug report date: %s", report.date_text);
    const bool started = sink.send({tk_support_mailbox, report.subject, report.body});
    if (!started) tk_log(2, "Failed to locate %s", sink.program());
    return started;
  } catch (...) {
    return false;
  }
}

bool tk_send_bug(const std::string& subject_text, const std::string& body) {
  return tk_send_bug(subject_text, body, mail_sink());
}

#include "converter/error_handler.h"

#include <algorithm>
#include <cstdio>

#include "converter/error_presenter.h"
#include "converter/exit_signal.h"
#include "converter/frame_services.h"
#include "tk/tk_format.h"
#include "tk/tk_logger.h"
#include "tk/tk_string.h"

namespace {

/// Levels other than 1 and 2 are treated as recoverable.
int effective_level(int level) noexcept {
  return level == tk_level_error || level == tk_level_internal ? level : tk_level_recoverable;
}

// Used only when no front end attached a presenter (a failure before it could).
void write_to_stderr(const std::string& head, const std::string& text) noexcept {
  std::fprintf(stderr, "%s%s\n", head.c_str(), text.c_str());
  std::fflush(stderr);
}

}  // namespace

error_handler::error_handler(std::size_t count, const tk_error_entry* table) : m_map(count, table) {
  tk_log(2, "error_handler::ctor");
}

error_handler::~error_handler() = default;

void error_handler::load_err_map(std::size_t count, const tk_error_entry* table) {
  tk_log(2, "error_handler::load_err_map");
  m_map.load_map(count, table);
}

void error_handler::set_presenter(error_presenter* presenter) noexcept { m_presenter.store(presenter); }

void error_handler::set_frame(frame_services* frame) noexcept { m_frame.store(frame); }

void error_handler::set_context(const std::wstring& text) {
  std::string narrow = tk_to_ansi(text);
  std::lock_guard lock(m_mutex);
  m_context = std::move(narrow);
}

void error_handler::set_context(const std::wstring& table, std::int64_t record) {
  set_context(tk_wformat(L"%s, record #%d", table, record));
}

std::string error_handler::context() const {
  std::lock_guard lock(m_mutex);
  return m_context;
}

std::vector<std::string> error_handler::listed_errors() const {
  std::lock_guard lock(m_mutex);
  return m_listed;
}

void error_handler::clear_listed_errors() {
  std::lock_guard lock(m_mutex);
  m_listed.clear();
}

error_counts error_handler::reported() const noexcept {
  return {m_level0.load(), m_level1.load(), m_level2.load()};
}

void error_handler::count_reported_error(int level) noexcept {
  switch (effective_level(level)) {
    case tk_level_internal: ++m_level2; break;
    case tk_level_error: ++m_level1; break;
    default: ++m_level0; break;
  }
}

std::string error_handler::clean_message(std::string text) {
  std::size_t kept = 0;
  bool line_start = false;
  for (const char c : text) {
    if (c == '\t' && line_start) continue;
    line_start = c == '\n';
    text[kept++] = c;
  }
  text.resize(kept);
  return text;
}

error_handler::report_text error_handler::compose_message(const tk_exception& e) const {
  report_text text;
  text.head = context();
  if (!text.head.empty()) text.head += ": ";
  const std::string mapped = m_map.convert(e.code());
  const std::string shown = mapped.empty() ? std::string(e.what()) : mapped;
  text.head += clean_message(shown);
  // The reason follows a fixed text; a message that is the reason itself is not told twice.
  if (e.reason() != shown) text.reason = clean_message(e.reason());
  return text;
}

std::string error_handler::report_text::logged() const { return reason.empty() ? head : head + "\n" + reason; }

std::string error_handler::report_text::shown() const {
  // Each part on one line: a fixed text's own line breaks become blanks.
  std::string line = head;
  std::replace(line.begin(), line.end(), '\n', ' ');
  if (reason.empty()) return line;
  line.erase(line.find_last_not_of(" \r") + 1);
  std::string second = reason;
  std::replace(second.begin(), second.end(), '\n', ' ');
  return line + "\n" + second;
}

void error_handler::collect(const std::string& text) {
  frame_services* frame = m_frame.load();
  if (!frame || !frame->is_initialized()) return;
  std::lock_guard lock(m_mutex);
  if (m_listed.size() < m_listed_limit.load()) m_listed.push_back(text);
}

void error_handler::list_report(const std::string& text) {
  std::lock_guard lock(m_mutex);
  if (m_listed.size() < max_listed_errors) m_listed.push_back(text);
}

void error_handler::show_error(const std::string& text) {
  if (error_presenter* presenter = m_presenter.load())
    presenter->error(text);
  else
    write_to_stderr("Error:\n", text);
}

void error_handler::end_with_internal_error(const tk_exception& e) {
  tk_log(3, "Internal error:\n%s", e.what());
  // Shown as the exception carries it: no context, no table, no listing.
  if (error_presenter* presenter = m_presenter.load())
    presenter->internal_error(e.what());
  else
    write_to_stderr("Internal error: ", e.what());
  throw tmd_exit_signal(tmd_exit_signal::failure_status);
}

std::pair<int, std::string> error_handler::record(const tk_exception& e) {
  const int level = effective_level(e.level());
  count_reported_error(level);
  if (level == tk_level_internal) end_with_internal_error(e);

  const report_text report = compose_message(e);
  tk_log(3, "Error:\n%s", report.logged());
  std::string text = report.shown();
  collect(text);
  return {level, std::move(text)};
}

void error_handler::handle(const tk_exception& e, bool top_level) {
  tk_log(2, "error_handler::handle");
  const auto [level, text] = record(e);

  error_presenter* presenter = m_presenter.load();
  const bool interactive = !presenter || presenter->mode() == error_presenter::dispatch::interactive;

  if (level == tk_level_error) {
    tk_log(1, "Got 1-level error");
    if (!is_quiet()) {
      tk_log(1, "Step 1");
      show_error(text);
    }
    tk_log(1, "Step 2");
    if (!interactive) throw tmd_exit_signal(tmd_exit_signal::failure_status);
    if (!top_level) throw tk_final_exception();
    return;
  }

  tk_log(1, "Got 0-level error");
  if (is_quiet()) return;
  // By level, or with no presenter to ask: report and go on.
  if (!interactive || !presenter) {
    show_error(text);
    return;
  }
  const error_presenter::continue_answer answer = presenter->ask_continue(text);
  if (answer.abort && !top_level) throw tk_final_exception();
  if (answer.do_not_show_again) set_quiet(true);
}

bool error_handler::asks_to_continue() const noexcept {
  const error_presenter* presenter = m_presenter.load();
  return presenter && presenter->mode() == error_presenter::dispatch::interactive && !is_quiet();
}

void error_handler::tell(const tk_exception& e) {
  tk_log(2, "error_handler::tell");
  const std::string text = record(e).second;
  if (is_quiet()) return;
  const error_presenter* presenter = m_presenter.load();
  if (!presenter || presenter->mode() == error_presenter::dispatch::by_level) show_error(text);
}

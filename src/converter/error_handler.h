#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "tk/tk_error_converter.h"
#include "tk/tk_exception.h"
#include "tk/tk_singleton.h"

class error_presenter;
class frame_services;

/// How many errors were reported, by level (levels other than 1 and 2 count as 0).
struct error_counts {
  unsigned level0 = 0;
  unsigned level1 = 0;
  unsigned level2 = 0;
  unsigned total() const noexcept { return level0 + level1 + level2; }
};

/// The one place where a caught exception becomes something the user sees.
/** It turns the exception's code into a message from the loaded tables, puts the current context
    (worksheet, or worksheet and record) in front of it, adds the exception's reason on a line of
    its own after it (line breaks inside either part become blanks), logs it, collects it for the
    final report and acts on the exception's level through the front end's presenter:
    - level 2 (internal error): shown, then the program ends by throwing `tmd_exit_signal`;
    - level 1: shown (unless silenced); interactively a run is ended with `tk_final_exception`
      unless `top_level`; by level the program ends with `tmd_exit_signal`;
    - level 0: interactively the user chooses Continue or Abort (Abort ends a run unless
      `top_level`); by level it is shown and the caller goes on.
    `handle` may run on several threads; no lock is held while the presenter shows something. */
class error_handler : public tk_singleton<error_handler> {
public:
  /// At most this many texts are collected for the final report, unless set_listed_limit says
  /// otherwise; later ones are only reported.
  static constexpr std::size_t max_listed_errors = 20;

  error_handler(std::size_t count, const tk_error_entry* table);
  ~error_handler() override;

  /// Adds a further message table; a code already present keeps its first text.
  void load_err_map(std::size_t count, const tk_error_entry* table);

  /// Where reports are shown and collected. Set by the front end before any run; null detaches.
  /** Without a presenter reports go to the standard error stream; without a frame (or before it
      is initialised) nothing is collected. */
  void set_presenter(error_presenter* presenter) noexcept;
  void set_frame(frame_services* frame) noexcept;

  /// The text put in front of the following messages until it is set again (a worksheet name).
  void set_context(const std::wstring& text);
  /// "<table>, record #<n>".
  void set_context(const std::wstring& table, std::int64_t record);
  std::string context() const;

  /// A message as every report shows it: libpq indents the lines after the first of a server's
  /// message with a tab, which a box, a list, a console or a log shows as a wide gap. Those tabs
  /// are dropped; a tab inside a line (a value the message quotes) stays.
  static std::string clean_message(std::string text);

  /// Reports one error. Returns, throws `tk_final_exception` (the run ends) or throws
  /// `tmd_exit_signal` (the program ends).
  void handle(const tk_exception& e, bool top_level);
  /// Reports an error that asks nothing, for what no answer could change (a selected entry a run
  /// does not convert, a stopped worksheet): logged, counted and listed like any report; shown
  /// where reports are shown by level (the console) unless silenced, and only listed where the
  /// user would be asked. An internal error ends the program as in `handle`.
  void tell(const tk_exception& e);
  /// Whether a recoverable error reported now would ask the user to continue or abort.
  bool asks_to_continue() const noexcept;
  /// Lists a report that its reporter showed by its own means (a box of its own) and counted, so
  /// that the final report holds it too; also before the frame is initialised.
  void list_report(const std::string& text);

  /// Silenced reports: no Continue/Abort question and no error box (interactively set by the
  /// "do not show again" box; in the agent by its silent option). Internal errors are always shown.
  bool is_quiet() const noexcept { return m_quiet.load(); }
  void set_quiet(bool quiet) noexcept { m_quiet.store(quiet); }

  /// How many texts are collected from now on (max_listed_errors until set). The wizard lifts it
  /// for a run whose errors no log file holds.
  void set_listed_limit(std::size_t limit) noexcept { m_listed_limit.store(limit); }

  /// The texts collected for the final report, oldest first.
  std::vector<std::string> listed_errors() const;
  void clear_listed_errors();

  /// Errors reported so far, through `handle` or counted by callers that report on their own.
  error_counts reported() const noexcept;
  void count_reported_error(int level = tk_level_recoverable) noexcept;

private:
  /// A report: the context and the message, then the reason (empty when the message says it).
  struct report_text {
    std::string head;
    std::string reason;
    std::string logged() const;
    std::string shown() const;  ///< two lines at most: head and reason
  };
  report_text compose_message(const tk_exception& e) const;
  /// Counts, logs and collects a report; returns its level and the text to show.
  std::pair<int, std::string> record(const tk_exception& e);
  void collect(const std::string& text);
  void show_error(const std::string& text);
  [[noreturn]] void end_with_internal_error(const tk_exception& e);

  mutable std::mutex m_mutex;  // guards the context and the collected texts
  std::string m_context;
  std::atomic<bool> m_quiet{false};
  tk_error_converter m_map;
  std::vector<std::string> m_listed;
  std::atomic<std::size_t> m_listed_limit{max_listed_errors};
  std::atomic<error_presenter*> m_presenter{nullptr};
  std::atomic<frame_services*> m_frame{nullptr};
  std::atomic<unsigned> m_level0{0}, m_level1{0}, m_level2{0};
};

#pragma once
// The wizard's frame: a QWizard holding the pages in the order they were added, and the services
// that pages, the converter and the error handler call from any thread: boxes with the product's
// title, help by context id, the progress timer, the log window of the current page and the list
// of reported errors. One instance, built by the program start (the singleton).
#include <QPixmap>
#include <QString>
#include <QTimer>
#include <QWizard>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tk/tk_singleton.h"

class frame_services;
class wizard_page_base;

/// One box the shell shows (handed to the test hook instead of a QMessageBox).
struct wizard_box {
  enum class kind { error, message, question };
  kind type = kind::error;
  QString caption;           ///< title + " Error" / " Message" / " Question", or the bare word
  QString text;
  bool default_no = false;   ///< question: No is the default button
  QWidget* owner = nullptr;  ///< the wizard once initialised, else none
};

class wizard_shell : public QWizard, public tk_singleton<wizard_shell> {
  Q_OBJECT

 public:
  /// Registers the singleton (a second one is an internal error). The ids name our own pictures:
  /// icon 501 (window icon), watermark 311 (pages without header), header 312 (logo); 0 = none.
  wizard_shell(const std::wstring& title, int icon_id, int watermark_id, int header_id,
               QWidget* parent = nullptr);
  ~wizard_shell() override;

  static wizard_shell& instance() { return tk_singleton<wizard_shell>::instance(); }

  const std::wstring& title() const noexcept { return m_title; }

  // ---- pages ------------------------------------------------------------------------------
  /// Adds a page after those added so far (the shell owns it); its id is its dialog id. The first
  /// page added is the start page.
  void add_page(wizard_page_base* page);
  /// The ids in the order the pages were added.
  const std::vector<int>& page_order() const noexcept { return m_order; }
  wizard_page_base* page_by_id(int id) const;
  /// The current page (null before the first activation).
  wizard_page_base* current_wizard_page() const { return page_by_id(currentId()); }

  // ---- running ----------------------------------------------------------------------------
  /// Shows the wizard modally; returns 1 after Finish, after a Cancel that stopped a run and after
  /// an error the guard reported, 0 after another Cancel, 255 after an internal error (any thread).
  int run();
  /// Closes the wizard with a status: any open dialog above it first, then the pages' work is
  /// stopped. From another thread the close is posted. Later calls keep the first status.
  void end_wizard(int status);
  /// Goes back to an earlier page (posted: the caller may be inside the current page's Next).
  /** False, doing nothing, when that page is not in the wizard or not before the current one. */
  bool return_to_page(int id);
  /// The status end_wizard asked for, if any.
  std::optional<int> forced_status() const;

  // ---- frame services ---------------------------------------------------------------------
  /// Once, on the first activation: title, icon, centred; the shell is initialised afterwards.
  void on_init();
  /// False when no shell exists.
  static bool is_initialized();
  /// The shell once it is initialised, else null: what boxes and dialogs take their caption and
  /// owner from.
  static wizard_shell* initialized_instance();

  /// Starts the progress timer (any thread); running already is the assertion "g_wiz_sh" line 260.
  void start_timer(unsigned period_ms);
  /// Stops the timer when it runs (any thread).
  void stop_timer();
  bool is_timer_running() const noexcept { return m_timer_running.load(); }

  /// Appends text to the log control (id 1016) of the current page; a page without one drops it.
  /** From another thread it is queued and applied to the page current at that time. */
  void write_log(const std::wstring& text);

  /// Boxes; any thread (another thread waits for the answer). They work without a shell: the
  /// caption is then the bare word and the box has no owner. Without a QApplication they write
  /// to the error stream (and a question answers with its default).
  static void error(const std::wstring& text);
  static void error(const std::string& text);  ///< UTF-8
  /// The error box of a report the error handler has logged already: not logged again, so the
  /// log holds each error once, as corvel's does.
  static void logged_error(const std::string& text);
  static void message(const std::wstring& text);
  /// Yes/No; true for Yes. `default_no`: No is the default button (Enter answers No).
  static bool question(const std::wstring& text, bool default_no = false);

  /// Opens help/<context>.html (beside the program, else in ../share/tamarind/help); a missing
  /// file is the box "Help file does not exist. Reinstall the program.".
  static void display_help(int context_id);
  /// Opens help/index.html, the same way; returns false (after the box) when it is missing or
  /// cannot be opened.
  static bool display_help_contents();
  /// F1 in `window` (the wizard, or a dialog with a Help button) runs `help`.
  static void bind_help_key(QWidget* window, std::function<void()> help);
  /// Opens a web address in the browser, as help is opened; without a browser the box of help
  /// says where the help pages are.
  static void open_web_page(const QString& url);
  /// The file display_help looks for (it may not exist).
  static QString help_file(const QString& file_name);

  /// The errors listed for the finish page, oldest first (the first 20 of a run whose log file
  /// holds them all).
  std::vector<std::string> errors() const;
  /// A run starts: the list is emptied (earlier errors, a profile that failed to load, are not
  /// the run's) and the handler's count so far remembered. Only the first mark counts: a quick
  /// launch marks before it loads its profile, since that load is part of its run.
  void mark_run_start();
  /// True when the handler has counted errors since mark_run_start (never before a mark). Some
  /// reports have a box of their own and are counted without being listed.
  bool errors_counted_since_run_start() const;
  /// How many errors the handler has counted since mark_run_start (0 before a mark).
  unsigned errors_since_run_start() const;

  /// The frame the converter and the error handler are given (forwards to this shell).
  frame_services& frame() noexcept { return *m_frame; }

  // ---- test hooks (production leaves them empty) ------------------------------------------
  /// Replaces every box: gets the box, returns the answer of a question (true for Yes).
  using box_hook = std::function<bool(const wizard_box&)>;
  static void set_box_hook(box_hook hook);
  /// Replaces the opener of help files and web pages (default: xdg-open on the file or address,
  /// no shell); returns whether it opened.
  using help_opener = std::function<bool(const QString& path)>;
  static void set_help_opener(help_opener opener);
  /// Looks for the help files in this folder instead (empty: the program's places).
  static void set_help_dir(const QString& dir);

  /// The page added after the current one (-1 after the last), or the page its on_next chose.
  int nextId() const override;
  /// Next: the page's on_next (0 goes on, -1 stays, an id is where to go), then on_kill_active.
  bool validateCurrentPage() override;

 protected:
  void cleanupPage(int id) override;
  void accept() override;
  void reject() override;
  void done(int result) override;

 private:
  friend class shell_frame;
  void page_activated(int id);
  void show_finish_page();
  void tick();
  void help_requested();
  void close_with(int status);
  void stop_pages_work() noexcept;
  void apply_log(const std::wstring& text);

  std::wstring m_title;
  int m_icon_id;
  QPixmap m_watermark;  // shown on the pages without a header
  std::vector<int> m_order;
  int m_previous_id = -1;
  int m_one_shot_from = -1;  // on_next of this page chose the next page
  int m_one_shot_to = -1;
  std::atomic<bool> m_initialized{false};
  bool m_closing = false;
  bool m_finishing = false;
  bool m_skipping = false;  // passing over a page that refused activation: it is not asked
  std::atomic<bool> m_timer_running{false};
  QTimer m_timer;
  std::atomic<int> m_forced_status{-1};
  std::optional<unsigned> m_counted_at_run_start;
  std::unique_ptr<frame_services> m_frame;
};

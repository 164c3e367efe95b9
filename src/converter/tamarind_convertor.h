#pragma once
// The converter of both programs: every setting of one conversion (source workbook, destination
// database, connection, worksheet selection, options), the run that converts the workbook
// worksheet by worksheet, and the progress the GUI thread polls while the run goes on.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "dao/dao_database.h"
#include "dao/xls_reader.h"
#include "pgs/pgs_converter_impl.h"
#include "tk/tk_reg_key.h"
#include "tk/tk_singleton.h"

class frame_services;
class pgs_database;
class pgs_recordset;
class udb_database;
class udb_profile;
class udb_recordset;
struct udb_row_error;

/// Which program the converter serves: the wizard keeps its settings in the key store, starts the
/// frame's timer and shows the finish page; the agent does neither and, given no selection,
/// converts every worksheet.
enum class tmd_front_end { agent, wizard };

/// The process-wide converter (one per process, registered as the singleton).
/** Usage by a front end:
      tamarind_convertor conv(tmd_front_end::agent);   // after the error_handler exists
      conv.set_frame(&frame);                           // events and boxes of the run
      conv.load_profile_file(path) / set_src, set_dest, set_mode, set_connection_params ...
      conv.select_worksheets(names);                    // lists the workbook, keeps the names
      conv.connect_pgs_server(); conv.check_dest(); conv.run();
    Progress (get_progress, get_cur_sheet, get_rec_count) may be read from any thread; a stop may
    be requested from any thread (request_stop). */
class tamarind_convertor : public xls_reader, public pgs_converter_impl, public tk_singleton<tamarind_convertor> {
 public:
  static constexpr const char* registry_path = "Software\\Hollowmere\\Tamarind";
  static constexpr const wchar_t* excel_section = L"MS Excel settings";

  /// Registers the instance (a second one is an internal error). The wizard loads the key store.
  explicit tamarind_convertor(tmd_front_end front_end = tmd_front_end::agent);
  /// The wizard stores its settings in the key store (a failure is reported on stderr).
  ~tamarind_convertor() override;

  static tamarind_convertor& instance() { return tk_singleton<tamarind_convertor>::instance(); }

  tmd_front_end front_end() const noexcept { return m_front_end; }
  /// The frame that shows the run's events and boxes; null detaches. Set before a run.
  void set_frame(frame_services* frame) noexcept { m_frame.store(frame); }
  frame_services* get_frame() const noexcept { return m_frame.load(); }

  // ---- settings ------------------------------------------------------------------------
  void set_src(const std::wstring& path) { src = path; }
  void set_dest(const std::wstring& name) { dest = name; }
  bool get_x_fnames() const noexcept { return x_fnames; }
  void set_x_fnames(bool value) noexcept { x_fnames = value; }
  bool get_from_xls() const noexcept { return from_xls.load(); }
  void set_from_xls(bool value) noexcept { from_xls.store(value); }
  const std::wstring& get_tab_name() const noexcept { return tab_name; }
  void set_tab_name(const std::wstring& value) { tab_name = value; }
  int get_n_comma() const noexcept { return n_comma; }
  void set_n_comma(int value) noexcept { n_comma = value; }
  bool get_case_sens() const noexcept { return case_sens; }
  void set_case_sens(bool value) noexcept { case_sens = value; }
  bool get_refine_types() const noexcept { return refine_types; }
  void set_refine_types(bool value) noexcept { refine_types = value; }
  /// In mode 1, the one existing table the run replaces (empty: every table it writes); other
  /// existing tables are left as they are. The wizard's answer about a CSV source's table.
  void set_replace_only(const std::wstring& table) { m_replace_only = table; }
  const std::wstring& get_replace_only() const noexcept { return m_replace_only; }

  /// Always true: the connection is tested when it is made.
  bool test_connection() override;

  // ---- key store and profiles ----------------------------------------------------------
  /// store = false loads the key store (each default first), true stores it. False when the key
  /// cannot be opened (nothing read or written then) or when any value failed.
  bool serialize(bool store);
  /// Writes the generic, "pgs settings" and "MS Excel settings" sections. False, or the profile's
  /// exception, when a section cannot be written.
  bool store_options(udb_profile& profile);
  /// Reads the three sections; with `list_sheets` it then lists the source workbook and selects the
  /// profile's tables (select_worksheets). False when a section or the listing fails; throws what
  /// the sections and the selection throw (an invalid mode or port, none of the tables found).
  bool load_options(udb_profile& profile, bool list_sheets = true);
  /// False, writing nothing, when the settings cannot be stored; else the profile's store result.
  bool save_profile_file(const std::wstring& path);
  /// False when the file does not load; else load_options' result. When it gives false or
  /// throws, every setting is as it was before the call (a half-loaded profile would otherwise
  /// reach the key store, or the next run).
  bool load_profile_file(const std::wstring& path, bool list_sheets = true);
  /// How many profiles have loaded (successfully) into these settings.
  unsigned profile_loads() const noexcept { return m_profile_loads; }

  // ---- worksheet selection -------------------------------------------------------------
  /// Keeps only the named worksheets (see xls_reader) and remembers whether names were given, so a
  /// run never mistakes a selection that matched nothing for no selection.
  std::vector<std::wstring> set_sel_sheets(const std::vector<std::wstring>& names);
  /// Lists the source workbook and selects `names` (an empty list selects none: the agent's run
  /// then takes every worksheet). Each missing name is reported through the frame and counted as
  /// a reported error. False when the workbook's kind is unknown or no engine can read it; throws
  /// the engine's errors, and tk_exception level 0 "None of the selected worksheets exists in the
  /// workbook." when names were given and none exists.
  bool select_worksheets(const std::vector<std::wstring>& names);
  bool selection_requested() const noexcept { return m_selection_requested; }
  /// True after a profile that names no worksheet was loaded, until a selection is made: such a
  /// profile converts every worksheet.
  bool every_worksheet_by_profile() const noexcept { return m_every_worksheet && !m_selection_requested; }
  /// The wizard's user removed every worksheet and confirmed: the run converts nothing and leaves
  /// the destination untouched. Undone by the next set_sel_sheets.
  void choose_no_worksheet();
  bool no_worksheet_chosen() const noexcept { return m_nothing_chosen; }

  // ---- the run -------------------------------------------------------------------------
  /// The run: reports what fails and never lets a conversion error escape. Only the program's exit
  /// signal (an internal error) passes through.
  void run() override;
  void operator()() { run(); }
  /// The worksheet loop. Throws what ends the run.
  void convert_from_xls();
  /// Copies the records of one worksheet; a record the destination refuses is reported and skipped.
  void convert_step(udb_recordset* source, udb_recordset* destination, udb_database* database);
  /// Opens the destination database (created when missing); the caller owns it.
  std::unique_ptr<pgs_database> get_dest_base();
  /// Opens the destination database when it exists (null otherwise), changing nothing there.
  std::unique_ptr<pgs_database> open_existing_dest();
  /// Decides the destination's fate before a run: in mode 0 an existing database will be dropped.
  /** The drop itself happens in the run, once the workbook has been opened and its worksheets are
      known, so a source that cannot be read leaves the destination as it was. Throws what the
      server reports. */
  void check_dest();
  bool is_drop_pending() const noexcept { return m_drop_pending.load(); }
  /// Percentage of worksheets done (0 without worksheets). The wizard's first call that sees the
  /// run finished stops the frame's timer and shows the finish page.
  int get_progress();

  /// Asks the run to stop: checked before each worksheet and between records. The worksheet under
  /// way then ends its COPY and commits the rows sent, which is never cancelled; in mode 1 it is
  /// rolled back instead and keeps the table it was to replace. A statement that blocks (DDL, a
  /// drop) is cancelled on the server, and so is any other wait on the server the run is still in
  /// half a second later (a lock another session holds): its worksheet is rolled back. Either way
  /// the worksheet is reported as stopped, with the rows it kept, and the stop counts as a
  /// reported error. Any thread.
  void request_stop() override;

  int get_rec_count() const noexcept { return rec_count.load(); }
  int get_sheets_total() const noexcept { return sheets_total.load(); }
  int get_sheets_done() const noexcept { return sheets_done.load(); }

 protected:
  tk_reg_key reg_key;
  int n_comma = 1;
  std::atomic<bool> from_xls{true};
  std::wstring tab_name;
  bool x_fnames = true;
  bool case_sens = true;
  bool refine_types = true;

 private:
  friend class tmd_blocking_section;
  friend class tmd_completing_section;

  /// Every setting a profile load may change, as one list: copied before a load and assigned back
  /// when the load fails (the stop-safe flag from_xls is kept apart).
  auto settings() {
    return std::tie(src, dest, logfile, mode, sel_tables, selected, available_queries, only_definitions, skip_indexes,
                    worksheets, m_selection_requested, m_every_worksheet, m_nothing_chosen, host, user, password, port,
                    schema, x_fnames, refine_types);
  }

  /// Reports one refused row with its record number; throws what the error handler throws (an
  /// Abort ends the run).
  void report_row_error(const udb_row_error& row);
  void report_row_errors(udb_recordset& recordset);
  void report_missing(const std::vector<std::wstring>& names);
  /// Lists the open workbook and applies the selection again (or takes every worksheet).
  void prepare_worksheets(dao_database& workbook);
  /// Types every worksheet to convert, several at once, before anything is written. Tells, in map
  /// order, which of them are known to have failed their pass: all of them once every pass has
  /// ended; outside mode 0, where no question can be asked, `meanwhile` runs while the passes go
  /// on (it must not throw) and only the first readable one is waited for.
  std::vector<bool> type_worksheets(dao_database& workbook, const std::function<void()>& meanwhile);
  /// Reports each worksheet known to have failed its typing pass (an Abort ends the run there);
  /// one that opens after all is no longer marked failed.
  void report_unreadable(dao_database& workbook, std::vector<bool>& failed);
  /// Reports each selected query as not converted.
  void report_queries();
  /// Converts one worksheet; `destination` is null only when no worksheet could be read.
  void convert_worksheet(pgs_database* destination, dao_database& workbook, const std::wstring& sheet,
                         const sheet_ref& source_sheet);
  void throw_if_stopped() const;
  /// Ends the rows of the worksheet under way at a stop: committed (never cancelled) or, in mode 1,
  /// rolled back. Sets m_rows_kept_at_stop.
  void end_stopped_worksheet(pgs_recordset& rows, bool intact);
  /// Ends the rows of a worksheet the user aborted at a record: those before it are committed;
  /// when they cannot be, the user is told that the worksheet kept none.
  void end_aborted_worksheet(const std::wstring& sheet, pgs_recordset& rows);
  /// Tells which worksheet a stop ended and what it kept.
  void report_stopped_worksheet(const std::wstring& sheet);
  /// Tells that the run ended on a stop request; counted as a reported error.
  void report_stop();
  /// A line of the run's own, in the log and where the frame shows the run's progress.
  void tell_line(const std::string& line);
  /// After a stop: cancels, every short while, the server statement a run that has not ended yet
  /// waits on. Runs on a thread of its own until the run ends.
  void watch_stop() noexcept;
  /// Marks the run ended and joins the watch.
  void end_stop_watch();
  /// Whether mode 1 replaces this existing table ("schema.table" as the server names it).
  bool replaces(pgs_database& destination, const std::string& table_key) const;
  frame_services* required_frame(int line) const;
  /// Whether the run's progress lines are shown (the agent's silent option hides them).
  bool shows_progress() const noexcept { return !silent.load(); }

  const tmd_front_end m_front_end;
  std::atomic<frame_services*> m_frame{nullptr};
  bool m_selection_requested = false;
  bool m_every_worksheet = false;
  bool m_nothing_chosen = false;
  std::wstring m_replace_only;
  unsigned m_profile_loads = 0;
  std::atomic<bool> m_drop_pending{false};
  std::atomic<bool> m_finish_page_shown{false};
  /// Guards the decision to cancel a server statement against the run entering or leaving one.
  std::mutex m_stop_mutex;
  bool m_blocking = false;
  bool m_completing = false;  // the rows of a stopped worksheet are being committed: no cancel
  std::size_t m_rows_kept_at_stop = 0;
  bool m_running = false;  // a run is under way (under m_stop_mutex)
  std::condition_variable m_run_ended;
  std::thread m_stop_watch;
  /// Tables written by this run, as the server names them ("schema.table").
  std::set<std::string> m_written_tables;
  dao_fkey_error_reporter m_previous_fkey_reporter;
};

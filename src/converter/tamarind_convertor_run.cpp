// The conversion run: the bracket, the destination, the worksheet loop and the progress.
#include <algorithm>
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <system_error>
#include <thread>

#include "converter/error_handler.h"
#include "converter/frame_services.h"
#include "converter/init_conversion.h"
#include "converter/tamarind_convertor.h"
#include "dao/dao_database.h"
#include "dao/dao_engine.h"
#include "pgs/pgs_database.h"
#include "pgs/pgs_engine.h"
#include "pgs/pgs_recordset.h"
#include "pgs/pgs_sql_text.h"
#include "tk/tk_format.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_string.h"
#include "udb/udb_recordset.h"

/// A server statement that may block for long: a stop request cancels it on the server. Entering
/// one after a stop request ends the run instead.
class tmd_blocking_section {
 public:
  explicit tmd_blocking_section(tamarind_convertor& owner) : owner(owner) {
    std::lock_guard lock(owner.m_stop_mutex);
    if (owner.stop_requested()) throw tk_final_exception();
    owner.m_blocking = true;
  }
  ~tmd_blocking_section() {
    std::lock_guard lock(owner.m_stop_mutex);
    owner.m_blocking = false;
  }
  tmd_blocking_section(const tmd_blocking_section&) = delete;
  tmd_blocking_section& operator=(const tmd_blocking_section&) = delete;

 private:
  tamarind_convertor& owner;
};

/// The end of a COPY and the commit that keep the rows of a worksheet a stop ended: cancelling them
/// would roll back what the user was told stays, so the stop's watch leaves them alone.
class tmd_completing_section {
 public:
  explicit tmd_completing_section(tamarind_convertor& owner) : owner(owner) {
    std::lock_guard lock(owner.m_stop_mutex);
    owner.m_completing = true;
  }
  ~tmd_completing_section() {
    std::lock_guard lock(owner.m_stop_mutex);
    owner.m_completing = false;
  }
  tmd_completing_section(const tmd_completing_section&) = delete;
  tmd_completing_section& operator=(const tmd_completing_section&) = delete;

 private:
  tamarind_convertor& owner;
};

namespace {

error_handler& handler() { return error_handler::instance(); }

/// The destination's open flag for a table that exists already: its rows are kept and the
/// worksheet's columns are paired with its columns by name.
constexpr int merge_open_flags = 8;

/// How long a stop waits for the run to see it before the statement the run waits on is cancelled.
constexpr std::chrono::milliseconds stop_grace(500);

const char* const stopped_text = "The conversion was stopped by the user.";
const char* const sheet_stopped_kept_text = "%s: the conversion was stopped in this worksheet; %d of its rows were stored.";
const char* const sheet_stopped_none_text =
    "%s: the conversion was stopped in this worksheet; none of its rows were stored and its table was left as it "
    "was.";
const char* const aborted_none_kept_text =
    "The rows before the refused record could not be stored: this worksheet kept none of its rows.";
const char* const no_worksheet_text = "There is no worksheet to convert.";
const char* const query_not_converted_text = "Query '%s' was not converted: only worksheets are converted.";
const char* const no_readable_worksheet_text =
    "None of the worksheets to convert can be read; the destination was left as it was.";

}  // namespace

void tamarind_convertor::request_stop() {
  tk_log(2, "tamarind_convertor::request_stop");
  std::lock_guard lock(m_stop_mutex);
  tk_thread_functor::request_stop();
  // Rows already streamed are committed when the stream ends; only a statement that keeps the run
  // waiting is interrupted.
  if (m_blocking) engine.cancel();
  // Between records the run sees the stop at once. A run that waits on the server instead (a lock
  // taken by another session at the start of a COPY, at a segment's end, in a replay) would not
  // see it while the wait lasts: a watch cancels what the run still waits on after a short grace.
  if (m_running && !m_stop_watch.joinable()) {
    try {
      m_stop_watch = std::thread([this] { watch_stop(); });
    } catch (const std::system_error&) {
      tk_log(3, "The stop cannot be watched: only statements that block are cancelled");
    }
  }
}

void tamarind_convertor::watch_stop() noexcept {
  std::unique_lock lock(m_stop_mutex);
  while (!m_run_ended.wait_for(lock, stop_grace, [this] { return !m_running; })) {
    if (m_completing) continue;
    tk_log(2, "The run has not stopped yet: the statement it waits on is cancelled");
    engine.cancel();
  }
}

void tamarind_convertor::end_stop_watch() {
  std::thread watch;
  {
    std::lock_guard lock(m_stop_mutex);
    m_running = false;
    watch = std::move(m_stop_watch);
  }
  m_run_ended.notify_all();
  if (watch.joinable()) watch.join();
}

void tamarind_convertor::tell_line(const std::string& line) {
  tk_log(3, "%s", line);
  if (frame_services* frame = m_frame.load();
      frame && (m_front_end == tmd_front_end::wizard || shows_progress()))
    frame->write_log(tk_utf8_to_unicode(line + "\n"));
}

void tamarind_convertor::report_stopped_worksheet(const std::wstring& sheet) {
  const std::size_t kept = m_rows_kept_at_stop;
  tell_line(kept ? tk_format(sheet_stopped_kept_text, sheet, static_cast<long long>(kept))
                 : tk_format(sheet_stopped_none_text, sheet));
}

void tamarind_convertor::report_stop() {
  // The worksheet under way was told already; no later one was begun. The run did not do all it
  // was asked: it counts as an error, so that the run's status says so.
  tell_line(stopped_text);
  if (error_handler* h = error_handler::instance_ptr()) h->count_reported_error(tk_level_recoverable);
}

bool tamarind_convertor::replaces(pgs_database& destination, const std::string& table_key) const {
  if (m_replace_only.empty()) return true;
  const auto [schema, table] = destination.split_name(m_replace_only);
  const std::wstring schema_name = schema.empty() ? std::wstring(L"public") : schema;
  return table_key == engine.object_name(schema_name) + "." + engine.object_name(table);
}

void tamarind_convertor::throw_if_stopped() const {
  if (stop_requested()) throw tk_final_exception();
}

frame_services* tamarind_convertor::required_frame(int line) const {
  frame_services* frame = m_frame.load();
  if (!frame) TK_ASSERT_SITE("..\\TK/tk_singl", line);
  return frame;
}

// ---- the run -----------------------------------------------------------------------------

void tamarind_convertor::run() {
  tk_log(2, "tamarind_converter::operator()");
  const bool wizard = m_front_end == tmd_front_end::wizard;
  {
    std::lock_guard lock(m_stop_mutex);
    m_running = true;
  }
  // However the run ends, a watch started by a stop request ends with it.
  struct stop_watch_end {
    tamarind_convertor& owner;
    ~stop_watch_end() { owner.end_stop_watch(); }
  } stop_watch_guard{*this};
  {
    init_conversion bracket(&finished, 1, wizard ? required_frame(59) : nullptr);
    try {
      convert_from_xls();
    } catch (const tk_final_exception&) {
      // Reported already, or a stop the user asked for.
      if (stop_requested()) report_stop();
    } catch (const tk_exception& e) {
      // A statement cancelled by a stop request fails; that is no error to report.
      if (stop_requested())
        report_stop();
      else
        handler().handle(e, true);
    } catch (const std::exception& e) {
      tk_log(3, "ERROR:\n%s", e.what());
      if (error_handler* h = error_handler::instance_ptr()) h->count_reported_error(tk_level_recoverable);
      frame_services* frame = m_frame.load();
      if (wizard || shows_progress()) {
        if (frame) {
          frame->error(std::string(e.what()));
        } else {
          std::fprintf(stderr, "%s\n", e.what());
          std::fflush(stderr);
        }
      }
    }
  }
  if (frame_services* frame = m_frame.load()) frame->run_finished();
}

// ---- destination -------------------------------------------------------------------------

void tamarind_convertor::check_dest() {
  tk_log(1, "tamarind_convertor::check_dest(%s)", dest);
  m_drop_pending.store(mode == 0 && engine.is_db_exist(dest));
}

std::unique_ptr<pgs_database> tamarind_convertor::open_existing_dest() {
  if (!engine.is_db_exist(dest)) return nullptr;
  return engine.open_db(dest, 40, L"");
}

std::unique_ptr<pgs_database> tamarind_convertor::get_dest_base() {
  tk_log(1, "tamarind_convertor::get_dest_base(mode=%d)", mode);
  if (engine.is_db_exist(dest)) return engine.open_db(dest, mode != 0 ? 40 : 36, L"");
  return engine.create_db(dest);
}

// ---- the worksheet loop ----------------------------------------------------------------------

namespace {

/// Refuses, before anything is created for it, a worksheet whose name gives an empty table name
/// (an empty name, "trail.") or names one of the server's own schemas ("information_schema.x").
void check_destination_name(const std::wstring& sheet, int position, const std::string& server_schema,
                            const std::wstring& table) {
  if (table.empty())
    throw tk_exception(tk_format("Worksheet #%d is named '%s', which gives no table name.", position + 1, sheet),
                       tk_level_recoverable);
  if (pgs_is_system_schema(server_schema))
    throw tk_exception(
        tk_format("Schema '%s' belongs to the server's system: no worksheet is converted into it.", server_schema),
        tk_level_recoverable);
}

}  // namespace

void tamarind_convertor::prepare_worksheets(dao_database& workbook) {
  // The selection was made on an earlier listing; the workbook may have changed since.
  std::vector<std::wstring> chosen;
  for (const auto& entry : worksheets) chosen.push_back(entry.first);
  const bool requested = m_selection_requested || !chosen.empty();
  std::vector<std::wstring> listed;
  get_all_sheets(workbook, listed);
  if (requested) {
    report_missing(set_sel_sheets(chosen));
    if (worksheets.empty())
      throw tk_exception("None of the selected worksheets exists in the workbook.", tk_level_recoverable);
  } else {
    // No selection: every worksheet (a profile naming none, the agent without a list).
    set_sel_sheets(listed);
    m_selection_requested = false;
  }
}

void tamarind_convertor::report_queries() {
  // Only worksheets become tables: a selected query is told as not converted, never passed over.
  for (const auto& [name, text] : selected) {
    if (text.empty()) continue;
    handler().set_context(std::wstring());
    handler().tell(tk_exception(tk_format(query_not_converted_text, name), tk_level_recoverable));
  }
}

void tamarind_convertor::convert_from_xls() {
  tk_log(2, "tamarind_convertor::convert_from_xls(src=%s, dest=%s)", src, dest);
  dao_engine dao(0);
  if (!dao.set_version_if(3) && !dao.set_version_if(0))
    throw tk_exception(
        L"Failed to load Data Access Objects (DAO) support library.\r\nPlease reinstall the application to "
        L"repair it.\r\n",
        tk_level_error);
  // The destination is touched only once the workbook is open and at least one selected worksheet
  // has been read whole: a workbook whose sheets are all damaged leaves it as it was.
  std::unique_ptr<dao_database> workbook = open_xls(dao, src, x_fnames);
  report_queries();
  if (m_nothing_chosen) {
    // The user chose to convert nothing: the destination stays as it is, even a pending drop.
    tk_log(3, "No worksheet was chosen: nothing is converted");
    m_drop_pending.store(false);
    return;
  }
  prepare_worksheets(*workbook);
  if (worksheets.empty()) throw tk_exception(no_worksheet_text, tk_level_recoverable);
  throw_if_stopped();
  // Outside mode 0 an existing destination database is connected to while the worksheets are
  // typed: connecting and listing its tables change nothing there. A failure is told once the
  // typing has proved the workbook readable, where it came before.
  std::unique_ptr<pgs_database> destination;
  std::exception_ptr opening_failure;
  std::vector<bool> failed = type_worksheets(*workbook, [&] {
    try {
      tmd_blocking_section section(*this);
      destination = open_existing_dest();
    } catch (...) {
      opening_failure = std::current_exception();
    }
  });
  // Told before the destination is touched: an Abort at a worksheet's question leaves it as it was.
  report_unreadable(*workbook, failed);
  const bool any_readable = std::find(failed.begin(), failed.end(), false) != failed.end();
  if (!any_readable || mode == 0) destination.reset();
  if (any_readable) {
    if (opening_failure) std::rethrow_exception(opening_failure);
    tmd_blocking_section section(*this);
    // The mode may have changed since check_dest: only mode 0 replaces the database.
    if (m_drop_pending.exchange(false) && mode == 0) engine.delete_db(dest);
    if (!destination) destination = get_dest_base();
  }
  tk_log(1, "After initializing DBs");
  sheets_total.store(static_cast<int>(worksheets.size()));
  if (any_readable) {
    tk_log(3, "Converting spreadsheet %s (%d worksheets)", src, sheets_total.load());
    if (frame_services* frame = m_frame.load(); frame && shows_progress())
      frame->spreadsheet_started(src, sheets_total.load());
  }

  // A worksheet whose typing pass is still under way is reported in its place if it fails.
  std::size_t position = 0;
  for (const auto& [sheet, source_sheet] : worksheets) {
    throw_if_stopped();
    if (!failed[position++]) {
      m_rows_kept_at_stop = 0;
      try {
        convert_worksheet(destination.get(), *workbook, sheet, source_sheet);
      } catch (const tk_final_exception&) {
        if (stop_requested()) report_stopped_worksheet(sheet);
        throw;
      } catch (const tk_exception& e) {
        if (stop_requested()) {
          report_stopped_worksheet(sheet);
          throw tk_final_exception();
        }
        handler().set_context(get_cur_sheet());
        handler().handle(e, false);
      }
    }
    sheets_done.fetch_add(1);
  }
  destination.reset();
  workbook.reset();
  if (!any_readable) {
    handler().set_context(std::wstring());
    throw tk_exception(no_readable_worksheet_text, tk_level_recoverable);
  }
}

std::vector<bool> tamarind_convertor::type_worksheets(dao_database& workbook,
                                                      const std::function<void()>& meanwhile) {
  std::vector<int> positions;
  for (const auto& entry : worksheets) positions.push_back(entry.second.position);
  // Replacing the database, or a run that may ask about a worksheet that cannot be read, waits
  // for every worksheet's pass: that question comes before the destination is touched. Otherwise
  // a worksheet's table is touched only once its own pass has ended (opening it waits for that),
  // so the passes of later worksheets go on while the first ones are written.
  if (mode == 0 || m_drop_pending.load() || handler().asks_to_continue()) {
    std::vector<bool> readable = workbook.type_tables(positions);
    readable.resize(positions.size(), true);
    readable.flip();
    return readable;
  }
  const bool any_readable = workbook.type_tables_until_readable(positions, meanwhile);
  return std::vector<bool>(positions.size(), !any_readable);
}

void tamarind_convertor::report_unreadable(dao_database& workbook, std::vector<bool>& failed) {
  std::size_t position = 0;
  for (const auto& [sheet, source_sheet] : worksheets) {
    if (!failed[position++]) continue;
    throw_if_stopped();
    try {
      // Opening a worksheet whose pass failed gives that failure again.
      workbook.get_table_at(source_sheet.position, 1);
      failed[position - 1] = false;  // readable after all: converted in its turn
    } catch (const tk_exception& e) {
      if (stop_requested()) throw tk_final_exception();
      handler().set_context(sheet);
      handler().handle(e, false);
    }
  }
  handler().set_context(std::wstring());
}

void tamarind_convertor::convert_worksheet(pgs_database* open_destination, dao_database& workbook,
                                           const std::wstring& sheet, const sheet_ref& source_sheet) {
  set_cur_sheet(sheet);
  // A report of this worksheet must never carry the previous one's name.
  handler().set_context(std::wstring());
  // By its position: another worksheet may bear the same name, or the same but for case.
  std::unique_ptr<udb_recordset> source = workbook.get_table_at(source_sheet.position, 1);
  if (!source) TK_ASSERT_SITE("tmd_conv", 329);
  // Without a destination no worksheet was readable: opening this one has failed above.
  if (!open_destination) throw tk_exception(tk_level_error);
  pgs_database& destination = *open_destination;
  const auto [schema, table] = destination.split_name(sheet);
  const std::wstring schema_name = schema.empty() ? std::wstring(L"public") : schema;
  check_destination_name(sheet, source_sheet.position, engine.object_name(schema_name), table);
  if (!schema.empty()) {
    const std::string line = tk_format("Creating schema if necessary: '%s'\n", schema_name);
    tk_log(3, "%s", line);
    if (m_front_end == tmd_front_end::wizard || (m_frame.load() && shows_progress()))
      required_frame(66)->write_log(tk_utf8_to_unicode(line));
    tmd_blocking_section section(*this);
    destination.create_schema(schema_name);
  }
  const std::wstring table_name = pgs_database::make_safe_tname(table, schema_name);
  tk_log(2, "Got full table name: '%s'", table_name);

  // Names as the server holds them, made by the same function that creates the tables.
  const std::string written_key = engine.object_name(schema_name) + "." + engine.object_name(table);
  const bool written_before = m_written_tables.count(written_key) != 0;
  const bool exists = destination.is_table_exist(table_name);
  if (exists) {
    if (written_before && mode != 3)
      throw tk_exception("Table '%s' was already written by this conversion", table_name, tk_level_recoverable);
    if (mode == 2 || (mode == 1 && !replaces(destination, written_key))) return;
    if (mode == 0)
      throw tk_exception("Table '%s' already exists", table_name, tk_level_recoverable);
  }
  std::unique_ptr<udb_recordset> target;
  {
    tmd_blocking_section section(*this);
    // Merging opens the existing table whatever flags the database was opened with: a database
    // this run created has only the create flags, yet may hold a table an earlier worksheet made.
    if (exists && mode == 3)
      target = destination.get_table(table_name, merge_open_flags);
    else
      target = destination.create_table_with_rows(table_name, source->schema, exists && mode == 1);
  }
  m_written_tables.insert(written_key);
  auto* rows = dynamic_cast<pgs_recordset*>(target.get());
  if (!rows) TK_ASSERT_SITE("tmd_conv", 329);
  try {
    convert_step(source.get(), target.get(), &destination);
    if (mode == 1) {
      // A stop from here on rolls the worksheet back, as it would a moment before.
      tmd_blocking_section section(*this);
      target->finish();
    } else {
      tmd_completing_section section(*this);
      target->finish();
    }
    report_row_errors(*target);
  } catch (const tk_final_exception&) {
    // Between records (the stop's check, or the user's Abort at a refused record): the stream is
    // whole.
    if (stop_requested())
      end_stopped_worksheet(*rows, true);
    else
      end_aborted_worksheet(sheet, *rows);
    throw;
  } catch (const tk_exception& e) {
    if (stop_requested()) {
      // A wait the stop cancelled: what the worksheet had sent is rolled back already.
      end_stopped_worksheet(*rows, false);
      throw;
    }
    // Rows already sent stay committed, and every row the server refused is told before the
    // worksheet's own error.
    std::unique_ptr<tk_exception> end_failure;
    try {
      target->finish();
    } catch (const tk_exception& failure) {
      end_failure = std::make_unique<tk_exception>(failure);
    }
    report_row_errors(*target);
    target.reset();
    if (end_failure) {
      handler().set_context(sheet);
      handler().handle(*end_failure, false);
    }
    throw;
  }
  target.reset();
  source.reset();
}

void tamarind_convertor::end_stopped_worksheet(pgs_recordset& rows, bool intact) {
  m_rows_kept_at_stop = 0;
  if (mode == 1 || !intact) {
    rows.abandon();
    return;
  }
  const std::wstring sheet = get_cur_sheet();
  {
    tmd_completing_section section(*this);
    try {
      rows.finish();
    } catch (const tk_exception& e) {
      handler().set_context(sheet);
      handler().tell(e);
    }
  }
  // A refusal found at the end is told; an answer given to it cannot undo rows stored already.
  report_row_errors(rows);
  if (rows.rows_committed()) m_rows_kept_at_stop = rows.stored_rows();
}

void tamarind_convertor::end_aborted_worksheet(const std::wstring& sheet, pgs_recordset& rows) {
  std::string reason;
  try {
    rows.finish();
  } catch (const tk_exception& e) {
    reason = e.message();
  }
  if (rows.rows_committed()) return;
  handler().set_context(sheet);
  handler().tell(reason.empty() ? tk_exception(std::string(aborted_none_kept_text), tk_level_recoverable)
                                : tk_exception(std::string(aborted_none_kept_text) + "\n" + reason,
                                               tk_level_recoverable));
}

// ---- progress ----------------------------------------------------------------------------

int tamarind_convertor::get_progress() {
  int result = 100;
  const bool done = finished.load();
  if (from_xls.load() || done) {
    const unsigned total = static_cast<unsigned>(sheets_total.load());
    result = total == 0 ? 0 : static_cast<int>(static_cast<unsigned>(sheets_done.load()) * 100u / total);
  }
  if (done && m_front_end == tmd_front_end::wizard && !m_finish_page_shown.exchange(true)) {
    frame_services* frame = required_frame(59);
    frame->stop_timer();
    frame->show_finish_page();
  }
  return result;
}

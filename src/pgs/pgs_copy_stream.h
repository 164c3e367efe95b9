#pragma once
// Rows of one table sent by COPY ... FROM STDIN in one transaction, with refused rows set aside.
//
// The lines go out as one COPY per segment (a few megabytes), each inside the savepoint
// tmd_segment, and are also kept in a spool file. A clean load therefore costs one COPY statement
// per segment. When the server refuses a segment because of a row's fault (pgs_is_row_error), the
// segment is rolled back to its savepoint and replayed from the spool (pgs_copy_replay): the lines
// the server takes are stored, each line it refuses becomes a row error, in line order.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pgs/pgs_copy_spool.h"
#include "udb/udb_row_error.h"

namespace pqxx {
class connection_base;
class dbtransaction;
}  // namespace pqxx

class pgs_copy_wire;
struct pgs_server_error;

/// The default segment size: large enough that closing a segment is rare, small enough that a
/// refused row costs little to replay.
inline constexpr std::size_t pgs_copy_default_segment_bytes = std::size_t(8) << 20;

/// What runs in a stream's transaction before its first COPY (the creation of the table the rows
/// go to). `run`, when set, runs first; what it throws ends the stream as a failure does.
/// `statements` (`statement_count` of them) then go to the server in the round trip that starts
/// the first COPY; when one of them fails, the stream ends with `failure_text` of the server's
/// message.
struct pgs_copy_prologue {
  std::function<void(pqxx::dbtransaction&)> run;
  std::string statements;
  std::size_t statement_count = 0;
  std::function<std::string(const std::string&)> failure_text;
};

class pgs_copy_stream {
 public:
  /// Takes each refused row as soon as it is known, in record order. It may throw to end the
  /// writing at that row: the rows before it are committed, the rows after it are not written,
  /// and the exception goes on to the caller of write() or finish().
  using refusal_sink = std::function<void(const udb_row_error&)>;
  using prologue = pgs_copy_prologue;

  /// Begins the transaction "fast_append" (and runs `first`, when given, in it). `table` is the
  /// quoted table name, `columns` the quoted column list (empty: every column in table order),
  /// `relation` the table's name as the server prints it in its errors. A failure is a level-0
  /// tk_exception.
  pgs_copy_stream(pqxx::connection_base& connection, std::string table, std::vector<std::string> columns,
                  std::string relation, std::size_t segment_bytes = pgs_copy_default_segment_bytes,
                  prologue first = {});
  /// Rolls back whatever finish() did not commit. Never throws.
  ~pgs_copy_stream();
  pgs_copy_stream(const pgs_copy_stream&) = delete;
  pgs_copy_stream& operator=(const pgs_copy_stream&) = delete;

  /// Without a sink, refused rows are collected for take_row_errors().
  void set_refusal_sink(refusal_sink sink) { on_refused = std::move(sink); }

  /// Sends one line (no line end) of the given record. A failure that ends the stream is a level-0
  /// tk_exception; refused rows go to the sink or are collected, never thrown. After the sink ended
  /// the writing, a write is a level-0 tk_exception.
  void write(const std::string& line, int record_number);
  /// Ends the segment under way (with its replay), so that every refused row among the lines
  /// written so far is told before something is told of the next line. Refusals go as in write().
  void settle();
  /// Ends the last segment (with its replay) and commits. A failure is a level-0 tk_exception; after
  /// it, and after a broken stream, nothing is committed. Does nothing a second time.
  void finish();
  /// The refused rows collected so far (without a sink), handed over once.
  std::vector<udb_row_error> take_row_errors();

  bool is_broken() const { return broken; }
  /// Whether the rows were committed (by finish(), or before the row at which the sink ended the
  /// writing); false after a failure, which rolled every row back.
  bool is_committed() const { return finished; }
  /// Lines written but not refused: the rows a commit stored, when the sink did not end the writing.
  std::size_t lines_taken() const { return lines_written - lines_refused; }

 private:
  void open_segment();
  /// Hands the gathered lines to the server.
  void send_pending();
  void end_segment();
  void replay_segment();
  void report(std::size_t line, const std::string& message);
  /// Sends the statements owed and commits; a failure breaks the stream.
  void commit();
  /// Commits what is stored once the sink ended the writing; never throws (the sink's exception
  /// is under way).
  void commit_after_stop() noexcept;
  void release() noexcept;
  /// Breaks the stream. Takes its text by value: the text may be the wire's, which goes first.
  [[noreturn]] void fail(std::string text);
  [[noreturn]] void fail_with_current_exception();

  pqxx::connection_base& connection;
  std::string copy_sql;
  std::string dense_setup;
  std::string deferred_setup;
  std::string relation;
  std::size_t segment_bytes;
  pgs_copy_spool spool;
  std::unique_ptr<pqxx::dbtransaction> transaction;
  std::unique_ptr<pgs_copy_wire> wire;
  std::string pending;  // whole lines, each ended by a line feed, not yet sent
  std::size_t batch_bytes = 0;  // pending's size that sends it
  std::string owed;     // statements to send before the next one (the end of a savepoint)
  prologue leading;     // sent with the first segment's COPY, then cleared
  refusal_sink on_refused;
  std::vector<udb_row_error> errors;
  bool copying = false;     // a segment's COPY waits for data
  bool deferred_asked = false;     // the table's constraints checked at commit were asked for
  bool checked_at_commit = false;  // some are: they are checked before the commit, by name
  bool sink_ended = false;  // the sink threw: the writing ended at a refused row
  bool broken = false;
  bool finished = false;
  std::size_t lines_written = 0;
  std::size_t lines_refused = 0;
};

/// The line a COPY error names, from the error's context field alone (one entry a line, innermost
/// first): its first entry "COPY <relation>, line N", or 0. `detail` receives the rest of that entry
/// (", column c: \"value\"" or ": \"line\""), which runs to the context's end: COPY's entry is the
/// outermost one, and a value it quotes may hold line breaks.
std::size_t pgs_copy_error_line(const std::string& context, const std::string& relation, std::string* detail = nullptr);

/// A row error's text from the server's fields (severity, primary text, DETAIL, HINT, laid out as
/// libpq lays them out), without the context: its line number counts within one replay COPY and
/// would mislead. The column of a refused value follows (see pgs_copy_with_column).
std::string pgs_copy_error_text(const pgs_server_error& error, const std::string& detail);

/// `text` with the column a value was refused for after it, when `detail` (as pgs_copy_error_line
/// gives it) names one.
std::string pgs_copy_with_column(std::string text, const std::string& detail);

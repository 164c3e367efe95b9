#pragma once
// Rows of one table sent by COPY ... FROM STDIN in one transaction, with refused rows set aside.
//
// The lines go out as one COPY per segment (a few megabytes), each inside a savepoint, and are also
// kept in a spool file. A clean load therefore costs one stream plus a handful of savepoints. When
// the server refuses a segment because of a row's data (SQLSTATE classes 22, 23, 54), the segment is
// rolled back to its savepoint and replayed from the spool: the line the server names in its error
// ("COPY <table>, line N") becomes a row error, the lines before it land in one COPY, and the lines
// after it follow in growing runs. When the error names no line, the refused run is halved.
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
class subtransaction;
class tablewriter;
class sql_error;
}  // namespace pqxx

/// The default segment size: large enough that closing a segment is rare, small enough that a
/// refused row costs little to replay.
inline constexpr std::size_t pgs_copy_default_segment_bytes = std::size_t(8) << 20;

class pgs_copy_stream {
 public:
  /// Statements run in the stream's transaction before its first COPY (the creation of the table
  /// the rows go to); what they throw ends the stream as a failure does.
  using prologue = std::function<void(pqxx::dbtransaction&)>;

  /// Begins the transaction "fast_append" (and runs `first`, when given, in it). `table` is the
  /// quoted table name, `columns` the quoted column list (empty: every column in table order),
  /// `relation` the table's name as the server prints it in its errors. A failure is a level-0
  /// tk_exception.
  pgs_copy_stream(pqxx::connection_base& connection, std::string table, std::vector<std::string> columns,
                  std::string relation, std::size_t segment_bytes = pgs_copy_default_segment_bytes,
                  const prologue& first = {});
  /// Rolls back whatever finish() did not commit. Never throws.
  ~pgs_copy_stream();
  pgs_copy_stream(const pgs_copy_stream&) = delete;
  pgs_copy_stream& operator=(const pgs_copy_stream&) = delete;

  /// Sends one line (no line end) of the given record. A failure that ends the stream is a level-0
  /// tk_exception; refused rows are collected, never thrown.
  void write(const std::string& line, int record_number);
  /// Ends the last segment (with its replay) and commits. A failure is a level-0 tk_exception; after
  /// it, and after a broken stream, nothing is committed.
  void finish();
  /// The refused rows so far, handed over once.
  std::vector<udb_row_error> take_row_errors();

  bool is_broken() const { return broken; }
  /// COPY statements sent so far (for tests and measurement).
  int copy_statements() const { return statements; }

 private:
  struct refusal;
  void open_segment();
  /// Hands the gathered lines to the table writer.
  void send_pending();
  void end_segment();
  /// Sends spool lines [first, last) in a savepoint of their own; true when they are stored.
  bool copy_range(std::size_t first, std::size_t last, refusal& why);
  void store(std::size_t first, std::size_t last, std::size_t chunk);
  void settle(std::size_t first, std::size_t last, const refusal& why);
  void report(std::size_t line, const refusal& why);
  void release() noexcept;
  [[noreturn]] void fail(const std::string& text);
  refusal classify(const pqxx::sql_error& error) const;
  std::string copy_statement_table() const;

  pqxx::connection_base& connection;
  std::string table;
  std::vector<std::string> columns;
  std::string relation;
  std::size_t segment_bytes;
  pgs_copy_spool spool;
  std::unique_ptr<pqxx::dbtransaction> transaction;
  std::unique_ptr<pqxx::subtransaction> savepoint;
  std::unique_ptr<pqxx::tablewriter> writer;
  std::string pending;  // whole lines, each ended by a line feed, not yet handed to the writer
  std::vector<udb_row_error> errors;
  bool broken = false;
  bool finished = false;
  int statements = 0;
};

/// The line a COPY error names ("COPY <relation>, line N" in its context), or 0; `detail` receives
/// the rest of that context (", column c: ...") when there is one.
std::size_t pgs_copy_error_line(const std::string& message, const std::string& relation, std::string* detail = nullptr);

/// The server's message without its context lines, for a row error.
std::string pgs_copy_error_text(const std::string& message, const std::string& detail);

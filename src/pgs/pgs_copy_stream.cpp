#include "pgs/pgs_copy_stream.h"

#include <algorithm>

#include <pqxx/connection>
#include <pqxx/except>
#include <pqxx/transaction>

#include "pgs/pgs_copy_deferred.h"
#include "pgs/pgs_copy_dense.h"
#include "pgs/pgs_copy_replay.h"
#include "pgs/pgs_copy_savepoints.h"
#include "pgs/pgs_copy_wire.h"
#include "pgs/pgs_exception.h"
#include "pgs/pgs_sqlstate.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"

namespace {

using step = pgs_copy_wire::step;

// Lines go to the server in batches of about this many bytes: the bytes on the wire are the same
// (each line ends with its line feed), the per-call cost is paid once per batch.
constexpr std::size_t send_batch_bytes = 64 << 10;
// A segment's first batch is small, and each next one twice the last up to the full size: the
// server, idle while the COPY starts, begins storing rows as soon as the first lines are made.
constexpr std::size_t first_batch_bytes = 4 << 10;

// Checks now what the commit would check, so that a refusal arrives with the constraint's name.
const char* const check_deferred = "SET CONSTRAINTS ALL IMMEDIATE";

bool integrity_violation(const std::string& sqlstate) { return sqlstate.rfind("23", 0) == 0; }

std::string refused_at_commit(const std::string& constraint, const std::string& message) {
  return "No row of this worksheet was stored: " +
         (constraint.empty() ? std::string("a constraint") : "the constraint \"" + constraint + "\"") +
         ", checked at commit, refused a row: " + message;
}

std::string copy_statement(const std::string& table, const std::vector<std::string>& columns) {
  std::string sql = "COPY " + table;
  if (!columns.empty()) {
    sql += " (";
    for (std::size_t i = 0; i < columns.size(); ++i) sql += (i ? ", " : "") + columns[i];
    sql += ")";
  }
  return sql + " FROM STDIN";
}

}  // namespace

std::size_t pgs_copy_error_line(const std::string& context, const std::string& relation, std::string* detail) {
  const std::string marker = "COPY " + relation + ", line ";
  for (std::size_t entry = 0; entry < context.size();) {
    std::size_t eol = context.find('\n', entry);
    if (eol == std::string::npos) eol = context.size();
    if (context.compare(entry, marker.size(), marker) == 0 && entry + marker.size() <= eol) {
      std::size_t pos = entry + marker.size();
      const std::size_t digits_start = pos;
      std::size_t line = 0;
      while (pos < eol && context[pos] >= '0' && context[pos] <= '9' && pos - digits_start < 18)
        line = line * 10 + static_cast<std::size_t>(context[pos++] - '0');
      if (pos > digits_start && (pos == eol || context[pos] == ',' || context[pos] == ':')) {
        if (detail) {
          std::size_t end = context.size();
          while (end > pos && context[end - 1] == '\n') --end;
          *detail = context.substr(pos, end - pos);
        }
        return line;
      }
    }
    entry = eol + 1;
  }
  return 0;
}

std::string pgs_copy_error_text(const pgs_server_error& error, const std::string& detail) {
  if (error.primary.empty()) return pgs_copy_with_column(error.message, detail);  // no fields: as told
  std::string text = (error.severity.empty() ? std::string("ERROR") : error.severity) + ":  " + error.primary;
  if (!error.detail.empty()) text += "\nDETAIL:  " + error.detail;
  if (!error.hint.empty()) text += "\nHINT:  " + error.hint;
  return pgs_copy_with_column(std::move(text), detail);
}

std::string pgs_copy_with_column(std::string text, const std::string& detail) {
  if (detail.rfind(", column ", 0) == 0) text += " (" + detail.substr(2) + ")";
  return text;
}

pgs_copy_stream::pgs_copy_stream(pqxx::connection_base& connection_, std::string table, std::vector<std::string> columns,
                                 std::string relation_, std::size_t segment_bytes_, prologue first)
    : connection(connection_),
      copy_sql(copy_statement(table, columns)),
      dense_setup(pgs_copy_dense_setup(table, columns)),
      deferred_setup(pgs_copy_deferred_setup(table)),
      relation(std::move(relation_)),
      segment_bytes(segment_bytes_ ? segment_bytes_ : 1),
      leading(std::move(first)) {
  tk_log(2, "pgs_copy_stream::ctor(%s)", table);
  try {
    transaction = std::make_unique<pqxx::transaction<pqxx::read_committed>>(connection, "fast_append");
    if (leading.run) leading.run(*transaction);
  } catch (const pqxx::pqxx_exception& e) {
    fail(pgs_error_text(e));
  } catch (const tk_exception& e) {
    fail(e.message());
  }
  wire = std::make_unique<pgs_copy_wire>(*transaction);
  open_segment();
}

pgs_copy_stream::~pgs_copy_stream() {
  tk_log(1, "pgs_copy_stream::dtor");
  release();
}

void pgs_copy_stream::release() noexcept {
  // A COPY still open is abandoned by the rollback's own error; the transaction goes last.
  try {
    wire.reset();
    transaction.reset();
  } catch (...) {
    tk_log(3, "ERROR: %s", "releasing the COPY stream failed");
  }
}

void pgs_copy_stream::fail(std::string text) {
  broken = true;
  tk_log(3, "%s", text);
  release();
  throw tk_exception(text, tk_level_recoverable);
}

void pgs_copy_stream::fail_with_current_exception() {
  try {
    throw;
  } catch (const tk_exception& e) {
    fail(e.message());
  } catch (const pqxx::pqxx_exception& e) {
    fail(pgs_error_text(e));
  } catch (const std::exception& e) {
    fail(e.what());
  }
}

void pgs_copy_stream::open_segment() {
  try {
    // The prologue's statements share the round trip of the first COPY.
    std::string sql = leading.statements.empty() ? owed : leading.statements + ";\n" + owed;
    const prologue first = std::move(leading);
    leading = prologue{};
    // Once a stream, after the table is made: which of its constraints are checked at commit.
    const bool asking = !deferred_asked && !deferred_setup.empty();
    if (asking) sql += deferred_setup + "; ";
    deferred_asked = true;
    const step result = wire->send(sql + pgs_open_segment + copy_sql);
    owed.clear();
    if (asking && result == step::copy_in)
      checked_at_commit = !wire->rows().empty() && !wire->rows().front().at(0).empty();
    if (result == step::failed && wire->statements_done() < first.statement_count)
      fail(first.failure_text ? first.failure_text(wire->error_message()) : wire->error_message());
    if (result != step::copy_in)
      fail(result == step::failed ? wire->error_message() : std::string("The server did not start the COPY"));
  } catch (const tk_exception& e) {
    if (!broken) fail(e.message());
    throw;
  }
  copying = true;
  batch_bytes = first_batch_bytes;
}

void pgs_copy_stream::write(const std::string& line, int record_number) {
  if (broken) throw tk_exception(std::string("The COPY stream of this table has failed"), tk_level_recoverable);
  if (sink_ended) throw tk_exception(std::string("The writing of this table ended at a refused row"), tk_level_recoverable);
  if (finished) TK_ASSERT_SITE("pgs_copy", 1);
  if (!copying) open_segment();
  try {
    spool.append(line, record_number);
  } catch (const tk_exception& e) {
    fail(e.message());  // without the spool a refused row could not be set aside
  }
  ++lines_written;
  pending += line;
  pending += '\n';
  if (pending.size() >= batch_bytes) {
    send_pending();
    batch_bytes = std::min(batch_bytes * 2, send_batch_bytes);
  }
  if (spool.bytes() >= segment_bytes) end_segment();
}

void pgs_copy_stream::send_pending() {
  if (pending.empty()) return;
  try {
    wire->put(pending);
  } catch (const tk_exception& e) {
    pending.clear();
    fail(e.message());
  }
  pending.clear();
}

void pgs_copy_stream::end_segment() {
  if (!copying) return;
  send_pending();
  step result = step::failed;
  try {
    result = wire->end_copy();
  } catch (const tk_exception& e) {
    fail(e.message());
  }
  copying = false;
  if (result == step::done) {
    owed = pgs_release_segment;
    spool.clear();
    return;
  }
  if (!pgs_is_row_error(wire->error_sqlstate())) fail(wire->error_message());
  replay_segment();
}

void pgs_copy_stream::replay_segment() {
  const pgs_copy_refusal first = pgs_copy_replay::classify(*wire, relation);
  tk_log(2, "COPY refused (%s), line %d: replaying %d lines", first.sqlstate, static_cast<int>(first.line),
         static_cast<int>(spool.size()));
  owed = pgs_rollback_segment;
  pgs_copy_replay replay(*wire, spool, copy_sql, relation, owed, dense_setup);
  try {
    replay.run(first, [this](std::size_t line, const pgs_copy_refusal& why) { report(line, why.message); });
  } catch (...) {
    if (!sink_ended) fail_with_current_exception();
    spool.clear();
    if (replay.lost_stored_lines()) {
      // Committing now would store a part of the segment that is not the rows before the refused
      // one: nothing is committed.
      broken = true;
      release();
      throw;
    }
    owed += pgs_release_segment;
    commit_after_stop();
    throw;
  }
  owed += pgs_release_segment;
  spool.clear();
}

void pgs_copy_stream::report(std::size_t line, const std::string& message) {
  const int record = spool.record_number(line);
  ++lines_refused;
  tk_log(3, "ERROR: record #%d: %s", record, message);
  udb_row_error row(record, pgs_exception(message));
  if (!on_refused) {
    errors.push_back(std::move(row));
    return;
  }
  try {
    on_refused(row);
  } catch (...) {
    sink_ended = true;
    throw;
  }
}

void pgs_copy_stream::commit() {
  try {
    // The commit ends a segment's savepoint with the transaction: a release alone is not sent.
    if (owed == pgs_release_segment) owed.clear();
    if (checked_at_commit) owed += check_deferred;
    if (!owed.empty()) {
      const step result = wire->send(owed);
      owed.clear();
      if (result == step::failed && checked_at_commit && integrity_violation(wire->error_sqlstate()))
        fail(refused_at_commit(wire->error().constraint, wire->error_message()));
      if (result != step::done)
        fail(result == step::failed ? wire->error_message() : std::string("The server began an unexpected COPY"));
    }
    transaction->commit();
  } catch (const pqxx::sql_error& e) {
    fail(integrity_violation(e.sqlstate()) ? refused_at_commit("", pgs_error_text(e)) : pgs_error_text(e));
  } catch (const pqxx::pqxx_exception& e) {
    fail(pgs_error_text(e));
  } catch (const tk_exception& e) {
    if (!broken) fail(e.message());
    throw;
  }
  finished = true;
  release();
}

void pgs_copy_stream::commit_after_stop() noexcept {
  try {
    commit();
  } catch (const std::exception& e) {
    tk_log(3, "ERROR: the rows before the refused one could not be committed: %s", e.what());
  }
}

void pgs_copy_stream::settle() {
  if (finished || broken || sink_ended) return;
  end_segment();
}

void pgs_copy_stream::finish() {
  if (finished || broken) return;
  end_segment();
  commit();
}

std::vector<udb_row_error> pgs_copy_stream::take_row_errors() {
  std::vector<udb_row_error> taken;
  taken.swap(errors);
  return taken;
}

#include "pgs/pgs_copy_stream.h"

#include <algorithm>

#include <pqxx/connection>
#include <pqxx/except>
#include <pqxx/subtransaction>
#include <pqxx/transaction>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <pqxx/tablewriter>
#pragma GCC diagnostic pop

#include "pgs/pgs_exception.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"

namespace {

// After a refused row the lines behind it go in runs that start small and double while the server
// takes them, so a block of bad rows costs short COPYs and a clean tail only a few.
constexpr std::size_t first_replay_run = 256;

// Lines go to the writer in batches of about this many bytes: the bytes on the wire are the same
// (each line ends with its line feed), the per-call cost is paid once per batch.
constexpr std::size_t send_batch_bytes = 64 << 10;

bool is_row_error(const std::string& sqlstate) {
  // Data exceptions, integrity violations, program limits (a row too large): the row's own fault.
  return sqlstate.rfind("22", 0) == 0 || sqlstate.rfind("23", 0) == 0 || sqlstate.rfind("54", 0) == 0;
}

template <class Writer, class Transaction>
Writer* new_writer(Transaction& tx, const std::string& table, const std::vector<std::string>& columns) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (columns.empty()) return new Writer(tx, table);
  return new Writer(tx, table, columns.begin(), columns.end());
#pragma GCC diagnostic pop
}

}  // namespace

struct pgs_copy_stream::refusal {
  std::size_t line = 0;  // 1-based line of the refused COPY, 0 when the server named none
  std::string message;
  std::string sqlstate;
};

std::size_t pgs_copy_error_line(const std::string& message, const std::string& relation, std::string* detail) {
  const std::string marker = "COPY " + relation + ", line ";
  const auto at = message.find(marker);
  if (at == std::string::npos) return 0;
  std::size_t pos = at + marker.size();
  std::size_t line = 0;
  const std::size_t digits_start = pos;
  while (pos < message.size() && message[pos] >= '0' && message[pos] <= '9' && pos - digits_start < 18)
    line = line * 10 + static_cast<std::size_t>(message[pos++] - '0');
  if (pos == digits_start) return 0;
  if (detail) {
    const auto eol = message.find('\n', pos);
    *detail = message.substr(pos, eol == std::string::npos ? std::string::npos : eol - pos);
  }
  return line;
}

std::string pgs_copy_error_text(const std::string& message, const std::string& detail) {
  // The context's line number counts within one replay COPY and would mislead: drop the context.
  std::string text;
  std::size_t start = 0;
  while (start < message.size()) {
    auto eol = message.find('\n', start);
    if (eol == std::string::npos) eol = message.size();
    const std::string_view line(message.data() + start, eol - start);
    if (line.rfind("CONTEXT:", 0) != 0 && !line.empty()) {
      if (!text.empty()) text += '\n';
      text += line;
    }
    start = eol + 1;
  }
  if (detail.rfind(", column ", 0) == 0) text += " (" + detail.substr(2) + ")";
  return text;
}

pgs_copy_stream::pgs_copy_stream(pqxx::connection_base& connection_, std::string table_, std::vector<std::string> columns_,
                                 std::string relation_, std::size_t segment_bytes_, const prologue& first)
    : connection(connection_),
      table(std::move(table_)),
      columns(std::move(columns_)),
      relation(std::move(relation_)),
      segment_bytes(segment_bytes_ ? segment_bytes_ : 1) {
  tk_log(2, "pgs_copy_stream::ctor(%s)", table);
  try {
    transaction = std::make_unique<pqxx::transaction<pqxx::read_committed>>(connection, "fast_append");
    if (first) first(*transaction);
  } catch (const pqxx::pqxx_exception& e) {
    fail(pgs_error_text(e));
  } catch (const tk_exception& e) {
    fail(e.message());
  }
  open_segment();
}

pgs_copy_stream::~pgs_copy_stream() {
  tk_log(1, "pgs_copy_stream::dtor");
  release();
}

void pgs_copy_stream::release() noexcept {
  // Writer before savepoint before transaction: each needs the next to end cleanly.
  try {
    writer.reset();
    savepoint.reset();
    transaction.reset();
  } catch (...) {
    tk_log(3, "ERROR: %s", "releasing the COPY stream failed");
  }
}

void pgs_copy_stream::fail(const std::string& text) {
  broken = true;
  tk_log(3, "%s", text);
  release();
  throw tk_exception(text, tk_level_recoverable);
}

pgs_copy_stream::refusal pgs_copy_stream::classify(const pqxx::sql_error& error) const {
  refusal why;
  why.sqlstate = error.sqlstate();
  std::string detail;
  why.line = pgs_copy_error_line(error.what(), relation, &detail);
  why.message = pgs_copy_error_text(error.what(), detail);
  return why;
}

void pgs_copy_stream::open_segment() {
  try {
    savepoint = std::make_unique<pqxx::subtransaction>(*transaction, "copy_segment");
    writer.reset(new_writer<pqxx::tablewriter>(*savepoint, table, columns));
    ++statements;
  } catch (const pqxx::pqxx_exception& e) {
    fail(pgs_error_text(e));
  }
}

void pgs_copy_stream::write(const std::string& line, int record_number) {
  if (broken) throw tk_exception(std::string("The COPY stream of this table has failed"), tk_level_recoverable);
  if (finished) TK_ASSERT_SITE("pgs_copy", 1);
  if (!writer) open_segment();
  try {
    spool.append(line, record_number);
  } catch (const tk_exception& e) {
    fail(e.message());  // without the spool a refused row could not be set aside
  }
  pending += line;
  pending += '\n';
  if (pending.size() >= send_batch_bytes) send_pending();
  if (spool.bytes() >= segment_bytes) end_segment();
}

void pgs_copy_stream::send_pending() {
  if (pending.empty()) return;
  try {
    writer->write_raw_line(pending);  // its last line feed is dropped and added again
  } catch (const pqxx::pqxx_exception& e) {
    tk_log(1, "Got pqxx::pqxx_exception");
    pending.clear();
    fail(pgs_error_text(e));
  }
  pending.clear();
}

void pgs_copy_stream::end_segment() {
  if (!writer) return;
  send_pending();
  try {
    try {
      writer->complete();
      writer.reset();
      savepoint->commit();
      savepoint.reset();
    } catch (const pqxx::sql_error& e) {
      if (!is_row_error(e.sqlstate())) throw;
      const refusal why = classify(e);
      tk_log(2, "COPY refused (%s), line %d: replaying %d lines", why.sqlstate, static_cast<int>(why.line),
             static_cast<int>(spool.size()));
      writer.reset();
      savepoint->abort();
      savepoint.reset();
      settle(0, spool.size(), why);
    }
  } catch (const pqxx::pqxx_exception& e) {
    fail(pgs_error_text(e));
  } catch (const tk_exception& e) {
    fail(e.message());
  }
  spool.clear();
}

bool pgs_copy_stream::copy_range(std::size_t first, std::size_t last, refusal& why) {
  try {
    savepoint = std::make_unique<pqxx::subtransaction>(*transaction, "copy_replay");
    writer.reset(new_writer<pqxx::tablewriter>(*savepoint, table, columns));
    ++statements;
    std::string batch;
    spool.read(first, last, [&](const std::string& line) {
      batch += line;
      batch += '\n';
      if (batch.size() >= send_batch_bytes) {
        writer->write_raw_line(batch);
        batch.clear();
      }
    });
    if (!batch.empty()) writer->write_raw_line(batch);
    writer->complete();
    writer.reset();
    savepoint->commit();
    savepoint.reset();
    return true;
  } catch (const pqxx::sql_error& e) {
    if (!is_row_error(e.sqlstate())) throw;
    why = classify(e);
    writer.reset();
    savepoint->abort();
    savepoint.reset();
    return false;
  }
}

void pgs_copy_stream::store(std::size_t first, std::size_t last, std::size_t chunk) {
  std::size_t pos = first;
  chunk = std::max<std::size_t>(chunk, 1);
  while (pos < last) {
    const std::size_t n = std::min(chunk, last - pos);
    refusal why;
    if (copy_range(pos, pos + n, why)) {
      chunk = n * 2;
    } else {
      settle(pos, pos + n, why);
      chunk = first_replay_run;
    }
    pos += n;
  }
}

void pgs_copy_stream::settle(std::size_t first, std::size_t last, const refusal& why) {
  const std::size_t count = last - first;
  if (count == 1) {
    report(first, why);
    return;
  }
  if (why.line >= 1 && why.line <= count) {
    const std::size_t bad = first + why.line - 1;
    store(first, bad, bad - first);  // the server took these already, in this order
    report(bad, why);
    store(bad + 1, last, first_replay_run);
    return;
  }
  const std::size_t middle = first + count / 2;
  store(first, middle, middle - first);
  store(middle, last, last - middle);
}

void pgs_copy_stream::report(std::size_t line, const refusal& why) {
  const int record = spool.record_number(line);
  tk_log(3, "ERROR: record #%d: %s", record, why.message);
  errors.emplace_back(record, pgs_exception(why.message));
}

void pgs_copy_stream::finish() {
  if (finished || broken) return;
  end_segment();
  try {
    transaction->commit();
  } catch (const pqxx::pqxx_exception& e) {
    fail(pgs_error_text(e));
  }
  finished = true;
  release();
}

std::vector<udb_row_error> pgs_copy_stream::take_row_errors() {
  std::vector<udb_row_error> taken;
  taken.swap(errors);
  return taken;
}

#include "pgs/pgs_copy_wire.h"

#include <libpq-fe.h>

#include <climits>

#include "pgs/pgs_raw_connection.h"
#include "tk/tk_exception.h"

namespace {

std::string field_of(const PGresult* result, int code) {
  const char* value = PQresultErrorField(result, code);
  return value ? value : "";
}

}  // namespace

pgs_copy_wire::pgs_copy_wire(pqxx::dbtransaction& transaction) : connection(pgs_raw_connection(transaction)) {}

void pgs_copy_wire::connection_failed(const char* what) const {
  throw tk_exception(std::string(what) + PQerrorMessage(connection), tk_level_recoverable);
}

pgs_copy_wire::step pgs_copy_wire::send(const std::string& sql) {
  if (!PQsendQuery(connection, sql.c_str())) connection_failed("Cannot send a statement to the server: ");
  tuples.clear();
  succeeded = 0;
  return collect();
}

void pgs_copy_wire::put(std::string_view data) {
  while (!data.empty()) {
    const std::size_t n = data.size() < INT_MAX ? data.size() : INT_MAX;
    // Blocking connection: 1 once queued, -1 on failure (0 only for non-blocking ones).
    if (PQputCopyData(connection, data.data(), static_cast<int>(n)) != 1)
      connection_failed("Cannot send COPY data to the server: ");
    data.remove_prefix(n);
  }
}

pgs_copy_wire::step pgs_copy_wire::end_copy() {
  if (PQputCopyEnd(connection, nullptr) != 1) connection_failed("Cannot end COPY data: ");
  return collect();
}

pgs_copy_wire::step pgs_copy_wire::collect() {
  // Results come in statement order; after a failure the server skips the rest of the query, and
  // every result up to the end must be read before the connection takes another statement.
  bool failed = false;
  while (PGresult* result = PQgetResult(connection)) {
    const ExecStatusType status = PQresultStatus(result);
    const bool copying = status == PGRES_COPY_IN || status == PGRES_COPY_OUT || status == PGRES_COPY_BOTH;
    if (status == PGRES_COPY_IN && !failed) {
      PQclear(result);
      return step::copy_in;
    }
    if (status == PGRES_TUPLES_OK && !failed) {
      tuples.assign(static_cast<std::size_t>(PQntuples(result)), {});
      for (int row = 0; row < PQntuples(result); ++row)
        for (int field = 0; field < PQnfields(result); ++field)
          tuples[static_cast<std::size_t>(row)].emplace_back(PQgetvalue(result, row, field),
                                                             static_cast<std::size_t>(PQgetlength(result, row, field)));
    }
    if ((status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) && !failed) ++succeeded;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && !failed) {
      failed = true;
      failure = pgs_server_error{};
      if (copying) {
        failure.message = "The server began an unexpected COPY";
      } else {
        failure.sqlstate = field_of(result, PG_DIAG_SQLSTATE);
        failure.message = PQresultErrorMessage(result);
        failure.severity = field_of(result, PG_DIAG_SEVERITY);
        failure.primary = field_of(result, PG_DIAG_MESSAGE_PRIMARY);
        failure.detail = field_of(result, PG_DIAG_MESSAGE_DETAIL);
        failure.hint = field_of(result, PG_DIAG_MESSAGE_HINT);
        failure.context = field_of(result, PG_DIAG_CONTEXT);
        failure.constraint = field_of(result, PG_DIAG_CONSTRAINT_NAME);
      }
      if (failure.message.empty()) failure.message = PQerrorMessage(connection);
    }
    PQclear(result);
    // A dead connection, or a COPY nobody asked for, has no end to wait for.
    if (copying || (failed && PQstatus(connection) == CONNECTION_BAD)) break;
  }
  return failed ? step::failed : step::done;
}

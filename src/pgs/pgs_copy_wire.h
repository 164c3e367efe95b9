#pragma once
// Query strings that hold COPY ... FROM STDIN among other statements, sent on the connection of an
// open transaction in one round trip ("ROLLBACK TO SAVEPOINT p; COPY t FROM STDIN; SAVEPOINT p;
// COPY t FROM STDIN"). Each COPY's data is sent when the server asks for it; a statement that
// fails skips the rest of its query string, as the server does for any simple query.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace pqxx {
class dbtransaction;
}

struct pg_conn;

/// A failure as the server reported it, field by field (a field the server did not send is empty).
/// Structure is read from the fields only: the primary text and DETAIL may repeat a row's values.
struct pgs_server_error {
  std::string sqlstate;
  std::string message;  ///< the whole text as libpq lays it out, context lines included
  std::string severity;
  std::string primary;
  std::string detail;
  std::string hint;
  std::string context;  ///< the context entries, innermost first, one a line
  std::string constraint;  ///< the constraint that refused a row, by name
};

class pgs_copy_wire {
 public:
  /// Where a query stands after send() or end_copy().
  enum class step {
    copy_in,  ///< a COPY of the query waits for its data
    done,     ///< every statement of the query succeeded
    failed,   ///< a statement failed; error_sqlstate() and error_message() tell why
  };

  /// Uses the connection of `transaction`, which must stay open and idle between the calls.
  explicit pgs_copy_wire(pqxx::dbtransaction& transaction);

  /// Sends one query string; returns when its first COPY waits for data or when the query ended.
  /// A connection failure (nothing could be sent) is a level-0 tk_exception.
  step send(const std::string& sql);
  /// Data for the waiting COPY: whole lines, each ended by a line feed.
  void put(std::string_view data);
  /// Ends the waiting COPY's data; returns at the query's next COPY or at its end.
  step end_copy();

  /// The failure the last `failed` step reported. Its SQLSTATE is empty when the server sent none,
  /// as after a lost connection. These refer into the wire: copy what must outlive it.
  const pgs_server_error& error() const { return failure; }
  const std::string& error_sqlstate() const { return failure.sqlstate; }
  const std::string& error_message() const { return failure.message; }
  /// The rows the query's last statement that returned rows returned (NULL as the empty text).
  const std::vector<std::vector<std::string>>& rows() const { return tuples; }
  /// How many statements of the last query string succeeded before the step it returned (a COPY
  /// that waits for data or ended counts once it has ended).
  std::size_t statements_done() const { return succeeded; }

 private:
  step collect();
  [[noreturn]] void connection_failed(const char* what) const;

  pg_conn* connection;
  pgs_server_error failure;
  std::vector<std::vector<std::string>> tuples;
  std::size_t succeeded = 0;
};

#include "pgs/pgs_raw_connection.h"

#include <libpq-fe.h>

#include <pqxx/dbtransaction>
#include <pqxx/largeobject>

namespace {

// libpqxx hands the libpq connection of a transaction to its large-object classes only.
struct raw_connection_of : private pqxx::largeobject {
  static PGconn* of(const pqxx::dbtransaction& transaction) { return raw_connection(transaction); }
};

}  // namespace

pg_conn* pgs_raw_connection(const pqxx::dbtransaction& transaction) { return raw_connection_of::of(transaction); }

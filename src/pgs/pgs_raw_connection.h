#pragma once
// The libpq handle under a libpqxx transaction, for the calls libpqxx does not offer (COPY in a
// query string among other statements, a cancel key).
namespace pqxx {
class dbtransaction;
}

struct pg_conn;

/// The libpq connection `transaction` runs on; valid while the transaction is open.
pg_conn* pgs_raw_connection(const pqxx::dbtransaction& transaction);

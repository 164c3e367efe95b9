#pragma once
// Server tests: a test that needs PostgreSQL calls TAMARIND_REQUIRE_SERVER() first. Without a server
// configured through the PG* environment variables (scripts/test provides a throwaway one) the test is
// reported as skipped, never as passed.
#include <gtest/gtest.h>

#include <string>

namespace tamarind_test {

/// True when PGHOST or PGPORT names a server for the tests.
bool server_configured();

/// A libpq connection string for the configured server's database `dbname` (default: "postgres").
/// Host, port, user and password come from the environment, as libpq reads them.
std::string server_connection_string(const std::string& dbname = "postgres");

/// A database name unique to this process and call, for tests that create databases.
std::string unique_database_name(const std::string& prefix);

/// False when the configured server lets the tests' user in with a wrong password (pg_hba.conf
/// "trust", or "peer" for this user): a refused password cannot be tested there. Asked once.
bool server_checks_passwords();

/// Why a test skips its password refusals.
inline constexpr char trusting_server_reason[] =
    "the server accepts logins without checking the password (pg_hba.conf trust): password refusals not tested";

}  // namespace tamarind_test

#define TAMARIND_REQUIRE_SERVER()                                           \
  do {                                                                      \
    if (!::tamarind_test::server_configured())                              \
      GTEST_SKIP() << "no PostgreSQL configured (set PGHOST/PGPORT)";       \
  } while (0)

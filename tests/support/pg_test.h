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

}  // namespace tamarind_test

#define TAMARIND_REQUIRE_SERVER()                                           \
  do {                                                                      \
    if (!::tamarind_test::server_configured())                              \
      GTEST_SKIP() << "no PostgreSQL configured (set PGHOST/PGPORT)";       \
  } while (0)

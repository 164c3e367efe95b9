// Proves that server tests really reach a server when one is configured.
#include "pg_test.h"

#include <pqxx/pqxx>

TEST(ServerSmoke, ConnectsAndQueries) {
  TAMARIND_REQUIRE_SERVER();
  pqxx::connection conn(tamarind_test::server_connection_string());
  pqxx::nontransaction tx(conn);
  const auto row = tx.exec1("SELECT 6 * 7, current_setting('server_version_num')::int");
  EXPECT_EQ(row[0].as<int>(), 42);
  EXPECT_GE(row[1].as<int>(), 120000);
}

#include "pg_test.h"

#include <atomic>
#include <cstdlib>
#include <unistd.h>

#include <pqxx/pqxx>

namespace tamarind_test {

bool server_configured() {
  const char* host = std::getenv("PGHOST");
  const char* port = std::getenv("PGPORT");
  return (host && *host) || (port && *port);
}

std::string server_connection_string(const std::string& dbname) {
  // Everything but the database comes from the PG* variables, which libpq reads itself.
  return "dbname='" + dbname + "'";
}

std::string unique_database_name(const std::string& prefix) {
  static std::atomic<int> counter{0};
  return prefix + "_" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
}

bool server_checks_passwords() {
  static const bool checks = [] {
    try {
      pqxx::connection probe(server_connection_string() + " password='tmd-wrong-" + std::to_string(::getpid()) + "'");
      return false;
    } catch (const pqxx::broken_connection&) {
      return true;
    }
  }();
  return checks;
}

}  // namespace tamarind_test

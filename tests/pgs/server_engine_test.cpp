// The engine against a real server: connections, and databases with hostile names.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include <pqxx/pqxx>

#include "pg_test.h"
#include "pgs/pgs_database.h"
#include "pgs/pgs_engine.h"
#include "pgs/pgs_exception.h"
#include "pgs/pgs_sql_text.h"
#include "tk/tk_logger.h"
#include "tk/tk_string.h"

namespace {

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

void connect_from_environment(pgs_engine& engine, const std::string& database = "") {
  engine.connect(env("PGHOST"), env("PGUSER"), env("PGPASSWORD"), database, std::atoi(env("PGPORT").c_str()));
}

bool database_exists_raw(const std::string& datname) {
  pqxx::connection c(tamarind_test::server_connection_string());
  pqxx::nontransaction tx(c);
  return !tx.exec("SELECT 1 FROM pg_database WHERE datname = " + tx.quote(datname)).empty();
}

std::wstring unique_wide(const std::wstring& stem) {
  return stem + tk_utf8_to_unicode(tamarind_test::unique_database_name(""));
}

}  // namespace

TEST(ServerPgsEngine, CreatesOpensAndDropsDatabasesWithHostileNames) {
  TAMARIND_REQUIRE_SERVER();
  pgs_engine engine;
  connect_from_environment(engine);
  EXPECT_EQ(engine.current_database(), "postgres");

  std::wstring cyrillic_70;
  for (int i = 0; i < 70; ++i) cyrillic_70 += L"\u0436";
  for (const std::wstring& name : {unique_wide(L"Tmd \"q'x.y;drop database postgres;--"),
                                   unique_wide(L"\u00C4rger"), unique_wide(cyrillic_70)}) {
    const std::string server_name = pgs_object_name(name, false);
    ASSERT_FALSE(engine.is_db_exist(name));
    {
      std::unique_ptr<pgs_database> db = engine.create_db(name);
      EXPECT_EQ(engine.current_database(), server_name) << "create_db opens the new database";
      EXPECT_TRUE(database_exists_raw(server_name));
      EXPECT_TRUE(engine.is_db_exist(name));
    }
    // Dropping the database we are connected to steps over to the maintenance database first.
    engine.delete_db(name);
    EXPECT_FALSE(database_exists_raw(server_name));
    EXPECT_FALSE(engine.is_db_exist(name));
    EXPECT_EQ(engine.current_database(), "postgres");
    engine.delete_db(name);  // missing: no error
  }
  // Only A-Z fold: the database keeps its non-ASCII capital.
  EXPECT_EQ(pgs_object_name(L"\u00C4rger", false), "\u00C4rger");
}

TEST(ServerPgsEngine, NeverDropsMaintenanceOrTemplateDatabases) {
  TAMARIND_REQUIRE_SERVER();
  pgs_engine engine;
  connect_from_environment(engine);
  for (const wchar_t* name : {L"postgres", L"Postgres", L"template1", L"TEMPLATE0"}) {
    EXPECT_THROW(engine.delete_db(name), pgs_exception) << tk_to_utf8(name);
    EXPECT_TRUE(database_exists_raw(pgs_object_name(name, false)));
  }
  EXPECT_FALSE(engine.is_db_exist(L"template1"));
  EXPECT_FALSE(engine.is_db_exist(L"x'y"));
  EXPECT_TRUE(engine.is_db_exist(L"postgres"));
}

TEST(ServerPgsEngine, FailedConnectionsReportTheServerTextWithoutThePassword) {
  TAMARIND_REQUIRE_SERVER();
  pgs_engine engine;
  try {
    engine.is_db_exist(L"postgres");
    ADD_FAILURE() << "a statement before connecting must fail";
  } catch (const pgs_exception& e) {
    EXPECT_STREQ(e.what(), "Not connected to the PostgreSQL server");
  }

  connect_from_environment(engine);
  const std::string password = "Wr0ng p'w\\s3cret=x host=nowhere";
  try {
    engine.connect(env("PGHOST"), "tmd_no_such_role", password, "", std::atoi(env("PGPORT").c_str()));
    ADD_FAILURE() << "connecting as an unknown role must fail";
  } catch (const pgs_exception& e) {
    EXPECT_EQ(e.level(), 0);
    EXPECT_FALSE(e.message().empty());
    EXPECT_EQ(e.message().find("Wr0ng"), std::string::npos) << e.message();
    EXPECT_EQ(e.message().find("s3cret"), std::string::npos) << e.message();
  }
  // The old connection stays in place.
  EXPECT_TRUE(engine.is_connected());
  EXPECT_EQ(engine.current_database(), "postgres");
  EXPECT_TRUE(engine.is_db_exist(L"postgres"));

  // A named database is never retried elsewhere.
  try {
    connect_from_environment(engine, "tmd_no_such_database_here");
    ADD_FAILURE() << "a missing database must fail";
  } catch (const pgs_exception& e) {
    EXPECT_NE(e.message().find("tmd_no_such_database_here"), std::string::npos) << e.message();
  }
}

TEST(ServerPgsEngine, ConnectionSpeaksUtf8WithStandardStrings) {
  TAMARIND_REQUIRE_SERVER();
  pgs_engine engine;
  connect_from_environment(engine);
  pqxx::nontransaction tx(engine.connection());
  EXPECT_EQ(tx.exec1("SHOW client_encoding")[0].as<std::string>(), "UTF8");
  EXPECT_EQ(tx.exec1("SHOW standard_conforming_strings")[0].as<std::string>(), "on");
  EXPECT_EQ(tx.exec1("SELECT " + pgs_sql_literal(std::string("O'Br\\ien \u0436"))).at(0).as<std::string>(),
            "O'Br\\ien \u0436");
}

TEST(ServerPgsEngine, PasswordsWithBlanksQuotesAndBackslashesConnect) {
  TAMARIND_REQUIRE_SERVER();
  const std::string role = tamarind_test::unique_database_name("tmd_role");
  const std::string password = "p w'x\\y";
  pqxx::connection admin(tamarind_test::server_connection_string());
  {
    pqxx::nontransaction tx(admin);
    tx.exec("CREATE ROLE " + tx.quote_name(role) + " LOGIN PASSWORD " + tx.quote(password));
  }
  const std::string log_path = testing::TempDir() + role + ".log";
  {
    // Every line the engine logs goes to the file; the password must be in none of them.
    tk_logger logger(log_path.c_str(), true, 1);
    pgs_engine engine;
    EXPECT_NO_THROW(engine.connect(env("PGHOST"), role, password, "postgres", std::atoi(env("PGPORT").c_str())));
    if (tamarind_test::server_checks_passwords())
      EXPECT_THROW(engine.connect(env("PGHOST"), role, password + "!", "", std::atoi(env("PGPORT").c_str())),
                   pgs_exception);
    if (engine.is_connected()) {
      pqxx::nontransaction tx(engine.connection());
      EXPECT_EQ(tx.exec1("SELECT current_user")[0].as<std::string>(), role);
    }
  }
  std::ifstream log(log_path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("pgs_engine::connect("), std::string::npos) << "the log was written";
  EXPECT_EQ(text.find("p w'x"), std::string::npos) << text;
  std::remove(log_path.c_str());
  pqxx::nontransaction tx(admin);
  tx.exec("DROP ROLE " + tx.quote_name(role));
  if (!tamarind_test::server_checks_passwords()) GTEST_SKIP() << tamarind_test::trusting_server_reason;
}

TEST(ServerPgsEngine, ConnectionWithoutADatabaseFallsBackToTheUsersOwn) {
  TAMARIND_REQUIRE_SERVER();
  pqxx::connection admin(tamarind_test::server_connection_string());
  pqxx::nontransaction tx(admin);
  if (!tx.exec1("SELECT rolsuper FROM pg_roles WHERE rolname = current_user")[0].as<bool>())
    GTEST_SKIP() << "making a role whose sessions in \"postgres\" fail needs a superuser";
  // The role's sessions in "postgres" fail as they start (a library to preload is missing); without
  // a dbname (and PGDATABASE) libpq takes the database named after the role.
  const std::string role = tamarind_test::unique_database_name("tmd_fallback"), name = tx.quote_name(role);
  tx.exec("CREATE ROLE " + name + " LOGIN PASSWORD 'fb'");
  tx.exec("CREATE DATABASE " + name + " OWNER " + name);
  tx.exec("ALTER ROLE " + name + " IN DATABASE postgres SET session_preload_libraries = 'tmd_none'");
  const std::string database = env("PGDATABASE");
  ::unsetenv("PGDATABASE");
  {
    pgs_engine engine;
    EXPECT_NO_THROW(engine.connect(env("PGHOST"), role, "fb", "", std::atoi(env("PGPORT").c_str())));
    EXPECT_EQ(engine.current_database(), role);
    // A named database is never retried elsewhere.
    EXPECT_THROW(engine.connect(env("PGHOST"), role, "fb", "postgres", std::atoi(env("PGPORT").c_str())),
                 pgs_exception);
  }
  if (!database.empty()) ::setenv("PGDATABASE", database.c_str(), 1);
  tx.exec("DROP DATABASE " + name);
  tx.exec("DROP ROLE " + name);
}

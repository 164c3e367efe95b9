#include "pgs/pgs_engine.h"

#include <libpq-fe.h>
#include <pqxx/pqxx>

#include "pgs/pgs_database.h"
#include "pgs/pgs_exception.h"
#include "pgs/pgs_raw_connection.h"
#include "pgs/pgs_sql_text.h"
#include "tk/tk_logger.h"
#include "tk/tk_string.h"

namespace {

/// The cancel key of a fresh connection, or null when libpq cannot make one (the connection is
/// used all the same; a stop then only ends the run between statements).
PGcancel* make_cancel_key(pqxx::connection& connection) noexcept {
  PGcancel* key = nullptr;
  try {
    pqxx::read_transaction peek(connection, "cancel_key");
    key = PQgetCancel(pgs_raw_connection(peek));
    peek.abort();
  } catch (const std::exception& e) {
    tk_log(3, "%s", std::string(e.what()));
  }
  if (!key) tk_log(3, "No cancel key for the connection: a stop cannot cancel a statement under way");
  return key;
}

// Texts shorter than this are not masked in error texts: they would garble ordinary words, and
// libpq never echoes a quoted value anyway.
constexpr std::size_t min_masked_secret = 4;

}  // namespace

pgs_engine::pgs_engine() { tk_log(2, "pgs_engine::ctor"); }

pgs_engine::~pgs_engine() {
  tk_log(2, "pgs_engine::dtor");
  std::lock_guard lock(m_connection_mutex);
  m_cancel_key.reset();
  m_connection.reset();
}

namespace {

std::unique_ptr<pqxx::connection> open_fresh(const std::string& conninfo, const char* attempt) {
  tk_log(3, attempt);
  auto fresh = std::make_unique<pqxx::connection>(conninfo);
  fresh->set_client_encoding("UTF8");
  // Literals double apostrophes only; backslashes must stay plain characters.
  fresh->set_variable("standard_conforming_strings", "on");
  return fresh;
}

}  // namespace

void pgs_engine::adopt(std::unique_ptr<pqxx::connection> fresh) {
  // Made here, on the thread that owns the connection; a stop on another thread only uses it.
  std::unique_ptr<pg_cancel, cancel_key_free> cancel_key(make_cancel_key(*fresh));
  {
    std::lock_guard lock(m_connection_mutex);
    m_connection = std::move(fresh);
    m_cancel_key = std::move(cancel_key);
  }
  database = m_connection->dbname();
  tk_log(3, "The connection has been established");
}

std::unique_ptr<pqxx::connection> pgs_engine::open_detached(const pgs_connect_params& params, bool case_sensitive) {
  tk_log(2, "pgs_engine::open_detached(%s,%s,%s,%d)", params.host, params.user, params.password.empty() ? "" : "***",
         params.port);
  const std::string target =
      params.database.empty() ? std::string(maintenance_database)
                              : pgs_object_name(tk_utf8_to_unicode(params.database), case_sensitive);
  tk_log(2, "database=%s", target);
  const pgs_conninfo info = pgs_build_conninfo(params.host, params.user, params.password, target, params.port);
  const std::string secret = params.password.size() >= min_masked_secret ? params.password : std::string();
  try {
    return open_fresh(info.primary, "Connecting to PostgreSQL server (1)...");
  } catch (const pqxx::pqxx_exception& e) {
    if (!params.database.empty()) throw pgs_exception(pgs_mask_secret(pgs_error_text(e), secret));
  }
  try {
    return open_fresh(info.fallback, "Connecting to PostgreSQL server (2)...");
  } catch (const pqxx::pqxx_exception& e) {
    throw pgs_exception(pgs_mask_secret(pgs_error_text(e), secret));
  }
}

void pgs_engine::connect(const std::string& host_, const std::string& user_, const std::string& password_,
                         const std::string& database_, int port_) {
  connect_with(pgs_connect_params{host_, user_, password_, database_, port_},
               [this](const pgs_connect_params& params) { return open_detached(params, case_sensitive); });
}

void pgs_engine::connect_with(const pgs_connect_params& params, const opener& open) {
  tk_log(2, "pgs_engine::connect(%s,%s,%s,%d)", params.host, params.user, params.password.empty() ? "" : "***",
         params.port);
  user = params.user;
  password = params.password;
  // The server named now, also when none is named (the local one): keeping an earlier host would
  // send a local connection to the server of a failed remote attempt.
  host = params.host;
  port = params.port;
  adopt(open(params));
}

pqxx::connection& pgs_engine::connection() {
  if (!m_connection) throw pgs_exception(std::string("Not connected to the PostgreSQL server"));
  return *m_connection;
}

bool pgs_engine::is_connected() const {
  std::lock_guard lock(m_connection_mutex);
  return m_connection != nullptr;
}

void pgs_engine::cancel_key_free::operator()(pg_cancel* key) const noexcept { PQfreeCancel(key); }

void pgs_engine::cancel() noexcept {
  std::lock_guard lock(m_connection_mutex);
  if (!m_connection || !m_cancel_key) return;
  char reason[256] = "";
  if (!PQcancel(m_cancel_key.get(), reason, static_cast<int>(sizeof reason)))
    tk_log(3, "Cannot cancel the statement under way: %s", std::string(reason));
}

std::string pgs_engine::object_name(const std::wstring& name) const { return pgs_object_name(name, case_sensitive); }
std::string pgs_engine::quote_ident(const std::wstring& name) const { return pgs_quote_ident(name, case_sensitive); }
std::string pgs_engine::quote_table(const std::wstring& name) const { return pgs_quote_table(name, case_sensitive); }

bool pgs_engine::is_db_exist(const std::wstring& name) {
  tk_log(2, "pgs_engine::is_db_exist(%s)", name);
  const std::string query =
      "SELECT datname FROM pg_database WHERE datistemplate = false and datname = " + pgs_sql_literal(object_name(name));
  try {
    pqxx::transaction<pqxx::read_committed> tx(connection(), "get_contents");
    tk_log(2, "query=%s", query);
    return !tx.exec(query).empty();
  } catch (const pqxx::pqxx_exception& e) {
    throw pgs_exception(std::string(), e);
  }
}

bool pgs_engine::is_template(const std::string& name) {
  pqxx::nontransaction tx(connection(), "is_template");
  const pqxx::result rows =
      tx.exec("SELECT 1 FROM pg_database WHERE datistemplate AND datname = " + pgs_sql_literal(name));
  return !rows.empty();
}

std::unique_ptr<pgs_database> pgs_engine::create_db(const std::wstring& name) {
  tk_log(2, "pgs_engine::create_db(%s)", name);
  tk_log(3, "Creating PostgreSQL database '%s'", name);
  const std::string query = "CREATE DATABASE " + quote_ident(name);
  try {
    // CREATE DATABASE refuses to run inside a transaction block.
    pqxx::nontransaction tx(connection(), "create_db");
    tk_log(2, "query=%s", query);
    tx.exec(query);
  } catch (const pqxx::pqxx_exception& e) {
    throw pgs_exception(std::string(), e);
  }
  return open_db(name, 2, L"");
}

std::unique_ptr<pgs_database> pgs_engine::open_db(const std::wstring& name, int flags,
                                                  const std::wstring& schema_pattern) {
  tk_log(1, "pgs_engine::open_db(%s,%d,%s)", name, flags, schema_pattern);
  connect(host, user, password, tk_to_utf8(name), port);
  return std::make_unique<pgs_database>(name, schema_pattern, flags);
}

void pgs_engine::delete_db(const std::wstring& name) {
  tk_log(2, "pgs_engine::delete_db(%s)", name);
  tk_log(3, "Deleting PostgreSQL database '%s'", name);
  const std::string target = object_name(name);
  try {
    if (target == maintenance_database || is_template(target))
      throw pgs_exception("Cannot drop database '" + target + "': it is a maintenance or template database");
  } catch (const pqxx::pqxx_exception& e) {
    throw pgs_exception(std::string(), e);
  }
  // The server refuses to drop the database we are on: step over to the maintenance database.
  if (is_connected() && database == target) connect(host, user, password, std::string(), port);
  const std::string query = "DROP DATABASE IF EXISTS " + pgs_quote_raw(target);
  try {
    pqxx::nontransaction tx(connection(), "delete_db");
    tk_log(2, "query=%s", query);
    tx.exec(query);
  } catch (const pqxx::pqxx_exception& e) {
    throw pgs_exception(std::string(), e);
  }
}

#pragma once
// The one gateway to the PostgreSQL server: it holds the process's single connection and runs the
// server-level operations (test for, create, open and drop databases). Every other class of this
// side reaches the connection through pgs_engine::instance().
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <pqxx/connection>

#include "pgs/pgs_validator.h"
#include "tk/tk_singleton.h"


class pgs_database;
struct pg_cancel;  // libpq's PGcancel

/// What a connection is made with (texts UTF-8; empty ones are left to libpq's environment).
struct pgs_connect_params {
  std::string host;
  std::string user;
  std::string password;
  std::string database;
  int port = 0;
};

class pgs_engine : public tk_singleton<pgs_engine> {
 public:
  /// The maintenance database: where the engine goes when no database is named. Never dropped.
  static constexpr const char* maintenance_database = "postgres";

  pgs_engine();
  ~pgs_engine() override;

  /// Opens a new connection and swaps it in (the old one stays when this fails). host, user and
  /// password are UTF-8; empty ones are left to libpq's environment. An empty database goes to
  /// "postgres", and when that fails, once more to the user's default database.
  void connect(const std::string& host, const std::string& user, const std::string& password,
               const std::string& database, int port);

  /// The attempt connect() makes, on a connection of its own: it touches no engine, so it may run
  /// on any thread (and be abandoned there) while the engine stays with its owner. Throws
  /// pgs_exception as connect() does.
  static std::unique_ptr<pqxx::connection> open_detached(const pgs_connect_params& params, bool case_sensitive);
  /// connect() with the attempt made by `open` (open_detached, or one waited for elsewhere); the
  /// connection it returns is swapped in. What it throws leaves the old connection.
  using opener = std::function<std::unique_ptr<pqxx::connection>(const pgs_connect_params&)>;
  void connect_with(const pgs_connect_params& params, const opener& open);

  /// True when a database of that name exists and is not a template.
  bool is_db_exist(const std::wstring& name);
  /// CREATE DATABASE, then open_db(name, 2, "").
  std::unique_ptr<pgs_database> create_db(const std::wstring& name);
  /// Reconnects to the database and returns it; only flag bit 8 (open existing tables) is read.
  std::unique_ptr<pgs_database> open_db(const std::wstring& name, int flags, const std::wstring& schema_pattern);
  /// DROP DATABASE IF EXISTS. The connected database is left first (for "postgres"); "postgres"
  /// itself and template databases are refused.
  void delete_db(const std::wstring& name);

  /// The open connection; raises pgs_exception before the first connect.
  pqxx::connection& connection();
  bool is_connected() const;
  /// Asks the server to cancel the statement under way (none under way: nothing happens). The one
  /// call allowed from another thread: it uses a cancel key taken when the connection was made.
  void cancel() noexcept;

  bool is_case_sensitive() const noexcept { return case_sensitive; }
  bool is_fast_append_enabled() const noexcept { return fast_append_enabled; }
  /// The database the connection is on, as the server names it.
  const std::string& current_database() const noexcept { return database; }
  pgs_in_validator& index_validator() noexcept { return m_index_validator; }

  /// Identifier and table-name quoting under this engine's case rule.
  std::string quote_ident(const std::wstring& name) const;
  std::string quote_table(const std::wstring& name) const;
  std::string object_name(const std::wstring& name) const;

 private:
  void adopt(std::unique_ptr<pqxx::connection> fresh);
  bool is_template(const std::string& name);

  bool case_sensitive = false;
  std::string database;
  std::string host;
  std::string user;
  std::string password;
  int port = 0;
  mutable std::mutex m_connection_mutex;  // guards the pointer and its cancel key against cancel()
  std::unique_ptr<pqxx::connection> m_connection;
  /// The connection's cancel key, made on the thread that connected: libpq's cancel call is safe
  /// from any thread only with a key made beforehand.
  struct cancel_key_free {
    void operator()(pg_cancel* key) const noexcept;
  };
  std::unique_ptr<pg_cancel, cancel_key_free> m_cancel_key;
  pgs_in_validator m_index_validator;
  bool fast_append_enabled = true;
};

#pragma once
// End-to-end harness: runs the built corvel with an argument vector (no shell) in a fresh HOME
// and XDG_CONFIG_HOME, captures its output streams apart with a timeout, and gives each test a
// database of its own on the configured server.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "pg_test.h"

namespace e2e {

struct run_result {
  int status = -1;  // the exit status; -1 when the program did not end by itself
  std::string out;
  std::string err;
  bool timed_out = false;
  bool config_untouched = true;  // HOME and XDG_CONFIG_HOME still empty afterwards
};

/// A fresh folder, removed with its contents.
class scratch_dir {
 public:
  scratch_dir();
  ~scratch_dir();
  scratch_dir(const scratch_dir&) = delete;
  scratch_dir& operator=(const scratch_dir&) = delete;
  const std::filesystem::path& path() const noexcept { return m_path; }
  std::string file(const std::string& name) const { return (m_path / name).string(); }
  std::string write(const std::string& name, const std::string& bytes) const;

 private:
  std::filesystem::path m_path;
};

/// Runs corvel with these arguments; the run is killed after `timeout_s` seconds.
run_result run_corvel(const std::vector<std::string>& args, int timeout_s = 60);

/// "--host=" and "--pgport=" of the configured server, and its user and password.
std::vector<std::string> server_options(bool with_credentials = true);
/// "--host=127.0.0.1" and "--pgport=" of a port nothing listens on.
std::vector<std::string> dead_server_options();

std::vector<std::string> join(std::vector<std::string> a, const std::vector<std::string>& b);

/// A database name for one test; dropped (when it exists) by the guard's destructor.
class database_guard {
 public:
  explicit database_guard(const std::string& prefix);
  ~database_guard();
  database_guard(const database_guard&) = delete;
  database_guard& operator=(const database_guard&) = delete;
  /// The name as the server holds it (lower case).
  const std::string& name() const noexcept { return m_name; }

  bool exists() const;
  void create() const;
  /// Runs statements in the database (its own connection, closed again).
  void execute(const std::string& sql) const;
  /// The rows of a query, each as its fields' texts joined by '|' (NULL as "<null>").
  std::vector<std::string> rows(const std::string& sql) const;
  /// "schema.table" of every user table, sorted.
  std::vector<std::string> tables() const;
  /// "column:type" of a table, in column order.
  std::vector<std::string> columns(const std::string& schema, const std::string& table) const;
  int index_count() const;

 private:
  std::string m_name;
};

/// A cell written to a test workbook.
struct cell {
  enum class kind { text, number, boolean, date, blank } type = kind::blank;
  std::string text;
  double number = 0;
  static cell str(std::string t) { return {kind::text, std::move(t), 0}; }
  static cell num(double v) { return {kind::number, {}, v}; }
  static cell boolean(bool v) { return {kind::boolean, {}, v ? 1.0 : 0.0}; }
  /// "YYYY-MM-DD hh:mm:ss.mmm" or a shorter prefix of it.
  static cell date(std::string iso) { return {kind::date, std::move(iso), 0}; }
  static cell none() { return {}; }
};

struct sheet {
  std::string name;
  std::vector<std::vector<cell>> rows;
};

/// Writes an .xlsx workbook with these worksheets. `streamed`: rows go to the file as they are
/// written (for large sheets; texts are then stored inline, not in the shared-string table).
void write_workbook(const std::string& path, const std::vector<sheet>& sheets, bool streamed = false);

/// Sheet1 (id, name, amount; 3 rows) and Sheet2 (code, born; 2 rows), with header rows.
std::vector<sheet> book_sheets();

}  // namespace e2e
